// The skinned page controls.
#include <tarvo_ui/ui_proppage_skin.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

int g_skin_windows = 0;  // image decoding lives while any skinned object does

struct shared_skin {
  int count = 0;
  SkinDialogBackground *background = nullptr;
  SkinButtonPainter *painter = nullptr;
} g_shared;

double clamp(double v, double lo, double hi) { return v < lo ? lo : v > hi ? hi : v; }

// Without the skin's images the slider is drawn plain, at the sizes of the
// system's own trackbar: a thumb 11 pixels along and 21 across, a groove 4
// pixels across.
constexpr int kPlainThumbAlong = 11, kPlainThumbAcross = 21, kPlainTrackAcross = 4;

// A 3D edge: light at top and left, dark at bottom and right (raised), or
// the other way round (sunken).
void edge(HDC dc, const RECT &r, int sunken)
{
  HPEN light = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNHIGHLIGHT));
  HPEN dark = CreatePen(PS_SOLID, 1, GetSysColor(sunken ? COLOR_BTNSHADOW : COLOR_3DDKSHADOW));
  HGDIOBJ old = SelectObject(dc, sunken ? dark : light);
  MoveToEx(dc, r.left, r.bottom - 1, nullptr);
  LineTo(dc, r.left, r.top);
  LineTo(dc, r.right - 1, r.top);
  SelectObject(dc, sunken ? light : dark);
  LineTo(dc, r.right - 1, r.bottom - 1);
  LineTo(dc, r.left, r.bottom - 1);
  SelectObject(dc, old);
  DeleteObject(light);
  DeleteObject(dark);
}

void plain_part(HDC dc, const RECT &r, int color, int sunken)
{
  HBRUSH face = CreateSolidBrush(GetSysColor(color));
  FillRect(dc, &r, face);
  DeleteObject(face);
  edge(dc, r, sunken);
}

}  // namespace

UI_IMAGE *SkinImageLoad(UINT id, int *missing)
{
  HMODULE lib = LoadLibrary(SKIN_LIBRARY);
  if (!lib) {
    if (missing) *missing = 1;
    return nullptr;
  }
  UI_IMAGE *img = nullptr;
  HRSRC res = FindResource(lib, id, RT_RCDATA);
  const void *bytes = LoadResource(lib, res);
  IStream *stream = nullptr;
  if (bytes && SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, &stream))) {
    ULONG wrote = 0;
    LARGE_INTEGER zero{};
    if (SUCCEEDED(stream->Write(bytes, SizeofResource(lib, res), &wrote)) &&
        SUCCEEDED(stream->Seek(zero, STREAM_SEEK_SET, nullptr)))
      img = UiImageFromStream(stream);
    stream->Release();
  }
  FreeLibrary(lib);
  return img;
}

SkinWindow::SkinWindow() { ++g_skin_windows; }

SkinWindow::~SkinWindow()
{
  Detach();
  --g_skin_windows;
}

int SkinWindow::Count() { return g_skin_windows; }

int SkinWindow::Attach(HWND window)
{
  if (!IsWindow(window) || GetWindowUserData(window)) return 0;
  m_window = window;
  SetWindowUserData(window, this);
  m_old = SetWindowProc(window, SharedProc);
  return 1;
}

void SkinWindow::Detach()
{
  if (!m_window) return;
  if (IsWindow(m_window)) {
    SetWindowUserData(m_window, nullptr);
    SetWindowProc(m_window, m_old);
  }
  m_window = nullptr;
  m_old = nullptr;
}

LRESULT SkinWindow::WindowProcedure(UINT, WPARAM, LPARAM, int *consumed)
{
  *consumed = 0;
  return 0;
}

LRESULT SkinWindow::CallOld(UINT msg, WPARAM wparam, LPARAM lparam)
{
  return m_old ? CallWindowProc(m_old, m_window, msg, wparam, lparam) : 0;
}

