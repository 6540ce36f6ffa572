# Installs the public headers, the runtime library, the packer (and on Windows the stub)
# and a CMake package config, so that another project can find_package(Olma CONFIG
# REQUIRED), link Olma::Runtime and pack installers with teskstub_add_installer.
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
    ${PROJECT_SOURCE_DIR}/cmake/TeskPack.cmake DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Olma)
