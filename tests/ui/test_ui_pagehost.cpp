// The page host on the resampler's library, as a person would use it:
// started from a folder with the test skin library and from one without,
// its frame's own drawing checked by pixels, the rate typed and applied
// through its Apply button, the warning recorded, and Close ending it.
#include <gtest/gtest.h>
#include <tarvo_ui/ui_controls.h>

#include <cairo.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gtk_xvfb.h"
#include "tarvo_test.h"

namespace fs = std::filesystem;

namespace {

const char *const kResampleFilter = "{845A578B-836A-41F9-A22A-D1E31F26B1ED}";

// Dialog 1000's 122 x 137 units in the page's font.
void page_size(int *cx, int *cy)
{
  UI_DIALOG_TEMPLATE t = {0, "", 122, 137, nullptr, 0};
  UiDialogUnitsToPixels(&t, cx, cy);
}

std::string bin(const std::string &name) { return std::string(std::getenv("TARVO_BIN")) + "/" + name; }

// Polls until done() holds, for at most about 15 s.
template <class F>
bool wait_for(F done)
{
  for (int i = 0; i < 300; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

struct host_run {
  tarvo_test::scratch_dir dir;
  std::string sock = dir / "ui/host.sock", out = dir / "out.txt";
  pid_t pid = -1;

  // pagehost copied into a folder of its own, with the skin library or
  // without: the host looks for it beside itself.
  explicit host_run(bool skin)
  {
    fs::copy_file(bin("pagehost"), dir / "pagehost");
    if (skin) fs::copy_file(fs::path(bin("")) / "../tests/ui/libvellisk.so", dir / "libvellisk.so");
    pid = fork();
    if (pid == 0) {
      setenv("LD_LIBRARY_PATH", std::getenv("TARVO_BIN"), 1);
      setenv("TARVO_UI_AUTOMATION", sock.c_str(), 1);
      setenv("TARVO_UI_MSGBOX", "record", 1);
      if (!freopen(out.c_str(), "w", stdout)) _exit(127);
      std::string prog = dir / "pagehost", lib = bin("libmirrow.so");
      execl(prog.c_str(), prog.c_str(), lib.c_str(), kResampleFilter, static_cast<char *>(nullptr));
      _exit(127);
    }
  }
  ~host_run()
  {
    if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  std::string uictl(const std::string &req, int *status = nullptr)
  {
    int st;
    std::string a = tarvo_test::command_output(bin("uictl") + " " + sock + " " + req, &st);
    if (status) *status = st;
    return a;
  }
  // The windows of a class, once the frame is up.
  std::vector<std::string> windows(const std::string &cls)
  {
    std::vector<std::string> hs;
    std::istringstream lines(uictl("windows"));
    for (std::string l; std::getline(lines, l);)
      if (l.size() > 17 && l.compare(17, cls.size() + 1, cls + " ") == 0) hs.push_back(l.substr(0, 16));
    return hs;
  }
  // The child dialog holding control line `has` ("1001 combo").
  std::string dialog_with(const std::string &has)
  {
    for (const std::string &h : windows("#32770"))
      if (("\n" + uictl("controls " + h)).find("\n" + has + " ") != std::string::npos) return h;
    return "";
  }
  // Exit status once it ended by itself, -1 while it runs past ~15 s.
  int wait_exit()
  {
    int st = -1;
    if (!wait_for([&] { return waitpid(pid, &st, WNOHANG) == pid; })) return -1;
    pid = -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
};

struct shot {
  cairo_surface_t *s = nullptr;
  explicit shot(const std::string &png) : s(cairo_image_surface_create_from_png(png.c_str())) {}
  ~shot() { cairo_surface_destroy(s); }
  bool ok() const { return cairo_surface_status(s) == CAIRO_STATUS_SUCCESS; }
  int w() const { return cairo_image_surface_get_width(s); }
  int h() const { return cairo_image_surface_get_height(s); }
  uint32_t at(int x, int y) const
  {
    if (x < 0 || y < 0 || x >= w() || y >= h()) return 0xFFFFFFFFu;
    const uint8_t *p = cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s) + x * 4;
    return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
  }
  // The first pixel of colour c in reading order, the page's top-left
  // corner when c is what the page starts with.
  bool find(uint32_t c, int *x, int *y) const
  {
    for (*y = 0; *y < h(); ++*y)
      for (*x = 0; *x < w(); ++*x)
        if (at(*x, *y) == c) return true;
    return false;
  }
};

// The frame's drawing once the page shows there (a colour at its corner).
bool page_drawn(host_run &r, const std::string &frame, uint32_t corner, int *x, int *y)
{
  std::string png = r.dir / "frame.png";
  return wait_for([&] {
    int st;
    r.uictl("screenshot " + frame + " " + png, &st);
    shot s(png);
    return st == 0 && s.ok() && s.find(corner, x, y);
  });
}

// The width the host gives a page's dialog (its layout's window line):
// the page paints all of it, whatever its own layout needs.
int shown_width(host_run &r, const std::string &dialog)
{
  int x = 0, y = 0, w = 0;
  std::sscanf(r.uictl("layout " + dialog).c_str(), "window %d %d %d", &x, &y, &w);
  return w;
}

int count_lines(const std::string &text, const std::string &line)
{
  int n = 0;
  std::istringstream lines(text);
  for (std::string l; std::getline(lines, l);) n += l == line;
  return n;
}

TEST(PageHost, ResamplePageWithTheSkinAppliedThroughTheFrame)
{
  int page_cx = 0, page_cy = 0;
  page_size(&page_cx, &page_cy);
  TARVO_NEED_DISPLAY();
  host_run r(true);
  std::string frame, page, buttons;
  ASSERT_TRUE(wait_for([&] {
    std::vector<std::string> f = r.windows("TarvoPageHost");
    frame = f.empty() ? "" : f[0];
    page = r.dialog_with("1001 combo");
    buttons = r.dialog_with("12321 button");
    return !frame.empty() && !page.empty() && !buttons.empty();
  })) << r.uictl("windows");
  EXPECT_EQ(r.uictl("alerts"), "") << "the skin library is there";
  std::string controls = r.uictl("controls " + buttons);
  EXPECT_NE(controls.find("12321 button 1 1 0 &Apply\n"), std::string::npos) << controls;
  EXPECT_NE(controls.find("8 button 1 1 0 &Close\n"), std::string::npos) << controls;

  // The top strip of the test skin (red and blue columns), the dark right
  // column of the page.
  int x = 0, y = 0;
  ASSERT_TRUE(page_drawn(r, frame, 0xC82828u, &x, &y));
  shot s(r.dir / "frame.png");
  EXPECT_EQ(s.at(x + 3, y), 0x2828C8u);
  page_cx = std::max(page_cx, shown_width(r, page));
  EXPECT_EQ(s.at(x + page_cx - 1, y + 100), 0x404040u);

  // 1000 typed and applied: one warning, and the page's failure reported.
  EXPECT_EQ(r.uictl("settext " + page + " 1001 1000"), "");
  EXPECT_EQ(r.uictl("click " + buttons + " 12321"), "");
  std::string out;
  EXPECT_TRUE(wait_for([&] {
    out = tarvo_test::read_file(r.out);
    return out.find('\n') != std::string::npos;
  }));
  EXPECT_EQ(out, "Orlenta Resample: Apply 0x80004005\n");
  EXPECT_EQ(count_lines(r.uictl("alerts"), "サンプリング周波数は 2000Hz ～ 192000Hz の範囲内を指定してください。"), 1);

  EXPECT_EQ(r.uictl("click " + buttons + " 8"), "");
  EXPECT_EQ(r.wait_exit(), 0);
}

TEST(PageHost, WithoutTheSkinLibraryAWarningAndThePlainBackground)
{
  int page_cx = 0, page_cy = 0;
  page_size(&page_cx, &page_cy);
  TARVO_NEED_DISPLAY();
  host_run r(false);
  std::string frame, buttons;
  ASSERT_TRUE(wait_for([&] {
    std::vector<std::string> f = r.windows("TarvoPageHost");
    frame = f.empty() ? "" : f[0];
    buttons = r.dialog_with("12321 button");
    return !frame.empty() && !buttons.empty();
  }));
  EXPECT_EQ(r.uictl("alerts"), "vellisk.dll not found.\n");
  int x = 0, y = 0;
  ASSERT_TRUE(page_drawn(r, frame, 0xE2E2E2u, &x, &y));
  shot s(r.dir / "frame.png");
  EXPECT_EQ(s.at(x + 3, y), 0xE2E2E2u);
  EXPECT_EQ(s.at(x + 100, y + page_cy - 1), 0xE2E2E2u);
  page_cx = std::max(page_cx, shown_width(r, r.dialog_with("1001 combo")));
  EXPECT_EQ(s.at(x + page_cx - 1, y + 100), 0x404040u) << "the dark right column";
  EXPECT_NE(s.at(x + page_cx, y + 100), 0x404040u) << "and nothing beyond the page";
  EXPECT_EQ(r.uictl("click " + buttons + " 8"), "");
  EXPECT_EQ(r.wait_exit(), 0);
}

}  // namespace
