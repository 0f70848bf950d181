// Custom controls: a drawing area with a window of its own, whose events
// become messages.
#include "gtk_internal.h"

#include <tarvo_ui/ui_controls.h>
#include <tarvo_ui/ui_gdi.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

struct ui_cursor {
  UINT id;
  const char *name;  // the CSS cursor name of the toolkit
  GdkPixbuf *image = nullptr;  // a library's own cursor: its picture instead
  int hot_x = 0, hot_y = 0;
};

namespace {

const ui_cursor kCursors[] = {{IDC_ARROW, "default"}, {IDC_IBEAM, "text"},       {IDC_WAIT, "wait"},
                              {IDC_CROSS, "crosshair"}, {IDC_SIZEWE, "ew-resize"}, {IDC_SIZENS, "ns-resize"},
                              {IDC_HAND, "pointer"}};

struct custom {
  GtkWidget *w;
  HWND dialog;
};

std::map<HWND, custom> &customs()
{
  static std::map<HWND, custom> m;
  return m;
}

HWND window_of(GtkWidget *w) { return static_cast<HWND>(g_object_get_data(G_OBJECT(w), "tarvo-window")); }

LPARAM point(double x, double y) { return UI_MAKELPARAM(int(x), int(y)); }

struct capture_state {
  HWND control = nullptr;
  int clipped = 0;
  RECT_XYWH clip{0, 0, 0, 0};
} g_capture;
HWND g_pointer_control;  // the control under the pointer, or holding it
const ui_cursor *g_cursor;

GtkWidget *widget_of(HWND h)
{
  auto it = customs().find(h);
  return it == customs().end() ? nullptr : it->second.w;
}

GdkWindow *gdk_window_of(HWND h)
{
  GtkWidget *w = widget_of(h);
  return w && gtk_widget_get_realized(w) ? gtk_widget_get_window(w) : nullptr;
}

GdkDevice *pointer_of(GdkWindow *w)
{
  return gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_window_get_display(w)));
}

void drop_capture(HWND new_holder)
{
  HWND old = g_capture.control;
  g_capture = capture_state{};
  if (old && old != new_holder) SendMessage(old, WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(new_holder));
}

// Keeps a captured pointer inside its clip rectangle: a motion out of it
// puts the pointer back on the rectangle's nearest point.
void confine(GtkWidget *w, GdkEventMotion *e)
{
  if (!g_capture.clipped || window_of(w) != g_capture.control) return;
  const RECT_XYWH &r = g_capture.clip;
  int x = int(e->x), y = int(e->y);
  int cx = std::max(r.x, std::min(r.x + r.cx - 1, x)), cy = std::max(r.y, std::min(r.y + r.cy - 1, y));
  if (cx == x && cy == y) return;
  UiSetCursorPos(g_capture.control, cx, cy);
  e->x = cx;
  e->y = cy;
}

UINT vk_of(guint key)
{
  struct map_row {
    guint key;
    UINT vk;
  };
  static const map_row rows[] = {{GDK_KEY_Home, 0x24}, {GDK_KEY_Left, 0x25}, {GDK_KEY_Up, 0x26},
                                 {GDK_KEY_Right, 0x27}, {GDK_KEY_Down, 0x28}, {GDK_KEY_Escape, 0x1B},
                                 {GDK_KEY_Tab, 0x09},   {GDK_KEY_Return, 0x0D}};
  for (const map_row &r : rows)
    if (r.key == key) return r.vk;
  return 0;
}

gboolean on_draw(GtkWidget *w, cairo_t *cr, gpointer)
{
  HDC dc = UiDcFromCairo(cr);
  SendMessage(window_of(w), WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);
  DeleteDC(dc);
  return TRUE;
}

gboolean on_button(GtkWidget *w, GdkEventButton *e, gpointer)
{
  if (e->type != GDK_BUTTON_PRESS && e->type != GDK_BUTTON_RELEASE) return FALSE;
  bool down = e->type == GDK_BUTTON_PRESS;
  UINT msg = e->button == 1 ? (down ? WM_LBUTTONDOWN : WM_LBUTTONUP)
             : e->button == 3 ? (down ? WM_RBUTTONDOWN : WM_RBUTTONUP)
                              : 0;
  if (!msg) return FALSE;
  if (down) gtk_widget_grab_focus(w);
  SendMessage(window_of(w), msg, 0, point(e->x, e->y));
  return TRUE;
}

