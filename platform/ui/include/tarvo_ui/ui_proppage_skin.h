// The skinned controls of the filters' property pages: images from the
// resource library "vellisk", a subclassing base, the shared dialog
// background, the owner-drawn button painter and the slider.
#pragma once

#include <tarvo_ui/ui_gdi.h>
#include <tarvo_ui/ui_controls.h>

#ifndef MB_ICONWARNING
#define MB_ICONWARNING 0x30u
#endif
#define WM_HSCROLL 0x0114u
#define VK_ESCAPE 0x1Bu
#define VK_HOME 0x24u
#define VK_LEFT 0x25u
#define VK_UP 0x26u
#define VK_RIGHT 0x27u
#define VK_DOWN 0x28u

// Skin image ids in the resource library.
enum {
  SKIN_BACK_TOP = 1,
  SKIN_BACK_BOTTOM,
  SKIN_BUTTON_UP,
  SKIN_BUTTON_DOWN,
  SKIN_TRACK_H,
  SKIN_TRACK_V,
  SKIN_THUMB_H,
  SKIN_THUMB_V,
  SKIN_THUMB_H_OFF,
  SKIN_THUMB_V_OFF,
};
#define SKIN_LIBRARY "vellisk"
#define SKIN_BACK_GREY RGB(226, 226, 226)

// Image id from the skin library, NULL when it or the library is missing
// (*missing set to 1 for a missing library when given).
UI_IMAGE *SkinImageLoad(UINT id, int *missing);

// The base of skinned objects: one shared procedure, the object in the
// window's user-data slot, unconsumed messages to the old procedure.
class SkinWindow {
 public:
  SkinWindow();
  virtual ~SkinWindow();
  // 0 when window is not a window or its user-data slot is taken.
  virtual int Attach(HWND window);
  virtual void Detach();
  // consumed: set to 0 to pass the message on.
  virtual LRESULT WindowProcedure(UINT msg, WPARAM wparam, LPARAM lparam, int *consumed);
  HWND Handle() const { return m_window; }
  // Skinned objects alive in the process.
  static int Count();

 protected:
  LRESULT CallOld(UINT msg, WPARAM wparam, LPARAM lparam);
  HWND m_window = nullptr;
  WNDPROC m_old = nullptr;

 private:
  static LRESULT SharedProc(HWND window, UINT msg, WPARAM wparam, LPARAM lparam);
};

// The background of skinned dialogs, composed for a client size.
class SkinDialogBackground : public SkinWindow {
 public:
  SkinDialogBackground();
  ~SkinDialogBackground() override;
  // Reused for the same size; an empty size keeps what exists.
  HBITMAP Compose(int cx, int cy);
  HBRUSH Brush() const { return m_brush; }
  HBITMAP Bitmap() const { return m_bitmap; }
  int LibraryMissing() const { return m_missing; }

 private:
  UI_IMAGE *m_top = nullptr, *m_bottom = nullptr;
  HBITMAP m_bitmap = nullptr;
  HBRUSH m_brush = nullptr;
  int m_cx = 0, m_cy = 0;
  int m_missing = 0;
};

// What the button painter is told (a draw-item record).
#define ODA_DRAWENTIRE 0x1u
#define ODA_SELECT 0x2u
#define ODA_FOCUS 0x4u
#define ODS_SELECTED 0x1u
#define ODS_DISABLED 0x4u
#define ODS_FOCUS 0x10u
struct SKIN_DRAWITEM {
  UINT action, state;
  HDC dc;
  RECT item;     // in the button
  POINT at;      // the button's position in the dialog
  const char *text;
};

class SkinButtonPainter : public SkinWindow {
 public:
  SkinButtonPainter();
  ~SkinButtonPainter() override;
  void Draw(const SKIN_DRAWITEM *item, HBITMAP background);

 private:
  UI_IMAGE *m_up = nullptr, *m_down = nullptr;
};

// Slider style flags.
#define SKIN_SLIDER_FRAME 0x1u
#define SKIN_SLIDER_TICKS 0x2u
#define SKIN_SLIDER_BOTTOM 0x4u
#define SKIN_SLIDER_NOSNAP 0x8u
// Notification codes of WM_HSCROLL's low word besides key codes.
#define SKIN_SB_CLICK 4u
#define SKIN_SB_DRAG 5u

class SkinSlider : public SkinWindow {
 public:
  SkinSlider();
  ~SkinSlider() override;
  void SetOrientation(int vertical);
  void SetStyle(UINT flags) { m_style = flags; }
  void SetTicks(int count, int style) { m_ticks = count, m_tick_style = style; }
  void SetRange(double minimum, double maximum, double def, double step);
  void SetValue(double v);
  double GetValue();
  // Geometry for a client area of cx x cy pixels.
  void Layout(int cx, int cy);
  int Position() const { return m_pos; }
  int Length() const { return m_length; }
  RECT Track() const { return m_track; }
  RECT Thumb() const;
  double TickSpacing() const { return m_spacing; }

  // The user's actions; each returns the WM_HSCROLL code it notified, 0
  // when nothing changed.  Notices go to the parent set by SetParent.
  UINT Key(UINT vk);
  UINT Wheel(int forward) { return Key(forward ? VK_UP : VK_DOWN); }
  UINT Jump(int x, int y);      // left click on the track
  UINT RightClickReset();       // right button released inside
  void DragStart();
  UINT DragTo(int x, int y);
  UINT DragCancel();            // Escape during a drag
  void SetParent(HWND parent) { m_parent = parent; }
  // The library whose cursors the slider shows (CUR_SLIDE_HD_H/V over the
  // thumb, CUR_SLIDE_AR/AV over the track); without one, standard shapes.
  void SetCursors(const UI_CURSOR_TABLE *module) { m_cursors = module; }
  // Draws into dc (the control's client area) over the dialog background at
  // the control's position there.
  void Draw(HDC dc, HBITMAP background, POINT at, int focused);
  // The control's messages (see ui_controls.h's custom controls).
  LRESULT WindowProcedure(UINT msg, WPARAM wparam, LPARAM lparam, int *consumed) override;
  int Dragging() const { return m_dragging; }

 private:
  void Changed(UINT code);
  int m_cx = 0, m_cy = 0, m_dragging = 0, m_right = 0, m_focused = 0;
  int m_part = 0;  // under the pointer: 0 none, 1 the thumb, 2 the track
  UINT Notify(UINT code);
  HWND m_parent = nullptr;
  const UI_CURSOR_TABLE *m_cursors = nullptr;
  double m_value = 0, m_min = 0, m_max = 0, m_def = 0, m_step = 0;
  int m_pos = 0, m_length = 0, m_drag_from = 0;
  int m_value_pos = -1;  // the position m_value was last set or read at
  int m_vertical = 0, m_enabled = 1, m_exact = 0;
  UINT m_style = 0;
  int m_ticks = 0, m_tick_style = 0;
  double m_spacing = 0;
  int m_thumb_cx = 0, m_thumb_cy = 0;
  RECT m_track{0, 0, 0, 0};
  int m_line = 0;  // the track's centre line
  UI_IMAGE *m_img[6] = {};
};

// The skin objects all pages share: the first page makes them, the last
// one closing frees them.  Acquire shows the missing-library warning over
// page when the skin library is not there.
void SkinSharedAcquire(HWND page);
void SkinSharedRelease();
int SkinSharedCount();
SkinDialogBackground *SkinSharedBackground();
SkinButtonPainter *SkinSharedPainter();
