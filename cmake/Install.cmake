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
install(FILES README.md docs/host-integration.md docs/protocol.md DESTINATION ${LEDSIGN_INSTALL_DOC_DIR})
# The C# binding of the library and the C# declarations of the plug-ins, as source for hosts.
install(FILES bindings/csharp/LedSign.cs bindings/csharp/PluginCookbook.cs
        DESTINATION $<IF:$<BOOL:${WIN32}>,bindings/csharp,${LEDSIGN_INSTALL_DOC_DIR}/csharp>)

if(NOT WIN32)
  # The Python package, for Debian's python3: it finds the library at ../../libledsign.so.1.
  install(DIRECTORY python/ledsign DESTINATION ${CMAKE_INSTALL_LIBDIR}/python3/dist-packages
          PATTERN __pycache__ EXCLUDE)
  # pkg-config: the header's include path, and where the plug-ins are (variable plugindir). The
  # prefix is found from the file's own place, so the tree works wherever it is installed.
  file(RELATIVE_PATH LEDSIGN_PC_TO_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
  configure_file(cmake/ledsign.pc.in ${PROJECT_BINARY_DIR}/ledsign.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/ledsign.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
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
