// Dialogs from compiled-in templates and message boxes, both modal on the
// core's loop, with the recorder and the alert list that tests read.
#include "gtk_internal.h"

#include <tarvo_ui/ui_resource.h>

#include <cstring>
#include <deque>
#include <mutex>

namespace {

struct alert_list {
  std::mutex m;
  std::deque<std::string> texts;  // a deque: texts handed out stay put
} alerts;

struct msgbox_record {
  std::string text, caption;
  UINT type;
};

struct recorder {
  int on = 0;
  std::deque<int> answers;
  std::mutex m;
  std::deque<msgbox_record> boxes;  // a deque: texts handed out stay put
} rec_state;

void on_clicked(GtkButton *b, gpointer window)
{
  HWND h = static_cast<HWND>(window);
  gtk_window_rec *rec = gtk_rec(h);
  if (!rec || rec->quiet) return;
  // A radio switched off by its neighbour's click emits "clicked" too.
  if (GTK_IS_RADIO_BUTTON(b) && !gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(b))) return;
  UINT id = UINT(GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(b), "tarvo-id")));
  SendMessage(h, WM_COMMAND, UI_MAKEWPARAM(id, BN_CLICKED), 0);
}

gboolean on_key(GtkWidget *, GdkEventKey *e, gpointer window)
{
  HWND h = static_cast<HWND>(window);
  UINT id = 0;
  if (e->keyval == GDK_KEY_Return || e->keyval == GDK_KEY_KP_Enter) id = IDOK;
  if (e->keyval == GDK_KEY_Escape) id = IDCANCEL;
  if (!id || gtk_key_mods(e->state) & (UI_KEYMOD_CTRL | UI_KEYMOD_ALT)) return FALSE;
  SendMessage(h, WM_COMMAND, UI_MAKEWPARAM(id, BN_CLICKED), 0);
  return TRUE;
}

gboolean on_delete(GtkWidget *, GdkEvent *, gpointer window)
{
  SendMessage(static_cast<HWND>(window), WM_COMMAND, UI_MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  return TRUE;  // the dialog's end destroys it
}

LRESULT dialog_proc(HWND h, UINT msg, WPARAM w, LPARAM l)
{
  gtk_window_rec *rec = gtk_rec(h);
  LRESULT r = rec && rec->proc ? rec->proc(h, msg, w, l) : 0;
  if (msg == WM_COMMAND && UI_HIWORD(w) == BN_CLICKED && r == 0 && (UI_LOWORD(w) == IDOK || UI_LOWORD(w) == IDCANCEL))
    EndDialog(h, UI_LOWORD(w));
  if (msg == WM_NCDESTROY) gtk_rec_drop(h);
  return r;
}

std::string item_text(const UI_DIALOG_TEMPLATE *t, const UI_DIALOG_ITEM &it)
{
  if (it.text) return it.text;
  char buf[1024];
  return LoadDialogText(t->id, it.id, buf, sizeof buf) ? buf : "";
}

GtkWidget *make_control(UINT kind, const std::string &text, GtkWidget **radio_group_leader, UINT flags)
{
  switch (kind) {
    case UI_CTL_RADIO: {
      GtkWidget *leader = (flags & UI_CTLF_GROUP) ? nullptr : *radio_group_leader;
      std::string m = gtk_mnemonic_text(text.c_str());
      GtkWidget *r = leader ? gtk_radio_button_new_with_mnemonic_from_widget(GTK_RADIO_BUTTON(leader), m.c_str())
                            : gtk_radio_button_new_with_mnemonic(nullptr, m.c_str());
      if (!leader) *radio_group_leader = r;
      return r;
    }
    case UI_CTL_EDIT: {
      GtkWidget *e = gtk_entry_new();
      gtk_entry_set_text(GTK_ENTRY(e), text.c_str());
      return e;
    }
    case UI_CTL_ICON: return gtk_image_new_from_icon_name(text.c_str(), GTK_ICON_SIZE_DIALOG);
    default: return gtk_caption_control(kind, text.c_str());
  }
}

gtk_control *add_control(gtk_window_rec *rec, UINT kind, UINT id, GtkWidget *w)
{
  g_object_set_data(G_OBJECT(w), "tarvo-id", GUINT_TO_POINTER(id));
  if (GTK_IS_BUTTON(w)) g_signal_connect(w, "clicked", G_CALLBACK(on_clicked), rec->hwnd);
  rec->controls.push_back({id, kind, w});
  return &rec->controls.back();
}

// The toplevel of a dialog: modal over its owner, fixed size.
GtkWidget *dialog_window(HWND owner, HWND h, const char *caption)
{
  GtkWidget *top = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(top), caption);
  gtk_window_set_resizable(GTK_WINDOW(top), FALSE);
  gtk_window_set_modal(GTK_WINDOW(top), TRUE);
  gtk_window_set_type_hint(GTK_WINDOW(top), GDK_WINDOW_TYPE_HINT_DIALOG);
  if (GtkWindow *o = gtk_owner_window(owner)) gtk_window_set_transient_for(GTK_WINDOW(top), o);
  gtk_window_set_position(GTK_WINDOW(top), GTK_WIN_POS_CENTER);
  g_signal_connect(top, "key-press-event", G_CALLBACK(on_key), h);
  g_signal_connect(top, "delete-event", G_CALLBACK(on_delete), h);
  return top;
}