gboolean on_motion(GtkWidget *w, GdkEventMotion *e, gpointer)
{
  confine(w, e);
  WPARAM keys = ((e->state & GDK_BUTTON1_MASK) ? MK_LBUTTON : 0) | ((e->state & GDK_BUTTON3_MASK) ? MK_RBUTTON : 0);
  HWND h = window_of(w);
  SendMessage(h, WM_MOUSEMOVE, keys, point(e->x, e->y));
  g_pointer_control = h;
  if (!SendMessage(h, WM_SETCURSOR, reinterpret_cast<WPARAM>(h), LPARAM(HTCLIENT | (WM_MOUSEMOVE << 16))))
    SetCursor(LoadCursor(nullptr, IDC_ARROW));
  return TRUE;
}

gboolean on_scroll(GtkWidget *w, GdkEventScroll *e, gpointer)
{
  int delta = e->direction == GDK_SCROLL_UP ? 120 : e->direction == GDK_SCROLL_DOWN ? -120 : 0;
  if (!delta) return FALSE;
  SendMessage(window_of(w), WM_MOUSEWHEEL, UI_MAKEWPARAM(0, uint16_t(int16_t(delta))), point(e->x, e->y));
  return TRUE;
}

gboolean on_key(GtkWidget *w, GdkEventKey *e, gpointer)
{
  UINT vk = vk_of(e->keyval);
  if (!vk) return FALSE;
  HWND h = window_of(w);
  UI_MSG key{h, WM_KEYDOWN, vk, 0};
  if (SendMessage(h, WM_GETDLGCODE, vk, reinterpret_cast<LPARAM>(&key)) == 1) return TRUE;
  return SendMessage(h, WM_KEYDOWN, vk, 0) != 0;
}

gboolean on_focus(GtkWidget *w, GdkEventFocus *e, gpointer)
{
  SendMessage(window_of(w), e->in ? WM_SETFOCUS : WM_KILLFOCUS, 0, 0);
  return FALSE;
}

gboolean on_grab_broken(GtkWidget *w, GdkEvent *, gpointer)
{
  if (window_of(w) == g_capture.control) drop_capture(nullptr);
  return FALSE;
}

void on_size(GtkWidget *w, GdkRectangle *a, gpointer)
{
  SendMessage(window_of(w), WM_SIZE, 0, UI_MAKELPARAM(a->width, a->height));
}

LRESULT control_proc(HWND h, UINT msg, WPARAM, LPARAM)
{
  if (msg == WM_NCDESTROY) {
    if (g_capture.control == h) ReleaseCapture();
    if (g_pointer_control == h) g_pointer_control = nullptr;
    customs().erase(h);
  }
  return 0;
}

void on_destroy(GtkWidget *w, gpointer)
{
  HWND h = window_of(w);
  auto it = customs().find(h);
  if (it == customs().end()) return;
  it->second.w = nullptr;
  DestroyWindow(h);
}

}  // namespace

// Makes a template's custom control (called by the dialog builder).
GtkWidget *gtk_custom_control(HWND dialog)
{
  GtkWidget *w = gtk_drawing_area_new();
  gtk_widget_set_can_focus(w, TRUE);
  gtk_widget_add_events(w, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK |
                               GDK_SCROLL_MASK | GDK_KEY_PRESS_MASK | GDK_FOCUS_CHANGE_MASK);
  HWND h = CreateMessageWindow("Static", "", control_proc, nullptr);
  if (!h) {
    g_object_ref_sink(w);
    g_object_unref(w);
    return nullptr;
  }
  customs()[h] = custom{w, dialog};
  g_object_set_data(G_OBJECT(w), "tarvo-window", h);
  g_signal_connect(w, "draw", G_CALLBACK(on_draw), nullptr);
  g_signal_connect(w, "button-press-event", G_CALLBACK(on_button), nullptr);
  g_signal_connect(w, "button-release-event", G_CALLBACK(on_button), nullptr);
  g_signal_connect(w, "motion-notify-event", G_CALLBACK(on_motion), nullptr);
  g_signal_connect(w, "scroll-event", G_CALLBACK(on_scroll), nullptr);
  g_signal_connect(w, "key-press-event", G_CALLBACK(on_key), nullptr);
  g_signal_connect(w, "focus-in-event", G_CALLBACK(on_focus), nullptr);
  g_signal_connect(w, "focus-out-event", G_CALLBACK(on_focus), nullptr);
  g_signal_connect(w, "size-allocate", G_CALLBACK(on_size), nullptr);
  g_signal_connect(w, "grab-broken-event", G_CALLBACK(on_grab_broken), nullptr);
  g_signal_connect(w, "destroy", G_CALLBACK(on_destroy), nullptr);
  return w;
}