LRESULT SkinWindow::SharedProc(HWND window, UINT msg, WPARAM wparam, LPARAM lparam)
{
  auto *self = static_cast<SkinWindow *>(GetWindowUserData(window));
  if (!self) return 0;
  int consumed = 1;
  LRESULT r = self->WindowProcedure(msg, wparam, lparam, &consumed);
  if (consumed) return r;
  WNDPROC old = self->m_old;
  if (msg == WM_NCDESTROY) self->Detach();
  return old ? CallWindowProc(old, window, msg, wparam, lparam) : 0;
}

SkinDialogBackground::SkinDialogBackground()
{
  m_top = SkinImageLoad(SKIN_BACK_TOP, &m_missing);
  m_bottom = SkinImageLoad(SKIN_BACK_BOTTOM, &m_missing);
}

SkinDialogBackground::~SkinDialogBackground()
{
  if (m_brush) DeleteObject(m_brush);
  if (m_bitmap) DeleteObject(m_bitmap);
  UiImageDelete(m_top);
  UiImageDelete(m_bottom);
}

HBITMAP SkinDialogBackground::Compose(int cx, int cy)
{
  if (m_bitmap && cx == m_cx && cy == m_cy) return m_bitmap;
  if (cx <= 0 || cy <= 0) return m_bitmap;
  HBITMAP bmp = CreateCompatibleBitmap(nullptr, cx, cy);
  if (!bmp) return m_bitmap;
  if (m_brush) DeleteObject(m_brush);
  if (m_bitmap) DeleteObject(m_bitmap);
  m_bitmap = bmp;
  m_cx = cx;
  m_cy = cy;
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, bmp);
  HBRUSH grey = CreateSolidBrush(SKIN_BACK_GREY);
  RECT all{0, 0, cx, cy};
  FillRect(dc, &all, grey);
  DeleteObject(grey);
  if (m_top) {
    RECT top{0, 0, cx, std::min(cy, UiImageHeight(m_top))};
    UiImageTile(dc, m_top, &top);
  }
  if (m_bottom) {
    RECT bottom{0, std::max(0, cy - UiImageHeight(m_bottom)), cx, cy};
    UiImageTile(dc, m_bottom, &bottom);
  }
  RECT right{cx - 1, 0, cx, cy};
  FillRect(dc, &right, GetStockObject(DKGRAY_BRUSH));
  SelectObject(dc, old);
  DeleteDC(dc);
  m_brush = CreatePatternBrush(bmp);
  return m_bitmap;
}

SkinButtonPainter::SkinButtonPainter()
{
  m_up = SkinImageLoad(SKIN_BUTTON_UP, nullptr);
  m_down = SkinImageLoad(SKIN_BUTTON_DOWN, nullptr);
}

SkinButtonPainter::~SkinButtonPainter()
{
  UiImageDelete(m_up);
  UiImageDelete(m_down);
}

void SkinButtonPainter::Draw(const SKIN_DRAWITEM *it, HBITMAP background)
{
  if (!it || !it->dc) return;
  HDC dc = it->dc;
  COLORREF old = SetTextColor(dc, (it->state & ODS_DISABLED) ? RGB(192, 192, 192) : RGB(0, 0, 0));
  RECT r = it->item;
  if (it->action & (ODA_DRAWENTIRE | ODA_SELECT)) {
    if ((it->action & ODA_SELECT) && background) {
      HDC mem = CreateCompatibleDC(dc);
      HGDIOBJ prev = SelectObject(mem, background);
      BitBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, mem, it->at.x, it->at.y, SRCCOPY);
      SelectObject(mem, prev);
      DeleteDC(mem);
    }
    const UI_IMAGE *face = (it->state & ODS_SELECTED) ? m_down : m_up;
    if (face) UiImageDraw(dc, face, r.left, r.top, r.right - r.left, r.bottom - r.top);
    int mode = SetBkMode(dc, TRANSPARENT);
    RECT tr = r;
    DrawText(dc, it->text ? it->text : "", -1, &tr, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SetBkMode(dc, mode);
  }
  if ((it->action & ODA_FOCUS) || (it->state & ODS_FOCUS)) {
    RECT f{r.left + 3, r.top + 3, r.right - 2 - 3, r.bottom - 2 - 3};
    DrawFocusRect(dc, &f);
  }
  SetTextColor(dc, old);
}

