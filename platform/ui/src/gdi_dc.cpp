// Device contexts, bitmaps, brushes and pens on cairo.
#include "gdi_internal.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cstdlib>

namespace {

enum { OBJ_BITMAP = 1, OBJ_BRUSH, OBJ_PEN };

ui_gdi_obj *new_obj(int kind)
{
  auto *o = new ui_gdi_obj();
  o->kind = kind;
  return o;
}

void set_rgb(cairo_t *cr, COLORREF c)
{
  cairo_set_source_rgb(cr, GetRValue(c) / 255.0, GetGValue(c) / 255.0, GetBValue(c) / 255.0);
}

ui_gdi_obj *stock(int which)
{
  static ui_gdi_obj objs[8];
  static const COLORREF colours[8] = {RGB(255, 255, 255), RGB(192, 192, 192), RGB(128, 128, 128), RGB(64, 64, 64),
                                      RGB(0, 0, 0),       0,                  RGB(255, 255, 255), RGB(0, 0, 0)};
  if (which < 0 || which > BLACK_PEN) return nullptr;
  ui_gdi_obj *o = &objs[which];
  if (!o->stock) {
    o->stock = 1;
    o->kind = which >= WHITE_PEN ? OBJ_PEN : OBJ_BRUSH;
    o->color = colours[which];
    o->hollow = which == NULL_BRUSH;
    o->width = 1;
  }
  return o;
}

// Makes the memory DC's context draw on its bitmap.
void bind_bitmap(ui_dc *dc)
{
  if (dc->cr) cairo_destroy(dc->cr);
  dc->cr = cairo_create(dc->bitmap->surf);
}

}  // namespace

// Brushes paint through one source: a colour or the tiled bitmap.
static int gdi_set_brush_source(cairo_t *cr, ui_gdi_obj *brush)
{
  if (!brush || brush->kind != OBJ_BRUSH || brush->hollow) return 0;
  if (brush->pattern) cairo_set_source(cr, brush->pattern);
  else set_rgb(cr, brush->color);
  return 1;
}

cairo_surface_t *gdi_dc_surface(HDC dc, double *ox, double *oy)
{
  cairo_surface_t *s = cairo_get_target(dc->cr);
  if (cairo_surface_get_type(s) != CAIRO_SURFACE_TYPE_IMAGE) return nullptr;
  double x = 0, y = 0;
  cairo_user_to_device(dc->cr, &x, &y);
  double dx = 0, dy = 0;
  cairo_surface_get_device_offset(s, &dx, &dy);
  *ox = x - dx;
  *oy = y - dy;
  return s;
}

extern "C" {

HDC UiDcFromCairo(cairo_t *cr)
{
  if (!cr) return nullptr;
  auto *dc = new ui_dc();
  dc->cr = cairo_reference(cr);
  dc->brush = stock(WHITE_BRUSH);
  dc->pen = stock(BLACK_PEN);
  return dc;
}

HDC CreateCompatibleDC(HDC)
{
  auto *dc = new ui_dc();
  dc->memory = 1;
  dc->own_bitmap = CreateCompatibleBitmap(nullptr, 1, 1);
  dc->own_bitmap->selected = 1;
  dc->bitmap = dc->own_bitmap;
  dc->brush = stock(WHITE_BRUSH);
  dc->pen = stock(BLACK_PEN);
  bind_bitmap(dc);
  return dc;
}

int DeleteDC(HDC dc)
{
  if (!dc) return 0;
  cairo_destroy(dc->cr);
  if (dc->bitmap) dc->bitmap->selected = 0;
  if (dc->brush) dc->brush->selected = std::max(0, dc->brush->selected - 1);
  if (dc->pen) dc->pen->selected = std::max(0, dc->pen->selected - 1);
  if (dc->own_bitmap) DeleteObject(dc->own_bitmap);
  delete dc;
  return 1;
}

HBITMAP CreateCompatibleBitmap(HDC, int cx, int cy)
{
  if (cx <= 0 || cy <= 0 || cx > UI_GDI_MAX_SIDE || cy > UI_GDI_MAX_SIDE) return nullptr;
  cairo_surface_t *s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, cx, cy);
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return nullptr;
  }
  ui_gdi_obj *o = new_obj(OBJ_BITMAP);
  o->surf = s;  // a new image surface is zeroed: black
  return o;
}

int GetBitmapSize(HBITMAP b, SIZE *size)
{
  if (!b || b->kind != OBJ_BITMAP || !size) return 0;
  size->cx = cairo_image_surface_get_width(b->surf);
  size->cy = cairo_image_surface_get_height(b->surf);
  return 1;
}

cairo_surface_t *UiBitmapSurface(HBITMAP b) { return b && b->kind == OBJ_BITMAP ? b->surf : nullptr; }

HBRUSH CreateSolidBrush(COLORREF color)
{
  ui_gdi_obj *o = new_obj(OBJ_BRUSH);
  o->color = color;
  return o;
}

