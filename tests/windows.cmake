# The tests of the Windows build: the Qt-free suites, cross-built and run
# under Wine. A file that tests what only Linux has is left out here by name,
# with the reason, so nothing is skipped at run time. Windows' own tests sit
# in tests/win/.

glimmer_test_suite(text glimmer_text qr_code)
glimmer_test_suite(binary binary_formats)

# The playlist's one test file makes its special files with mkfifo and /dev:
# no playlist suite.

# The archive import runs the extractor through the POSIX launcher, the
# command-line and cache tests start programs with fork and watch pipes and
# devices, and the reader's memory bound is an address space limit.
set(GLIMMER_LINUX_ONLY_TESTS_import exec_cmd_test.cpp glimmer_cli_test.cpp
    sequence_cache_test.cpp reader_test.cpp)
glimmer_test_suite(import importer platform_posix)

# The faults test kills the port under a pseudo-terminal, and the week test
# plays into one through the termios port. Time zones are chosen by their
# Windows names there (tests/calendar/time_zone.h).
set(GLIMMER_LINUX_ONLY_TESTS_playback show_faults_test.cpp show_week_test.cpp)
glimmer_test_suite(playback playback platform_posix season_calendar)
# The season calendar, in the time zones its tests choose.
glimmer_test_suite(calendar season_calendar)

# Alerts, the device wait and the service watch start programs and speak to
# systemd; the watchdog's show.log refusals are made of a FIFO and /dev/zero
# (Windows' own refusals are in tests/win/).
set(GLIMMER_LINUX_ONLY_TESTS_watch alerts_test.cpp device_wait_test.cpp service_watch_test.cpp
    show_watchdog_test.cpp)
glimmer_test_suite(watch show_watch platform_posix)

# The page's server over Winsock; the browser's and the show's page tests
# start glimmer show with signals and a browser.
set(GLIMMER_LINUX_ONLY_TESTS_web glimmer_show_page_test.cpp page_browser_test.cpp)
find_package(nlohmann_json REQUIRED)
glimmer_test_suite(web web show_page playback shell_settings platform_posix binary_formats
                   nlohmann_json::nlohmann_json)

# The golden files, written through Windows' file store, are the Linux
# build's bytes; the crash and permission tests kill children and drop root.
set(GLIMMER_LINUX_ONLY_TESTS_files file_store_test.cpp unwritable_folder_test.cpp)
glimmer_test_suite(files importer playlist shell_settings platform_posix)
target_compile_definitions(files_tests PRIVATE GLIMMER_GOLDEN_DIR="${CMAKE_CURRENT_SOURCE_DIR}/golden")

# Windows' own: its file layer, program folders and text, the extractor's
# Windows refusals in-process, the serial port, registry (with the start-up
# lookups that read it), processes, time zone, timing and the show task.
glimmer_test_suite(win platform_win LibArchive::LibArchive glimmer_text binary_formats
                   season_calendar)
target_sources(win_tests PRIVATE ${CMAKE_SOURCE_DIR}/tools/extractor/extract.cpp
                                 ${EXTRACTOR_SYSTEM_SOURCE}
                                 ${CMAKE_SOURCE_DIR}/shell/registry_value.cpp
                                 ${CMAKE_SOURCE_DIR}/shell/winrar_locator.cpp)
add_dependencies(win_tests glimmer-extract)
# The program the process tests start, beside them.
add_executable(win_test_child ${CMAKE_CURRENT_SOURCE_DIR}/win/child/test_child.cpp)
target_link_libraries(win_test_child PRIVATE platform_win shell32)
target_include_directories(win_test_child PRIVATE ${CMAKE_SOURCE_DIR})
glimmer_windows_program(win_test_child)
add_dependencies(win_tests win_test_child)

# The sound output and the decoder, under Wine: PulseAudio behind WASAPI,
# GStreamer behind Media Foundation.
glimmer_test_suite(win_audio platform_audio platform_win)
target_compile_definitions(win_audio_tests PRIVATE
                           GLIMMER_AUDIO_DATA="${CMAKE_CURRENT_SOURCE_DIR}/win_audio/data")
# Once more where no sound server is to be found: the silent fallback.
add_test(NAME win_audio_without_device
         COMMAND win_audio_tests --gtest_filter=*WithoutADevice*)
set_tests_properties(win_audio_without_device PROPERTIES ENVIRONMENT
  "GLIMMER_NO_AUDIO_DEVICE=1;XDG_RUNTIME_DIR=${CMAKE_CURRENT_BINARY_DIR}/no-sound-server;PULSE_SERVER=unix:${CMAKE_CURRENT_BINARY_DIR}/no-sound-server/native")
# The ring and decoder thread both players share.
target_sources(win_audio_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/platform/song_feed_test.cpp)

# The window's view: its layout and its open-file filters here; the dialog
# itself (made hidden, a recorder where the presenter would be) needs a
# display, which scripts/ci-windows-window.sh gives it: MainDialogTest runs
# there.
file(GLOB win_window_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/win_window/*.cpp)
add_executable(win_window_tests ${win_window_sources} ${GLIMMER_WIN_DIALOG_RC})
glimmer_windows_program(win_window_tests)
target_include_directories(win_window_tests PRIVATE ${CMAKE_SOURCE_DIR}/shell/win)
target_link_libraries(win_window_tests PRIVATE test_fakes win_window GTest::gtest GTest::gtest_main)
gtest_discover_tests(win_window_tests WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
                     TEST_FILTER "-MainDialogTest.*" DISCOVERY_TIMEOUT 60
                     DISCOVERY_MODE ${GLIMMER_DISCOVERY_MODE})

# What every main window shows and asks, on a fake view; the Qt window's own
# tests need Qt, which the Windows build has not.
file(GLOB GLIMMER_LINUX_ONLY_TESTS_shell RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}/shell
     ${CMAKE_CURRENT_SOURCE_DIR}/shell/*.cpp)
list(REMOVE_ITEM GLIMMER_LINUX_ONLY_TESTS_shell main_presenter_test.cpp)
glimmer_test_suite(shell shell_presenter season_calendar qr_code)