SkinSlider::SkinSlider()
{
  for (int i = 0; i < 6; ++i) m_img[i] = SkinImageLoad(UINT(SKIN_TRACK_H + i), nullptr);
  SetOrientation(0);
}

SkinSlider::~SkinSlider()
{
  for (UI_IMAGE *img : m_img) UiImageDelete(img);
}

void SkinSlider::SetOrientation(int vertical)
{
  m_vertical = vertical ? 1 : 0;
  const UI_IMAGE *thumb = m_img[SKIN_THUMB_H - SKIN_TRACK_H + m_vertical];
  m_thumb_cx = thumb ? UiImageWidth(thumb) : m_vertical ? kPlainThumbAcross : kPlainThumbAlong;
  m_thumb_cy = thumb ? UiImageHeight(thumb) : m_vertical ? kPlainThumbAlong : kPlainThumbAcross;
}

void SkinSlider::SetRange(double minimum, double maximum, double def, double step)
{
  m_min = minimum;
  m_max = maximum;
  m_def = def;
  m_step = step;
}

void SkinSlider::Layout(int cx, int cy)
{
  m_cx = cx;
  m_cy = cy;
  // Computed along the slider's own axis: across is the other one.
  int along = m_vertical ? cy : cx, across = m_vertical ? cx : cy;
  int thumb_along = m_vertical ? m_thumb_cy : m_thumb_cx, thumb_across = m_vertical ? m_thumb_cx : m_thumb_cy;
  const UI_IMAGE *track = m_img[m_vertical];
  int track_across = !track ? kPlainTrackAcross : m_vertical ? UiImageWidth(track) : UiImageHeight(track);
  m_line = (!m_vertical && (m_style & SKIN_SLIDER_BOTTOM)) ? across - (thumb_across / 2 + 2) : across / 2;
  int start = thumb_along / 2 + 1;
  int end = along - (thumb_along / 2 + 2);
  if (end < start) end = start;
  if (m_ticks < 2) {
    m_length = std::max(0, end - start - 1);
    m_spacing = m_length;
  } else {
    m_spacing = double(end - start - 1) / (m_ticks - 1);
    m_length = int((m_ticks - 1) * m_spacing);
    end = start + m_length + 1;
  }
  int a0 = m_line - track_across / 2, a1 = a0 + track_across;
  m_track = m_vertical ? RECT{a0, start, a1, end} : RECT{start, a0, end, a1};
  m_pos = std::min(m_pos, m_length);
}

RECT SkinSlider::Thumb() const
{
  if (m_vertical) {
    int y = m_track.top + m_pos - m_thumb_cy / 2, x = m_line - m_thumb_cx / 2;
    return RECT{x, y, x + m_thumb_cx, y + m_thumb_cy};
  }
  int x = m_track.left + m_pos - m_thumb_cx / 2, y = m_line - m_thumb_cy / 2;
  return RECT{x, y, x + m_thumb_cx, y + m_thumb_cy};
}

void SkinSlider::SetValue(double v)
{
  if (m_length == 0 || m_min == m_max) return;
  m_value = clamp(v, m_min, m_max);
  double p = (m_value - m_min) / (m_max - m_min) * m_length;
  if (m_vertical) p = m_length - p;
  m_pos = int(clamp(p, 0, m_length));
  m_value_pos = m_pos;
}

double SkinSlider::GetValue()
{
  if (m_exact) return m_value;
  if (m_length == 0 || m_min == m_max) return 0;
  double f = double(m_vertical ? m_length - m_pos : m_pos) / m_length;
  m_value = clamp(m_min + f * (m_max - m_min), m_min, m_max);
  m_value_pos = m_pos;
  return m_value;
}

