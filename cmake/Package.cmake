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

set(CPACK_PACKAGE_NAME ledsign)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "ledsign")
set(CPACK_PACKAGE_CONTACT "ledsign maintainers <ledsign@localhost>")
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
  # The tools' libraries (libpng, FreeType, the C++ runtime) come from dpkg-shlibdeps; CLI11 and
  # nlohmann-json are header-only. The picture needs GNU Unifont, and draws 12-dot rows dot for dot
  # with WenQuanYi's 12-dot song where it is installed.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS unifont)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS xfonts-wqy)
endif()
include(CPack)
