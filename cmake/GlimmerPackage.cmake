# Install rules and the Debian package (cpack -G DEB).
#
# The programs go to bin, the extractor to libexec/glimmerfield where the
# programs find it; a copy that runs from there keeps its files in the
# user's data folder (see platform/paths.h).
if(GLIMMER_WINDOW)
  install(TARGETS glimmerfield RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES packaging/glimmerfield.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES packaging/glimmerfield.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  # Not enabled: the README shows how to copy it into ~/.config/autostart.
  install(FILES packaging/glimmerfield-autostart.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/glimmerfield)
endif()
install(TARGETS glimmer RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS glimmer-extract RUNTIME DESTINATION ${GLIMMER_LIBEXEC_SUBDIR})
# A user unit, not enabled: "systemctl --user enable --now glimmer-show".
install(FILES packaging/glimmer-show.service DESTINATION lib/systemd/user)
install(FILES README.md docs/serial_ports.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/glimmerfield)

set(CPACK_PACKAGE_NAME glimmerfield)
set(CPACK_PACKAGE_VENDOR "Glimmerfield")
set(CPACK_PACKAGE_CONTACT "Glimmerfield developers <glimmerfield@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "Plays light shows designed in Spectrum: imports its sequence archives into a playlist and,\
 every evening inside a daily time window, plays each song while it drives the lighting\
 controllers on a serial line in step with the music. Runs in a window or, with\
 `glimmer show`, without one.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
# The Debian libraries the programs link, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(GLIMMER_WINDOW)
  # Qt loads its display plugins at run time, so no library names them.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
endif()
include(CPack)
