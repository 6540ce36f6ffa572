# Installs the public headers, the runtime library and a CMake package config, so
# that another project can find_package(Olma CONFIG REQUIRED) and link Olma::Runtime.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/olma DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS OlmaRuntime EXPORT OlmaTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(EXPORT OlmaTargets NAMESPACE Olma:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Olma)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/OlmaConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/OlmaConfig.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Olma)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/OlmaConfigVersion.cmake
    COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/OlmaConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/OlmaConfigVersion.cmake
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Olma)
