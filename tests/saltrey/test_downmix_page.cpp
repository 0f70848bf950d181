// The downmix filter's page, made by the filter library's class factory and
// connected to the filter, in a host frame: the controls follow the
// settings and a settings load, each choice is written at once, the phase
// boxes toggle by mouse and by key, a list without a selection writes
// nothing, and the skin background on the screen (built again without the
// skin library).
#include <gtest/gtest.h>

#include <saltrey/saltrey.h>
#include <tarvo_com/com_persist.h>
#include <tarvo_ui/ui_automation.h>
#include <tarvo_ui/ui_proppage.h>
#include <tarvo_ui/ui_proppage_skin.h>

#include <cairo.h>
#include <gtk/gtk.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "../ui/gtk_xvfb.h"
#include "../../filters/saltrey/saltrey_page.h"
#include "filter_test.h"
#include "tarvo_test.h"

namespace {

// The page's 235 x 208 dialog units in its font.
void page_pixels(int *cx, int *cy)
{
  UI_DIALOG_TEMPLATE t = {0, "", 235, 208, nullptr, 0};
  UiDialogUnitsToPixels(&t, cx, cy);
}

HWND g_frame, g_dlg;
void *g_lib;

LRESULT frame_proc(HWND, UINT msg, WPARAM, LPARAM)
{
  if (msg == WM_APP) PostQuitMessage(0);
  return 0;
}

struct page_host {
  IBaseFilter *filter = nullptr;
  IDownmixSettings *settings = nullptr;
  IPropertyPage *page = nullptr;
  HWND dlg = nullptr;

  // The page as a host makes it: the class the filter names, from the
  // filter's library.
  void open()
  {
    filter = test_load_filter(SALTREY_LIB, CLSID_DownmixFilter, &g_lib);
    ASSERT_NE(filter, nullptr);
    ASSERT_EQ(filter->QueryInterface(IID_IDownmixSettings, reinterpret_cast<void **>(&settings)), S_OK);
    ISpecifyPropertyPages *spp = nullptr;
    ASSERT_EQ(filter->QueryInterface(IID_ISpecifyPropertyPages, reinterpret_cast<void **>(&spp)), S_OK);
    CAUUID pages{};
    ASSERT_EQ(spp->GetPages(&pages), S_OK);
    spp->Release();
    ASSERT_EQ(pages.cElems, 1u);
    auto get = reinterpret_cast<LPFNGETCLASSOBJECT>(dlsym(g_lib, "DllGetClassObject"));
    IClassFactory *cf = nullptr;
    ASSERT_EQ(get(pages.pElems[0], IID_IClassFactory, reinterpret_cast<void **>(&cf)), S_OK);
    CoTaskMemFree(pages.pElems);
    ASSERT_EQ(cf->CreateInstance(nullptr, IID_IPropertyPage, reinterpret_cast<void **>(&page)), S_OK);
    cf->Release();
    IUnknown *objs[] = {filter};
    ASSERT_EQ(page->SetObjects(1, objs), S_OK);
    int cx = 0, cy = 0;
    page_pixels(&cx, &cy);
    RECT r{0, 0, cx, cy};
    ASSERT_EQ(page->Activate(g_frame, &r, FALSE), S_OK);
    g_dlg = dlg = static_cast<UiPropertyPage *>(page)->Window();
    ASSERT_NE(dlg, nullptr);
  }
  ~page_host()
  {
    if (page) {
      page->Deactivate();
      page->SetObjects(0, nullptr);
      page->Release();
    }
    if (settings) settings->Release();
    if (filter) filter->Release();
  }
  int get(HRESULT (IDownmixSettings::*getter)(int *)) const
  {
    int v = -1;
    (settings->*getter)(&v);
    return v;
  }
  LRESULT sel(UINT id) const { return SendDlgItemMessage(dlg, id, CB_GETCURSEL, 0, 0); }
};

void frame_open()
{
  ASSERT_EQ(UiGtkInit(nullptr, nullptr), 1);
  UiMessageBoxRecorder(1);
  g_frame = UiFrameCreate("PageHost", "Host", 360, 350, "_About", frame_proc, nullptr);
  UiWindowShow(g_frame);
}

GtkWidget *item(UINT id) { return UiGtkControlWidget(g_dlg, id); }

// Lets the frame lay out and draw, a bounded while.
void settle()
{
  for (int i = 0; i < 40; ++i) {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    g_usleep(5000);
  }
}

// The page as the display shows it, from the frame's screenshot.
struct page_shot {
  cairo_surface_t *s = nullptr;
  int ox = 0, oy = 0;
  explicit page_shot(const std::string &png)
  {
    settle();
    GtkAllocation a;
    gtk_widget_get_allocation(gtk_widget_get_parent(item(IDC_DM_METHOD)), &a);
    ox = a.x, oy = a.y;
    EXPECT_EQ(UiWindowScreenshot(g_frame, png.c_str()), 1);
    s = cairo_image_surface_create_from_png(png.c_str());
  }
  ~page_shot() { cairo_surface_destroy(s); }
  COLORREF at(int x, int y) const
  {
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) return COLORREF(-1);
    const uint8_t *p = cairo_image_surface_get_data(s) + (oy + y) * cairo_image_surface_get_stride(s) + (ox + x) * 4;
    return RGB(p[2], p[1], p[0]);
  }
};

