// Runs a test program of windows on a display of its own: before the tests
// start, the program runs itself again under xvfb-run (X11, no
// accessibility bridge), with English messages (LC_MESSAGES) whatever the
// session's language, as the tests read the programs' English texts; a test
// of another language sets LC_ALL, or drops LC_MESSAGES for its programs.
// Without xvfb-run the tests skip.  The server does
// not reset when its last client leaves: a test that starts programs one
// after another would otherwise find the display refusing them meanwhile.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tarvo_test.h"

// A test that needs another screen defines TARVO_XVFB_SCREEN before this.
#ifndef TARVO_XVFB_SCREEN
#define TARVO_XVFB_SCREEN "1280x1024x24"
#endif

namespace tarvo_test {

// Empty when the display is there; else why the tests skip.
inline std::string &xvfb_problem()
{
  static std::string p;
  return p;
}

// GTK, GLib, fontconfig and the web engine synchronise in ways the thread
// checker cannot see (they are not built for it), so the window tests do
// not run under it; the tray helper's test keeps the GUI thread covered.

inline bool xvfb_reexec(int, char **)
{
  if (kThreadChecker) {
    xvfb_problem() = "the toolkit and the web engine are not built for the thread checker: window tests skipped";
    return false;
  }
  if (std::getenv("TARVO_TEST_XVFB")) return true;
  if (access("/usr/bin/xvfb-run", X_OK) != 0) {
    xvfb_problem() = "xvfb-run is not installed (package xvfb): no display for the window tests";
    return false;
  }
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return false;
  self[n] = '\0';
  std::string cmdline;
  FILE *f = std::fopen("/proc/self/cmdline", "rb");
  std::vector<std::string> args;
  if (f) {
    std::string cur;
    for (int c; (c = std::fgetc(f)) != EOF;) {
      if (c) cur.push_back(char(c));
      else {
        args.push_back(cur);
        cur.clear();
      }
    }
    std::fclose(f);
  }
  std::vector<const char *> argv = {"/usr/bin/xvfb-run", "-a", "-s", "-screen 0 " TARVO_XVFB_SCREEN " -nolisten tcp -noreset", "env",
                                    "TARVO_TEST_XVFB=1", "LC_MESSAGES=C.UTF-8", "GDK_BACKEND=x11", "NO_AT_BRIDGE=1", "GTK_A11Y=none",
                                    "LIBGL_ALWAYS_SOFTWARE=1", self};
  for (size_t i = 1; i < args.size(); ++i) argv.push_back(args[i].c_str());
  argv.push_back(nullptr);
  execv(argv[0], const_cast<char *const *>(argv.data()));
  xvfb_problem() = "xvfb-run could not be started";
  return false;
}

// Before main: the first run becomes the one under the display.
struct xvfb_at_start {
  xvfb_at_start() { xvfb_reexec(0, nullptr); }
};
inline xvfb_at_start xvfb_start_once;

}  // namespace tarvo_test

#define TARVO_NEED_DISPLAY()                                                             \
  do {                                                                                   \
    if (!tarvo_test::xvfb_problem().empty()) GTEST_SKIP() << tarvo_test::xvfb_problem(); \
  } while (0)
