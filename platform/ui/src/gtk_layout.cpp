// Template dialogs laid out with the font they really use: dialog units
// from that font's average character, each control grown until its text
// fits, the controls after it moved right or down by as much.
#include "gtk_internal.h"

#include <tarvo_ui/ui_controls.h>

#include <algorithm>
#include <vector>

// The box of a template's controls: a fixed box whose natural size is its
// least, so that a window takes the laid-out size and not the width a
// wrapping text would have on one line.
typedef struct {
  GtkFixed parent;
} TarvoDialogBox;
typedef struct {
  GtkFixedClass parent_class;
} TarvoDialogBoxClass;
G_DEFINE_TYPE(TarvoDialogBox, tarvo_dialog_box, GTK_TYPE_FIXED)

namespace {

void least_width(GtkWidget *w, int *min, int *nat)
{
  GTK_WIDGET_CLASS(tarvo_dialog_box_parent_class)->get_preferred_width(w, min, nat);
  *nat = *min;
}

void least_height(GtkWidget *w, int *min, int *nat)
{
  GTK_WIDGET_CLASS(tarvo_dialog_box_parent_class)->get_preferred_height(w, min, nat);
  *nat = *min;
}

}  // namespace

static void tarvo_dialog_box_class_init(TarvoDialogBoxClass *k)
{
  GTK_WIDGET_CLASS(k)->get_preferred_width = least_width;
  GTK_WIDGET_CLASS(k)->get_preferred_height = least_height;
}

static void tarvo_dialog_box_init(TarvoDialogBox *) {}

