# What `cmake --install` lays out (GNUInstallDirs), and the Debian package CPack makes of it.
if(KESTRUM_GUI)
  install(TARGETS kestrum RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${KESTRUM_QCH} ${KESTRUM_QHC} DESTINATION ${CMAKE_INSTALL_DATADIR}/kestrum/help)
  install(FILES dist/org.kestrum.Kestrum.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES dist/org.kestrum.Kestrum.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES dist/icons/scalable/kestrum.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(size 16 22 24 32 48 64 128 256)
    install(FILES dist/icons/${size}x${size}/kestrum.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  # Manual pages are installed compressed, as the desktop's man readers expect.
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/kestrum.1.gz
                     COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/dist/kestrum.1 > ${CMAKE_BINARY_DIR}/kestrum.1.gz
                     DEPENDS ${CMAKE_SOURCE_DIR}/dist/kestrum.1)
  add_custom_target(kestrum_man ALL DEPENDS ${CMAKE_BINARY_DIR}/kestrum.1.gz)
  install(FILES ${CMAKE_BINARY_DIR}/kestrum.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES dist/copyright DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/kestrum)
endif()
install(TARGETS kestrum-report RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrum)
set(CPACK_PACKAGE_VENDOR "${KESTRUM_COMPANY}")
set(CPACK_PACKAGE_CONTACT "${KESTRUM_COMPANY} <kestrum@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Kestrum lists the volumes of the computer, scans one, all of them or any folder,\n"
       "totals file bytes and allocated space per folder, keeps each volume's 100 largest\n"
       "files, and shows a folder tree beside a list with sizes, percentages, share bars\n"
       "and a pie chart.")
set(CPACK_PACKAGE_FILE_NAME "kestrum_${PROJECT_VERSION}_amd64")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_LICENSE "GPL-3+")
# Libraries the program links are found by dpkg-shlibdeps; what Qt loads at run time is named
# here: the SQLite driver the help engine opens its collection with, the SVG icon and image
# plugins, and the platform plugin of an X or Wayland desktop.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(KESTRUM_GUI)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, libqt6svg6")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
  set(CPACK_DEBIAN_PACKAGE_CONFLICTS "kestrum-report")
  set(CPACK_DEBIAN_PACKAGE_REPLACES "kestrum-report")
else()
  # Built without the window: the headless scanner alone, for servers without a display or Qt
  # (scripts/package --headless). Both packages hold /usr/bin/kestrum-report.
  set(CPACK_PACKAGE_NAME kestrum-report)
  set(CPACK_PACKAGE_FILE_NAME "kestrum-report_${PROJECT_VERSION}_amd64")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Kestrum's headless scanner: reports and saved scans")
  string(CONCAT CPACK_PACKAGE_DESCRIPTION
         "kestrum-report scans a folder without a window: it prints Kestrum's report of it or\n"
         "saves the scan in the JSON export format that ncdu, gdu and Kestrum open.")
  set(CPACK_DEBIAN_PACKAGE_CONFLICTS "kestrum")
endif()
set(CPACK_STRIP_FILES ON)
include(CPack)
