// A memory DC with a bitmap of its own, for the drawing tests.
#pragma once

#include <tarvo_ui/ui_gdi.h>

namespace tarvo_test {

struct memory_dc {
  HDC dc;
  HBITMAP bmp;
  HGDIOBJ old;
  memory_dc(int cx, int cy)
  {
    dc = CreateCompatibleDC(nullptr);
    bmp = CreateCompatibleBitmap(dc, cx, cy);
    old = SelectObject(dc, bmp);
  }
  ~memory_dc()
  {
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
  }
  memory_dc(const memory_dc &) = delete;
  memory_dc &operator=(const memory_dc &) = delete;
};

}  // namespace tarvo_test
