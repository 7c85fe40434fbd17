# Install rules for host developers: the plug-in and the host's stand-in libraries, the public
# headers, an exported CMake package (find_package(orvex_history) gives orvex::history,
# orvex::runtime, orvex::hostplugin and orvex::records), a pkg-config file, the command-line host
# and the documentation.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ORVEX_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/orvex_history)
set(ORVEX_LIBRARIES orvex_records orvex_runtime orvex_hostplugin orvex_history)

set_target_properties(orvex_records PROPERTIES EXPORT_NAME records)
set_target_properties(orvex_runtime PROPERTIES EXPORT_NAME runtime)
set_target_properties(orvex_hostplugin PROPERTIES EXPORT_NAME hostplugin)
set_target_properties(orvex_history PROPERTIES EXPORT_NAME history)
# Installed libraries find their siblings in their own directory, wherever the prefix is.
set_target_properties(${ORVEX_LIBRARIES} PROPERTIES INSTALL_RPATH "$ORIGIN")

install(TARGETS ${ORVEX_LIBRARIES}
  EXPORT orvex_historyTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# The host interfaces and runtime, the shared records, and the plug-in's exported class.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/host/include/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")
install(FILES
  ${PROJECT_SOURCE_DIR}/common/include/orvex/ResultCode.h
  ${PROJECT_SOURCE_DIR}/common/include/orvex/ResultStatus.h
  ${PROJECT_SOURCE_DIR}/common/include/orvex/Records.h
  ${PROJECT_SOURCE_DIR}/common/include/orvex/CancelFlag.h
  ${PROJECT_SOURCE_DIR}/common/include/orvex/HistoryExport.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orvex)
install(FILES ${PROJECT_SOURCE_DIR}/wrapper/include/marketdata/HistoryWrapper.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/marketdata)

install(EXPORT orvex_historyTargets
  NAMESPACE orvex::
  DESTINATION ${ORVEX_INSTALL_CMAKEDIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/orvex_historyConfig.cmake.in
  ${PROJECT_BINARY_DIR}/orvex_historyConfig.cmake
  INSTALL_DESTINATION ${ORVEX_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/orvex_historyConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/orvex_historyConfig.cmake
  ${PROJECT_BINARY_DIR}/orvex_historyConfigVersion.cmake
  DESTINATION ${ORVEX_INSTALL_CMAKEDIR})

# Relocatable: the prefix is found from the .pc file's own place, so --prefix at install time works.
file(RELATIVE_PATH ORVEX_PC_TO_PREFIX
  ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" ORVEX_PC_TO_PREFIX "${ORVEX_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/orvex_history.pc.in
  ${PROJECT_BINARY_DIR}/orvex_history.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/orvex_history.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

if(TARGET orvex_cli)
  install(TARGETS orvex_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}
  OPTIONAL)
