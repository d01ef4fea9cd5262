# What `cmake --install` puts where, and the Debian packages CPack builds:
# palisim, the headless simulator and its service without any Qt, and, in a
# build with the window, palisim-desktop with the windowed program.
include(GNUInstallDirs)

# The programs of the palisim package; another tool for it is one more name here.
set(palisim_server_programs ${PALISIM_HEADLESS_TARGET} palisimstress palisim-cli)

install(TARGETS ${palisim_server_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        COMPONENT server)
# Debian 12's systemd reads the units of packages from /lib/systemd/system.
install(FILES ${CMAKE_SOURCE_DIR}/contrib/palisim.service DESTINATION /lib/systemd/system
        COMPONENT server)
install(FILES ${CMAKE_SOURCE_DIR}/atalla.conf DESTINATION /etc/palisim COMPONENT server)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/CONTRIBUTING.md
              ${CMAKE_SOURCE_DIR}/contrib/grafana-dashboard.json
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT server)
# The pages keep their folder, so the README's links into docs/ resolve there too.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT server
        FILES_MATCHING PATTERN "*.md" PATTERN "*.png")

include(${CMAKE_CURRENT_LIST_DIR}/man_pages.cmake)

set(CPACK_COMPONENTS_ALL server)
if(PALISIM_GUI)
  # The windowed build under a name of its own: /usr/bin/Palisim002, which the
  # unit runs, stays the Qt-free program whichever packages are installed.
  install(PROGRAMS $<TARGET_FILE:Palisim002> DESTINATION ${CMAKE_INSTALL_BINDIR}
          RENAME Palisim002-window COMPONENT desktop)
  install(FILES ${CMAKE_SOURCE_DIR}/contrib/palisim.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT desktop)
  install(FILES ${CMAKE_SOURCE_DIR}/src/gui/palisim.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps COMPONENT desktop)
  list(APPEND CPACK_COMPONENTS_ALL desktop)
endif()

set(CPACK_PACKAGE_NAME palisim)
set(CPACK_PACKAGE_VENDOR "Palisim developers")
set(CPACK_PACKAGE_CONTACT "Palisim developers <palisim@localhost>")
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
# dpkg-shlibdeps reads each package's binaries for their libraries: palisim
# thus depends on the prometheus-cpp and cpp-httplib runtime libraries, and never on Qt.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME palisim)
set(CPACK_COMPONENT_SERVER_DESCRIPTION
    "Payment HSM simulator speaking the Atalla host-command protocol, headless
Palisim002 serves the protocol over TCP as a systemd service (installed, not
enabled) configured by /etc/palisim/atalla.conf; palisimstress is its load client.")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/contrib/debian/conffiles ${CMAKE_SOURCE_DIR}/contrib/debian/postinst
    ${CMAKE_SOURCE_DIR}/contrib/debian/prerm ${CMAKE_SOURCE_DIR}/contrib/debian/postrm)

set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME palisim-desktop)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_DEPENDS "palisim (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_DESKTOP_DESCRIPTION
    "Payment HSM simulator speaking the Atalla host-command protocol, windowed
Palisim002-window is the simulator with its Qt control window, in the desktop menu.")
include(CPack)