HBRUSH CreatePatternBrush(HBITMAP b)
{
  if (!b || b->kind != OBJ_BITMAP) return nullptr;
  ui_gdi_obj *o = new_obj(OBJ_BRUSH);
  o->pattern = cairo_pattern_create_for_surface(b->surf);
  cairo_pattern_set_extend(o->pattern, CAIRO_EXTEND_REPEAT);
  cairo_pattern_set_filter(o->pattern, CAIRO_FILTER_NEAREST);
  return o;
}

HPEN CreatePen(int, int width, COLORREF color)
{
  ui_gdi_obj *o = new_obj(OBJ_PEN);
  o->color = color;
  o->width = width < 1 ? 1 : width;
  return o;
}

HGDIOBJ GetStockObject(int which) { return stock(which); }

HGDIOBJ SelectObject(HDC dc, HGDIOBJ o)
{
  if (!dc || !o) return nullptr;
  HGDIOBJ *slot = nullptr;
  if (o->kind == OBJ_BITMAP) {
    if (!dc->memory || (o->selected && o != dc->bitmap)) return nullptr;
    slot = &dc->bitmap;
  } else if (o->kind == OBJ_BRUSH) {
    slot = &dc->brush;
  } else {
    slot = &dc->pen;
  }
  HGDIOBJ old = *slot;
  if (old) old->selected = std::max(0, old->selected - 1);
  *slot = o;
  o->selected++;
  if (o->kind == OBJ_BITMAP) {
    o->selected = 1;
    bind_bitmap(dc);
  }
  return old;
}

int DeleteObject(HGDIOBJ o)
{
  if (!o) return 0;
  if (o->stock) return 1;
  if (o->selected) return 0;
  if (o->surf) cairo_surface_destroy(o->surf);
  if (o->pattern) cairo_pattern_destroy(o->pattern);
  delete o;
  return 1;
}

int FillRect(HDC dc, const RECT *r, HBRUSH brush)
{
  if (!dc || !r || !brush) return 0;
  cairo_save(dc->cr);
  int ok = gdi_set_brush_source(dc->cr, brush);
  if (ok) {
    cairo_rectangle(dc->cr, r->left, r->top, r->right - r->left, r->bottom - r->top);
    cairo_fill(dc->cr);
  }
  cairo_restore(dc->cr);
  return ok;
}