UINT SkinSlider::Notify(UINT code)
{
  if (m_parent)
    PostMessage(m_parent, WM_HSCROLL, UI_MAKEWPARAM(code, m_pos), reinterpret_cast<LPARAM>(m_window));
  return code;
}

UINT SkinSlider::Key(UINT vk)
{
  if (vk == VK_HOME) {
    SetValue(m_def);
    m_value = clamp(m_def, m_min, m_max);
    m_exact = 1;
    return Notify(vk);
  }
  if (vk != VK_LEFT && vk != VK_RIGHT && vk != VK_UP && vk != VK_DOWN) return 0;
  if (m_step != 0) {
    // The stored value while the thumb has not moved since it was set.
    double v = (m_exact || m_pos == m_value_pos) ? m_value : GetValue();
    double next = (vk == VK_LEFT || vk == VK_DOWN) ? std::max(m_min, v - m_step) : std::min(m_max, v + m_step);
    SetValue(next);
    m_value = next;
    m_exact = 1;
  } else if (vk == VK_RIGHT || vk == VK_DOWN) {
    m_pos = std::min(m_length, m_pos + 1);
  } else {
    m_pos = std::max(0, m_pos - 1);
  }
  return Notify(vk);
}

UINT SkinSlider::Jump(int x, int y)
{
  int offset = m_vertical ? y - m_track.top : x - m_track.left;
  if (!m_vertical && (m_style & SKIN_SLIDER_TICKS) && !(m_style & SKIN_SLIDER_NOSNAP) && m_ticks >= 2) {
    // Ticks closer than a pixel give nothing to snap to.
    double s = std::floor(m_spacing);
    if (s >= 1) offset = int(std::lround(offset / s) * s);
  }
  offset = std::max(0, std::min(m_length, offset));
  if (offset == m_pos) return 0;
  m_pos = offset;
  m_exact = 0;
  return Notify(SKIN_SB_CLICK);
}

UINT SkinSlider::RightClickReset()
{
  m_value = clamp(m_def, m_min, m_max);
  double keep = m_value;
  SetValue(keep);
  m_exact = 1;
  return Notify(SKIN_SB_CLICK);
}

void SkinSlider::DragStart() { m_drag_from = m_pos; }

UINT SkinSlider::DragTo(int x, int y)
{
  int p = std::max(0, std::min(m_length, m_vertical ? y - m_track.top : x - m_track.left));
  if (p == m_pos) return 0;
  m_pos = p;
  m_exact = 0;
  return Notify(SKIN_SB_DRAG);
}

UINT SkinSlider::DragCancel()
{
  m_pos = m_drag_from;
  m_exact = 0;
  return Notify(SKIN_SB_DRAG);
}

