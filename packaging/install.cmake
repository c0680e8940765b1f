# Install rules and the Debian packages. Components: Runtime (the plug-in, the vaultfetch program, its
# manual page, README and LICENSE), Development (the header, pkg-config and CMake package files) and
# Dialogs (the Qt dialog module, the only part that needs Qt).
include(CMakePackageConfigHelpers)

install(TARGETS klvrVaultfetch EXPORT klvrVaultfetchTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime NAMELINK_COMPONENT Development)
install(TARGETS vaultfetch RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)
install(FILES cli/vaultfetch.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Runtime)
install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT Runtime)
# Examples for scheduled runs, documentation rather than active units: an admin copies and adapts them.
install(FILES packaging/systemd/vaultfetch@.service packaging/systemd/vaultfetch@.timer
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples/systemd COMPONENT Runtime)
if(TARGET klvrVaultfetchDialogs)
  install(TARGETS klvrVaultfetchDialogs LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/${KLVR_DIALOG_MODULE_DIR}
    COMPONENT Dialogs)
endif()

install(FILES include/klvr/toolbox.h ${PROJECT_BINARY_DIR}/include/klvr/version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/klvr COMPONENT Development)

# pkg-config: the prefix is found from the .pc file's own place, so a copy installed under another prefix
# (DESTDIR, --prefix) still points at its own headers and library.
file(RELATIVE_PATH KLVR_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" KLVR_PC_TO_PREFIX "${KLVR_PC_TO_PREFIX}")
configure_file(packaging/klvrVaultfetch.pc.in ${PROJECT_BINARY_DIR}/klvrVaultfetch.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/klvrVaultfetch.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT Development)

set(KLVR_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/klvrVaultfetch)
install(EXPORT klvrVaultfetchTargets NAMESPACE klvrVaultfetch:: DESTINATION ${KLVR_CMAKE_DIR}
  COMPONENT Development)
configure_package_config_file(packaging/klvrVaultfetchConfig.cmake.in
  ${PROJECT_BINARY_DIR}/klvrVaultfetchConfig.cmake INSTALL_DESTINATION ${KLVR_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/klvrVaultfetchConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/klvrVaultfetchConfig.cmake
  ${PROJECT_BINARY_DIR}/klvrVaultfetchConfigVersion.cmake DESTINATION ${KLVR_CMAKE_DIR} COMPONENT Development)

# cpack -G DEB: one package per component; the runtime package registers the plug-in when installed.
set(CPACK_PACKAGE_NAME klvrvaultfetch)
set(CPACK_PACKAGE_VENDOR "klvrVaultfetch")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Vaultfetch command plug-in for Kelvara: FTP and FTP-over-TLS downloads")
set(CPACK_PACKAGE_CONTACT "klvrVaultfetch maintainers <klvrvaultfetch@localhost>")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL Runtime Development)
if(TARGET klvrVaultfetchDialogs)
  list(APPEND CPACK_COMPONENTS_ALL Dialogs)
endif()
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS Runtime)
set(CPACK_COMPONENT_DIALOGS_DEPENDS Runtime)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME klvrvaultfetch)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_SOURCE_DIR}/packaging/postinst ${CMAKE_CURRENT_SOURCE_DIR}/packaging/prerm)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME klvrvaultfetch-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DIALOGS_PACKAGE_NAME klvrvaultfetch-dialogs)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "The plug-in library without any user interface, the vaultfetch host program and its manual.")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "The C header, pkg-config file and CMake package of the plug-in.")
set(CPACK_COMPONENT_DIALOGS_DESCRIPTION "The plug-in's configuration dialogs (Qt 6 Widgets).")
include(CPack)