namespace {

struct box {
  int x, y, w, h;
  int right() const { return x + w; }
  int bottom() const { return y + h; }
};

bool overlap(const box &a, const box &b) { return a.x < b.right() && b.x < a.right() && a.y < b.bottom() && b.y < a.bottom(); }
bool contains(const box &a, const box &b)
{
  return a.x <= b.x && a.y <= b.y && b.right() <= a.right() && b.bottom() <= a.bottom() && (a.w > b.w || a.h > b.h);
}

struct units {
  int bx, by;
  int px_x(int v) const { return (v * bx + 2) / 4; }
  int px_y(int v) const { return (v * by + 4) / 8; }
};

// The base units of a font: half the width of the 52 letters over 26,
// rounded, and its line height (a dialog unit is a quarter and an eighth
// of them).
units base_units(GtkWidget *w, const std::string &font = "")
{
  PangoLayout *l = gtk_widget_create_pango_layout(w, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  if (!font.empty()) {
    PangoFontDescription *f = pango_font_description_from_string(font.c_str());
    pango_layout_set_font_description(l, f);
    pango_font_description_free(f);
  }
  int width = 0, height = 0;
  pango_layout_get_pixel_size(l, &width, &height);
  g_object_unref(l);
  return {std::max(1, (width / 26 + 1) / 2), std::max(1, height)};
}

// The room a control needs: its template rectangle, or more where its
// text in its font asks for it.  A label on one line grows in width (its
// neighbours move) instead of breaking.
box need_of(GtkWidget *w, const box &t, bool one_line)
{
  int request_w = -1, request_h = -1;
  gtk_widget_get_size_request(w, &request_w, &request_h);
  gtk_widget_set_size_request(w, -1, -1);
  int min_w = 0, nat_w = 0, min_h = 0, nat_h = 0;
  gtk_widget_get_preferred_width(w, &min_w, &nat_w);
  int width = std::max(t.w, one_line ? nat_w : min_w);
  gtk_widget_get_preferred_height_for_width(w, width, &min_h, &nat_h);
  gtk_widget_set_size_request(w, request_w, request_h);
  return {t.x, t.y, width, std::max(t.h, min_h)};
}

// A group box keeps holding what it held, with the template's margins;
// when it moves, what it holds moves with it.
bool hold(const box &og, box &g, const box &oc, box &c)
{
  box before_g = g, before_c = c;
  c.x = std::max(c.x, oc.x + g.x - og.x);
  c.y = std::max(c.y, oc.y + g.y - og.y);
  g.w = std::max(g.w, c.right() + og.right() - oc.right() - g.x);
  g.h = std::max(g.h, c.bottom() + og.bottom() - oc.bottom() - g.y);
  return before_g.w != g.w || before_g.h != g.h || before_c.x != c.x || before_c.y != c.y;
}

// Control j, after i in the template's reading order, keeps its gap to i:
// to the right of it on the same row, else below it.
bool push(const box &oi, const box &ci, const box &oj, box &cj)
{
  if (overlap(oi, oj) || !overlap(ci, cj)) return false;
  bool same_row = oi.y < oj.bottom() && oj.y < oi.bottom();
  if (same_row && oj.x >= oi.right()) cj.x = ci.right() + oj.x - oi.right();
  else if (oj.y >= oi.bottom()) cj.y = ci.bottom() + oj.y - oi.bottom();
  else return false;
  return true;
}

// A label that names the edit box beside it on its row ("Title :") keeps
// to one line: broken, it would stand beside the box half-read.
bool labels_an_edit(const std::vector<gtk_control *> &cs, const std::vector<box> &o, size_t i)
{
  if (!GTK_IS_LABEL(cs[i]->w)) return false;
  for (size_t j = 0; j < cs.size(); ++j) {
    bool same_row = o[i].y < o[j].bottom() && o[j].y < o[i].bottom();
    if (j != i && cs[j]->kind == UI_CTL_EDIT && same_row && o[j].x >= o[i].right()) return true;
  }
  return false;
}

void resolve(const std::vector<box> &o, std::vector<box> &c)
{
  size_t n = o.size();
  for (size_t pass = 0; pass < 2 * n + 2; ++pass) {
    bool moved = false;
    for (size_t i = 0; i < n; ++i)
      for (size_t j = 0; j < n; ++j) {
        if (i == j) continue;
        if (contains(o[i], o[j])) moved |= hold(o[i], c[i], o[j], c[j]);
        else if (!contains(o[j], o[i])) moved |= push(o[i], c[i], o[j], c[j]);
      }
    if (!moved) return;
  }
}

// A control's look changed (a check box made push-like, a theme's
// change): its room is known once its style is, so the layout follows
// when the loop is idle, once for all the changes made meanwhile.
gboolean refit_idle(gpointer window)
{
  gtk_window_rec *rec = gtk_rec(static_cast<HWND>(window));
  if (rec) {
    rec->refit_queued = false;
    gtk_dlg_fit(rec);
    gtk_dlg_place(rec);  // a toplevel stays centred at its new size
  }
  return G_SOURCE_REMOVE;
}

void on_style_updated(GtkWidget *, gpointer window)
{
  gtk_window_rec *rec = gtk_rec(static_cast<HWND>(window));
  if (!rec || rec->refit_queued) return;
  rec->refit_queued = true;
  g_idle_add(refit_idle, window);
}

}  // namespace

GtkWidget *gtk_dialog_box_new() { return GTK_WIDGET(g_object_new(tarvo_dialog_box_get_type(), nullptr)); }

void gtk_dialog_units(GtkWidget *w, int *cx, int *cy)
{
  units u = base_units(w);
  if (cx) *cx = u.px_x(*cx);
  if (cy) *cy = u.px_y(*cy);
}

void gtk_dlg_put(gtk_window_rec *rec, gtk_control *c, const UI_DIALOG_ITEM &it)
{
  c->placed = true;
  c->tx = it.x, c->ty = it.y, c->tcx = it.cx, c->tcy = it.cy;
  c->flags = it.flags;
  if (GTK_IS_LABEL(c->w) && !(it.flags & UI_CTLF_NOWRAP)) {
    // A static text breaks its lines within its rectangle, and a word
    // longer than the line where it must.
    gtk_label_set_line_wrap(GTK_LABEL(c->w), TRUE);
    gtk_label_set_line_wrap_mode(GTK_LABEL(c->w), PANGO_WRAP_WORD_CHAR);
    gtk_label_set_yalign(GTK_LABEL(c->w), 0);
  }
  if (GTK_IS_ENTRY(c->w)) gtk_entry_set_width_chars(GTK_ENTRY(c->w), 1);  // else 150 pixels at least
  gtk_fixed_put(GTK_FIXED(rec->fixed), c->w, 0, 0);
  g_signal_connect(c->w, "style-updated", G_CALLBACK(on_style_updated), rec->hwnd);
}

void gtk_dlg_fit(gtk_window_rec *rec)
{
  if (!rec || !rec->fixed) return;
  units u = base_units(rec->fixed, rec->font);
  std::vector<gtk_control *> cs;
  std::vector<box> o, c;
  for (gtk_control &k : rec->controls) {
    if (!k.placed) continue;
    cs.push_back(&k);
    o.push_back({u.px_x(k.tx), u.px_y(k.ty), u.px_x(k.tcx), u.px_y(k.tcy)});
  }
  for (size_t i = 0; i < cs.size(); ++i) c.push_back(need_of(cs[i]->w, o[i], labels_an_edit(cs, o, i)));
  resolve(o, c);
  int tw = u.px_x(rec->tcx), th = u.px_y(rec->tcy), w = tw, h = th;
  for (size_t i = 0; i < cs.size(); ++i) {
    gtk_control &k = *cs[i];
    if (k.lx != c[i].x || k.ly != c[i].y || k.lw != c[i].w || k.lh != c[i].h) {
      // Moved only when its place changes: a program's own move stays.
      gtk_widget_set_size_request(k.w, c[i].w, c[i].h);
      gtk_fixed_move(GTK_FIXED(rec->fixed), k.w, c[i].x, c[i].y);
      k.lx = c[i].x, k.ly = c[i].y, k.lw = c[i].w, k.lh = c[i].h;
    }
    // The template's margin to the dialog's edge stays.
    w = std::max(w, c[i].right() + std::max(0, tw - o[i].right()));
    h = std::max(h, c[i].bottom() + std::max(0, th - o[i].bottom()));
  }
  gtk_widget_set_size_request(rec->fixed, w, h);
  rec->laid_w = w, rec->laid_h = h;
}

int gtk_dlg_laid(gtk_window_rec *rec)
{
  if (!rec || !rec->fixed) return -1;
  if (rec->refit_queued) return 0;
  for (gtk_control &k : rec->controls) {
    if (!k.placed || !gtk_widget_is_visible(k.w)) continue;
    int w = -1, h = -1;
    gtk_widget_get_size_request(k.w, &w, &h);
    if (w != k.lw || h != k.lh) continue;  // sized by its program since
    // Shown and not yet given its room, or grown past it with a new look
    // whose layout is still to come.
    int x = 0, y = 0;
    if (!gtk_widget_translate_coordinates(k.w, rec->fixed, 0, 0, &x, &y) || x != k.lx || y != k.ly ||
        gtk_widget_get_allocated_width(k.w) != k.lw || gtk_widget_get_allocated_height(k.w) != k.lh)
      return 0;
  }
  return 1;
}

extern "C" {

int UiDialogFit(HWND dialog, int *cx, int *cy)
{
  gtk_window_rec *rec = gtk_rec(dialog);
  if (!rec || !rec->fixed) return 0;
  gtk_dlg_fit(rec);
  if (cx) *cx = rec->laid_w;
  if (cy) *cy = rec->laid_h;
  return 1;
}

int UiDialogSetFont(HWND dialog, const char *font)
{
  gtk_window_rec *rec = gtk_rec(dialog);
  if (!rec || !rec->fixed || !font) return 0;
  rec->font = font;
  PangoFontDescription *f = pango_font_description_from_string(font);
  for (gtk_control &c : rec->controls) {
    GtkWidget *label = GTK_IS_LABEL(c.w) ? c.w : GTK_IS_BIN(c.w) ? gtk_bin_get_child(GTK_BIN(c.w)) : nullptr;
    if (!label || !GTK_IS_LABEL(label)) continue;
    PangoAttrList *attrs = pango_attr_list_new();
    pango_attr_list_insert(attrs, pango_attr_font_desc_new(f));
    gtk_label_set_attributes(GTK_LABEL(label), attrs);
    pango_attr_list_unref(attrs);
  }
  pango_font_description_free(f);
  gtk_dlg_fit(rec);
  return 1;
}

int UiDialogSize(HWND dialog, int *cx, int *cy)
{
  gtk_window_rec *rec = gtk_rec(dialog);
  if (!rec || !rec->fixed) return 0;
  // A host may give a page more room than its layout asks for (a row of
  // buttons wider than it): the page fills what it is given.
  bool given = gtk_widget_get_realized(rec->fixed);
  if (cx) *cx = std::max(rec->laid_w, given ? gtk_widget_get_allocated_width(rec->fixed) : 0);
  if (cy) *cy = std::max(rec->laid_h, given ? gtk_widget_get_allocated_height(rec->fixed) : 0);
  return 1;
}

int UiDlgItemRect(HWND dialog, UINT id, RECT_XYWH *out)
{
  gtk_window_rec *rec = gtk_rec(dialog);
  gtk_control *c = gtk_control_of(rec, id);
  if (!c || !c->placed || !out) return 0;
  int w = 0, h = 0;
  gtk_widget_get_size_request(c->w, &w, &h);
  GValue x = G_VALUE_INIT, y = G_VALUE_INIT;
  g_value_init(&x, G_TYPE_INT);
  g_value_init(&y, G_TYPE_INT);
  gtk_container_child_get_property(GTK_CONTAINER(rec->fixed), c->w, "x", &x);
  gtk_container_child_get_property(GTK_CONTAINER(rec->fixed), c->w, "y", &y);
  *out = {g_value_get_int(&x), g_value_get_int(&y), w, h};
  return 1;
}

}  // extern "C"