void SkinSlider::Draw(HDC dc, HBITMAP background, POINT at, int focused)
{
  if (background) {
    HDC mem = CreateCompatibleDC(dc);
    HGDIOBJ prev = SelectObject(mem, background);
    SIZE bs;
    GetBitmapSize(background, &bs);
    BitBlt(dc, 0, 0, bs.cx, bs.cy, mem, at.x, at.y, SRCCOPY);
    SelectObject(mem, prev);
    DeleteDC(mem);
  }
  if (const UI_IMAGE *track = m_img[m_vertical]) UiImageTile(dc, track, &m_track);
  else plain_part(dc, m_track, COLOR_WINDOW, 1);
  HPEN dark = CreatePen(PS_SOLID, 1, GetSysColor(m_enabled ? COLOR_3DDKSHADOW : COLOR_3DSHADOW));
  HPEN light = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_3DHIGHLIGHT));
  HGDIOBJ old_pen = SelectObject(dc, dark);
  auto vline = [&](HPEN pen, int x) {
    // From the track top to below its bottom, open around the centre line.
    SelectObject(dc, pen);
    MoveToEx(dc, x, m_track.top, nullptr);
    LineTo(dc, x, m_line - 2);
    MoveToEx(dc, x, m_line + 3, nullptr);
    LineTo(dc, x, m_track.bottom + 2);
  };
  if (!m_vertical) {
    if (m_style & SKIN_SLIDER_FRAME) {
      vline(dark, m_track.left - 1);
      vline(light, m_track.left);
      vline(dark, m_track.right - 2);
      vline(light, m_track.right - 1);
    }
    if ((m_style & SKIN_SLIDER_TICKS) && m_ticks >= 2) {
      int s = int(m_spacing);
      for (int i = 0; i < m_ticks; ++i) {
        int x = m_track.left + i * s;
        if (m_tick_style == 0) {
          SelectObject(dc, dark);
          MoveToEx(dc, x - 1, m_track.top - 1, nullptr);
          LineTo(dc, x - 1, m_track.top - 4);
          SelectObject(dc, light);
          MoveToEx(dc, x, m_track.top - 1, nullptr);
          LineTo(dc, x, m_track.top - 4);
        } else {
          vline(dark, x - 1);
          vline(light, x);
        }
      }
    }
  }
  SelectObject(dc, old_pen);
  DeleteObject(dark);
  DeleteObject(light);
  RECT t = Thumb();
  const UI_IMAGE *thumb = m_img[(m_enabled ? SKIN_THUMB_H : SKIN_THUMB_H_OFF) - SKIN_TRACK_H + m_vertical];
  if (thumb) UiImageDraw(dc, thumb, t.left, t.top, t.right - t.left, t.bottom - t.top);
  else if (!m_img[SKIN_THUMB_H - SKIN_TRACK_H + m_vertical]) plain_part(dc, t, m_enabled ? COLOR_BTNFACE : COLOR_BTNSHADOW, 0);
  if (focused) {
    RECT f = m_vertical ? RECT{0, 0, m_line * 2, m_track.bottom + m_thumb_cy / 2}
                        : RECT{0, 0, m_track.right + m_thumb_cx / 2 + 2, m_line * 2};
    DrawFocusRect(dc, &f);
  }
}

void SkinSlider::Changed(UINT code)
{
  if (code && m_window) InvalidateControl(m_window);
}

