// The haldor window as a user meets it: one fixed 800 x 430 frame titled
// after the product, a second start that only brings the first forward,
// Alt+F4 and Ctrl+W closing it, the About box's version lines, and no
// window at all without settings.  Plus the command line's page rule.
#include <gtest/gtest.h>
#include <cairo.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cinttypes>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "../ui/gtk_xvfb.h"
#include "haldor_app.h"
#include "haldor_tool_window.h"
#include "haldor_run.h"
#include "tarvo_live.h"
#include "tarvo_test.h"

namespace {

using haldor_run::bin;
using haldor_run::start;
using haldor_run::wait_exit;

using tarvo_test::scratch_dir;
namespace fs = std::filesystem;

TEST(HaldorApp, CommandLinePage)
{
  for (const char *yes : {"-t1", "  -T1 \t", "-t01", "-t1x"}) EXPECT_EQ(parse_tool_command_line(yes), "security") << yes;
  for (const char *no : {"-t2", "/t1", "-t", "t1", "", "-x1", "-t 1"}) EXPECT_EQ(parse_tool_command_line(no), "") << no;
}

TEST(HaldorApp, SectionHoldsTheUserName)
{
  unsigned char s[64];
  ASSERT_EQ(haldor_section_fill(s, sizeof s, "ab"), 1);
  EXPECT_EQ(s[0], 4);  // two units, the terminator, plus 1
  EXPECT_EQ(std::string(reinterpret_cast<char *>(s + 8), 6), std::string("a\0b\0\0\0", 6));
  EXPECT_EQ(haldor_section_fill(s, sizeof s, nullptr), 0);
  EXPECT_EQ(s[0], 2);
  EXPECT_EQ(s[8] | s[9] | s[10] | s[11], 0);
}


struct tool_run {
  scratch_dir prog, data, run;
  std::string sock = run / "ui/haldor.sock";
  std::string runtime = run / "rt";  // the published window classes
  std::string env;
  tool_run()
  {
    haldor_run::lay_out(prog.path, data.path, "en");
    fs::path b = std::getenv("TARVO_BIN");
    fs::create_symlink(b / "haldor", prog.path / "vennard");  // a record read from the server's name
    // quessel absent: an empty line
    env = "TARVO_UI_MSGBOX=record TARVO_SERVICE_DIR=" + prog.path.string() + " TARVO_COMMON_APPDATA=" +
          data.path.string() + " TARVO_UI_AUTOMATION=" + sock + " TARVO_RUNTIME_DIR=" + runtime;
  }
};


std::string sh(const std::string &cmd, int *status)
{
  return tarvo_test::command_output(cmd + " 2>/dev/null", status);
}

// The X windows titled as the tool, after the program has shown its frame.
std::string x_windows()
{
  int st;
  return sh("xdotool search --name '^Tarvo Media Server Tool$'", &st);
}

// The automation's handle of the first window of a class, waiting for it.
std::string handle_of(const tool_run &t, const std::string &cls)
{
  for (int i = 0; i < 300; ++i) {
    int st;
    std::string out = sh(bin("uictl") + " " + t.sock + " windows", &st);
    size_t p = out.find(" " + cls + " ");
    if (st == 0 && p != std::string::npos && p >= 16) return out.substr(p - 16, 16);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return "";
}

std::string uictl(const tool_run &t, const std::string &req)
{
  int st;
  return sh(bin("uictl") + " " + t.sock + " " + req, &st);
}

TEST(HaldorApp, WindowSingleInstanceAboutAndCloseKeys)
{
  TARVO_NEED_DISPLAY();
  if (!tarvo_test::private_net().empty()) GTEST_SKIP() << tarvo_test::private_net();
  tool_run t;
  pid_t pid = start(t.env + " GDK_BACKEND=x11");
  std::string frame = handle_of(t, "HaldorMainFrame");
  ASSERT_FALSE(frame.empty());
  EXPECT_NE(uictl(t, "windows").find(frame + " HaldorMainFrame Tarvo Media Server Tool\n"), std::string::npos);
  std::string controls;
  for (int i = 0; i < 100 && controls.find("content 800x430") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    controls = uictl(t, "controls " + frame);
  }
  EXPECT_EQ(controls, "content 800x430 resizable 0\n");
  std::string xw = x_windows();
  ASSERT_FALSE(xw.empty());

  // The frame's drawing, kept beside the test as an artefact: the page's
  // background fills the content area below the header bar.
  std::string png = (fs::current_path() / "haldor_frame.png").string();
  bool page_drawn = false;
  for (int i = 0; i < 100 && !page_drawn; ++i) {
    uictl(t, "screenshot " + frame + " " + png);
    cairo_surface_t *s = cairo_image_surface_create_from_png(png.c_str());
    if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS && cairo_image_surface_get_height(s) > 400) {
      const uint32_t *px = reinterpret_cast<const uint32_t *>(cairo_image_surface_get_data(s));
      int stride = cairo_image_surface_get_stride(s) / 4;
      uint32_t bg = px[400 * stride + 700] & 0xFFFFFFu, chrome = px[20 * stride + 400] & 0xFFFFFFu;
      // 0xF6F5F4 is the toolkit's own window colour: no page there yet.
      page_drawn = bg != chrome && bg == (px[350 * stride + 600] & 0xFFFFFFu) && bg != 0xF6F5F4u;
    }
    cairo_surface_destroy(s);
    if (!page_drawn) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(page_drawn) << png;

  // A second start only asks the first to show itself.
  EXPECT_EQ(wait_exit(start(t.env), tarvo_test::kLiveMs), 0);
  EXPECT_EQ(x_windows(), xw);

  // The About box's lines: the records of haldor and of the files named
  // vennard and quessel in the program folder.
  std::string fmt = "%s  Version %s";
  EXPECT_EQ(haldor_version_line(t.prog / "haldor", fmt), "Tarvo Media Server Tool  Version 1.0.0");
  EXPECT_EQ(haldor_version_line(t.prog / "vennard", "%d %s%% %s %s"), "%d Tarvo Media Server Tool% 1.0.0 %s");
  EXPECT_EQ(haldor_version_line(t.prog / "quessel", fmt), "");

  // The About box, opened from the frame's menu command.
  EXPECT_EQ(uictl(t, "command " + frame + " 57664"), "");
  std::string about = handle_of(t, "#32770");
  ASSERT_FALSE(about.empty());
  std::string lines = uictl(t, "controls " + about);
  // The language file reads "%s  Version %s"; its loader folds white space.
  EXPECT_NE(lines.find("1000 static 1 1 0 Tarvo Media Server Tool Version 1.0.0\n"
                       "1001 static 1 1 0 Tarvo Media Server Tool Version 1.0.0\n1002 static 1 1 0 \n"),
            std::string::npos)
      << lines;
  EXPECT_NE(uictl(t, "windows").find(about + " #32770 About Tarvo Media Server Tool\n"), std::string::npos);
  uictl(t, "key " + about + " Escape");
  for (int i = 0; i < 100 && uictl(t, "windows").find("#32770") != std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(uictl(t, "windows").find("#32770"), std::string::npos);

  // Ctrl+Alt+NumPad1 does nothing; Alt+F4 ends the tool with 0.
  uictl(t, "key " + frame + " '<Control><Alt>KP_1'");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0);
  uictl(t, "key " + frame + " '<Alt>F4'");
  EXPECT_EQ(wait_exit(pid, tarvo_test::kLiveMs), 0);
}

TEST(HaldorApp, CloseKeysEndWithZero)
{
  TARVO_NEED_DISPLAY();
  if (!tarvo_test::private_net().empty()) GTEST_SKIP() << tarvo_test::private_net();
  for (const char *key : {"alt+F4", "ctrl+w"}) {
    tool_run t;
    pid_t pid = start(t.env + " GDK_BACKEND=x11");
    ASSERT_FALSE(handle_of(t, "HaldorMainFrame").empty());
    std::string xw;
    for (int i = 0; i < 100 && xw.empty(); ++i) {
      xw = x_windows();
      if (xw.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_FALSE(xw.empty());
    int st;
    sh("xdotool windowfocus --sync " + xw.substr(0, xw.find('\n')) + " key " + key, &st);
    EXPECT_EQ(wait_exit(pid, 2000), 0) << key;
  }
}

// The file manager's menu, after it changed the published folders, posts
// 2003 to the window named in "HaldorHwnd" from a process of its own: the
// running tool's page reads its share list again.  The section goes with
// the tool.
TEST(HaldorApp, FileManagerPostRefreshesTheShareList)
{
  TARVO_NEED_DISPLAY();
  if (!tarvo_test::private_net().empty()) GTEST_SKIP() << tarvo_test::private_net();
  tool_run t;
  fs::create_directories(t.prog / "page/en");
  tarvo_test::write_file(t.prog / "page/en/index.html", "<html></html>");
  setenv("TARVO_RUNTIME_DIR", t.runtime.c_str(), 1);
  pid_t pid = start(t.env + " TARVO_PAGE_BACKEND=record");
  std::string frame = handle_of(t, "HaldorMainFrame");
  ASSERT_FALSE(frame.empty());
  auto section_handle = [] {
    char h[17];
    std::snprintf(h, sizeof h, "%016" PRIxPTR, reinterpret_cast<uintptr_t>(haldor_tool_window()));
    return std::string(h);
  };
  std::string scripts;
  for (int i = 0; i < 250 && (section_handle() != frame || scripts.find("msg_add(") == std::string::npos); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    scripts = uictl(t, "html-scripts");
  }
  ASSERT_EQ(section_handle(), frame);
  ASSERT_NE(scripts.find("msg_add("), std::string::npos) << scripts;
  const std::string refresh = "tollamy_page_share_get_share_list(true)\n";
  EXPECT_EQ(scripts.find(refresh), std::string::npos);

  ASSERT_EQ(PostMessage(haldor_tool_window(), WM_COMMAND, HALDOR_CMD_SHARES_CHANGED, 0), 1);
  for (int i = 0; i < 250 && scripts.find(refresh) == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    scripts = uictl(t, "html-scripts");
  }
  EXPECT_EQ(scripts.size() - scripts.rfind(refresh), refresh.size()) << scripts;

  kill(pid, SIGTERM);
  EXPECT_EQ(wait_exit(pid, 5000), 0);
  EXPECT_EQ(haldor_tool_window(), nullptr);
  EXPECT_EQ(PostMessage(reinterpret_cast<HWND>(std::stoull(frame, nullptr, 16)), WM_COMMAND, 2003, 0), 0);
  unsetenv("TARVO_RUNTIME_DIR");
}

TEST(HaldorApp, NoSettingsNoWindow)
{
  TARVO_NEED_DISPLAY();
  scratch_dir prog;
  EXPECT_EQ(wait_exit(start("TARVO_SERVICE_DIR=" + prog.path.string()), 5000), 1);
  EXPECT_EQ(x_windows(), "");
}

}  // namespace
