# The tests of the Windows build: the Qt-free suites, cross-built and run
# under Wine. A file that tests what only Linux has (pseudo-terminals,
# termios, systemd, ALSA, fork) is left out here by name, so nothing is
# skipped at run time. Each suite's Windows-only tests sit in tests/win/.

glimmer_test_suite(text glimmer_text)
glimmer_test_suite(binary binary_formats)

# What only the Windows build has: its file layer, program folders and text.
glimmer_test_suite(win platform_win)
