// The GTK backend's window table, start-up and the window calls shared by
// dialogs, frames and other backends' toplevels.
#include "gtk_internal.h"

#include <cairo.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

namespace {

std::map<HWND, gtk_window_rec *> &table()
{
  static auto *t = new std::map<HWND, gtk_window_rec *>;  // windows may go at exit
  return *t;
}

// A toplevel registered by another backend: dropped with its widget.
void on_foreign_destroy(GtkWidget *, gpointer window)
{
  auto it = table().find(static_cast<HWND>(window));
  if (it == table().end()) return;
  delete it->second;
  table().erase(it);
}

// A widget of another library (a web view) may composite its drawing on
// the display, out of the widget tree's own.
bool draws_outside_tree(GtkWidget *w)
{
  const char *type = G_OBJECT_TYPE_NAME(w);
  if (!g_str_has_prefix(type, "Gtk") && !g_str_has_prefix(type, "Tarvo")) return true;
  if (!GTK_IS_CONTAINER(w)) return false;
  GList *kids = gtk_container_get_children(GTK_CONTAINER(w));
  bool hit = false;
  for (GList *l = kids; l && !hit; l = l->next) hit = draws_outside_tree(GTK_WIDGET(l->data));
  g_list_free(kids);
  return hit;
}

}  // namespace

gtk_window_rec *gtk_rec(HWND window)
{
  auto it = table().find(window);
  return it == table().end() ? nullptr : it->second;
}

HWND gtk_rec_add(gtk_window_rec *rec, const char *cls, const char *title, WNDPROC wrapper, void *user)
{
  rec->hwnd = CreateMessageWindow(cls, title, wrapper, user);
  if (rec->hwnd) table()[rec->hwnd] = rec;
  return rec->hwnd;
}

void gtk_rec_drop(HWND window)
{
  auto it = table().find(window);
  if (it == table().end()) return;
  gtk_window_rec *rec = it->second;
  table().erase(it);
  if (rec->top) gtk_widget_destroy(rec->top);
  delete rec;
}

gtk_control *gtk_control_of(gtk_window_rec *rec, UINT id)
{
  if (!rec) return nullptr;
  for (gtk_control &c : rec->controls)
    if (c.id == id) return &c;
  return nullptr;
}

GtkWindow *gtk_owner_window(HWND owner)
{
  gtk_window_rec *rec = gtk_rec(owner);
  return rec && rec->top && GTK_IS_WINDOW(rec->top) ? GTK_WINDOW(rec->top) : nullptr;
}

UINT gtk_key_mods(guint state)
{
  return ((state & GDK_SHIFT_MASK) ? UI_KEYMOD_SHIFT : 0) | ((state & GDK_CONTROL_MASK) ? UI_KEYMOD_CTRL : 0) |
         ((state & GDK_MOD1_MASK) ? UI_KEYMOD_ALT : 0);
}

int gtk_control_click(gtk_control *c)
{
  if (!c || !GTK_IS_BUTTON(c->w) || !gtk_widget_is_sensitive(c->w)) return 0;
  gtk_button_clicked(GTK_BUTTON(c->w));
  return 1;
}

extern "C" {

int UiGtkInit(int *argc, char ***argv)
{
  static int ok = -1;
  if (ok < 0) {
    ok = gtk_init_check(argc, argv) ? 1 : 0;
    if (ok) gtk_automation_add();
    const char *m = std::getenv("TARVO_UI_MSGBOX");
    if (m && std::strcmp(m, "record") == 0) UiMessageBoxRecorder(1);
  }
  return ok;
}

int UiWindowSetTitle(HWND window, const char *title)
{
  gtk_window_rec *rec = gtk_rec(window);
  if (!SetWindowTitle(window, title)) return 0;
  if (rec && rec->top && GTK_IS_WINDOW(rec->top)) gtk_window_set_title(GTK_WINDOW(rec->top), title ? title : "");
  return 1;
}

int UiWindowShow(HWND window)
{
  gtk_window_rec *rec = gtk_rec(window);
  if (!rec || !rec->top) return 0;
  gtk_widget_show_all(rec->top);
  return 1;
}

int UiWindowPresent(HWND window)
{
  gtk_window_rec *rec = gtk_rec(window);
  if (!rec || !rec->top || !GTK_IS_WINDOW(rec->top)) return 0;
  gtk_window_deiconify(GTK_WINDOW(rec->top));
  gtk_window_present(GTK_WINDOW(rec->top));
  return 1;
}

int UiWindowScreenshot(HWND window, const char *png_path)
{
  gtk_window_rec *rec = gtk_rec(window);
  if (!rec || !rec->top || !gtk_widget_get_realized(rec->top) || !png_path) return 0;
  int w = gtk_widget_get_allocated_width(rec->top), h = gtk_widget_get_allocated_height(rec->top);
  if (w <= 0 || h <= 0) return 0;
  // The window's own drawing, which no other window on the display can
  // cover; a web view's page only on the display's pixels of the window.
  GdkPixbuf *pb = nullptr;
  if (draws_outside_tree(rec->top) && (pb = gdk_pixbuf_get_from_window(gtk_widget_get_window(rec->top), 0, 0, w, h))) {
    int ok = gdk_pixbuf_save(pb, png_path, "png", nullptr, nullptr);
    g_object_unref(pb);
    return ok;
  }
  // A size the layout just changed is given out first: a widget waiting
  // for its allocation draws nothing.
  GtkWidget *shown = gtk_widget_get_toplevel(rec->top);
  if (GTK_IS_WINDOW(shown)) gtk_container_check_resize(GTK_CONTAINER(shown));
  w = gtk_widget_get_allocated_width(rec->top), h = gtk_widget_get_allocated_height(rec->top);
  cairo_surface_t *s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  cairo_t *cr = cairo_create(s);
  gtk_widget_draw(rec->top, cr);
  cairo_destroy(cr);
  int ok = cairo_surface_write_to_png(s, png_path) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(s);
  return ok;
}

int UiGtkRegisterWindow(HWND window, GtkWidget *toplevel)
{
  if (!IsWindow(window) || !toplevel || gtk_rec(window)) return 0;
  auto *rec = new gtk_window_rec;
  rec->hwnd = window;
  rec->top = toplevel;
  table()[window] = rec;
  g_signal_connect(toplevel, "destroy", G_CALLBACK(on_foreign_destroy), window);
  return 1;
}

GtkWidget *UiGtkWidget(HWND window)
{
  gtk_window_rec *rec = gtk_rec(window);
  return rec ? rec->top : nullptr;
}

GtkWidget *UiGtkControlWidget(HWND dialog, UINT id)
{
  gtk_control *c = gtk_control_of(gtk_rec(dialog), id);
  return c ? c->w : nullptr;
}

}  // extern "C"