void build_template(gtk_window_rec *rec, const UI_DIALOG_TEMPLATE *t)
{
  rec->fixed = gtk_dialog_box_new();
  rec->tcx = t->cx, rec->tcy = t->cy;
  gtk_container_add(GTK_CONTAINER(rec->top), rec->fixed);  // styled as in the window before it is measured
  GtkWidget *leader = nullptr;
  for (uint32_t i = 0; i < t->item_count; ++i) {
    const UI_DIALOG_ITEM &it = t->items[i];
    GtkWidget *w = make_control(it.kind, item_text(t, it), &leader, it.flags);
    if (!w) continue;
    gtk_dlg_put(rec, add_control(rec, it.kind, it.id, w), it);
    if (it.kind == UI_CTL_DEFBUTTON) {
      gtk_widget_set_can_default(w, TRUE);
      gtk_window_set_default(GTK_WINDOW(rec->top), w);
    }
  }
  gtk_dlg_fit(rec);
}

void apply_flags(gtk_window_rec *rec, const UI_DIALOG_TEMPLATE *t)
{
  for (uint32_t i = 0; i < t->item_count; ++i) {
    gtk_control *c = gtk_control_of(rec, t->items[i].id);
    if (!c) continue;
    if (t->items[i].flags & UI_CTLF_HIDDEN) gtk_widget_hide(c->w);
    if (t->items[i].flags & UI_CTLF_DISABLED) gtk_widget_set_sensitive(c->w, FALSE);
  }
}

// Runs a built dialog to its end; its modal grab keeps input from the
// owner meanwhile.
intptr_t run_modal(HWND, gtk_window_rec *rec)
{
  intptr_t r = ModalLoop(rec->hwnd);
  DestroyWindow(rec->hwnd);
  return r;
}

gtk_window_rec *new_dialog(HWND owner, const char *caption, WNDPROC proc, void *user)
{
  auto *rec = new gtk_window_rec;
  rec->proc = proc;
  if (!gtk_rec_add(rec, UI_DIALOG_CLASS, caption, dialog_proc, user)) {
    delete rec;
    return nullptr;
  }
  rec->top = dialog_window(owner, rec->hwnd, caption);
  return rec;
}

struct msgbox_button {
  int id;
  const char *en, *ja;
};
const msgbox_button ok_btn = {IDOK, "OK", "OK"}, cancel_btn = {IDCANCEL, "Cancel", "キャンセル"},
                    yes_btn = {IDYES, "Yes", "はい"}, no_btn = {IDNO, "No", "いいえ"};

std::vector<msgbox_button> buttons_of(UINT type)
{
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return {ok_btn, cancel_btn};
    case MB_YESNO: return {yes_btn, no_btn};
    default: return {ok_btn};
  }
}

// The message box's procedure: each button ends it with its id; Escape
// and close give IDNO where there is no Cancel.
LRESULT msgbox_proc(HWND h, UINT msg, WPARAM w, LPARAM)
{
  if (msg != WM_COMMAND) return 0;
  UINT id = UI_LOWORD(w);
  gtk_window_rec *rec = gtk_rec(h);
  if (id == IDCANCEL && rec && !gtk_control_of(rec, IDCANCEL)) id = gtk_control_of(rec, IDNO) ? IDNO : IDOK;
  if (id == IDOK && rec && !gtk_control_of(rec, IDOK)) id = IDYES;  // Enter: the default button
  EndDialog(h, id);
  return 1;
}