int BitBlt(HDC dst, int x, int y, int cx, int cy, HDC src, int sx, int sy, DWORD rop)
{
  if (!dst || !src || rop != SRCCOPY || cx <= 0 || cy <= 0) return 0;
  double ox = 0, oy = 0;
  cairo_surface_t *s = gdi_dc_surface(src, &ox, &oy);
  if (!s) return 0;
  cairo_surface_flush(s);
  cairo_save(dst->cr);
  cairo_set_operator(dst->cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(dst->cr, s, x - (sx + ox), y - (sy + oy));
  cairo_pattern_set_filter(cairo_get_source(dst->cr), CAIRO_FILTER_NEAREST);
  cairo_rectangle(dst->cr, x, y, cx, cy);
  cairo_fill(dst->cr);
  cairo_restore(dst->cr);
  return 1;
}

int MoveToEx(HDC dc, int x, int y, POINT *old)
{
  if (!dc) return 0;
  if (old) *old = POINT{dc->pos_x, dc->pos_y};
  dc->pos_x = x;
  dc->pos_y = y;
  return 1;
}

int LineTo(HDC dc, int x, int y)
{
  if (!dc || !dc->pen) return 0;
  cairo_t *cr = dc->cr;
  cairo_save(cr);
  set_rgb(cr, dc->pen->color);
  int w = dc->pen->width;
  int x0 = dc->pos_x, y0 = dc->pos_y;
  if (x0 == x && y0 == y) {
    // nothing: the only pixel is the end point
  } else if (x0 == x || y0 == y) {
    // Straight lines fill whole pixels; the end pixel is not drawn.
    int left = std::min(x0, x), top = std::min(y0, y);
    int cx = std::abs(x - x0), cy = std::abs(y - y0);
    if (x0 == x) left = x0, cx = w;
    if (y0 == y) top = y0, cy = w;
    if (x0 == x && y > y0) top = y0;
    if (x0 == x && y < y0) top = y + 1;
    if (y0 == y && x > x0) left = x0;
    if (y0 == y && x < x0) left = x + 1;
    cairo_rectangle(cr, left, top, cx, cy);
    cairo_fill(cr);
  } else {
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    cairo_set_line_width(cr, w);
    cairo_move_to(cr, x0 + 0.5, y0 + 0.5);
    cairo_line_to(cr, x + 0.5, y + 0.5);
    cairo_stroke(cr);
  }
  cairo_restore(cr);
  dc->pos_x = x;
  dc->pos_y = y;
  return 1;
}

int DrawFocusRect(HDC dc, const RECT *r)
{
  if (!dc || !r || r->right <= r->left || r->bottom <= r->top) return 0;
  cairo_t *cr = dc->cr;
  cairo_save(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_DIFFERENCE);
  cairo_set_source_rgb(cr, 1, 1, 1);
  auto dot = [&](int x, int y) {
    if (((x + y) & 1) == 0) cairo_rectangle(cr, x, y, 1, 1);
  };
  for (int x = r->left; x < r->right; ++x) {
    dot(x, r->top);
    if (r->bottom - 1 > r->top) dot(x, r->bottom - 1);
  }
  for (int y = r->top + 1; y < r->bottom - 1; ++y) {
    dot(r->left, y);
    if (r->right - 1 > r->left) dot(r->right - 1, y);
  }
  cairo_fill(cr);
  cairo_restore(cr);
  return 1;
}

COLORREF GetPixel(HDC dc, int x, int y)
{
  if (!dc) return CLR_INVALID;
  double ox = 0, oy = 0;
  cairo_surface_t *s = gdi_dc_surface(dc, &ox, &oy);
  if (!s) return CLR_INVALID;
  cairo_surface_flush(s);
  int px = x + int(ox), py = y + int(oy);
  if (px < 0 || py < 0 || px >= cairo_image_surface_get_width(s) || py >= cairo_image_surface_get_height(s))
    return CLR_INVALID;
  const unsigned char *row = cairo_image_surface_get_data(s) + size_t(py) * cairo_image_surface_get_stride(s);
  uint32_t v = reinterpret_cast<const uint32_t *>(row)[px];
  return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
}

COLORREF SetTextColor(HDC dc, COLORREF c)
{
  if (!dc) return CLR_INVALID;
  COLORREF old = dc->text;
  dc->text = c;
  return old;
}

COLORREF SetBkColor(HDC dc, COLORREF c)
{
  if (!dc) return CLR_INVALID;
  COLORREF old = dc->bk;
  dc->bk = c;
  return old;
}

int SetBkMode(HDC dc, int mode)
{
  if (!dc || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
  int old = dc->bk_mode;
  dc->bk_mode = mode;
  return old;
}

int UiDcSetFont(HDC dc, const char *font)
{
  if (!dc || !font) return 0;
  dc->font = font;
  return 1;
}

int DrawText(HDC dc, const char *text, int len, RECT *r, UINT format)
{
  if (!dc || !text || !r) return 0;
  PangoLayout *layout = pango_cairo_create_layout(dc->cr);
  PangoFontDescription *fd = pango_font_description_from_string(dc->font.c_str());
  pango_layout_set_font_description(layout, fd);
  pango_font_description_free(fd);
  pango_layout_set_text(layout, text, len);
  int rw = r->right - r->left, rh = r->bottom - r->top;
  if (!(format & DT_SINGLELINE) && rw > 0) pango_layout_set_width(layout, rw * PANGO_SCALE);
  int tw = 0, th = 0;
  pango_layout_get_pixel_size(layout, &tw, &th);
  if (format & DT_CALCRECT) {
    r->right = r->left + tw;
    r->bottom = r->top + th;
    g_object_unref(layout);
    return th;
  }
  int x = r->left, y = r->top;
  if (format & DT_CENTER) x = r->left + (rw - tw) / 2;
  else if (format & DT_RIGHT) x = r->right - tw;
  if ((format & DT_SINGLELINE) && (format & DT_VCENTER)) y = r->top + (rh - th) / 2;
  else if ((format & DT_SINGLELINE) && (format & DT_BOTTOM)) y = r->bottom - th;
  cairo_t *cr = dc->cr;
  cairo_save(cr);
  cairo_rectangle(cr, r->left, r->top, rw, rh);
  cairo_clip(cr);
  if (dc->bk_mode == OPAQUE) {
    set_rgb(cr, dc->bk);
    cairo_rectangle(cr, x, y, tw, th);
    cairo_fill(cr);
  }
  set_rgb(cr, dc->text);
  cairo_move_to(cr, x, y);
  pango_cairo_show_layout(cr, layout);
  cairo_restore(cr);
  g_object_unref(layout);
  return th;
}

DWORD GetSysColor(int index)
{
  struct sys_colour {
    int index;
    COLORREF colour;
  };
  static const sys_colour colours[] = {
      {COLOR_WINDOW, RGB(255, 255, 255)},     {COLOR_WINDOWTEXT, RGB(0, 0, 0)},
      {COLOR_HIGHLIGHT, RGB(0, 120, 215)},    {COLOR_HIGHLIGHTTEXT, RGB(255, 255, 255)},
      {COLOR_BTNFACE, RGB(240, 240, 240)},    {COLOR_BTNSHADOW, RGB(160, 160, 160)},
      {COLOR_GRAYTEXT, RGB(109, 109, 109)},   {COLOR_BTNTEXT, RGB(0, 0, 0)},
      {COLOR_BTNHIGHLIGHT, RGB(255, 255, 255)}, {COLOR_3DDKSHADOW, RGB(105, 105, 105)},
      {COLOR_3DLIGHT, RGB(227, 227, 227)},
  };
  for (const sys_colour &c : colours)
    if (c.index == index) return c.colour;
  return 0;
}

}  // extern "C"