#ifndef SALTREY_PAGE_WITHOUT_SKIN

// Runs the messages posted so far.
void pump()
{
  PostMessage(g_frame, WM_APP, 0, 0);
  MessageLoop();
}

bool shown(UINT id) { return item(id) && gtk_widget_get_visible(item(id)); }

// The user's pick in a list, as GTK reports it.
void choose(UINT id, int index)
{
  gtk_combo_box_set_active(GTK_COMBO_BOX(item(id)), index);
  pump();
}

std::string g_sock;

// Requests to the frame through the automation socket, from a thread of
// their own while this one runs the frame's messages.
void drive(const std::vector<std::string> &requests)
{
  char frame[32];
  std::snprintf(frame, sizeof frame, "%" PRIxPTR, reinterpret_cast<uintptr_t>(g_frame));
  std::thread t([&] {
    for (const std::string &r : requests) {
      int st = -1;
      size_t sp = r.find(' ');
      std::string req = r.substr(0, sp) + " " + frame + r.substr(sp);
      std::string out = tarvo_test::command_output(std::string(std::getenv("TARVO_BIN")) + "/uictl " + g_sock + " " + req, &st);
      EXPECT_EQ(st, 0) << req << ": " << out;
    }
    PostMessage(g_frame, WM_APP, 0, 0);
  });
  MessageLoop();
  t.join();
}

// A click in the middle of a control, in the frame window's coordinates.
std::string click_at(UINT id)
{
  GtkAllocation a;
  for (int i = 0; i < 10 && gtk_widget_get_allocated_width(item(id)) <= 1; ++i) settle();  // laid out once drawn
  gtk_widget_get_allocation(item(id), &a);
  EXPECT_EQ(gtk_widget_get_window(item(id)), gtk_widget_get_window(UiGtkWidget(g_frame)));
  return "mouse " + std::to_string(a.x + a.width / 2) + " " + std::to_string(a.y + a.height / 2);
}