extern "C" {

HWND GetDlgItem(HWND dialog, UINT id)
{
  gtk_control *c = gtk_control_of(gtk_rec(dialog), id);
  return c && c->kind == UI_CTL_CUSTOM ? window_of(c->w) : nullptr;
}

int UiControlRect(HWND control, RECT_XYWH *out)
{
  auto it = customs().find(control);
  if (it == customs().end() || !it->second.w || !out) return 0;
  GtkAllocation a;
  gtk_widget_get_allocation(it->second.w, &a);
  *out = RECT_XYWH{a.x, a.y, a.width, a.height};
  GtkWidget *parent = gtk_widget_get_parent(it->second.w);
  if (parent && !gtk_widget_get_has_window(parent)) {
    GtkAllocation p;
    gtk_widget_get_allocation(parent, &p);
    out->x -= p.x;
    out->y -= p.y;
  }
  return 1;
}

int InvalidateControl(HWND control)
{
  auto it = customs().find(control);
  if (it == customs().end() || !it->second.w) return 0;
  gtk_widget_queue_draw(it->second.w);
  return 1;
}

int SetControlFocus(HWND control)
{
  auto it = customs().find(control);
  if (it == customs().end() || !it->second.w) return 0;
  gtk_widget_grab_focus(it->second.w);
  return 1;
}

HCURSOR LoadCursor(void *, UINT id)
{
  for (const ui_cursor &c : kCursors)
    if (c.id == id) return &c;
  return nullptr;
}

HCURSOR LoadCursorResource(const UI_CURSOR_TABLE *table, const char *name)
{
  static std::mutex lock;
  static std::map<const UI_CURSOR_RESOURCE *, ui_cursor> loaded;  // handles stay valid
  for (uint32_t i = 0; table && name && i < table->count; ++i) {
    const UI_CURSOR_RESOURCE &r = table->rows[i];
    if (!r.name || std::strcmp(r.name, name) != 0 || !r.xpm) continue;
    std::lock_guard<std::mutex> g(lock);
    auto it = loaded.find(&r);
    if (it != loaded.end()) return &it->second;
    GdkPixbuf *image = gdk_pixbuf_new_from_xpm_data(const_cast<const char **>(r.xpm));
    if (!image) return nullptr;
    return &loaded.emplace(&r, ui_cursor{0, r.name, image, r.hot_x, r.hot_y}).first->second;
  }
  return nullptr;
}

static GdkCursor *gdk_cursor_of(GdkDisplay *display, HCURSOR cursor)
{
  if (!cursor) return nullptr;
  if (cursor->image) return gdk_cursor_new_from_pixbuf(display, cursor->image, cursor->hot_x, cursor->hot_y);
  return gdk_cursor_new_from_name(display, cursor->name);
}

HCURSOR SetCursor(HCURSOR cursor)
{
  HCURSOR old = g_cursor;
  g_cursor = cursor;
  if (GdkWindow *w = gdk_window_of(g_capture.control ? g_capture.control : g_pointer_control)) {
    GdkCursor *c = gdk_cursor_of(gdk_window_get_display(w), cursor);
    gdk_window_set_cursor(w, c);
    if (c) g_object_unref(c);
  }
  return old;
}

HCURSOR GetCursor(void) { return g_cursor; }

HWND SetCapture(HWND control)
{
  HWND old = g_capture.control;
  GdkWindow *w = gdk_window_of(control);
  if (!w) return old;
  if (old && old != control) drop_capture(control);
  GdkSeat *seat = gdk_display_get_default_seat(gdk_window_get_display(w));
  gdk_seat_grab(seat, w, GDK_SEAT_CAPABILITY_POINTER, FALSE, nullptr, nullptr, nullptr, nullptr);
  g_capture.control = control;
  g_pointer_control = control;
  return old;
}

int ReleaseCapture(void)
{
  HWND h = g_capture.control;
  if (!h) return 1;
  if (GdkWindow *w = gdk_window_of(h)) gdk_seat_ungrab(gdk_display_get_default_seat(gdk_window_get_display(w)));
  drop_capture(nullptr);
  return 1;
}

HWND GetCapture(void) { return g_capture.control; }

int UiClipCursor(HWND control, const RECT_XYWH *rect)
{
  if (!control || control != g_capture.control) return 0;
  g_capture.clipped = rect && rect->cx > 0 && rect->cy > 0;
  if (g_capture.clipped) g_capture.clip = *rect;
  return 1;
}

int UiSetCursorPos(HWND control, int x, int y)
{
  GdkWindow *w = gdk_window_of(control);
  if (!w) return 0;
  int ox = 0, oy = 0;
  gdk_window_get_origin(w, &ox, &oy);
  gdk_device_warp(pointer_of(w), gdk_window_get_screen(w), ox + x, oy + y);
  return 1;
}

int UiGetCursorPos(HWND control, int *x, int *y)
{
  GdkWindow *w = gdk_window_of(control);
  if (!w || !x || !y) return 0;
  int px = 0, py = 0;
  gdk_window_get_device_position(w, pointer_of(w), &px, &py, nullptr);
  *x = px;
  *y = py;
  return 1;
}

}  // extern "C"