std::string gtk_mnemonic_text(const char *caption)
{
  std::string out;
  for (const char *p = caption ? caption : ""; *p; ++p) {
    if (*p == '_') out += "__";
    else if (*p == '&' && p[1] == '&') out += *++p;
    else if (*p == '&' && p[1]) out += '_';
    else out += *p;
  }
  return out;
}

std::string gtk_caption_text(const char *mnemonic)
{
  std::string out;
  for (const char *p = mnemonic ? mnemonic : ""; *p; ++p) {
    if (*p == '_' && p[1] == '_') out += *++p;
    else if (*p == '_' && p[1]) out += '&';
    else if (*p == '&') out += "&&";
    else out += *p;
  }
  return out;
}

GtkWidget *gtk_caption_control(UINT kind, const char *caption)
{
  std::string m = gtk_mnemonic_text(caption);
  switch (kind) {
    case UI_CTL_STATIC: {
      GtkWidget *l = gtk_label_new_with_mnemonic(m.c_str());
      gtk_label_set_xalign(GTK_LABEL(l), 0);
      return l;
    }
    case UI_CTL_BUTTON:
    case UI_CTL_DEFBUTTON: return gtk_button_new_with_mnemonic(m.c_str());
    case UI_CTL_CHECK: return gtk_check_button_new_with_mnemonic(m.c_str());
    case UI_CTL_GROUPBOX: {
      GtkWidget *f = gtk_frame_new(nullptr);
      if (caption && *caption) gtk_frame_set_label_widget(GTK_FRAME(f), gtk_label_new_with_mnemonic(m.c_str()));
      return f;
    }
    default: return nullptr;
  }
}

void gtk_template_finish(gtk_window_rec *rec)
{
  std::vector<gtk_control> &cs = rec->controls;
  for (size_t i = 0; i < cs.size(); ++i) {
    if (!GTK_IS_LABEL(cs[i].w) || gtk_label_get_mnemonic_keyval(GTK_LABEL(cs[i].w)) == GDK_KEY_VoidSymbol) continue;
    for (size_t j = i + 1; j < cs.size(); ++j)
      if (!GTK_IS_LABEL(cs[j].w) && !GTK_IS_FRAME(cs[j].w)) {
        gtk_label_set_mnemonic_widget(GTK_LABEL(cs[i].w), cs[j].w);
        break;
      }
  }
  for (gtk_control &c : cs) gtk_widget_set_no_show_all(c.w, TRUE);
}

void gtk_combo_fit(GtkWidget *combo)
{
  // The edit field asks for 150 pixels unless told a width in characters,
  // and the items for their full text unless they may be shortened.
  GtkWidget *entry = gtk_bin_get_child(GTK_BIN(combo));
  if (entry && GTK_IS_ENTRY(entry)) gtk_entry_set_width_chars(GTK_ENTRY(entry), 1);
  GList *cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(combo));
  for (GList *l = cells; l; l = l->next)
    if (GTK_IS_CELL_RENDERER_TEXT(l->data)) g_object_set(l->data, "ellipsize", PANGO_ELLIPSIZE_END, nullptr);
  g_list_free(cells);
}