LRESULT SkinSlider::WindowProcedure(UINT msg, WPARAM wparam, LPARAM lparam, int *consumed)
{
  int x = int(int16_t(UI_LOWORD(lparam))), y = int(int16_t(UI_HIWORD(lparam)));
  switch (msg) {
    case WM_SIZE:
      CallOld(msg, wparam, lparam);
      m_cx = x;
      m_cy = y;
      Layout(m_cx, m_cy);
      return 0;
    case WM_PAINT: {
      CallOld(msg, wparam, lparam);
      HDC dc = reinterpret_cast<HDC>(wparam);
      if (!dc || m_cx <= 0 || m_cy <= 0) return 0;
      RECT_XYWH at{0, 0, 0, 0};
      UiControlRect(m_window, &at);
      // Double-buffered: composed in memory, then copied.
      HDC mem = CreateCompatibleDC(dc);
      HBITMAP bmp = CreateCompatibleBitmap(dc, m_cx, m_cy);
      HGDIOBJ old = SelectObject(mem, bmp);
      SkinDialogBackground *bg = SkinSharedBackground();
      Draw(mem, bg ? bg->Bitmap() : nullptr, POINT{at.x, at.y}, m_focused);
      BitBlt(dc, 0, 0, m_cx, m_cy, mem, 0, 0, SRCCOPY);
      SelectObject(mem, old);
      DeleteObject(bmp);
      DeleteDC(mem);
      return 0;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      m_focused = msg == WM_SETFOCUS;
      InvalidateControl(m_window);
      return 0;
    case WM_GETDLGCODE:
      if (lparam && reinterpret_cast<const UI_MSG *>(lparam)->message == WM_KEYDOWN) {
        UINT vk = UINT(reinterpret_cast<const UI_MSG *>(lparam)->wParam);
        if (vk == VK_ESCAPE && m_dragging) {
          m_dragging = 0;
          Changed(DragCancel());
          ReleaseCapture();
        } else {
          Changed(Key(vk));
        }
        return 1;
      }
      *consumed = 0;
      return 0;
    case WM_SETCURSOR: {
      const char *name = m_part == 1   ? (m_vertical ? "CUR_SLIDE_HD_V" : "CUR_SLIDE_HD_H")
                         : m_part == 2 ? (m_vertical ? "CUR_SLIDE_AV" : "CUR_SLIDE_AR")
                                       : nullptr;
      HCURSOR own = name ? LoadCursorResource(m_cursors, name) : nullptr;
      UINT id = m_part == 1 ? (m_vertical ? IDC_SIZENS : IDC_SIZEWE) : m_part == 2 ? IDC_HAND : IDC_ARROW;
      SetCursor(own ? own : LoadCursor(nullptr, id));
      return 1;
    }
    case WM_LBUTTONDOWN: {
      RECT t = Thumb();
      if (m_window) SetControlFocus(m_window);
      if (x >= t.left && x < t.right && y >= t.top && y < t.bottom) {
        DragStart();
        m_dragging = 1;
        // The pointer holds the thumb's centre and runs along the track.
        int cx = (t.left + t.right) / 2, cy = (t.top + t.bottom) / 2;
        UiSetCursorPos(m_window, cx, cy);
        SetCapture(m_window);
        RECT_XYWH line = m_vertical ? RECT_XYWH{cx, m_track.top, 1, m_length + 1}
                                    : RECT_XYWH{m_track.left, cy, m_length + 1, 1};
        UiClipCursor(m_window, &line);
      } else {
        Changed(Jump(x, y));
      }
      return 0;
    }
    case WM_MOUSEMOVE: {
      if (m_dragging && (wparam & MK_LBUTTON)) Changed(DragTo(x, y));
      RECT t = Thumb();
      bool on_thumb = x >= t.left && x < t.right && y >= t.top && y < t.bottom;
      bool on_track = x >= m_track.left && x < m_track.right && y >= t.top && y < t.bottom;
      m_part = on_thumb ? 1 : on_track ? 2 : 0;
      return 0;
    }
    case WM_LBUTTONUP:
      if (m_dragging) {
        m_dragging = 0;
        m_exact = 0;
        if (x >= m_track.left && x < m_track.right && y >= m_track.top - m_thumb_cy && y < m_track.bottom + m_thumb_cy)
          Changed(Jump(x, y));
        ReleaseCapture();
      }
      return 0;
    case WM_CAPTURECHANGED: m_dragging = 0; return 0;  // the drag ends where it is
    case WM_RBUTTONDOWN:
      m_right = 1;
      SetCapture(m_window);
      return 0;
    case WM_RBUTTONUP:
      if (GetCapture() == m_window) ReleaseCapture();
      if (m_right && x >= 0 && y >= 0 && x < m_cx && y < m_cy) Changed(RightClickReset());
      m_right = 0;
      return 0;
    case WM_MOUSEWHEEL: Changed(Wheel(int16_t(UI_HIWORD(wparam)) > 0)); return 0;
    default: *consumed = 0; return 0;
  }
}

void SkinSharedAcquire(HWND page)
{
  if (g_shared.count == 0) {
    g_shared.painter = new SkinButtonPainter;
    g_shared.background = new SkinDialogBackground;
  }
  ++g_shared.count;
  if (g_shared.background->LibraryMissing()) {
    char text[128];
    std::snprintf(text, sizeof text, "%s.dll not found.", SKIN_LIBRARY);
    MessageBox(page, text, "Kelmar Message", MB_OK | MB_ICONWARNING);
  }
}

void SkinSharedRelease()
{
  if (g_shared.count == 0) return;
  if (--g_shared.count > 0) return;
  delete g_shared.painter;
  delete g_shared.background;
  g_shared.painter = nullptr;
  g_shared.background = nullptr;
}

int SkinSharedCount() { return g_shared.count; }
SkinDialogBackground *SkinSharedBackground() { return g_shared.background; }
SkinButtonPainter *SkinSharedPainter() { return g_shared.painter; }
