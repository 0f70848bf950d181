// The drawing layer on memory bitmaps, and skin images from the test
// resource library.
#include <gtest/gtest.h>

#include <tarvo_ui/ui_gdi.h>

#include <vector>

#include "gdi_test_dc.h"

namespace {

using tarvo_test::memory_dc;

std::vector<unsigned char> resource_bytes(HMODULE lib, UINT id)
{
  HRSRC r = FindResource(lib, id, RT_RCDATA);
  if (!r) return {};
  auto *p = static_cast<const unsigned char *>(LoadResource(lib, r));
  return std::vector<unsigned char>(p, p + SizeofResource(lib, r));
}

TEST(UiGdi, FillsBlitsLinesFocusAndText)
{
  memory_dc m(40, 30);
  EXPECT_EQ(GetPixel(m.dc, 5, 5), RGB(0, 0, 0));
  EXPECT_EQ(DeleteObject(m.bmp), 0) << "a selected bitmap stays";
  HBRUSH grey = CreateSolidBrush(RGB(226, 226, 226));
  RECT all{0, 0, 40, 30};
  FillRect(m.dc, &all, grey);
  EXPECT_EQ(GetPixel(m.dc, 39, 29), RGB(226, 226, 226));
  EXPECT_EQ(GetPixel(m.dc, 40, 0), CLR_INVALID);

  // A pattern brush tiles its bitmap from the origin and outlives it.
  memory_dc tile(2, 1);
  RECT a{0, 0, 1, 1}, b{1, 0, 2, 1};
  HBRUSH red = CreateSolidBrush(RGB(255, 0, 0)), blue = CreateSolidBrush(RGB(0, 0, 255));
  FillRect(tile.dc, &a, red);
  FillRect(tile.dc, &b, blue);
  HBRUSH pattern = CreatePatternBrush(tile.bmp);
  RECT strip{3, 2, 9, 4};
  FillRect(m.dc, &strip, pattern);
  EXPECT_EQ(GetPixel(m.dc, 4, 2), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(m.dc, 5, 3), RGB(0, 0, 255));
  EXPECT_EQ(GetPixel(m.dc, 9, 2), RGB(226, 226, 226));

  // BitBlt copies from the source position.
  memory_dc dst(10, 10);
  EXPECT_TRUE(BitBlt(dst.dc, 1, 1, 3, 1, m.dc, 4, 2, SRCCOPY));
  EXPECT_EQ(GetPixel(dst.dc, 1, 1), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(dst.dc, 2, 1), RGB(0, 0, 255));
  EXPECT_EQ(GetPixel(dst.dc, 4, 1), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(dst.dc, 1, 0), RGB(0, 0, 0));

  // Lines leave out their end point; a dark stock brush paints its grey.
  HPEN pen = CreatePen(PS_SOLID, 1, RGB(0, 255, 0));
  HGDIOBJ old_pen = SelectObject(m.dc, pen);
  MoveToEx(m.dc, 20, 10, nullptr);
  LineTo(m.dc, 20, 14);
  LineTo(m.dc, 16, 14);
  EXPECT_EQ(GetPixel(m.dc, 20, 10), RGB(0, 255, 0));
  EXPECT_EQ(GetPixel(m.dc, 20, 13), RGB(0, 255, 0));
  EXPECT_EQ(GetPixel(m.dc, 20, 14), RGB(0, 255, 0)) << "the second line starts there";
  EXPECT_EQ(GetPixel(m.dc, 17, 14), RGB(0, 255, 0));
  EXPECT_EQ(GetPixel(m.dc, 16, 14), RGB(226, 226, 226));
  EXPECT_EQ(GetPixel(m.dc, 20, 15), RGB(226, 226, 226));
  SelectObject(m.dc, old_pen);
  EXPECT_TRUE(DeleteObject(pen));
  RECT column{39, 0, 40, 30};
  FillRect(m.dc, &column, GetStockObject(DKGRAY_BRUSH));
  EXPECT_EQ(GetPixel(m.dc, 39, 7), RGB(64, 64, 64));

  // A focus frame drawn twice is gone again.
  RECT focus{10, 16, 30, 28};
  DrawFocusRect(m.dc, &focus);
  EXPECT_EQ(GetPixel(m.dc, 10, 16), RGB(29, 29, 29));
  EXPECT_EQ(GetPixel(m.dc, 11, 16), RGB(226, 226, 226));
  EXPECT_EQ(GetPixel(m.dc, 15, 20), RGB(226, 226, 226)) << "inside untouched";
  DrawFocusRect(m.dc, &focus);
  EXPECT_EQ(GetPixel(m.dc, 10, 16), RGB(226, 226, 226));

  // Text draws only inside its rectangle, in the text colour.
  memory_dc t(60, 20);
  HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
  RECT tr{0, 0, 60, 20};
  FillRect(t.dc, &tr, white);
  SetBkMode(t.dc, TRANSPARENT);
  SetTextColor(t.dc, RGB(0, 0, 0));
  RECT box{10, 0, 50, 20};
  RECT measure = box;
  EXPECT_GT(DrawText(t.dc, "WWW", -1, &measure, DT_CALCRECT | DT_SINGLELINE), 0);
  EXPECT_GT(measure.right, measure.left);
  DrawText(t.dc, "WWWWWWWWWWWW", -1, &box, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  int inked = 0, outside = 0;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 60; ++x) {
      bool ink = GetPixel(t.dc, x, y) != RGB(255, 255, 255);
      if (ink && (x < 10 || x >= 50)) ++outside;
      inked += ink;
    }
  EXPECT_GT(inked, 20);
  EXPECT_EQ(outside, 0);

  EXPECT_EQ(GetSysColor(COLOR_3DDKSHADOW), RGB(105, 105, 105));
  for (HBRUSH br : {grey, red, blue, pattern, white}) EXPECT_TRUE(DeleteObject(br));
}

TEST(UiGdi, SkinImagesFromTheResourceLibrary)
{
  EXPECT_EQ(LoadLibrary("vellisk_missing"), nullptr);
  HMODULE lib = LoadLibrary("vellisk");
  ASSERT_NE(lib, nullptr) << "libvellisk.so beside the test";
  for (UINT id = 1; id <= 10; ++id) {
    std::vector<unsigned char> png = resource_bytes(lib, id);
    UI_IMAGE *img = UiImageFromMemory(png.data(), png.size());
    EXPECT_NE(img, nullptr) << id;
    UiImageDelete(img);
  }
  EXPECT_EQ(FindResource(lib, 11, RT_RCDATA), nullptr);
  EXPECT_EQ(FindResource(lib, 1, RT_RCDATA + 1), nullptr);
  std::vector<unsigned char> top = resource_bytes(lib, 1);
  FreeLibrary(lib);

  // Through a stream, as the pages read them.
  IStream *stream = nullptr;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
  ULONG wrote = 0;
  stream->Write(top.data(), ULONG(top.size()), &wrote);
  LARGE_INTEGER zero{};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  UI_IMAGE *img = UiImageFromStream(stream);
  stream->Release();
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(UiImageWidth(img), 7);
  EXPECT_EQ(UiImageHeight(img), 5);

  // Tiled at its own size from the corner, clipped; stretched when drawn.
  memory_dc m(30, 20);
  RECT strip{2, 1, 18, 8};
  UiImageTile(m.dc, img, &strip);
  EXPECT_EQ(GetPixel(m.dc, 2, 1), RGB(200, 40, 40));
  EXPECT_EQ(GetPixel(m.dc, 5, 1), RGB(40, 40, 200));
  EXPECT_EQ(GetPixel(m.dc, 9, 1), RGB(200, 40, 40)) << "second copy";
  EXPECT_EQ(GetPixel(m.dc, 9, 6), RGB(200, 40, 40)) << "second row";
  EXPECT_EQ(GetPixel(m.dc, 18, 1), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(m.dc, 2, 8), RGB(0, 0, 0));
  UiImageDraw(m.dc, img, 0, 10, 28, 10);
  EXPECT_EQ(GetPixel(m.dc, 1, 15), RGB(200, 40, 40));
  EXPECT_EQ(GetPixel(m.dc, 26, 15), RGB(40, 40, 200));
  EXPECT_EQ(GetPixel(m.dc, 29, 15), RGB(0, 0, 0));
  UiImageDelete(img);

  // Damaged files give no image.
  EXPECT_EQ(UiImageFromMemory(top.data(), top.size() - 12), nullptr);
  std::vector<unsigned char> bad = top;
  bad[20] ^= 0xFF;
  EXPECT_EQ(UiImageFromMemory(bad.data(), bad.size()), nullptr);
}

}  // namespace
