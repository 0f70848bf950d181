// The GTK windows driven as a test would drive a program: a template
// dialog's texts, boxes and buttons through the automation socket, Enter
// and Escape, real and recorded message boxes, the folder chooser's close
// button, a modeless dialog, and a window's screenshot.
#include <gtest/gtest.h>

#include <tarvo_ui/ui_automation.h>
#include <tarvo_ui/ui_gtk.h>

#include <cairo.h>
#include <gtk/gtk.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "gtk_xvfb.h"
#include "tarvo_test.h"

namespace {

std::string g_sock;

std::string uictl(const std::string &req, int *status)
{
  return tarvo_test::command_output(std::string(std::getenv("TARVO_BIN")) + "/uictl " + g_sock + " " + req, status);
}

// The handle of the first dialog window, waiting for it.
std::string dialog_handle()
{
  for (int i = 0; i < 300; ++i) {
    int st;
    std::string out = uictl("windows", &st);
    size_t p = out.find(" #32770 ");
    if (st == 0 && p != std::string::npos && p >= 16) return out.substr(p - 16, 16);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return "";
}

// Runs requests against the dialog that is about to open; answers kept.
struct driver {
  std::vector<std::string> answers;
  std::thread t;
  explicit driver(std::vector<std::string> requests)
  {
    t = std::thread([this, requests] {
      std::string h = dialog_handle();
      for (const std::string &r : requests) {
        int st;
        size_t sp = r.find(' ');
        std::string req = sp == std::string::npos ? r + " " + h : r.substr(0, sp) + " " + h + r.substr(sp);
        std::string a = uictl(req, &st);
        answers.push_back((st == 0 ? "" : "error ") + a);
        if (std::getenv("TARVO_TEST_TRACE")) fprintf(stderr, "%s -> %s\n", req.c_str(), answers.back().c_str());
      }
    });
  }
  ~driver() { t.join(); }
};

const UI_DIALOG_ITEM items[] = {
    {UI_CTL_STATIC, 20, 7, 7, 100, 10, "Name", 0},
    {UI_CTL_EDIT, 10, 7, 20, 120, 14, "", 0},
    {UI_CTL_CHECK, 11, 7, 40, 120, 12, "Keep", 0},
    {UI_CTL_RADIO, 12, 7, 55, 60, 12, "One", UI_CTLF_GROUP},
    {UI_CTL_RADIO, 13, 70, 55, 60, 12, "Two", 0},
    {UI_CTL_BUTTON, 14, 7, 75, 50, 14, "Apply", 0},
    {UI_CTL_BUTTON, 15, 60, 75, 50, 14, "Hidden", UI_CTLF_HIDDEN},
    {UI_CTL_DEFBUTTON, IDOK, 60, 95, 50, 14, "OK", 0},
    {UI_CTL_BUTTON, IDCANCEL, 115, 95, 50, 14, "Cancel", 0},
};
const UI_DIALOG_TEMPLATE tmpl = {300, "Test dialog", 180, 115, items, sizeof items / sizeof items[0]};

struct seen_rec {
  std::string applied, radio_clicks;
  int keep = -1, two = -1, init = 0;
};

LRESULT test_proc(HWND h, UINT msg, WPARAM w, LPARAM)
{
  auto *seen = static_cast<seen_rec *>(GetWindowUserData(h));
  if (msg == WM_INITDIALOG) {
    seen->init++;
    CheckRadioButton(h, 12, 13, 12);
  }
  if (msg == WM_COMMAND && (UI_LOWORD(w) == 12 || UI_LOWORD(w) == 13)) seen->radio_clicks += std::to_string(UI_LOWORD(w));
  if (msg == WM_COMMAND && UI_LOWORD(w) == 14) {
    char buf[64];
    GetDlgItemText(h, 10, buf, sizeof buf);
    seen->applied = buf;
    return 1;
  }
  if (msg == WM_COMMAND && UI_LOWORD(w) == IDOK) {
    seen->keep = IsDlgButtonChecked(h, 11);
    seen->two = IsDlgButtonChecked(h, 13);
  }
  return 0;
}

// First, before this process opens the display: a child without one
// gets 0 from a message box, not a button the user never chose.
TEST(UiGtk, MessageBoxWithoutDisplayFails)
{
  pid_t pid = fork();
  if (pid == 0) {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    _exit(MessageBox(nullptr, "Nobody sees this", "Q", MB_OKCANCEL) == 0 ? 0 : 1);
  }
  int st = -1;
  ASSERT_EQ(waitpid(pid, &st, 0), pid);
  EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
}

TEST(UiGtk, TemplateDialogMessageBoxesAndScreenshot)
{
  TARVO_NEED_DISPLAY();
  tarvo_test::scratch_dir run;
  g_sock = run / "ui/test.sock";
  setenv("TARVO_UI_AUTOMATION", g_sock.c_str(), 1);
  ASSERT_EQ(UiGtkInit(nullptr, nullptr), 1);
  ASSERT_EQ(UiAutomationStart(), 1);
  std::string png = run / "dialog.png";

  seen_rec seen;
  intptr_t r;
  {
    driver d({"settext 10 hello world", "check 11 1", "click 13", "click 14", "controls", "screenshot " + png,
              "key Return"});
    // Opened from a posted message over a frame: the modal loop must not
    // deliver that message again (a dialog inside a dialog without end).
    static seen_rec *seen_p;
    static intptr_t result;
    static int opened;
    seen_p = &seen;
    HWND frame = UiFrameCreate("TestFrame", "Frame", 300, 200, "_About", [](HWND h, UINT m, WPARAM, LPARAM) -> LRESULT {
      if (m != WM_COMMAND) return 0;
      opened++;
      result = DialogBoxTemplate(h, &tmpl, test_proc, seen_p);
      PostQuitMessage(0);
      return 1;
    }, nullptr);
    UiWindowShow(frame);
    PostMessage(frame, WM_COMMAND, 100, 0);
    MessageLoop();
    r = result;
    EXPECT_EQ(opened, 1);
    DestroyWindow(frame);
  }
  EXPECT_EQ(r, IDOK);
  EXPECT_EQ(seen.init, 1);
  EXPECT_EQ(seen.applied, "hello world");
  EXPECT_EQ(seen.keep, 1);
  EXPECT_EQ(seen.two, 1);
  EXPECT_EQ(seen.radio_clicks, "13");  // not the radio it switched off
  cairo_surface_t *s = cairo_image_surface_create_from_png(png.c_str());
  ASSERT_EQ(cairo_surface_status(s), CAIRO_STATUS_SUCCESS);
  int w = cairo_image_surface_get_width(s), hgt = cairo_image_surface_get_height(s);
  EXPECT_GE(w, 270);  // 180 dialog units
  EXPECT_GE(hgt, 180);
  const uint32_t *px = reinterpret_cast<const uint32_t *>(cairo_image_surface_get_data(s));
  int stride = cairo_image_surface_get_stride(s) / 4, differ = 0;
  for (int y = 0; y < hgt; ++y)
    for (int x = 0; x < w; ++x) differ += px[y * stride + x] != px[0];
  EXPECT_GT(differ, 100);  // text and buttons drawn, not one flat colour
  cairo_surface_destroy(s);

  // Escape ends a dialog with IDCANCEL, and the hidden control is listed so.
  seen_rec seen2;
  {
    driver d({"controls", "key Escape"});
    r = DialogBoxTemplate(nullptr, &tmpl, test_proc, &seen2);
    d.t.join();
    d.t = std::thread([] {});
    ASSERT_EQ(d.answers.size(), 2u);
    EXPECT_NE(d.answers[0].find("\n15 button 0 1 0 Hidden\n"), std::string::npos) << d.answers[0];
    EXPECT_NE(d.answers[0].find("\n10 edit 1 1 0 \n"), std::string::npos) << d.answers[0];
    EXPECT_NE(d.answers[0].find("\n12 radio 1 1 1 One\n"), std::string::npos) << d.answers[0];
  }
  EXPECT_EQ(r, IDCANCEL);
  EXPECT_EQ(seen2.keep, -1);

  // Real message boxes: the buttons' results, Escape on OK/Cancel.
  {
    driver d({"click 7"});
    EXPECT_EQ(MessageBox(nullptr, "Remove it?", "Question", MB_YESNO), IDNO);
  }
  {
    driver d({"controls", "key Escape"});
    EXPECT_EQ(MessageBox(nullptr, "Go on?", "Question", MB_OKCANCEL), IDCANCEL);
    d.t.join();
    d.t = std::thread([] {});
    EXPECT_NE(d.answers[0].find("65535 static 1 1 0 Go on?\n1 defbutton 1 1 0 OK\n2 button 1 1 0 Cancel\n"),
              std::string::npos)
        << d.answers[0];
  }
  {
    driver d({"alerts", "key Return"});
    EXPECT_EQ(MessageBox(nullptr, "Yes by Enter", "Question", MB_YESNO), IDYES);
    d.t.join();
    d.t = std::thread([] {});
    EXPECT_EQ(d.answers[0], "Remove it?\nGo on?\nYes by Enter\n");
  }
  // The recorder: queued answers, else the first button's.
  UiMessageBoxRecorder(1);
  UiMessageBoxQueueAnswer(IDNO);
  EXPECT_EQ(MessageBox(nullptr, "Recorded one", "Q", MB_YESNO), IDNO);
  EXPECT_EQ(MessageBox(nullptr, "Recorded two", "Q", MB_OKCANCEL), IDOK);
  UiMessageBoxQueueAnswer(IDYES);  // not a button of an OK box
  EXPECT_EQ(MessageBox(nullptr, "Recorded three", "Note", MB_OK), IDOK);
  UiMessageBoxRecorder(0);
  ASSERT_EQ(UiAlertCount(), 6u);
  EXPECT_STREQ(UiAlertAt(4), "Recorded two");
  ASSERT_EQ(UiMessageBoxCount(), 6u);
  UI_MSGBOX_RECORD box{};
  ASSERT_EQ(UiMessageBoxAt(4, &box), 1);
  EXPECT_STREQ(box.text, "Recorded two");
  EXPECT_STREQ(box.caption, "Q");
  EXPECT_EQ(box.type, MB_OKCANCEL);
  EXPECT_EQ(UiMessageBoxAt(6, &box), 0);

  // The folder chooser's close button ends it as Cancel.
  g_timeout_add(300, [](gpointer) -> gboolean {
    if (GtkWidget *w = UiGtkWidget(FindWindow(UI_DIALOG_CLASS, "Pick a folder"))) gtk_window_close(GTK_WINDOW(w));
    return FALSE;
  }, nullptr);
  guint guard = g_timeout_add(5000, [](gpointer) -> gboolean {  // the chooser still open: Cancel it
    PostMessage(FindWindow(UI_DIALOG_CLASS, "Pick a folder"), WM_COMMAND, UI_MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return FALSE;
  }, nullptr);
  char folder[256] = "x";
  gint64 t0 = g_get_monotonic_time();
  EXPECT_EQ(UiFolderChoose(nullptr, "Pick a folder", nullptr, nullptr, folder, sizeof folder), 0);
  EXPECT_LT(g_get_monotonic_time() - t0, 4000000);
  g_source_remove(guard);
  EXPECT_EQ(FindWindow(UI_DIALOG_CLASS, "Pick a folder"), nullptr);

  // Modeless: shown and initialised at once, ended by DestroyWindow.
  seen_rec seen3;
  HWND modeless = CreateDialogTemplate(nullptr, &tmpl, test_proc, &seen3);
  ASSERT_NE(modeless, nullptr);
  EXPECT_EQ(seen3.init, 1);
  EXPECT_EQ(IsDlgButtonChecked(modeless, 12), 1);
  EXPECT_EQ(DestroyWindow(modeless), 1);
  EXPECT_FALSE(IsWindow(modeless));
  EXPECT_EQ(UiGtkWidget(modeless), nullptr);
  UiAutomationStop();
}

}  // namespace
