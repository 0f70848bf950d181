// The skinned page controls on memory bitmaps: the shared background with
// and without the skin library, the button painter, the slider's keys,
// clicks, reset, drag with Escape and its notices, and the subclassing base.
#include <gtest/gtest.h>

#include <tarvo_ui/ui_proppage_skin.h>

#include <utility>
#include <vector>

#include "gdi_test_dc.h"

namespace {

using tarvo_test::memory_dc;

COLORREF pixel(HBITMAP bmp, int x, int y)
{
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, bmp);
  COLORREF c = GetPixel(dc, x, y);
  SelectObject(dc, old);
  DeleteDC(dc);
  return c;
}

#ifdef SKIN_TEST_WITHOUT_LIBRARY

TEST(UiSkin, WithoutTheLibraryPlainGreyAndOneWarningPerPage)
{
  UiMessageBoxRecorder(1);
  uint32_t alerts = UiAlertCount();
  SkinSharedAcquire(nullptr);
  ASSERT_EQ(UiAlertCount(), alerts + 1);
  EXPECT_STREQ(UiAlertAt(alerts), "vellisk.dll not found.");
  HBITMAP bg = SkinSharedBackground()->Compose(30, 20);
  ASSERT_NE(bg, nullptr);
  for (int y : {0, 10, 19}) {
    EXPECT_EQ(pixel(bg, 0, y), SKIN_BACK_GREY);
    EXPECT_EQ(pixel(bg, 28, y), SKIN_BACK_GREY);
    EXPECT_EQ(pixel(bg, 29, y), RGB(64, 64, 64));
  }
  // Unskinned controls still work.
  SkinSlider s;
  s.Layout(100, 20);
  s.SetRange(8, 64, 8, 1);
  s.SetValue(20);
  EXPECT_EQ(s.Key(VK_RIGHT), VK_RIGHT);
  EXPECT_EQ(s.GetValue(), 21);
  SkinSharedRelease();
  EXPECT_EQ(SkinSharedBackground(), nullptr);
}

#else

TEST(UiSkin, SharedBackgroundFromTheSkinImages)
{
  UiMessageBoxRecorder(1);
  uint32_t alerts = UiAlertCount();
  SkinSharedAcquire(nullptr);
  SkinDialogBackground *first = SkinSharedBackground();
  SkinSharedAcquire(nullptr);
  EXPECT_EQ(SkinSharedBackground(), first) << "a second page shares it";
  EXPECT_EQ(SkinSharedCount(), 2);
  EXPECT_EQ(UiAlertCount(), alerts);
  HBITMAP bg = first->Compose(60, 40);
  ASSERT_NE(bg, nullptr);
  EXPECT_EQ(first->Compose(60, 40), bg);
  EXPECT_EQ(first->Compose(0, 0), bg);
  // Image 1 (7 x 5: 3 red columns, 4 blue) tiled along the top, image 2
  // (5 x 4: 2 green rows, 2 yellow) along the bottom, dark right column.
  EXPECT_EQ(pixel(bg, 0, 0), RGB(200, 40, 40));
  EXPECT_EQ(pixel(bg, 3, 4), RGB(40, 40, 200));
  EXPECT_EQ(pixel(bg, 7, 2), RGB(200, 40, 40));
  EXPECT_EQ(pixel(bg, 10, 5), SKIN_BACK_GREY);
  EXPECT_EQ(pixel(bg, 30, 20), SKIN_BACK_GREY);
  EXPECT_EQ(pixel(bg, 0, 36), RGB(40, 160, 40));
  EXPECT_EQ(pixel(bg, 6, 39), RGB(250, 220, 0));
  EXPECT_EQ(pixel(bg, 59, 0), RGB(64, 64, 64));
  EXPECT_EQ(pixel(bg, 59, 20), RGB(64, 64, 64));
  // The pattern brush paints the same pixels.
  memory_dc m(60, 40);
  RECT all{0, 0, 60, 40};
  FillRect(m.dc, &all, first->Brush());
  EXPECT_EQ(GetPixel(m.dc, 3, 4), RGB(40, 40, 200));

  // The button faces, pressed and released, over the background.
  SKIN_DRAWITEM item{ODA_DRAWENTIRE, 0, m.dc, {0, 0, 40, 20}, {0, 0}, "OK"};
  SkinSharedPainter()->Draw(&item, bg);
  EXPECT_EQ(GetPixel(m.dc, 1, 1), RGB(180, 180, 250));
  item.state = ODS_SELECTED | ODS_FOCUS;
  item.action = ODA_SELECT;
  SkinSharedPainter()->Draw(&item, bg);
  EXPECT_EQ(GetPixel(m.dc, 1, 1), RGB(90, 90, 200));
  EXPECT_NE(GetPixel(m.dc, 3, 3), RGB(90, 90, 200)) << "focus frame";

  SkinSharedRelease();
  EXPECT_EQ(SkinSharedBackground(), first) << "kept while a page is open";
  SkinSharedRelease();
  EXPECT_EQ(SkinSharedBackground(), nullptr);
  EXPECT_EQ(SkinSharedCount(), 0);
}

