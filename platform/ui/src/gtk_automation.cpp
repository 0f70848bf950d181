// Automation requests on the GTK windows: their controls, clicks, texts,
// check boxes, keys and mouse buttons sent through the display, the alerts,
// the folder chooser's selection and a window's own drawing as PNG.
#include "gtk_internal.h"

#include <tarvo_ui/ui_automation.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <string>

int gtk_folder_select(HWND window, const char *path);

namespace {

int fail(char *error, uint32_t size, const char *why)
{
  std::snprintf(error, size, "%s", why);
  return 0;
}

bool parse_u(const char *s, int base, uintmax_t *out)
{
  if (!s || !*s || *s == '-' || *s == '+') return false;
  errno = 0;
  char *end;
  *out = strtoumax(s, &end, base);
  return errno == 0 && *end == '\0';
}

gtk_window_rec *window_arg(int argc, const char *const *argv, int need, char *error, uint32_t size)
{
  uintmax_t h;
  if (argc < need || !parse_u(argv[1], 16, &h)) {
    fail(error, size, "usage: see the request list");
    return nullptr;
  }
  gtk_window_rec *rec = gtk_rec(reinterpret_cast<HWND>(uintptr_t(h)));
  if (!rec) fail(error, size, "no such window");
  return rec;
}

gtk_control *control_arg(gtk_window_rec *rec, const char *id, char *error, uint32_t size)
{
  uintmax_t v;
  gtk_control *c = parse_u(id, 10, &v) && v <= 0xFFFFu ? gtk_control_of(rec, UINT(v)) : nullptr;
  if (!c) fail(error, size, "no such control");
  return c;
}

const char *kind_name(UINT kind)
{
  static const char *const names[] = {"?", "static", "button", "defbutton", "check", "radio", "edit", "icon", "group"};
  static const char *const page_names[] = {"combo", "droplist", "custom"};  // ui_controls.h's kinds
  if (kind >= 20 && kind < 20 + sizeof page_names / sizeof page_names[0]) return page_names[kind - 20];
  return kind < sizeof names / sizeof names[0] ? names[kind] : "?";
}

// controls HWND: "content WxH resizable N" for a frame, then one line per
// control: id kind visible enabled checked text.
int cmd_controls(int argc, const char *const *argv, UI_AUTOMATION_EMIT emit, void *ctx, char *error, uint32_t size)
{
  gtk_window_rec *rec = window_arg(argc, argv, 2, error, size);
  if (!rec) return 0;
  if (rec->content) {
    char line[96];
    std::snprintf(line, sizeof line, "content %dx%d resizable %d", gtk_widget_get_allocated_width(rec->content),
                  gtk_widget_get_allocated_height(rec->content),
                  GTK_IS_WINDOW(rec->top) ? int(gtk_window_get_resizable(GTK_WINDOW(rec->top))) : 0);
    emit(ctx, line);
  }
  for (gtk_control &c : rec->controls) {
    char text[1024];
    gtk_control_get_text(&c, text, sizeof text);  // ids may repeat (0 for labels)
    int checked = GTK_IS_TOGGLE_BUTTON(c.w) && gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(c.w));
    std::string line = std::to_string(c.id) + " " + kind_name(c.kind) + " " +
                       std::to_string(int(gtk_widget_get_visible(c.w))) + " " +
                       std::to_string(int(gtk_widget_is_sensitive(c.w))) + " " + std::to_string(checked) + " " + text;
    emit(ctx, line.c_str());
  }
  return 1;
}

// The label that shows a control's text: the static itself, a button's or
// a group box's own label.
GtkWidget *text_widget(GtkWidget *w)
{
  if (GTK_IS_LABEL(w)) return w;
  if (GTK_IS_FRAME(w)) return gtk_frame_get_label_widget(GTK_FRAME(w));
  if (GTK_IS_BUTTON(w) && !GTK_IS_COMBO_BOX(w)) {
    GtkWidget *child = gtk_bin_get_child(GTK_BIN(w));
    return child && GTK_IS_LABEL(child) ? child : nullptr;
  }
  return nullptr;
}

