// The notification popup window: GTK 3 with cairo and Pango, the X11 SHAPE
// extension for its round corners; its own window, or a template dialog's.
#include <tarvo_ui/ui_gtk.h>
#include <tarvo_ui/ui_popup.h>

#include <gdk/gdk.h>
#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kLabels = 8, kImages = 4;
constexpr const char *kFont = "Sans 9";

struct label_rec {
  int x = 0, y = 0, w = 0, h = 0, mode = 0, weight = 400;
  std::string text;
};

struct image_rec {
  int x = 0, y = 0;
  cairo_surface_t *s = nullptr;
};

}  // namespace

struct ui_popup {
  HWND owner = nullptr;
  int w = 0, h = 0, corner = 0;
  double r = 1, g = 1, b = 1;
  label_rec labels[kLabels];
  image_rec images[kImages];
  int x = 0, y = 0, pinned = 0, shown = 0, alpha = 255;
  GtkWidget *win = nullptr;
  bool adopted = false;  // a template dialog's window: GTK draws its controls
};

namespace {

void round_rect(cairo_t *cr, double x, double y, double w, double h, double d)
{
  double r = d / 2;
  cairo_new_path(cr);
  cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
  cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
  cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
}

gboolean on_draw(GtkWidget *, cairo_t *cr, gpointer data)
{
  ui_popup *p = static_cast<ui_popup *>(data);
  round_rect(cr, 0, 0, p->w, p->h, p->corner);
  cairo_set_source_rgb(cr, p->r, p->g, p->b);
  cairo_fill_preserve(cr);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_set_line_width(cr, 1);
  cairo_save(cr);
  cairo_new_path(cr);
  round_rect(cr, 0.5, 0.5, p->w - 1, p->h - 1, p->corner);
  cairo_stroke(cr);
  cairo_restore(cr);
  for (const image_rec &i : p->images)
    if (i.s) {
      cairo_set_source_surface(cr, i.s, i.x, i.y);
      cairo_paint(cr);
    }
  for (const label_rec &l : p->labels) {
    if (l.text.empty()) continue;
    PangoLayout *lay = pango_cairo_create_layout(cr);
    PangoFontDescription *f = pango_font_description_from_string(kFont);
    pango_font_description_set_weight(f, PangoWeight(l.weight));
    pango_layout_set_font_description(lay, f);
    pango_font_description_free(f);
    pango_layout_set_text(lay, l.text.c_str(), -1);
    pango_layout_set_width(lay, l.w * PANGO_SCALE);
    if (l.mode == UI_POPUP_WRAP) {
      pango_layout_set_wrap(lay, PANGO_WRAP_WORD);
      pango_layout_set_height(lay, l.h * PANGO_SCALE);
    } else {
      pango_layout_set_ellipsize(lay, PANGO_ELLIPSIZE_END);
      pango_layout_set_height(lay, 0);  // one line
    }
    if (l.mode == UI_POPUP_CENTRED) pango_layout_set_alignment(lay, PANGO_ALIGN_CENTER);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_move_to(cr, l.x, l.y);
    pango_cairo_show_layout(cr, lay);
    g_object_unref(lay);
  }
  return FALSE;  // an adopted dialog's controls are drawn next
}

// The window's shape (on X11 the SHAPE extension): the round rectangle's
// pixels, from a 1-bit mask.
void apply_shape(ui_popup *p)
{
  cairo_surface_t *mask = cairo_image_surface_create(CAIRO_FORMAT_A1, p->w, p->h);
  cairo_t *cr = cairo_create(mask);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  round_rect(cr, 0, 0, p->w, p->h, p->corner);
  cairo_fill(cr);
  cairo_destroy(cr);
  cairo_region_t *region = gdk_cairo_region_create_from_surface(mask);
  gtk_widget_shape_combine_region(p->win, region);
  cairo_region_destroy(region);
  cairo_surface_destroy(mask);
}

LPARAM point(double x, double y) { return LPARAM((int(x) & 0xFFFF) | ((int(y) & 0xFFFF) << 16)); }

gboolean on_button(GtkWidget *, GdkEventButton *e, gpointer data)
{
  ui_popup *p = static_cast<ui_popup *>(data);
  if (e->type != GDK_BUTTON_PRESS) return TRUE;
  if (e->button == 1) PostMessage(p->owner, WM_LBUTTONDOWN, 0, point(e->x, e->y));
  if (e->button == 3) PostMessage(p->owner, WM_RBUTTONDOWN, 0, point(e->x, e->y));
  return TRUE;
}

gboolean on_motion(GtkWidget *, GdkEventMotion *e, gpointer data)
{
  PostMessage(static_cast<ui_popup *>(data)->owner, WM_MOUSEMOVE, 0, point(e->x, e->y));
  return FALSE;
}

gboolean on_key(GtkWidget *, GdkEventKey *e, gpointer data)
{
  ui_popup *p = static_cast<ui_popup *>(data);
  if (e->keyval == GDK_KEY_Return || e->keyval == GDK_KEY_KP_Enter) PostMessage(p->owner, WM_COMMAND, IDOK, 0);
  else if (e->keyval == GDK_KEY_Escape) PostMessage(p->owner, WM_COMMAND, IDCANCEL, 0);
  else return FALSE;
  return TRUE;
}

// A window manager that moves it anyway is answered with the kept place.
gboolean on_configure(GtkWidget *w, GdkEventConfigure *e, gpointer data)
{
  ui_popup *p = static_cast<ui_popup *>(data);
  if (p->pinned && (e->x != p->x || e->y != p->y)) gtk_window_move(GTK_WINDOW(w), p->x, p->y);
  return FALSE;
}

bool have_display() { return gdk_display_get_default() != nullptr; }

// "x,y,w,h" and, optionally, ",edge" for a panel that no monitor shows.
int parse_workarea(const char *v, int *x, int *y, int *w, int *h, int *edge)
{
  int n = v ? std::sscanf(v, "%d,%d,%d,%d,%d", x, y, w, h, edge) : 0;
  return n >= 4 && *w > 0 && *h > 0 ? n : 0;
}

ui_popup *new_popup(HWND owner, int w, int h, int corner, uint32_t rgb)
{
  ui_popup *p = new ui_popup;
  p->owner = owner;
  p->w = w;
  p->h = h;
  p->corner = corner;
  p->r = ((rgb >> 16) & 0xFF) / 255.0;
  p->g = ((rgb >> 8) & 0xFF) / 255.0;
  p->b = (rgb & 0xFF) / 255.0;
  return p;
}

// The notification window's kind, before it is realized.
void style_window(ui_popup *p)
{
  GtkWindow *win = GTK_WINDOW(p->win);
  gtk_window_set_decorated(win, FALSE);
  gtk_window_set_keep_above(win, TRUE);
  gtk_window_set_skip_taskbar_hint(win, TRUE);
  gtk_window_set_skip_pager_hint(win, TRUE);
  gtk_window_set_type_hint(win, GDK_WINDOW_TYPE_HINT_NOTIFICATION);
  // Exactly its size, whatever its labels' natural widths (a window that
  // cannot be resized takes its natural size, and a wrapping label's is its
  // longest line): the place computed from that size keeps it inside the
  // work area.  The controls get their least sizes either way, and without
  // a frame nobody can resize it.
  gtk_window_set_resizable(win, TRUE);
  gtk_window_set_default_size(win, p->w, p->h);
  gtk_window_resize(win, p->w, p->h);
  gtk_widget_set_size_request(p->win, p->w, p->h);
  gtk_widget_set_app_paintable(p->win, TRUE);
  gtk_widget_add_events(p->win, GDK_BUTTON_PRESS_MASK | GDK_POINTER_MOTION_MASK | GDK_KEY_PRESS_MASK);
  g_signal_connect(p->win, "draw", G_CALLBACK(on_draw), p);
  g_signal_connect(p->win, "button-press-event", G_CALLBACK(on_button), p);
  g_signal_connect(p->win, "motion-notify-event", G_CALLBACK(on_motion), p);
  g_signal_connect(p->win, "configure-event", G_CALLBACK(on_configure), p);
}

// A control of an adopted dialog: the GTK backend tags each with its id.
GtkWidget *control_of(GtkWidget *w, UINT id)
{
  if (w != nullptr && UINT(GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(w), "tarvo-id"))) == id && !GTK_IS_WINDOW(w))
    return w;
  if (!GTK_IS_CONTAINER(w)) return nullptr;
  GList *kids = gtk_container_get_children(GTK_CONTAINER(w));
  GtkWidget *found = nullptr;
  for (GList *l = kids; l && !found; l = l->next) found = control_of(GTK_WIDGET(l->data), id);
  g_list_free(kids);
  return found;
}

}  // namespace