std::vector<std::pair<UINT, UINT>> g_notices;

LRESULT parent_proc(HWND, UINT msg, WPARAM w, LPARAM)
{
  if (msg == WM_HSCROLL) g_notices.push_back({UI_LOWORD(w), UI_HIWORD(w)});
  if (msg == WM_APP) PostQuitMessage(0);
  return 0;
}

TEST(UiSkin, SliderKeysClicksResetDragAndNotices)
{
  HWND parent = CreateMessageWindow("SkinParent", "", parent_proc, nullptr);
  HWND control = CreateMessageWindow("Static", "", [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 7; }, nullptr);
  SkinSlider s;
  ASSERT_EQ(s.Attach(control), 1);
  SkinSlider other;
  EXPECT_EQ(other.Attach(control), 0) << "the user-data slot is taken";
  EXPECT_EQ(SendMessage(control, WM_NULL, 0, 0), 7) << "unhandled messages reach the old procedure";
  s.SetParent(parent);
  s.Layout(150, 24);  // thumb 11 x 19: track from 6, length 136
  EXPECT_EQ(s.Track().left, 6);
  EXPECT_EQ(s.Length(), 136);
  s.SetRange(8, 64, 8, 1);
  s.SetValue(8);
  EXPECT_EQ(s.Position(), 0);
  EXPECT_EQ(s.Key(VK_RIGHT), VK_RIGHT);
  EXPECT_EQ(s.GetValue(), 9);
  EXPECT_EQ(s.Wheel(1), VK_UP);
  EXPECT_EQ(s.GetValue(), 10);
  EXPECT_EQ(s.Key(VK_HOME), VK_HOME);
  EXPECT_EQ(s.GetValue(), 8);
  EXPECT_EQ(s.Jump(6 + 68, 12), SKIN_SB_CLICK);
  EXPECT_EQ(s.GetValue(), 36);
  EXPECT_EQ(s.RightClickReset(), SKIN_SB_CLICK);
  EXPECT_EQ(s.GetValue(), 8);
  s.SetValue(36);
  s.DragStart();
  EXPECT_EQ(s.DragTo(6 + 100, 12), SKIN_SB_DRAG);
  EXPECT_EQ(s.DragTo(6 + 500, 12), SKIN_SB_DRAG);
  EXPECT_EQ(s.Position(), 136);
  EXPECT_EQ(s.DragCancel(), SKIN_SB_DRAG);
  EXPECT_EQ(s.Position(), 68);
  EXPECT_EQ(s.GetValue(), 36);

  // Ticks snap clicks; ticks closer than a pixel leave the click as it is.
  s.SetStyle(SKIN_SLIDER_TICKS);
  s.SetTicks(5, 0);
  s.Layout(150, 24);
  EXPECT_EQ(s.TickSpacing(), 34);
  EXPECT_EQ(s.Jump(6 + 40, 12), SKIN_SB_CLICK);
  EXPECT_EQ(s.Position(), 34);
  s.SetTicks(400, 0);
  s.Layout(150, 24);
  EXPECT_LT(s.TickSpacing(), 1);
  EXPECT_EQ(s.Jump(6 + 41, 12), SKIN_SB_CLICK);
  EXPECT_EQ(s.Position(), 41);

  PostMessage(parent, WM_APP, 0, 0);
  MessageLoop();
  std::vector<std::pair<UINT, UINT>> want = {{VK_RIGHT, 2},    {VK_UP, 4},        {VK_HOME, 0},
                                             {SKIN_SB_CLICK, 68}, {SKIN_SB_CLICK, 0}, {SKIN_SB_DRAG, 100},
                                             {SKIN_SB_DRAG, 136}, {SKIN_SB_DRAG, 68}, {SKIN_SB_CLICK, 34},
                                             {SKIN_SB_CLICK, 41}};
  EXPECT_EQ(g_notices, want);

  // Drawn over the background: the thumb image at the position.
  s.SetStyle(0);
  s.SetTicks(0, 0);
  s.Layout(150, 24);
  s.SetValue(36);
  memory_dc m(150, 24);
  s.Draw(m.dc, nullptr, POINT{0, 0}, 0);
  RECT t = s.Thumb();
  EXPECT_EQ(GetPixel(m.dc, (t.left + t.right) / 2, (t.top + t.bottom) / 2), RGB(0, 150, 0));
  EXPECT_EQ(GetPixel(m.dc, s.Track().left + 2, s.Track().top + 1), RGB(30, 30, 30));

  s.Detach();
  EXPECT_EQ(other.Attach(control), 1);
  other.Detach();
  DestroyWindow(control);
  DestroyWindow(parent);
}

#endif

}  // namespace
