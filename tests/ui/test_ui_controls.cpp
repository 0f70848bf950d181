// A child dialog's controls in a frame, on the display: '&' captions as
// mnemonics, combo box texts, controls the template hides staying hidden
// through the host's show-all, combo boxes at their template width; and the
// skinned slider driven by the real pointer: the cursor over the thumb, a
// drag held on the track line by the capture, and Escape putting it back.
#include <gtest/gtest.h>

#include <tarvo_ui/ui_proppage_skin.h>

#include <gtk/gtk.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "gtk_xvfb.h"

namespace {

enum { ID_LABEL = 20, ID_SLIDER = 21, ID_GROUP = 22, ID_RATE = 10, ID_WIDTH = 11, ID_HIDDEN = 12, ID_GO = 13 };

const UI_DIALOG_ITEM items[] = {
    {UI_CTL_STATIC, ID_LABEL, 7, 4, 60, 10, "演算精度(&Q)", 0},
    {UI_CTL_CUSTOM, ID_SLIDER, 7, 16, 100, 16, "", 0},
    {UI_CTL_GROUPBOX, ID_GROUP, 7, 36, 110, 40, "&Rate && width", 0},
    {UI_CTL_COMBO, ID_RATE, 14, 46, 70, 14, "", 0},
    {UI_CTL_DROPLIST, ID_WIDTH, 14, 62, 60, 14, "", 0},
    {UI_CTL_CHECK, ID_HIDDEN, 7, 80, 40, 12, "Hidden", UI_CTLF_HIDDEN},
    {UI_CTL_BUTTON, ID_GO, 60, 80, 40, 14, "&Go_on", 0},
};
const UI_DIALOG_TEMPLATE tmpl = {0, "", 122, 100, items, sizeof items / sizeof items[0]};

std::vector<std::pair<UINT, UINT>> g_notices;

LRESULT parent_proc(HWND, UINT msg, WPARAM w, LPARAM)
{
  if (msg == WM_HSCROLL) g_notices.push_back({UI_LOWORD(w), UI_HIWORD(w)});
  return 0;
}

// Runs the display's events until done() holds, for at most about 10 s.
template <class F>
bool pump_until(F done)
{
  for (int i = 0; i < 1000; ++i) {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    if (done()) return true;
    g_usleep(10000);
  }
  return false;
}

// Repeats act() until done() holds (a pointer motion that a busy display
// merged away is sent again), for at most about 10 s.
template <class A, class F>
bool retry_until(A act, F done)
{
  for (int i = 0; i < 50; ++i) {
    act();
    for (int j = 0; j < 20; ++j) {
      while (g_main_context_iteration(nullptr, FALSE)) {
      }
      if (done()) return true;
      g_usleep(10000);
    }
  }
  return false;
}

bool xdotool(const std::string &args) { return std::system(("xdotool " + args + " >/dev/null 2>&1").c_str()) == 0; }

TEST(UiControls, CaptionsTextsHiddenWidthsAndTheSliderOnThePointer)
{
  TARVO_NEED_DISPLAY();
  if (std::system("command -v xdotool >/dev/null") != 0) GTEST_SKIP() << "xdotool is not installed";
  ASSERT_EQ(UiGtkInit(nullptr, nullptr), 1);
  HWND frame = UiFrameCreate("ControlsHost", "Controls", 200, 170, "_About", nullptr, nullptr);
  HWND parent = CreateMessageWindow("SliderParent", "", parent_proc, nullptr);
  HWND dlg = UiCreateChildDialog(frame, &tmpl, nullptr, nullptr);
  ASSERT_NE(dlg, nullptr);

  // Captions: the mnemonic shown as such, the text read back as written.
  GtkWidget *label = UiGtkControlWidget(dlg, ID_LABEL);
  EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(label)), "演算精度(Q)");
  EXPECT_EQ(gtk_label_get_mnemonic_keyval(GTK_LABEL(label)), guint(GDK_KEY_q));
  EXPECT_EQ(gtk_label_get_mnemonic_widget(GTK_LABEL(label)), UiGtkControlWidget(dlg, ID_SLIDER));
  char text[64];
  EXPECT_EQ(GetDlgItemText(dlg, ID_LABEL, text, sizeof text), std::strlen("演算精度(&Q)"));
  EXPECT_STREQ(text, "演算精度(&Q)");
  GetDlgItemText(dlg, ID_GROUP, text, sizeof text);
  EXPECT_STREQ(text, "&Rate && width");
  GetDlgItemText(dlg, ID_GO, text, sizeof text);
  EXPECT_STREQ(text, "&Go_on");
  EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(UiGtkControlWidget(dlg, ID_GO))), "_Go__on");

  // Combo box texts: the edit field's, and a list's selected item.
  for (const char *t : {"8bit", "16bit"}) SendDlgItemMessage(dlg, ID_WIDTH, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(t));
  SendDlgItemMessage(dlg, ID_RATE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("44100"));
  EXPECT_EQ(SetDlgItemText(dlg, ID_RATE, "50000"), 1);
  EXPECT_EQ(GetDlgItemText(dlg, ID_RATE, text, sizeof text), 5u);
  EXPECT_STREQ(text, "50000");
  EXPECT_EQ(SetDlgItemText(dlg, ID_WIDTH, "16bit"), 1);
  EXPECT_EQ(SendDlgItemMessage(dlg, ID_WIDTH, CB_GETCURSEL, 0, 0), 1);
  EXPECT_EQ(SetDlgItemText(dlg, ID_WIDTH, "12bit"), 0) << "a list shows only its items";
  GetDlgItemText(dlg, ID_WIDTH, text, sizeof text);
  EXPECT_STREQ(text, "16bit");

  SkinSlider slider;
  ASSERT_EQ(slider.Attach(GetDlgItem(dlg, ID_SLIDER)), 1);
  slider.SetParent(parent);
  slider.SetRange(8, 64, 8, 1);

  // The host's show-all leaves the hidden box hidden; the program shows it.
  UiWindowShow(frame);
  UiWindowPresent(frame);
  GtkWidget *rate = UiGtkControlWidget(dlg, ID_RATE), *width = UiGtkControlWidget(dlg, ID_WIDTH), *hidden = UiGtkControlWidget(dlg, ID_HIDDEN);
  ASSERT_TRUE(pump_until([&] { return gtk_widget_get_allocated_width(rate) > 1 && slider.Length() > 0; }));
  EXPECT_FALSE(gtk_widget_get_visible(hidden));
  ShowDlgItem(dlg, ID_HIDDEN, 1);
  EXPECT_TRUE(gtk_widget_get_visible(hidden));
  // Dialog units in the dialog's font.
  auto du_x = [](int v) {
    UI_DIALOG_TEMPLATE t = {0, "", v, 0, nullptr, 0};
    int cx = 0;
    UiDialogUnitsToPixels(&t, &cx, nullptr);
    return cx;
  };
  EXPECT_EQ(gtk_widget_get_allocated_width(rate), du_x(70));
  EXPECT_EQ(gtk_widget_get_allocated_width(width), du_x(60));

  // The slider: thumb 11 wide, track from 6 to 7 before the end; 36 is
  // half way.
  EXPECT_EQ(LoadCursor(nullptr, 1), nullptr);
  EXPECT_EQ(slider.Length(), du_x(100) - 14);
  int half = slider.Length() / 2;
  slider.SetValue(36);
  ASSERT_EQ(slider.Position(), half);
  // 36 itself on a track of an even length; the font's metrics, which
  // differ by language, decide the length.
  const double set = slider.GetValue();
  GdkWindow *sw = gtk_widget_get_window(UiGtkControlWidget(dlg, ID_SLIDER));
  int ox = 0, oy = 0;
  gdk_window_get_origin(sw, &ox, &oy);
  int cx = 6 + half, cy = (slider.Thumb().top + slider.Thumb().bottom) / 2;
  auto at = [&](int x, int y) { return std::to_string(ox + x) + " " + std::to_string(oy + y); };
  EXPECT_TRUE(retry_until([&] { xdotool("mousemove " + at(cx, cy)); },
                          [] { return GetCursor() == LoadCursor(nullptr, IDC_SIZEWE); }))
      << "over the thumb";
  ASSERT_TRUE(xdotool("mousedown 1"));
  HWND control = GetDlgItem(dlg, ID_SLIDER);
  EXPECT_TRUE(pump_until([&] { return slider.Dragging() && GetCapture() == control; }));

  // Dragged 40 pixels along and 30 below: the pointer stays on the line.
  EXPECT_TRUE(retry_until([&] { xdotool("mousemove " + at(cx + 40, cy + 30)); },
                          [&] { return slider.Position() == half + 40; }))
      << slider.Position();
  int px = 0, py = 0;
  EXPECT_TRUE(pump_until([&] { return UiGetCursorPos(control, &px, &py) && py == cy; })) << px << "," << py;
  ASSERT_TRUE(xdotool("key Escape"));
  EXPECT_TRUE(pump_until([&] { return !slider.Dragging(); }));
  ASSERT_TRUE(xdotool("mouseup 1"));
  EXPECT_TRUE(pump_until([&] { return !g_notices.empty() && g_notices.back() == std::make_pair(5u, UINT(half)); }));
  EXPECT_EQ(slider.Position(), half);
  EXPECT_EQ(slider.GetValue(), set);
  EXPECT_EQ(GetCapture(), nullptr);
  ASSERT_FALSE(g_notices.empty());
  for (const auto &n : g_notices) EXPECT_EQ(n.first, 5u) << "drag notices only";
  EXPECT_NE(std::find(g_notices.begin(), g_notices.end(), std::make_pair(5u, UINT(half + 40))), g_notices.end());

  // With a library's own cursors the pointer over the thumb takes its
  // picture on the screen.
  static const char *const grip[] = {"2 2 2 1", ". c #000000", "o c #FFFFFF", ".o", "o."};
  static const UI_CURSOR_RESOURCE own[] = {{"CUR_SLIDE_HD_H", grip, 0, 0}};
  static const UI_CURSOR_TABLE table = {own, 1};
  slider.SetCursors(&table);
  xdotool("mousemove " + at(0, 0));
  EXPECT_TRUE(retry_until([&] { xdotool("mousemove " + at(cx, cy)); },
                          [] { return GetCursor() == LoadCursorResource(&table, "CUR_SLIDE_HD_H"); }));
  GdkCursor *shown = gdk_window_get_cursor(sw);
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(gdk_cursor_get_cursor_type(shown), GDK_CURSOR_IS_PIXMAP);

  slider.Detach();
  DestroyWindow(dlg);
  DestroyWindow(frame);
  DestroyWindow(parent);
}

}  // namespace