// The width a title bar needs for the caption: the caption in bold, and
// room for the window manager's icon and buttons beside it.
int caption_width(GtkWidget *top, const char *caption)
{
  constexpr int kTitleBarButtons = 112;
  PangoLayout *l = gtk_widget_create_pango_layout(top, caption);
  PangoAttrList *bold = pango_attr_list_new();
  pango_attr_list_insert(bold, pango_attr_weight_new(PANGO_WEIGHT_BOLD));
  pango_layout_set_attributes(l, bold);
  pango_attr_list_unref(bold);
  int w = 0;
  pango_layout_get_pixel_size(l, &w, nullptr);
  g_object_unref(l);
  return *caption ? w + kTitleBarButtons : 0;
}

// A message box draws its own title bar, with the caption and a close
// button only: a window manager's frame offers minimise and maximise too
// (a dialog's type hint does not stop every one), and there is nothing to
// minimise or maximise in a box its owner waits on.  Without a window
// manager the caption is seen all the same.
void msgbox_title_bar(GtkWidget *top, const char *caption)
{
  GtkWidget *bar = gtk_header_bar_new();
  gtk_header_bar_set_title(GTK_HEADER_BAR(bar), caption);
  gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(bar), TRUE);
  gtk_header_bar_set_decoration_layout(GTK_HEADER_BAR(bar), ":close");
  gtk_window_set_titlebar(GTK_WINDOW(top), bar);
}

void build_msgbox(gtk_window_rec *rec, const char *text, const char *caption, UINT type)
{
  GtkWidget *box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12), *row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  gtk_container_set_border_width(GTK_CONTAINER(box), 12);
  gtk_widget_set_size_request(box, caption_width(rec->top, caption), -1);  // the caption is never cut
  GtkWidget *label = gtk_label_new(text);  // a message's '&' is no mnemonic
  gtk_label_set_xalign(GTK_LABEL(label), 0);
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_label_set_max_width_chars(GTK_LABEL(label), 60);
  add_control(rec, UI_CTL_STATIC, UI_MSGBOX_TEXT_ID, label);
  gtk_box_pack_start(GTK_BOX(box), label, TRUE, TRUE, 0);
  gtk_widget_set_halign(row, GTK_ALIGN_END);
  int first = 1;
  for (const msgbox_button &b : buttons_of(type)) {
    GtkWidget *w = gtk_button_new_with_label(UiLanguageIsJapanese() ? b.ja : b.en);
    gtk_widget_set_size_request(w, 80, -1);
    add_control(rec, first ? UI_CTL_DEFBUTTON : UI_CTL_BUTTON, UINT(b.id), w);
    gtk_box_pack_start(GTK_BOX(row), w, FALSE, FALSE, 0);
    if (first) {
      gtk_widget_set_can_default(w, TRUE);
      gtk_window_set_default(GTK_WINDOW(rec->top), w);
      gtk_widget_grab_focus(w);
    }
    first = 0;
  }
  gtk_box_pack_start(GTK_BOX(box), row, FALSE, FALSE, 0);
  gtk_container_add(GTK_CONTAINER(rec->top), box);
  msgbox_title_bar(rec->top, caption);
}

}  // namespace

extern "C" {

intptr_t DialogBoxTemplate(HWND owner, const UI_DIALOG_TEMPLATE *t, WNDPROC proc, void *user)
{
  HWND h = CreateDialogTemplate(owner, t, proc, user);
  gtk_window_rec *rec = h ? gtk_rec(h) : nullptr;
  return rec ? run_modal(owner, rec) : -1;
}

HWND CreateDialogTemplate(HWND owner, const UI_DIALOG_TEMPLATE *t, WNDPROC proc, void *user)
{
  if (!t || !UiGtkInit(nullptr, nullptr)) return nullptr;
  char caption[1024] = "";
  if (t->caption) g_strlcpy(caption, t->caption, sizeof caption);
  else LoadDialogText(t->id, 0, caption, sizeof caption);
  gtk_window_rec *rec = new_dialog(owner, caption, proc, user);
  if (!rec) return nullptr;
  HWND h = rec->hwnd;
  rec->dialog_id = t->id;
  build_template(rec, t);
  gtk_dlg_place(rec);
  gtk_widget_show_all(rec->top);
  apply_flags(rec, t);
  gtk_template_finish(rec);
  SendMessage(h, WM_INITDIALOG, 0, reinterpret_cast<LPARAM>(user));
  if (!IsWindow(h)) return nullptr;  // its procedure may have ended it
  gtk_dlg_fit(rec);  // the texts it set
  gtk_dlg_place(rec);
  return h;
}

UINT GetDlgItemText(HWND dialog, UINT id, char *buf, uint32_t size)
{
  gtk_control *c = gtk_control_of(gtk_rec(dialog), id);
  if (!c || !buf || size == 0) return 0;
  return gtk_control_get_text(c, buf, size);
}

int SetDlgItemText(HWND dialog, UINT id, const char *text)
{
  gtk_window_rec *rec = gtk_rec(dialog);
  gtk_control *c = gtk_control_of(rec, id);
  if (!c || !gtk_control_set_text(rec, c, text ? text : "")) return 0;
  if (c->placed) gtk_dlg_fit(rec);
  return 1;
}

int IsDlgButtonChecked(HWND dialog, UINT id)
{
  gtk_control *c = gtk_control_of(gtk_rec(dialog), id);
  return c && GTK_IS_TOGGLE_BUTTON(c->w) && gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(c->w));
}