// The font a label draws in: its style's, with its own attributes over
// it, named by the face it resolves to.
std::string label_font(GtkWidget *label)
{
  PangoFontDescription *f = pango_font_description_copy(pango_context_get_font_description(gtk_widget_get_pango_context(label)));
  if (PangoAttrList *attrs = gtk_label_get_attributes(GTK_LABEL(label))) {
    PangoAttrIterator *it = pango_attr_list_get_iterator(attrs);
    PangoFontDescription *own = pango_font_description_new();
    pango_attr_iterator_get_font(it, own, nullptr, nullptr);
    pango_font_description_merge(f, own, TRUE);
    pango_font_description_free(own);
    pango_attr_iterator_destroy(it);
  }
  // The face the font's family resolves to here (the locale can pick it).
  if (PangoFont *face = pango_context_load_font(gtk_widget_get_pango_context(label), f)) {
    PangoFontDescription *real = pango_font_describe(face);
    pango_font_description_set_family(f, pango_font_description_get_family(real));
    pango_font_description_free(real);
    g_object_unref(face);
  }
  char *text = pango_font_description_to_string(f);
  std::string out = text;
  g_free(text);
  pango_font_description_free(f);
  return out;
}

// A widget's rectangle in the coordinates of the window's own drawing.
std::string rect_in(GtkWidget *w, GtkWidget *top)
{
  int x = 0, y = 0;
  gtk_widget_translate_coordinates(w, top, 0, 0, &x, &y);
  return std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(gtk_widget_get_allocated_width(w)) + " " +
         std::to_string(gtk_widget_get_allocated_height(w));
}

// layout HWND: "window X Y W H" (its place on the screen and size), for a
// toplevel "frame X Y W H" (the same with the window manager's frame) and,
// for one centred by the layer, "placed" once it stands where it was sent
// at its final size ("placing" before), for a template dialog "laid 1"
// once its controls stand where its layout put them ("laid 0" before),
// then one line per control: id kind visible, its rectangle, its text's
// rectangle ("- - - -" without a text), then "|wrap|language|font|text"
// (the language that picks the fonts).
int cmd_layout(int argc, const char *const *argv, UI_AUTOMATION_EMIT emit, void *ctx, char *error, uint32_t size)
{
  gtk_window_rec *rec = window_arg(argc, argv, 2, error, size);
  if (!rec) return 0;
  GtkWidget *top = rec->top, *window = top ? gtk_widget_get_toplevel(top) : nullptr;
  if (!window || !GTK_IS_WINDOW(window) || !gtk_widget_get_realized(window)) return fail(error, size, "not shown");
  int x = 0, y = 0, dx = 0, dy = 0;
  gdk_window_get_origin(gtk_widget_get_window(window), &x, &y);
  int w = gtk_widget_get_allocated_width(top), h = gtk_widget_get_allocated_height(top);
  if (top != window) {
    // A dialog inside another window: the part of it that window shows.
    gtk_widget_translate_coordinates(top, window, 0, 0, &dx, &dy);
    w = std::min(w, gtk_widget_get_allocated_width(window) - dx);
    h = std::min(h, gtk_widget_get_allocated_height(window) - dy);
  }
  std::string head = "window " + std::to_string(x + dx) + " " + std::to_string(y + dy) + " " + std::to_string(w) +
                     " " + std::to_string(h);
  emit(ctx, head.c_str());
  if (top == window) {
    // The window with the window manager's frame, as the user sees it.
    GdkRectangle f;
    gdk_window_get_frame_extents(gtk_widget_get_window(window), &f);
    std::string frame = "frame " + std::to_string(f.x) + " " + std::to_string(f.y) + " " + std::to_string(f.width) +
                        " " + std::to_string(f.height);
    int placed = gtk_dlg_placed(window, f);  // the frame as reported beside it
    if (placed >= 0) frame += placed && !rec->refit_queued ? " placed" : " placing";
    emit(ctx, frame.c_str());
  }
  int laid = gtk_dlg_laid(rec);
  if (laid >= 0) emit(ctx, laid ? "laid 1" : "laid 0");
  for (gtk_control &c : rec->controls) {
    GtkWidget *t = text_widget(c.w);
    std::string line = std::to_string(c.id) + " " + kind_name(c.kind) + " " +
                       std::to_string(int(gtk_widget_is_visible(c.w))) + " " + rect_in(c.w, top) + " ";
    if (t) {
      PangoLanguage *lang = pango_context_get_language(gtk_widget_get_pango_context(t));
      line += rect_in(t, top) + "|" + std::to_string(int(gtk_label_get_line_wrap(GTK_LABEL(t)))) + "|" +
              (lang ? pango_language_to_string(lang) : "") + "|" + label_font(t) + "|" + gtk_label_get_text(GTK_LABEL(t));
    } else {
      line += "- - - -|0|||";
    }
    emit(ctx, line.c_str());
  }
  return 1;
}

