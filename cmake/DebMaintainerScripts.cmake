# Run by CPack after it made the .deb (CPACK_POST_BUILD_SCRIPTS). CPack gives a package postinst
# and postrm scripts that call ldconfig whenever it holds a shared object under /usr/lib, also
# when that is a plug-in in a folder of its own, which the dynamic linker never searches (hosts
# load the plug-ins by path). This takes those scripts out again, and where the package holds a
# library in a folder the linker searches it activates dpkg's ldconfig trigger instead, as Debian's
# own packages do. A script that does anything besides ldconfig is kept as it is.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.deb$")
    continue()
  endif()
  set(tree ${package}.tree)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND dpkg-deb --raw-extract ${package} ${tree} COMMAND_ERROR_IS_FATAL ANY)
  set(changed FALSE)
  foreach(script postinst postrm)
    set(path ${tree}/DEBIAN/${script})
    if(NOT EXISTS ${path})
      continue()
    endif()
    file(STRINGS ${path} commands REGEX "^[ \t]*[^# \t]")
    # What CPack writes: set -e, then ldconfig inside `if [ "$1" = "configure" ]; then ... fi`.
    list(FILTER commands EXCLUDE REGEX "^[ \t]*(set -e|if \\[ \"\\$1\" = \"[a-z-]+\" \\]; then|fi|exit 0|ldconfig)[ \t]*$")
    if(NOT commands)
      file(REMOVE ${path})
      set(changed TRUE)
    endif()
  endforeach()
  file(GLOB public_libraries ${tree}/lib/*.so* ${tree}/usr/lib/*.so* ${tree}/usr/lib/*-linux-gnu/*.so*)
  if(public_libraries)
    file(WRITE ${tree}/DEBIAN/triggers "activate-noawait ldconfig\n")
    set(changed TRUE)
  endif()
  if(changed)
    execute_process(COMMAND dpkg-deb --root-owner-group --build ${tree} ${package} OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  endif()
  file(REMOVE_RECURSE ${tree})
endforeach()
