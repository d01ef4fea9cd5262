# What `cmake --install` puts where, and the Debian package CPack builds.
include(GNUInstallDirs)

install(TARGETS Palisim002 palisimstress RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/atalla.conf ${CMAKE_SOURCE_DIR}/contrib/palisim.service
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${CMAKE_SOURCE_DIR}/contrib/palisim.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/src/gui/palisim.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps)

set(CPACK_PACKAGE_NAME palisim)
set(CPACK_PACKAGE_VENDOR "Palisim developers")
set(CPACK_PACKAGE_CONTACT "Palisim developers <palisim@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Payment HSM simulator speaking the Atalla host-command protocol, and its stress client")
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
# dpkg-shlibdeps reads the binaries' libraries (libconfuse, Qt 6 widgets, libssl).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
