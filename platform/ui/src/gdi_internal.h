// The drawing layer's records, shared by its files.
#pragma once

#include <tarvo_ui/ui_gdi.h>

#include <cairo.h>

#include <string>

// Bitmaps larger than this on a side are refused.
constexpr int UI_GDI_MAX_SIDE = 16384;
// Encoded images larger than this are refused.
constexpr size_t UI_IMAGE_MAX_BYTES = 16u << 20;

struct ui_gdi_obj {
  int kind = 0;
  int stock = 0;
  int selected = 0;  // DCs it is selected into
  COLORREF color = 0;
  int hollow = 0;
  int width = 1;
  cairo_surface_t *surf = nullptr;     // bitmaps
  cairo_pattern_t *pattern = nullptr;  // pattern brushes
};

struct ui_dc {
  cairo_t *cr = nullptr;
  int memory = 0;
  HBITMAP bitmap = nullptr;
  HBITMAP own_bitmap = nullptr;  // a memory DC's first bitmap
  HBRUSH brush = nullptr;
  HPEN pen = nullptr;
  LONG pos_x = 0, pos_y = 0;
  COLORREF text = 0, bk = RGB(255, 255, 255);
  int bk_mode = OPAQUE;
  std::string font = "Sans 9";
};

struct ui_image {
  cairo_surface_t *surf = nullptr;
};

// The image surface a DC draws on and the device offset of its origin.
cairo_surface_t *gdi_dc_surface(HDC dc, double *ox, double *oy);
