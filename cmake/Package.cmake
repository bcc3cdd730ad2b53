# The release packages, made by CPack from the install rules (scripts/package.sh runs it):
# Linux: ledsign_<version>_amd64.deb. Windows: ledsign-<version>-windows.zip, which gathers the
# install trees of this build (x86/) and of the builds in LEDSIGN_PACKAGE_WITH (the 64-bit one, x64/).
# The package version is the project's; each DLL keeps its own file version in its resource.
# What the packages hold, as one target: scripts/package.sh builds it, not the tests or benchmarks.
add_custom_target(packaged_files)
add_dependencies(packaged_files ${LEDSIGN_SIGNS} ledsign ledctl)
if(TARGET signemu AND NOT WIN32)
  add_dependencies(packaged_files signemu)
endif()
if(TARGET man_pages)
  add_dependencies(packaged_files man_pages)
endif()

set(CPACK_PACKAGE_NAME ledsign)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "ledsign")
set(CPACK_PACKAGE_CONTACT "${LEDSIGN_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "LED-sign driver plug-ins, their host header and tools")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)

if(WIN32)
  set(LEDSIGN_PACKAGE_WITH "" CACHE STRING "Other Windows builds whose install trees go into this build's zip")
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ledsign-${PROJECT_VERSION}-windows)
  # The zip opens onto x86/, x64/, include/ and docs/, as the installers' README describes it.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_INSTALL_CMAKE_PROJECTS ${PROJECT_BINARY_DIR} ledsign ALL /)
  foreach(other IN LISTS LEDSIGN_PACKAGE_WITH)
    list(APPEND CPACK_INSTALL_CMAKE_PROJECTS ${other} ledsign ALL /)
  endforeach()
  # The installers' README at the top of the zip: which DLL for which sign, trying one, the trace.
  set(LEDSIGN_INSTALLER_MODEL_TABLE "")
  foreach(sign IN LISTS LEDSIGN_SIGNS)
    get_target_property(windows_name ${sign} OUTPUT_NAME)
    string(LENGTH "${windows_name}.DLL" length)
    math(EXPR padding "16 - ${length}")
    string(REPEAT " " ${padding} spaces)
    string(APPEND LEDSIGN_INSTALLER_MODEL_TABLE "  ${windows_name}.DLL${spaces}the ${sign} sign\r\n")
  endforeach()
  # Windows line ends, for Notepad; the table above carries its own.
  configure_file(docs/windows-installers.txt.in ${PROJECT_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${PROJECT_BINARY_DIR}/README.txt DESTINATION .)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  # The synopsis is CPACK_PACKAGE_DESCRIPTION_SUMMARY; this is the long description.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Four plug-ins that let a display host show short lines of ASCII or GBK
Chinese text on LED signs attached to a serial port: brava (32-dot, two
rows), dorun (16-dot, one row), cresto (24-dot, one row) and elvane (24-dot,
two rows). A host loads one from /usr/lib/ledsign by path and calls its nine
C functions; ledsign.h, a pkg-config file and a CMake package serve host
developers.
.
The tools: ledctl, a command-line host that drives a sign through a plug-in
and says why a port would not open, and signemu, a virtual sign on a
pseudo-terminal that shows what a plug-in sends.")
  # The tools' libraries (libpng, FreeType, the C++ runtime) come from dpkg-shlibdeps; CLI11 and
  # nlohmann-json are header-only. Only signemu's picture needs GNU Unifont (without it signemu
  # shows the rows as text and says what to install), and it draws 12-dot rows dot for dot with
  # WenQuanYi's 12-dot song where that is installed: a station that needs only ledctl needs neither.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The library's shlibs file: packages linked against libledsign.so.1 depend on this one.
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "unifont, xfonts-wqy")
  # The Python package in /usr/lib/python3/dist-packages is for Debian's python3.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3:any")
  # No ldconfig for the plug-ins, which live in a folder of their own.
  set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/DebMaintainerScripts.cmake)
endif()
include(CPack)