TEST(DownmixPage, FollowsTheSettingsAndWritesEachChoiceAtOnce)
{
  TARVO_NEED_DISPLAY();
  tarvo_test::scratch_dir run;
  g_sock = run / "ui/page.sock";
  setenv("TARVO_UI_AUTOMATION", g_sock.c_str(), 1);
  frame_open();
  ASSERT_EQ(UiAutomationStart(), 1);
  uint32_t alerts = UiAlertCount();
  page_host h;
  h.open();
  if (HasFatalFailure()) return;
  EXPECT_EQ(UiAlertCount(), alerts) << "the skin library is there";
  {
    page_shot shot(run / "page.png");
    int page_cx = 0, page_cy = 0;
    page_pixels(&page_cx, &page_cy);
    EXPECT_EQ(shot.at(0, 0), RGB(200, 40, 40)) << "the top strip of the skin";
    EXPECT_EQ(shot.at(3, 0), RGB(40, 40, 200));
    EXPECT_EQ(shot.at(page_cx - 1, 200), RGB(64, 64, 64)) << "the dark right column";
  }

  // The preset: Lo/Ro with its levels; the Custom controls hidden.
  EXPECT_EQ(h.sel(IDC_DM_METHOD), 0);
  EXPECT_EQ(h.sel(IDC_DM_LORO), 2);
  EXPECT_EQ(h.sel(IDC_DM_LORO + 2), 0);
  EXPECT_TRUE(shown(IDC_DM_LORO));
  EXPECT_FALSE(shown(IDC_DM_LTRT));
  EXPECT_FALSE(shown(IDC_DM_LEFT_GAIN));

  // "-4.4" in the Lo/Ro centre list is stored at once; Apply has nothing left.
  choose(IDC_DM_LORO, 3);
  EXPECT_EQ(h.get(&IDownmixSettings::GetLoRoCenterLevel), 3);
  EXPECT_EQ(h.page->IsPageDirty(), S_FALSE);
  EXPECT_EQ(h.page->Apply(), S_OK);

  // Custom: the 24 row controls with the record's values, the levels hidden.
  choose(IDC_DM_METHOD, 2);
  EXPECT_EQ(h.get(&IDownmixSettings::GetMethod), 2);
  int custom_shown = 0;
  for (UINT id = IDC_DM_LEFT_PHASE; id < IDC_DM_LEFT_PHASE + 24; ++id) custom_shown += shown(id);
  EXPECT_EQ(custom_shown, 24);
  EXPECT_FALSE(shown(IDC_DM_LORO));
  EXPECT_FALSE(shown(IDC_DM_LEVEL_GROUP));
  EXPECT_EQ(h.sel(IDC_DM_LEFT_GAIN + 2), 16) << "left C at -3 dB";
  EXPECT_EQ(h.sel(IDC_DM_RIGHT_GAIN + 1), 1) << "right R at 0 dB";
  EXPECT_FALSE(gtk_toggle_button_get_mode(GTK_TOGGLE_BUTTON(item(IDC_DM_LEFT_PHASE)))) << "drawn as a push button";

  // "-3.0" (16) in the left L gain list stores 16, "None" 0.
  char text[UI_COMBO_TEXT_MAX];
  SendDlgItemMessage(h.dlg, IDC_DM_LEFT_GAIN, CB_GETLBTEXT, 16, reinterpret_cast<LPARAM>(text));
  EXPECT_STREQ(text, "-3.0");
  choose(IDC_DM_LEFT_GAIN, 16);
  DownmixSettings rec{};
  h.settings->GetSettings(&rec);
  EXPECT_EQ(rec.left_gain[0], 16);
  choose(IDC_DM_LEFT_GAIN, 0);
  EXPECT_EQ(h.get(&IDownmixSettings::GetLeftGainL), 0);

  // The left Lfe box: a click sets the flag, Space on it clears it again.
  EXPECT_EQ(h.get(&IDownmixSettings::GetLeftPhaseLFE), 0);
  drive({click_at(IDC_DM_LEFT_PHASE + 5)});
  EXPECT_EQ(h.get(&IDownmixSettings::GetLeftPhaseLFE), 1);
  EXPECT_EQ(IsDlgButtonChecked(h.dlg, IDC_DM_LEFT_PHASE + 5), 1);
  drive({"key space"});
  EXPECT_EQ(h.get(&IDownmixSettings::GetLeftPhaseLFE), 0);
  EXPECT_EQ(IsDlgButtonChecked(h.dlg, IDC_DM_LEFT_PHASE + 5), 0);

  // A settings load while the page is open: every control follows.
  IPersistStream *ps = nullptr;
  ASSERT_EQ(h.filter->QueryInterface(IID_IPersistStream, reinterpret_cast<void **>(&ps)), S_OK);
  IStream *s = nullptr;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &s), S_OK);
  h.settings->GetSettings(&rec);
  rec.left_gain[5] = 200;   // back right
  rec.right_phase[2] = 1;   // centre
  h.settings->SetSettings(&rec);
  ASSERT_EQ(ps->Save(s, TRUE), S_OK);
  h.settings->SetLtRtSurroundLevel(4);
  h.settings->SetMethod(1);  // not seen by the page: no notice
  s->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
  ASSERT_EQ(ps->Load(s), S_OK);
  pump();
  EXPECT_EQ(h.sel(IDC_DM_METHOD), 2);
  EXPECT_EQ(h.sel(IDC_DM_LEFT_GAIN + 4), 200) << "left Rs row";
  EXPECT_EQ(IsDlgButtonChecked(h.dlg, IDC_DM_RIGHT_PHASE + 2), 1);
  EXPECT_EQ(IsDlgButtonChecked(h.dlg, IDC_DM_LEFT_PHASE + 5), 0);

  // Lt/Rt shows its own lists.
  choose(IDC_DM_METHOD, 1);
  EXPECT_TRUE(shown(IDC_DM_LTRT + 1));
  EXPECT_FALSE(shown(IDC_DM_LORO + 1));
  EXPECT_FALSE(shown(IDC_DM_LEFT_GAIN));
  EXPECT_EQ(h.sel(IDC_DM_LTRT + 1), h.get(&IDownmixSettings::GetLtRtSurroundLevel));

  // Method None from another client leaves the list without a selection;
  // its notices (focus in, focus out) then must not write CB_ERR, which the
  // filter would clamp to Lo/Ro.
  h.settings->GetSettings(&rec);
  rec.method = 3;
  h.settings->SetSettings(&rec);
  s->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
  ASSERT_EQ(ps->Save(s, TRUE), S_OK);
  s->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
  ASSERT_EQ(ps->Load(s), S_OK);
  pump();
  EXPECT_EQ(h.sel(IDC_DM_METHOD), CB_ERR);
  SendMessage(h.dlg, WM_COMMAND, UI_MAKEWPARAM(IDC_DM_METHOD, 3), 0);
  SendMessage(h.dlg, WM_COMMAND, UI_MAKEWPARAM(IDC_DM_METHOD, CBN_KILLFOCUS), 0);
  EXPECT_EQ(h.get(&IDownmixSettings::GetMethod), 3);
  EXPECT_TRUE(shown(IDC_DM_LTRT + 1)) << "the controls stay as they were";
  s->Release();
  ps->Release();

  // Closed, the page leaves the filter's notice slots free.
  h.page->Deactivate();
  EXPECT_EQ(SkinSharedCount(), 0);
  HWND w1 = CreateMessageWindow("Static", "", nullptr, nullptr), w2 = CreateMessageWindow("Static", "", nullptr, nullptr);
  EXPECT_EQ(h.settings->SetNotifyWindow(w1, 1), S_OK);
  EXPECT_EQ(h.settings->SetNotifyWindow(w2, 1), S_OK);
  DestroyWindow(w1);
  DestroyWindow(w2);
  UiAutomationStop();
}

#else

TEST(DownmixPageWithoutSkin, WarnsAndPaintsThePlainBackground)
{
  TARVO_NEED_DISPLAY();
  frame_open();
  uint32_t alerts = UiAlertCount();
  page_host h;
  h.open();
  if (HasFatalFailure()) return;
  ASSERT_EQ(UiAlertCount(), alerts + 1);
  EXPECT_STREQ(UiAlertAt(alerts), "vellisk.dll not found.");
  UI_MSGBOX_RECORD box{};
  ASSERT_EQ(UiMessageBoxAt(UiMessageBoxCount() - 1, &box), 1);
  EXPECT_STREQ(box.caption, "Kelmar Message");
  EXPECT_EQ(box.type, MB_OK | MB_ICONWARNING);
  tarvo_test::scratch_dir run;
  page_shot shot(run / "page.png");
  int page_cx = 0, page_cy = 0;
  page_pixels(&page_cx, &page_cy);
  EXPECT_EQ(shot.at(0, 0), SKIN_BACK_GREY);
  EXPECT_EQ(shot.at(3, 0), SKIN_BACK_GREY);
  EXPECT_EQ(shot.at(page_cx - 1, 200), RGB(64, 64, 64)) << "the dark right column";
}

#endif

}  // namespace