int CheckDlgButton(HWND dialog, UINT id, int checked)
{
  gtk_window_rec *rec = gtk_rec(dialog);
  gtk_control *c = gtk_control_of(rec, id);
  if (!c || !GTK_IS_TOGGLE_BUTTON(c->w)) return 0;
  rec->quiet++;
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(c->w), checked != 0);
  rec->quiet--;
  return 1;
}

int CheckRadioButton(HWND dialog, UINT first, UINT last, UINT check)
{
  gtk_window_rec *rec = gtk_rec(dialog);
  if (!rec || check < first || check > last) return 0;
  for (UINT id = first; id <= last; ++id)
    if (gtk_control_of(rec, id)) CheckDlgButton(dialog, id, id == check);
  return 1;
}

int ShowDlgItem(HWND dialog, UINT id, int show)
{
  gtk_control *c = gtk_control_of(gtk_rec(dialog), id);
  if (!c) return 0;
  gtk_widget_set_visible(c->w, show != 0);
  return 1;
}

int EnableDlgItem(HWND dialog, UINT id, int enable)
{
  gtk_control *c = gtk_control_of(gtk_rec(dialog), id);
  if (!c) return 0;
  gtk_widget_set_sensitive(c->w, enable != 0);
  return 1;
}

int MessageBox(HWND owner, const char *text, const char *caption, UINT type)
{
  UiAlertAdd(text);
  {
    std::lock_guard<std::mutex> g(rec_state.m);
    rec_state.boxes.push_back({text ? text : "", caption ? caption : "", type});
  }
  if (rec_state.on) {
    std::vector<msgbox_button> buttons = buttons_of(type);
    int a = buttons[0].id;
    if (!rec_state.answers.empty()) {
      a = rec_state.answers.front();
      rec_state.answers.pop_front();
    }
    for (const msgbox_button &b : buttons)
      if (b.id == a) return a;
    return buttons[0].id;  // an answer this box cannot give
  }
  if (!UiGtkInit(nullptr, nullptr)) return 0;  // no display: the box failed
  gtk_window_rec *rec = new_dialog(owner, caption ? caption : "", msgbox_proc, nullptr);
  if (!rec) return 0;
  build_msgbox(rec, text ? text : "", caption ? caption : "", type);
  gtk_dlg_place(rec);  // laid out first: its size is the one the box shows
  gtk_widget_show_all(rec->top);
  return int(run_modal(owner, rec));
}

void UiMessageBoxRecorder(int on) { rec_state.on = on; }
void UiMessageBoxQueueAnswer(int answer) { rec_state.answers.push_back(answer); }

uint32_t UiMessageBoxCount(void)
{
  std::lock_guard<std::mutex> g(rec_state.m);
  return uint32_t(rec_state.boxes.size());
}

int UiMessageBoxAt(uint32_t index, UI_MSGBOX_RECORD *out)
{
  std::lock_guard<std::mutex> g(rec_state.m);
  if (!out || index >= rec_state.boxes.size()) return 0;
  const msgbox_record &b = rec_state.boxes[index];
  *out = {b.text.c_str(), b.caption.c_str(), b.type};
  return 1;
}

void UiAlertAdd(const char *text)
{
  std::lock_guard<std::mutex> g(alerts.m);
  alerts.texts.emplace_back(text ? text : "");
}

uint32_t UiAlertCount(void)
{
  std::lock_guard<std::mutex> g(alerts.m);
  return uint32_t(alerts.texts.size());
}

const char *UiAlertAt(uint32_t index)
{
  std::lock_guard<std::mutex> g(alerts.m);
  return index < alerts.texts.size() ? alerts.texts[index].c_str() : nullptr;
}

}  // extern "C"
