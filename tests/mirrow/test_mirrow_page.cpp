// The resample filter's page in a host frame: the rate box, the warning and
// limit on Apply, the quality slider's reset, keys, the library's own
// cursors and drag with Escape,
// two pages sharing one skin background, their background; both pages by
// class id.
#include <gtest/gtest.h>

#include <mirrow/mirrow.h>
#include <saltrey/saltrey.h>
#include <tarvo_ui/ui_proppage.h>
#include <tarvo_ui/ui_proppage_skin.h>

#include <glib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../ui/gtk_xvfb.h"
#include "../../filters/mirrow/src/mirrow_page.h"

namespace {

struct settings : IResampleSettings {
  int rate, bits = 16, half = 20;
  std::vector<int> rates_set, bits_set, halves_set;
  explicit settings(int r) : rate(r) {}
  HRESULT QueryInterface(REFIID riid, void **ppv) override
  {
    if (riid == IID_IResampleSettings || riid == IID_IUnknown) {
      *ppv = static_cast<IResampleSettings *>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT GetBitsPerSample(int *b) override { return *b = bits, S_OK; }
  HRESULT SetBitsPerSample(int b) override { return bits_set.push_back(b), S_OK; }
  HRESULT GetSampleRate(int *r) override { return *r = rate, S_OK; }
  HRESULT SetSampleRate(int r) override { return rates_set.push_back(r), S_OK; }
  HRESULT GetFilterHalfLength(int *h) override { return *h = half, S_OK; }
  HRESULT SetFilterHalfLength(int h) override { return halves_set.push_back(h), S_OK; }
  HRESULT GetChannels(int *c) override { return *c = 2, S_OK; }
  HRESULT SetChannels(int) override { return S_OK; }
};

HWND g_frame;

LRESULT frame_proc(HWND, UINT msg, WPARAM, LPARAM)
{
  if (msg == WM_APP) PostQuitMessage(0);
  return 0;
}

// Runs the messages posted so far.
void pump()
{
  PostMessage(g_frame, WM_APP, 0, 0);
  MessageLoop();
}

// Lets the windows get their sizes and draw.
void settle()
{
  for (int i = 0; i < 20; ++i) {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    g_usleep(5000);
  }
}

IPropertyPage *open_page(settings *s, HWND host)
{
  HRESULT hr;
  CUnknown *unk = CreateResamplePropertyPage(nullptr, &hr);
  IPropertyPage *page = nullptr;
  unk->NonDelegatingAddRef();
  unk->NonDelegatingQueryInterface(IID_IPropertyPage, reinterpret_cast<void **>(&page));
  unk->NonDelegatingRelease();
  IUnknown *objs[] = {s};
  EXPECT_EQ(page->SetObjects(1, objs), S_OK);
  RECT r{0, 0, 183, 222};
  EXPECT_EQ(page->Activate(host, &r, FALSE), S_OK);
  return page;
}

HWND page_window(IPropertyPage *page) { return static_cast<UiPropertyPage *>(page)->Window(); }

void key(HWND control, UINT vk)
{
  UI_MSG m{control, WM_KEYDOWN, vk, 0};
  EXPECT_EQ(SendMessage(control, WM_GETDLGCODE, vk, reinterpret_cast<LPARAM>(&m)), 1);
}

TEST(MirrowPage, RateApplySliderAndSharedSkin)
{
  TARVO_NEED_DISPLAY();
  ASSERT_EQ(UiGtkInit(nullptr, nullptr), 1);
  UiMessageBoxRecorder(1);
  g_frame = UiFrameCreate("PageHost", "Host", 400, 260, "_About", frame_proc, nullptr);
  HWND frame2 = UiFrameCreate("PageHost", "Host 2", 400, 260, "_About", frame_proc, nullptr);
  uint32_t alerts = UiAlertCount();
  UiWindowShow(g_frame);
  UiWindowShow(frame2);

  settings s1(44100), s2(50000);
  IPropertyPage *p1 = open_page(&s1, g_frame);
  IPropertyPage *p2 = open_page(&s2, frame2);
  EXPECT_EQ(UiAlertCount(), alerts) << "the skin library is there";
  EXPECT_EQ(SkinSharedCount(), 2);
  HWND d1 = page_window(p1), d2 = page_window(p2);
  EXPECT_EQ(SendDlgItemMessage(d1, IDC_RATE, CB_GETCOUNT, 0, 0), 18);
  EXPECT_EQ(SendDlgItemMessage(d1, IDC_RATE, CB_GETCURSEL, 0, 0), 10);
  EXPECT_EQ(SendDlgItemMessage(d2, IDC_RATE, CB_GETCURSEL, 0, 0), CB_ERR);
  char text[64];
  SendDlgItemMessage(d2, IDC_RATE, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  EXPECT_STREQ(text, "50000");
  EXPECT_EQ(SendDlgItemMessage(d1, IDC_WIDTH, CB_GETCURSEL, 0, 0), 1) << "16bit";

  // Apply with 1000: one warning, 2000 stored, E_FAIL; the width still goes.
  SendDlgItemMessage(d1, IDC_RATE, CB_SETCURSEL, WPARAM(-1), 0);
  SendDlgItemMessage(d1, IDC_RATE, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("1000"));
  SendMessage(d1, WM_COMMAND, UI_MAKEWPARAM(IDC_RATE, CBN_KILLFOCUS), 0);
  EXPECT_EQ(p1->IsPageDirty(), S_OK);
  EXPECT_EQ(p1->Apply(), E_FAIL);
  ASSERT_EQ(UiAlertCount(), alerts + 1);
  EXPECT_STREQ(UiAlertAt(alerts), "サンプリング周波数は 2000Hz ～ 192000Hz の範囲内を指定してください。");
  UI_MSGBOX_RECORD box{};
  ASSERT_EQ(UiMessageBoxAt(UiMessageBoxCount() - 1, &box), 1);
  EXPECT_STREQ(box.caption, "Orlenta Resample");
  EXPECT_EQ(box.type, MB_OK | MB_ICONWARNING);
  EXPECT_EQ(s1.rates_set, std::vector<int>{2000});
  EXPECT_EQ(s1.bits_set, std::vector<int>{16});

  // The slider: right-click and Home reset to 8, Right from 8 gives 9, a
  // drag moves it and Escape puts it back; each change is sent at once.
  settle();
  HWND slider = GetDlgItem(d1, IDC_QUALITY);
  ASSERT_NE(slider, nullptr);
  SendMessage(slider, WM_RBUTTONDOWN, 0, UI_MAKELPARAM(20, 5));
  SendMessage(slider, WM_RBUTTONUP, 0, UI_MAKELPARAM(20, 5));
  pump();
  key(slider, VK_RIGHT);
  pump();
  key(slider, VK_HOME);
  pump();
  key(slider, VK_RIGHT);
  pump();
  EXPECT_EQ(s1.halves_set, (std::vector<int>{8, 9, 8, 9}));
  // Track from 6 to 7 before the end; 9 is at 2, the thumb's centre.
  RECT_XYWH sr{};
  ASSERT_EQ(UiControlRect(slider, &sr), 1);
  int half = (sr.cx - 14) / 2, line = sr.cy / 2;

  // The library's own cursors, all four decoded: its grip over the thumb,
  // its arrow over the track, the standard arrow elsewhere.
  for (const char *name : {"CUR_SLIDE_HD_H", "CUR_SLIDE_HD_V", "CUR_SLIDE_AR", "CUR_SLIDE_AV"})
    EXPECT_NE(LoadCursorResource(&mirrow_cursors, name), nullptr) << name;
  auto cursor_at = [&](int x, int y) {
    SendMessage(slider, WM_MOUSEMOVE, 0, UI_MAKELPARAM(x, y));
    SendMessage(slider, WM_SETCURSOR, reinterpret_cast<WPARAM>(slider), HTCLIENT | (WM_MOUSEMOVE << 16));
    return GetCursor();
  };
  EXPECT_EQ(cursor_at(8, line), LoadCursorResource(&mirrow_cursors, "CUR_SLIDE_HD_H"));
  EXPECT_EQ(cursor_at(6 + half, line), LoadCursorResource(&mirrow_cursors, "CUR_SLIDE_AR"));
  EXPECT_EQ(cursor_at(6 + half, 1), LoadCursor(nullptr, IDC_ARROW));
  s1.halves_set.clear();
  SendMessage(slider, WM_LBUTTONDOWN, 0, UI_MAKELPARAM(8, line));
  SendMessage(slider, WM_MOUSEMOVE, MK_LBUTTON, UI_MAKELPARAM(6 + half, line));
  pump();
  key(slider, VK_ESCAPE);
  SendMessage(slider, WM_LBUTTONUP, 0, UI_MAKELPARAM(6 + half, 40));
  pump();
  // The track's middle pixel: 36 half steps where the track's length is
  // even; where the font's metrics (they differ by language) make it odd,
  // the pixel lies half a pixel short of the middle.
  EXPECT_EQ(s1.halves_set, (std::vector<int>{(sr.cx - 14) % 2 ? 35 : 36, 8}));

  // The page's background: the top strip's colours, grey, the dark right
  // column at the page's edge (at least 122 x 137 dialog units; the page
  // paints all the room its window is given).
  UI_DIALOG_TEMPLATE page_size = {0, "", 122, 137, nullptr, 0};
  int pcx = 0, pcy = 0, shown_cx = 0, shown_cy = 0;
  UiDialogUnitsToPixels(&page_size, &pcx, &pcy);
  ASSERT_TRUE(UiDialogSize(d1, &shown_cx, &shown_cy));
  EXPECT_GE(shown_cx, pcx);
  pcx = std::max(pcx, shown_cx);
  pcy = std::max(pcy, shown_cy);
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bmp = CreateCompatibleBitmap(dc, pcx, pcy);
  HGDIOBJ old = SelectObject(dc, bmp);
  SendMessage(d1, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  EXPECT_EQ(GetPixel(dc, 0, 0), RGB(200, 40, 40));
  EXPECT_EQ(GetPixel(dc, 3, 0), RGB(40, 40, 200));
  EXPECT_EQ(GetPixel(dc, 100, 100), SKIN_BACK_GREY);
  EXPECT_EQ(GetPixel(dc, pcx - 1, 100), RGB(64, 64, 64));
  SelectObject(dc, old);
  DeleteObject(bmp);
  DeleteDC(dc);

  // Closing one page keeps the shared background; closing both frees it.
  SkinDialogBackground *bg = SkinSharedBackground();
  EXPECT_EQ(p1->Deactivate(), S_OK);
  EXPECT_EQ(SkinSharedBackground(), bg);
  EXPECT_EQ(p2->Deactivate(), S_OK);
  EXPECT_EQ(SkinSharedBackground(), nullptr);
  EXPECT_EQ(p1->SetObjects(0, nullptr), S_OK);
  EXPECT_EQ(p1->SetObjects(0, nullptr), E_UNEXPECTED) << "not connected";
  p1->Release();
  p2->Release();
  DestroyWindow(frame2);
  DestroyWindow(g_frame);
}

}  // namespace

namespace {

// Both filters' pages come by class id, as the filters do, from their
// libraries found through the class table.
TEST(MirrowPage, BothPagesByClassId)
{
  TARVO_NEED_DISPLAY();
  ASSERT_EQ(UiGtkInit(nullptr, nullptr), 1);
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  struct want {
    const CLSID *clsid;
    const char *title;
  };
  for (const want &w : {want{&CLSID_ResamplePropertyPage, "Orlenta Resample"}, want{&CLSID_DownmixPropertyPage, "DownMix"}}) {
    IPropertyPage *page = nullptr;
    ASSERT_EQ(CoCreateInstance(*w.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                               reinterpret_cast<void **>(&page)),
              S_OK)
        << w.title;
    PROPPAGEINFO info{};
    ASSERT_EQ(page->GetPageInfo(&info), S_OK);
    std::string title;
    for (const WCHAR *c = info.pszTitle; *c; ++c) title += char(*c);
    EXPECT_EQ(title, w.title);
    CoTaskMemFree(info.pszTitle);
    page->Release();
  }
  CoUninitialize();
}

}  // namespace
