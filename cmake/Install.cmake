# Installs the libraries of the utility family with their public headers, a CMake package
# (find_package(qel)) and a pkg-config file, beside the utility, its manual page, the
# stand-in command-interface library and encsim.
include(CMakePackageConfigHelpers)

set(QEL_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/qel)
set(QEL_LIBRARY_TARGETS qelbyteorder nici_headers LL qeldebug qelses talvik)
if(TARGET niciClient)
  list(APPEND QEL_LIBRARY_TARGETS niciClient)
endif()

install(TARGETS ${QEL_LIBRARY_TARGETS}
  EXPORT qelTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Public headers: page layouts, function codes, result codes, the trace and list interfaces.
file(GLOB QEL_PUBLIC_HEADERS
  ${PROJECT_SOURCE_DIR}/util/*.h
  ${PROJECT_SOURCE_DIR}/debug/*.h
  ${PROJECT_SOURCE_DIR}/ses/*.h
  ${PROJECT_SOURCE_DIR}/talvik/*.h
  ${PROJECT_SOURCE_DIR}/platform/include/*.h)
list(FILTER QEL_PUBLIC_HEADERS EXCLUDE REGEX "_internal\\.h$")
install(FILES ${QEL_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/qel)

install(EXPORT qelTargets NAMESPACE qel:: DESTINATION ${QEL_INSTALL_CMAKEDIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/qelConfig.cmake.in
  ${PROJECT_BINARY_DIR}/qelConfig.cmake INSTALL_DESTINATION ${QEL_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/qelConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/qelConfig.cmake ${PROJECT_BINARY_DIR}/qelConfigVersion.cmake
  DESTINATION ${QEL_INSTALL_CMAKEDIR})

# The pkg-config file finds the prefix from its own place, so the tree can be moved.
file(RELATIVE_PATH QEL_PC_TO_PREFIX "/p/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/p")
configure_file(${PROJECT_SOURCE_DIR}/cmake/qel.pc.in ${PROJECT_BINARY_DIR}/qel.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/qel.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
