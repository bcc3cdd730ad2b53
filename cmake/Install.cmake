# What `cmake --install` puts where. Linux: the plug-ins in a folder of their own (hosts load them
# by path, nothing links against them), the library in lib/, the tools in bin/, the headers,
# pkg-config and CMake package files, and the docs. Windows: the DLLs with their module-definition files and import libraries,
# and ledctl.exe, in the architecture's folder (x86/), beside the header and the docs.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

if(WIN32)
  set(LEDSIGN_INSTALL_PLUGIN_DIR ${LEDSIGN_WINDOWS_ARCH_DIR})
  set(LEDSIGN_INSTALL_TOOL_DIR ${LEDSIGN_WINDOWS_ARCH_DIR})
  set(LEDSIGN_INSTALL_DOC_DIR docs)
else()
  set(LEDSIGN_INSTALL_PLUGIN_DIR ${CMAKE_INSTALL_LIBDIR}/ledsign)
  set(LEDSIGN_INSTALL_TOOL_DIR ${CMAKE_INSTALL_BINDIR})
  set(LEDSIGN_INSTALL_DOC_DIR ${CMAKE_INSTALL_DOCDIR})
endif()

# ledctl finds a plug-in by model or file name in the plug-in folder, from its own place.
file(RELATIVE_PATH tool_to_plugins /prefix/${LEDSIGN_INSTALL_TOOL_DIR} /prefix/${LEDSIGN_INSTALL_PLUGIN_DIR})
if(tool_to_plugins STREQUAL "")
  set(tool_to_plugins .)
endif()
target_compile_definitions(ledctl PRIVATE LEDSIGN_PLUGIN_DIR_FROM_TOOL="${tool_to_plugins}")

install(TARGETS ${LEDSIGN_SIGNS}
        LIBRARY DESTINATION ${LEDSIGN_INSTALL_PLUGIN_DIR}
        RUNTIME DESTINATION ${LEDSIGN_INSTALL_PLUGIN_DIR}
        ARCHIVE DESTINATION ${LEDSIGN_INSTALL_PLUGIN_DIR})
if(WIN32)
  foreach(sign IN LISTS LEDSIGN_SIGNS)
    get_target_property(windows_name ${sign} OUTPUT_NAME)
    install(FILES driver/exports.def DESTINATION ${LEDSIGN_INSTALL_PLUGIN_DIR} RENAME ${windows_name}.def)
  endforeach()
  install(TARGETS ledctl RUNTIME DESTINATION ${LEDSIGN_INSTALL_TOOL_DIR})
else()
  install(TARGETS ledctl signemu RUNTIME DESTINATION ${LEDSIGN_INSTALL_TOOL_DIR})
endif()
# The library for hosts of many signs: linked by name (libledsign.so.1 with its SONAME; ledsign.dll
# with ledsign.dll.a and ledsign.def beside it), and exported as the CMake target ledsign::library.
install(TARGETS ledsign EXPORT ledsignTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${LEDSIGN_INSTALL_PLUGIN_DIR}
        ARCHIVE DESTINATION ${LEDSIGN_INSTALL_PLUGIN_DIR})
if(WIN32)
  install(FILES library/ledsign.def DESTINATION ${LEDSIGN_INSTALL_PLUGIN_DIR})
endif()
install(FILES include/ledsign.h include/ledsign_lib.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES docs/host-integration.md docs/protocol.md DESTINATION ${LEDSIGN_INSTALL_DOC_DIR})
# The C# binding of the library and the C# declarations of the plug-ins, as source for hosts.
install(FILES bindings/csharp/LedSign.cs bindings/csharp/PluginCookbook.cs
        DESTINATION $<IF:$<BOOL:${WIN32}>,bindings/csharp,${LEDSIGN_INSTALL_DOC_DIR}/csharp>)

if(NOT WIN32)
  # What a Linux user finds besides (the Windows zip has README.txt, for installers, instead of the
  # build-and-test README): the copyright; the changelog, compressed as Debian keeps it; the advice
  # on serial port access with its udev rule example; the tools' manual pages and ledctl's bash
  # completion.
  set(LEDSIGN_MAINTAINER "Seed e99a21bb maintainers <maintainers@users.noreply.c-seed-e99a21bb.example>" CACHE STRING
      "Who maintains the .deb: its Maintainer field and its changelog's signature")
  configure_file(packaging/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
  execute_process(COMMAND gzip -9n -c INPUT_FILE ${PROJECT_BINARY_DIR}/debian/changelog
                  OUTPUT_FILE ${PROJECT_BINARY_DIR}/debian/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
  install(FILES README.md docs/serial-access.md packaging/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.gz
          DESTINATION ${LEDSIGN_INSTALL_DOC_DIR})
  install(FILES docs/70-ledsign.rules DESTINATION ${LEDSIGN_INSTALL_DOC_DIR}/examples)
  install(FILES packaging/debian/ledsign.lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
          RENAME ledsign)
  install(FILES ${LEDSIGN_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES tools/ledctl/ledctl.bash-completion DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME ledctl)
endif()

if(NOT WIN32)
  # The Python package, for Debian's python3: it finds the library at ../../libledsign.so.1.
  install(DIRECTORY python/ledsign DESTINATION ${CMAKE_INSTALL_LIBDIR}/python3/dist-packages
          PATTERN __pycache__ EXCLUDE)
  # pkg-config: the header's include path, and where the plug-ins are (variable plugindir). The
  # prefix is found from the file's own place, so the tree works wherever it is installed.
  # In the multiarch folder where the architecture is known (Debian's), where pkg-config finds it
  # also when cross-compiling for it.
  set(LEDSIGN_INSTALL_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  if(CMAKE_LIBRARY_ARCHITECTURE AND NOT CMAKE_INSTALL_LIBDIR MATCHES "${CMAKE_LIBRARY_ARCHITECTURE}$")
    set(LEDSIGN_INSTALL_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/${CMAKE_LIBRARY_ARCHITECTURE}/pkgconfig)
  endif()
  file(RELATIVE_PATH LEDSIGN_PC_TO_PREFIX "/prefix/${LEDSIGN_INSTALL_PKGCONFIG_DIR}" "/prefix")
  configure_file(cmake/ledsign.pc.in ${PROJECT_BINARY_DIR}/ledsign.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/ledsign.pc DESTINATION ${LEDSIGN_INSTALL_PKGCONFIG_DIR})
  # find_package(ledsign): the target ledsign::ledsign for the header, LEDSIGN_PLUGIN_DIR for the plug-ins.
  set(LEDSIGN_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ledsign)
  configure_package_config_file(cmake/ledsignConfig.cmake.in ${PROJECT_BINARY_DIR}/ledsignConfig.cmake
                                INSTALL_DESTINATION ${LEDSIGN_PACKAGE_DIR}
                                PATH_VARS CMAKE_INSTALL_INCLUDEDIR LEDSIGN_INSTALL_PLUGIN_DIR)
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/ledsignConfigVersion.cmake COMPATIBILITY SameMajorVersion
                                   ARCH_INDEPENDENT)
  install(FILES ${PROJECT_BINARY_DIR}/ledsignConfig.cmake ${PROJECT_BINARY_DIR}/ledsignConfigVersion.cmake
          DESTINATION ${LEDSIGN_PACKAGE_DIR})
  install(EXPORT ledsignTargets NAMESPACE ledsign:: DESTINATION ${LEDSIGN_PACKAGE_DIR})
endif()
