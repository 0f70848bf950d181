/* The drawing layer of the property pages and other skinned windows, on
 * cairo: device contexts (over a cairo context, or memory DCs holding a
 * bitmap), bitmaps (cairo image surfaces), brushes and pens, BitBlt,
 * FillRect, lines, focus frames and text (Pango); the system colours; images
 * decoded from PNG in memory; and the RT_RCDATA items of resource libraries
 * found beside the program ("vellisk" is libvellisk.so or vellisk.so). */
#ifndef TARVO_UI_GDI_H
#define TARVO_UI_GDI_H

#include <stddef.h>
#include <stdint.h>

#include <tarvo_com/com.h>
#include <tarvo_com/com_persist.h>

typedef struct _cairo cairo_t;
typedef struct _cairo_surface cairo_surface_t;

extern "C" {

typedef uint32_t COLORREF;
#define RGB(r, g, b) ((COLORREF)(((r) & 0xFFu) | (((g) & 0xFFu) << 8) | (((b) & 0xFFu) << 16)))
#define GetRValue(c) ((uint8_t)((c) & 0xFFu))
#define GetGValue(c) ((uint8_t)(((c) >> 8) & 0xFFu))
#define GetBValue(c) ((uint8_t)(((c) >> 16) & 0xFFu))
#define CLR_INVALID 0xFFFFFFFFu

struct POINT {
  LONG x, y;
};

typedef struct ui_dc *HDC;
typedef struct ui_gdi_obj *HGDIOBJ;
typedef HGDIOBJ HBITMAP;
typedef HGDIOBJ HBRUSH;
typedef HGDIOBJ HPEN;

/* A DC drawing on cr (which it references) in cr's user space. */
HDC UiDcFromCairo(cairo_t *cr);
/* A memory DC: a 1x1 black bitmap until one is selected; like is unused. */
HDC CreateCompatibleDC(HDC like);
int DeleteDC(HDC dc);

/* A cx x cy bitmap, black. */
HBITMAP CreateCompatibleBitmap(HDC like, int cx, int cy);
int GetBitmapSize(HBITMAP bitmap, SIZE *size);
/* The bitmap's surface (owned by the bitmap). */
cairo_surface_t *UiBitmapSurface(HBITMAP bitmap);

HBRUSH CreateSolidBrush(COLORREF color);
/* A brush tiling the bitmap from the DC's origin; it keeps its own
 * reference to the pixels, so the bitmap may be deleted before it. */
HBRUSH CreatePatternBrush(HBITMAP bitmap);
#define PS_SOLID 0
HPEN CreatePen(int style, int width, COLORREF color);
#define WHITE_BRUSH 0
#define LTGRAY_BRUSH 1
#define GRAY_BRUSH 2
#define DKGRAY_BRUSH 3
#define BLACK_BRUSH 4
#define NULL_BRUSH 5
#define WHITE_PEN 6
#define BLACK_PEN 7
/* Stock objects are never freed (DeleteObject ignores them). */
HGDIOBJ GetStockObject(int which);
/* Selects a bitmap (memory DCs only), brush or pen: the previous one of
 * that kind, NULL on failure. */
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
/* 0 while the object is selected into a DC. */
int DeleteObject(HGDIOBJ object);

int FillRect(HDC dc, const RECT *rect, HBRUSH brush);
#define SRCCOPY 0x00CC0020u
int BitBlt(HDC dst, int x, int y, int cx, int cy, HDC src, int sx, int sy, DWORD rop);
/* Lines in 1-pixel pixels with the selected pen, the end point excluded. */
int MoveToEx(HDC dc, int x, int y, POINT *old);
int LineTo(HDC dc, int x, int y);
/* A dotted frame inverting every other pixel: drawn twice it is gone. */
int DrawFocusRect(HDC dc, const RECT *rect);
COLORREF GetPixel(HDC dc, int x, int y);

#define TRANSPARENT 1
#define OPAQUE 2
COLORREF SetTextColor(HDC dc, COLORREF color);
COLORREF SetBkColor(HDC dc, COLORREF color);
int SetBkMode(HDC dc, int mode);
/* A Pango font description ("Sans 9" by default). */
int UiDcSetFont(HDC dc, const char *font);
#define DT_LEFT 0x0u
#define DT_CENTER 0x1u
#define DT_RIGHT 0x2u
#define DT_VCENTER 0x4u
#define DT_BOTTOM 0x8u
#define DT_SINGLELINE 0x20u
#define DT_CALCRECT 0x400u
/* UTF-8 text (len -1: up to the NUL) in rect; DT_CALCRECT only measures,
 * setting rect's right and bottom.  The text's height in pixels. */
int DrawText(HDC dc, const char *text, int len, RECT *rect, UINT format);

#define COLOR_WINDOW 5
#define COLOR_WINDOWTEXT 8
#define COLOR_HIGHLIGHT 13
#define COLOR_HIGHLIGHTTEXT 14
#define COLOR_BTNFACE 15
#define COLOR_BTNSHADOW 16
#define COLOR_GRAYTEXT 17
#define COLOR_BTNTEXT 18
#define COLOR_BTNHIGHLIGHT 20
#define COLOR_3DDKSHADOW 21
#define COLOR_3DLIGHT 22
#define COLOR_3DFACE COLOR_BTNFACE
#define COLOR_3DSHADOW COLOR_BTNSHADOW
#define COLOR_3DHIGHLIGHT COLOR_BTNHIGHLIGHT
/* The classic colours (0 for an unknown index). */
DWORD GetSysColor(int index);

/* Decoded images. */
typedef struct ui_image UI_IMAGE;
/* A PNG file in memory: NULL when it does not decode. */
UI_IMAGE *UiImageFromMemory(const void *data, size_t size);
/* The same, read from the stream's current position to its end. */
UI_IMAGE *UiImageFromStream(IStream *stream);
void UiImageDelete(UI_IMAGE *image);
int UiImageWidth(const UI_IMAGE *image);
int UiImageHeight(const UI_IMAGE *image);
/* Stretched into the rectangle. */
int UiImageDraw(HDC dc, const UI_IMAGE *image, int x, int y, int cx, int cy);
/* Repeated at its own size from rect's top-left corner, clipped to rect. */
int UiImageTile(HDC dc, const UI_IMAGE *image, const RECT *rect);

/* Resource libraries: one exported table of items. */
#define RT_RCDATA 10u
typedef struct {
  UINT type;
  UINT id;
  const void *data;
  uint32_t size;
} UI_RCDATA_ROW;
typedef struct {
  const UI_RCDATA_ROW *rows;
  uint32_t count;
} UI_RCDATA_TABLE;
#define UI_RCDATA_SYMBOL "tarvo_ui_rcdata_table"
typedef const UI_RCDATA_TABLE *(*UI_RCDATA_FN)(void);
typedef const UI_RCDATA_ROW *HRSRC;

/* A bare name ("vellisk") is lib<name>.so, then <name>.so, in the
 * program's folder, then the same through the loader's search; a name with
 * '/' is loaded as it is.  NULL when it does not load.  FreeLibrary
 * (com.h) unloads it. */
HMODULE LoadLibrary(const char *name);
/* The item (type, id) of the module's table, NULL when absent. */
HRSRC FindResource(HMODULE module, UINT id, UINT type);
DWORD SizeofResource(HMODULE module, HRSRC res);
/* The item's bytes, valid while the module is loaded. */
const void *LoadResource(HMODULE module, HRSRC res);

}  // extern "C"

#endif