extern "C" {

ui_popup *UiPopupCreate(HWND owner, int w, int h, int corner, uint32_t rgb)
{
  ui_popup *p = new_popup(owner, w, h, corner, rgb);
  if (!have_display()) return p;
  p->win = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  style_window(p);
  g_signal_connect(p->win, "key-press-event", G_CALLBACK(on_key), p);
  gtk_widget_realize(p->win);
  apply_shape(p);
  return p;
}

ui_popup *UiPopupFromWindow(HWND owner, GtkWidget *toplevel, int w, int h, int corner, uint32_t rgb)
{
  if (!toplevel || !GTK_IS_WINDOW(toplevel)) return nullptr;
  ui_popup *p = new_popup(owner, w, h, corner, rgb);
  p->win = toplevel;
  p->adopted = true;
  UiGtkPlacedByCaller(toplevel);  // its place is the popup's, not a dialog's centre
  // The window's kind can change only while it has no X window.
  gtk_widget_hide(toplevel);
  gtk_widget_unrealize(toplevel);
  gtk_window_set_modal(GTK_WINDOW(toplevel), FALSE);
  UiDialogSetFont(owner, kFont);  // its units and its texts in the popup's font
  style_window(p);
  gtk_widget_realize(toplevel);
  apply_shape(p);
  return p;
}

void UiPopupResize(ui_popup *p, int w, int h)
{
  if (!p || w <= 0 || h <= 0 || (w == p->w && h == p->h)) return;
  p->w = w, p->h = h;
  if (!p->win) return;
  gtk_widget_set_size_request(p->win, w, h);
  gtk_window_resize(GTK_WINDOW(p->win), w, h);
  if (gtk_widget_get_realized(p->win)) apply_shape(p);
  gtk_widget_queue_draw(p->win);
}

int UiPopupStyleStatic(ui_popup *p, UINT id, int mode, int weight)
{
  GtkWidget *w = p && p->adopted ? control_of(p->win, id) : nullptr;
  if (!w || !GTK_IS_LABEL(w)) return 0;
  GtkLabel *l = GTK_LABEL(w);
  PangoAttrList *attrs = pango_attr_list_new();
  PangoFontDescription *f = pango_font_description_from_string(kFont);
  pango_font_description_set_weight(f, PangoWeight(weight));
  pango_attr_list_insert(attrs, pango_attr_font_desc_new(f));
  pango_attr_list_insert(attrs, pango_attr_foreground_new(0, 0, 0));
  pango_font_description_free(f);
  gtk_label_set_attributes(l, attrs);
  pango_attr_list_unref(attrs);
  gtk_label_set_xalign(l, mode == UI_POPUP_CENTRED ? 0.5f : 0.0f);
  gtk_label_set_yalign(l, 0.0f);
  gtk_label_set_justify(l, mode == UI_POPUP_CENTRED ? GTK_JUSTIFY_CENTER : GTK_JUSTIFY_LEFT);
  gtk_label_set_line_wrap(l, mode == UI_POPUP_WRAP);
  gtk_label_set_line_wrap_mode(l, PANGO_WRAP_WORD);
  gtk_label_set_ellipsize(l, mode == UI_POPUP_WRAP ? PANGO_ELLIPSIZE_NONE : PANGO_ELLIPSIZE_END);
  return 1;
}

int UiPopupSetItemImage(ui_popup *p, UINT id, int x, int y, const char *png_path)
{
  GtkWidget *w = p && p->adopted ? control_of(p->win, id) : nullptr;
  if (!w || !GTK_IS_IMAGE(w)) return 0;
  if (png_path && *png_path) gtk_image_set_from_file(GTK_IMAGE(w), png_path);
  else gtk_image_clear(GTK_IMAGE(w));
  gtk_widget_set_size_request(w, -1, -1);  // the image's own size, its corner at x, y
  GtkWidget *parent = gtk_widget_get_parent(w);
  if (parent && GTK_IS_FIXED(parent)) gtk_fixed_move(GTK_FIXED(parent), w, x, y);
  return 1;
}

void UiPopupDestroy(ui_popup *p)
{
  if (!p) return;
  // An adopted window is its dialog's to destroy.
  if (p->win && p->adopted) g_signal_handlers_disconnect_by_data(p->win, p);
  else if (p->win) gtk_widget_destroy(p->win);
  for (image_rec &i : p->images)
    if (i.s) cairo_surface_destroy(i.s);
  delete p;
}

void UiPopupSetLabel(ui_popup *p, int slot, int x, int y, int w, int h, const char *text, int mode, int weight)
{
  if (!p || slot < 0 || slot >= kLabels) return;
  p->labels[slot] = label_rec{x, y, w, h, mode, weight, text ? text : ""};
  if (p->win) gtk_widget_queue_draw(p->win);
}

const char *UiPopupLabel(const ui_popup *p, int slot)
{
  return p && slot >= 0 && slot < kLabels ? p->labels[slot].text.c_str() : nullptr;
}

void UiPopupSetImage(ui_popup *p, int slot, int x, int y, const char *png_path)
{
  if (!p || slot < 0 || slot >= kImages) return;
  image_rec &i = p->images[slot];
  if (i.s) cairo_surface_destroy(i.s);
  i = image_rec{x, y, nullptr};
  if (png_path && *png_path) {
    i.s = cairo_image_surface_create_from_png(png_path);
    if (cairo_surface_status(i.s) != CAIRO_STATUS_SUCCESS) {
      cairo_surface_destroy(i.s);
      i.s = nullptr;
    }
  }
  if (p->win) gtk_widget_queue_draw(p->win);
}

void UiPopupMove(ui_popup *p, int x, int y)
{
  if (!p) return;
  p->x = x;
  p->y = y;
  p->pinned = 1;
  if (p->win) gtk_window_move(GTK_WINDOW(p->win), x, y);
}

void UiPopupShow(ui_popup *p, int shown)
{
  if (!p) return;
  p->shown = shown != 0;
  if (!p->win) return;
  if (shown) {
    gtk_widget_show(p->win);
    if (p->pinned) gtk_window_move(GTK_WINDOW(p->win), p->x, p->y);
    gtk_window_present(GTK_WINDOW(p->win));
  } else {
    gtk_widget_hide(p->win);
  }
}

void UiPopupSetAlpha(ui_popup *p, int alpha)
{
  if (!p) return;
  p->alpha = alpha < 0 ? 0 : alpha > 255 ? 255 : alpha;
  if (p->win) gtk_widget_set_opacity(p->win, p->alpha / 255.0);
}

void UiPopupState(const ui_popup *p, int *shown, int *mapped, int *x, int *y, int *alpha)
{
  *shown = p->shown;
  *mapped = p->win && gtk_widget_get_mapped(p->win);
  *x = p->x;
  *y = p->y;
  *alpha = p->alpha;
}

unsigned long UiPopupXid(const ui_popup *p)
{
#ifdef GDK_WINDOWING_X11
  GdkWindow *w = p && p->win ? gtk_widget_get_window(p->win) : nullptr;
  if (w && GDK_IS_X11_WINDOW(w)) return GDK_WINDOW_XID(w);
#endif
  (void)p;
  return 0;
}

int UiWorkArea(int *x, int *y, int *w, int *h, int *edge)
{
  int mx = 0, my = 0, mw = 0, mh = 0;
  GdkDisplay *d = have_display() ? gdk_display_get_default() : nullptr;
  GdkMonitor *m = d ? gdk_display_get_monitor_at_point(d, 0, 0) : nullptr;
  if (m) {
    GdkRectangle geo, work;
    gdk_monitor_get_geometry(m, &geo);
    gdk_monitor_get_workarea(m, &work);
    mx = geo.x, my = geo.y, mw = geo.width, mh = geo.height;
    *x = work.x, *y = work.y, *w = work.width, *h = work.height;
  }
  const char *sim = std::getenv("TARVO_WORKAREA");
  int given = sim ? parse_workarea(sim, x, y, w, h, edge) : 0;
  if (given == 5) return 1;
  if (given && !m) mx = 0, my = 0, mw = *x + *w, mh = *y + *h;
  if (!given && !m) return 0;
  if (*y > my) *edge = 1;
  else if (*x > mx) *edge = 0;
  else if (*x + *w < mx + mw) *edge = 2;
  else if (*y + *h < my + mh) *edge = 3;
  else *edge = -1;
  return 1;
}
}
