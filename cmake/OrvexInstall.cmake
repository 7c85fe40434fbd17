# Install rules for host developers: the plug-in and the host's stand-in libraries, the public
# headers (include/orvex, include/marketdata), an exported CMake package (find_package(orvex_history)
# gives orvex::history, orvex::runtime, orvex::hostplugin and orvex::records), a pkg-config file,
# the command-line host and the local service with their manual pages, the documentation, and a
# Debian package of all of it (cpack -G DEB).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ORVEX_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/orvex_history)
set(ORVEX_LIBRARIES orvex_records orvex_runtime orvex_hostplugin orvex_history)
set(ORVEX_LICENSE_SPDX Apache-2.0)
# One documentation directory, named like the Debian package, which keeps its copyright file there.
set(CMAKE_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/orvex-history)

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

# The host interfaces, factory and runtime, the shared records, and the plug-in's exported class.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/host/include/orvex
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

# The programs, each with a manual page made from its --help by help2man (when present).
find_program(ORVEX_HELP2MAN help2man)
function(orvex_install_program target program summary)
  if(NOT TARGET ${target})
    return()
  endif()
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(NOT ORVEX_HELP2MAN OR CMAKE_CROSSCOMPILING)
    return()
  endif()
  set(manual ${PROJECT_BINARY_DIR}/man/${program}.1)
  add_custom_command(OUTPUT ${manual}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND ${ORVEX_HELP2MAN} --no-info --no-discard-stderr --version-string=${PROJECT_VERSION}
      --name=${summary} --output=${manual} $<TARGET_FILE:${target}>
    DEPENDS ${target}
    COMMENT "Manual page ${program}.1")
  add_custom_target(${program}_manual ALL DEPENDS ${manual})
  install(FILES ${manual} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
orvex_install_program(orvex_cli orvex_cli "command-line host of the orvex history plug-in")
orvex_install_program(orvex_hqserver_bin orvex_hqserver "local history quote service")

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}
  OPTIONAL)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
# The licence in Debian's machine-readable form, where Debian keeps it.
configure_file(${PROJECT_SOURCE_DIR}/cmake/copyright.in ${PROJECT_BINARY_DIR}/copyright @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# cpack -G DEB: one development package under /usr; what a host's build and run need comes from
# Debian's own packages.
set(CPACK_PACKAGE_NAME orvex-history)
set(CPACK_PACKAGE_VENDOR orvex)
set(CPACK_PACKAGE_CONTACT "orvex developers <dev@orvex.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "history plug-in for trading hosts, with its host libraries, service and command-line host")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "liblog4cxx-dev, libpoco-dev, libboost-dev, pkg-config")
include(CPack)