// click HWND ID: the control as the user clicks it; without such a control
// (the folder chooser's buttons) the BN_CLICKED alone.
int cmd_click(int argc, const char *const *argv, UI_AUTOMATION_EMIT, void *, char *error, uint32_t size)
{
  gtk_window_rec *rec = window_arg(argc, argv, 3, error, size);
  uintmax_t id;
  if (!rec || !parse_u(argv[2], 10, &id) || id > 0xFFFFu) return rec ? fail(error, size, "bad id") : 0;
  if (gtk_control *c = gtk_control_of(rec, UINT(id)))
    return gtk_control_click(c) ? 1 : fail(error, size, "not clickable");
  PostMessage(rec->hwnd, WM_COMMAND, UI_MAKEWPARAM(id, BN_CLICKED), 0);
  return 1;
}

// settext HWND ID TEXT...: the words joined by single spaces.
int cmd_settext(int argc, const char *const *argv, UI_AUTOMATION_EMIT, void *, char *error, uint32_t size)
{
  gtk_window_rec *rec = window_arg(argc, argv, 3, error, size);
  gtk_control *c = rec ? control_arg(rec, argv[2], error, size) : nullptr;
  if (!c) return 0;
  std::string text;
  for (int i = 3; i < argc; ++i) text += (i > 3 ? " " : "") + std::string(argv[i]);
  return SetDlgItemText(rec->hwnd, c->id, text.c_str()) ? 1 : fail(error, size, "no text there");
}

// check HWND ID 0|1: as the user's click when it changes the box.
int cmd_check(int argc, const char *const *argv, UI_AUTOMATION_EMIT, void *, char *error, uint32_t size)
{
  gtk_window_rec *rec = window_arg(argc, argv, 4, error, size);
  gtk_control *c = rec ? control_arg(rec, argv[2], error, size) : nullptr;
  if (!c || !GTK_IS_TOGGLE_BUTTON(c->w)) return c ? fail(error, size, "not a check box") : 0;
  bool want = argv[3][0] == '1';
  if (bool(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(c->w))) != want) gtk_control_click(c);
  return 1;
}

// select HWND ID INDEX: a list's item picked as the user picks it.
int cmd_select(int argc, const char *const *argv, UI_AUTOMATION_EMIT, void *, char *error, uint32_t size)
{
  gtk_window_rec *rec = window_arg(argc, argv, 4, error, size);
  gtk_control *c = rec ? control_arg(rec, argv[2], error, size) : nullptr;
  uintmax_t index;
  if (!c || !GTK_IS_COMBO_BOX(c->w)) return c ? fail(error, size, "not a list") : 0;
  GtkComboBox *combo = GTK_COMBO_BOX(c->w);
  if (!parse_u(argv[3], 10, &index) || index >= uintmax_t(gtk_tree_model_iter_n_children(gtk_combo_box_get_model(combo), nullptr)))
    return fail(error, size, "no such item");
  gtk_combo_box_set_active(combo, int(index));
  return 1;
}

GdkWindow *gdk_of(gtk_window_rec *rec) { return rec->top ? gtk_widget_get_window(rec->top) : nullptr; }

// Events are handed to GTK's own dispatch, as if the display had sent
// them: the window's handlers run before the focused widget's.
void deliver(GdkEvent *e, GdkWindow *w, GdkDevice *device)
{
  e->any.window = GDK_WINDOW(g_object_ref(w));
  e->any.send_event = TRUE;
  gdk_event_set_device(e, device);
  gtk_main_do_event(e);
  gdk_event_free(e);
}

void send_key(GdkWindow *w, guint key, GdkModifierType mods, GdkEventType type)
{
  GdkDisplay *d = gdk_window_get_display(w);
  GdkEvent *e = gdk_event_new(type);
  e->key.keyval = key;
  e->key.state = mods;
  e->key.time = GDK_CURRENT_TIME;
  GdkKeymapKey *keys = nullptr;
  gint n = 0;
  if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(d), key, &keys, &n) && n > 0)
    e->key.hardware_keycode = guint16(keys[0].keycode);
  g_free(keys);
  deliver(e, w, gdk_seat_get_keyboard(gdk_display_get_default_seat(d)));
}

// key HWND ACCEL: an accelerator text ("<Control>w", "<Alt>F4", "Return")
// pressed and released.
int cmd_key(int argc, const char *const *argv, UI_AUTOMATION_EMIT, void *, char *error, uint32_t size)
{
  gtk_window_rec *rec = window_arg(argc, argv, 3, error, size);
  GdkWindow *w = rec ? gdk_of(rec) : nullptr;
  if (!w) return rec ? fail(error, size, "not shown") : 0;
  guint key = 0;
  GdkModifierType mods = GdkModifierType(0);
  gtk_accelerator_parse(argv[2], &key, &mods);
  if (!key) return fail(error, size, "bad key");
  send_key(w, key, mods, GDK_KEY_PRESS);
  if (gtk_rec(rec->hwnd) == rec) send_key(w, key, mods, GDK_KEY_RELEASE);  // still there
  return 1;
}

