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

# Who answers for the package. Whoever publishes it sets their own address:
# cmake -DGLIMMER_PACKAGE_MAINTAINER="Name <address>".
set(GLIMMER_PACKAGE_MAINTAINER
    "Glimmerfield maintainers <maintainers@users.noreply.c-seed-79876e25.example>"
    CACHE STRING "Maintainer of the Debian package, as Name <address>")

# Debian's documentation files: the copyright, and the changelog compressed
# reproducibly (no name or time stamp in the gzip header).
configure_file(packaging/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
find_program(GZIP gzip REQUIRED)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  COMMAND ${GZIP} -9nkf ${CMAKE_BINARY_DIR}/packaging/changelog
  DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog
  COMMENT "Compressing the package changelog")
set(GLIMMER_DOC_OUTPUTS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
install(FILES packaging/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/glimmerfield)

# Manual pages, made at build time by help2man from the programs' own --help,
# so they never drift from it. The programs run from a copy laid out as the
# package installs them, so the pages name the installed copy's data folder
# (for a user whose home is /home/USER), not the build tree.
find_program(HELP2MAN help2man)
if(HELP2MAN)
  set(stage ${CMAKE_BINARY_DIR}/manual-stage)
  set(manual_programs glimmer)
  set(manual_glimmer_name "command-line companion of the Glimmerfield light-show player")
  if(GLIMMER_WINDOW)
    list(APPEND manual_programs glimmerfield)
    set(manual_glimmerfield_name "the Glimmerfield light-show player")
  endif()
  set(manual_pages "")
  foreach(program IN LISTS manual_programs)
    set(page ${CMAKE_BINARY_DIR}/packaging/${program}.1)
    # help2man runs the program through this script: the cross build's
    # emulator, if any, and an environment without a display or data folder.
    set(runner ${stage}/run-${program})
    string(JOIN " " emulator ${CMAKE_CROSSCOMPILING_EMULATOR})
    file(
      CONFIGURE
      OUTPUT ${runner}
      CONTENT
        "#!/bin/sh\nexec env -u XDG_DATA_HOME -u DISPLAY -u WAYLAND_DISPLAY HOME=/home/USER ${emulator} ${stage}/bin/${program} \"$@\"\n"
      @ONLY)
    file(CHMOD ${runner} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
         GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    add_custom_command(
      OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}/bin ${stage}/${GLIMMER_LIBEXEC_SUBDIR}
      COMMAND ${CMAKE_COMMAND} -E touch ${stage}/${GLIMMER_LIBEXEC_SUBDIR}/glimmer-extract
      COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${program}> ${stage}/bin/${program}
      COMMAND ${HELP2MAN} --no-info --no-discard-stderr --section=1
              "--name=${manual_${program}_name}" --output=${page} ${runner}
      # help2man names the page after the script it ran.
      COMMAND sed -i "s/run-${program}/${program}/g" ${page}
      COMMAND ${GZIP} -9nf ${page}
      DEPENDS ${program} ${runner}
      COMMENT "Making the manual page of ${program}")
    list(APPEND manual_pages ${page}.gz)
  endforeach()
  add_custom_target(manual_pages ALL DEPENDS ${manual_pages} ${GLIMMER_DOC_OUTPUTS})
  install(FILES ${manual_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man not found: the package is built without manual pages")
  add_custom_target(manual_pages ALL DEPENDS ${GLIMMER_DOC_OUTPUTS})
endif()

set(CPACK_PACKAGE_NAME glimmerfield)
set(CPACK_PACKAGE_VENDOR "Glimmerfield")
set(CPACK_PACKAGE_CONTACT "${GLIMMER_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# The long description, below the summary; CPack indents it and marks the
# empty lines as the control file wants.
set(GLIMMER_PACKAGE_LONG_DESCRIPTION
    "Glimmerfield plays light shows designed in the Spectrum sequencer. It imports\n\
Spectrum's sequence archives into a playlist and, every evening inside a daily\n\
time window, plays each song while it drives the lighting controllers on a\n\
serial line in step with the music.\n\
\n\
The package holds the player's window, glimmerfield, and the command-line\n\
companion glimmer, which runs the saved show without a window (glimmer show),\n\
compiles and inspects sequences, monitors a serial line and plays a demo show\n\
on any machine.")
if(NOT GLIMMER_WINDOW)
  string(APPEND GLIMMER_PACKAGE_LONG_DESCRIPTION "\n\
\n\
This build has no window: glimmerfield is left out, and the show runs headless\n\
with glimmer show, set up with glimmer's other commands or with the files of a\n\
player that has one.")
endif()
set(CPACK_PACKAGE_DESCRIPTION "${GLIMMER_PACKAGE_LONG_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# A cross build is packaged for its target, not for the machine it ran on.
if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
endif()
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
# The Debian libraries the programs link, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(GLIMMER_WINDOW)
  # Qt loads its display plugins at run time, so no library names them.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
  # Without it Qt on a Wayland desktop falls back to X11 with a warning.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
endif()
include(CPack)