// The innermost input window under (x, y) of w, and the point in it.
GdkWindow *window_at(GdkWindow *w, int *x, int *y)
{
  for (GList *l = gdk_window_peek_children(w); l; l = l->next) {
    GdkWindow *c = GDK_WINDOW(l->data);
    int cx, cy;
    gdk_window_get_position(c, &cx, &cy);
    int cw = gdk_window_get_width(c), ch = gdk_window_get_height(c);
    if (!gdk_window_is_visible(c) || *x < cx || *y < cy || *x >= cx + cw || *y >= cy + ch) continue;
    *x -= cx;
    *y -= cy;
    return window_at(c, x, y);
  }
  return w;
}

void send_button(GdkWindow *top, int x, int y, guint button, GdkEventType type)
{
  GdkDisplay *d = gdk_window_get_display(top);
  int lx = x, ly = y;
  GdkWindow *w = window_at(top, &lx, &ly);
  GdkEvent *e = gdk_event_new(type);
  e->button.x = lx;
  e->button.y = ly;
  e->button.x_root = x;
  e->button.y_root = y;
  e->button.button = button;
  e->button.time = GDK_CURRENT_TIME;
  if (type == GDK_BUTTON_RELEASE) e->button.state = GDK_BUTTON1_MASK << (button - 1);
  deliver(e, w, gdk_seat_get_pointer(gdk_display_get_default_seat(d)));
}

// mouse HWND X Y [BUTTON]: a press and release at window coordinates.
int cmd_mouse(int argc, const char *const *argv, UI_AUTOMATION_EMIT, void *, char *error, uint32_t size)
{
  gtk_window_rec *rec = window_arg(argc, argv, 4, error, size);
  GdkWindow *w = rec ? gdk_of(rec) : nullptr;
  uintmax_t x, y, b = 1;
  if (!w) return rec ? fail(error, size, "not shown") : 0;
  if (!parse_u(argv[2], 10, &x) || !parse_u(argv[3], 10, &y) || (argc > 4 && !parse_u(argv[4], 10, &b)) || b < 1 ||
      b > 5 || x > 65535 || y > 65535)
    return fail(error, size, "usage: mouse HWND X Y [BUTTON]");
  send_button(w, int(x), int(y), guint(b), GDK_BUTTON_PRESS);
  if (gtk_rec(rec->hwnd) == rec) send_button(w, int(x), int(y), guint(b), GDK_BUTTON_RELEASE);
  return 1;
}

int cmd_alerts(int, const char *const *, UI_AUTOMATION_EMIT emit, void *ctx, char *, uint32_t)
{
  for (uint32_t i = 0, n = UiAlertCount(); i < n; ++i) emit(ctx, UiAlertAt(i));
  return 1;
}

// folder-select HWND PATH: answers "ok-enabled 0|1".
int cmd_folder_select(int argc, const char *const *argv, UI_AUTOMATION_EMIT emit, void *ctx, char *error, uint32_t size)
{
  gtk_window_rec *rec = window_arg(argc, argv, 3, error, size);
  if (!rec) return 0;
  std::string path;
  for (int i = 2; i < argc; ++i) path += (i > 2 ? " " : "") + std::string(argv[i]);
  int r = gtk_folder_select(rec->hwnd, path.c_str());
  if (r < 0) return fail(error, size, "not a folder chooser");
  emit(ctx, r ? "ok-enabled 1" : "ok-enabled 0");
  return 1;
}

int cmd_screenshot(int argc, const char *const *argv, UI_AUTOMATION_EMIT, void *, char *error, uint32_t size)
{
  gtk_window_rec *rec = window_arg(argc, argv, 3, error, size);
  if (!rec) return 0;
  return UiWindowScreenshot(rec->hwnd, argv[2]) ? 1 : fail(error, size, "not drawn");
}

struct request_row {
  const char *name;
  UI_AUTOMATION_FN fn;
};

const request_row requests[] = {
    {"controls", cmd_controls}, {"click", cmd_click},   {"settext", cmd_settext},
    {"check", cmd_check},       {"key", cmd_key},       {"mouse", cmd_mouse},
    {"alerts", cmd_alerts},     {"folder-select", cmd_folder_select}, {"screenshot", cmd_screenshot},
    {"layout", cmd_layout},     {"select", cmd_select},
};

}  // namespace

int gtk_automation_add()
{
  for (const request_row &r : requests)
    if (!UiAutomationAddCommand(r.name, r.fn)) return 0;
  return 1;
}
