// Dialogs inside another window, and combo boxes with the CB_* messages.
#include "gtk_internal.h"

#include <tarvo_ui/ui_controls.h>
#include <tarvo_ui/ui_gdi.h>
#include <tarvo_ui/ui_resource.h>

#include <cstring>
#include <vector>

GtkWidget *gtk_custom_control(HWND dialog);

namespace {

// The item data of a combo box, kept on its widget.
struct combo_data {
  std::vector<LPARAM> items;
};

HWND owner_dialog(GtkWidget *w) { return static_cast<HWND>(g_object_get_data(G_OBJECT(w), "tarvo-dialog")); }
UINT control_id(GtkWidget *w) { return UINT(GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(w), "tarvo-id"))); }

void notify(GtkWidget *w, UINT code)
{
  HWND h = owner_dialog(w);
  gtk_window_rec *rec = gtk_rec(h);
  if (!rec || rec->quiet) return;
  SendMessage(h, WM_COMMAND, UI_MAKEWPARAM(control_id(w), code), 0);
}

void on_button(GtkButton *b, gpointer) { notify(GTK_WIDGET(b), BN_CLICKED); }
void on_combo_changed(GtkComboBox *c, gpointer)
{
  if (gtk_combo_box_get_active(c) >= 0) notify(GTK_WIDGET(c), CBN_SELCHANGE);
}
gboolean on_focus_out(GtkWidget *w, GdkEvent *, gpointer combo)
{
  notify(combo ? GTK_WIDGET(combo) : w, CBN_KILLFOCUS);
  return FALSE;
}

// The dialog paints its background before its controls draw.
gboolean on_dialog_draw(GtkWidget *, cairo_t *cr, gpointer window)
{
  HDC dc = UiDcFromCairo(cr);
  SendMessage(static_cast<HWND>(window), WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  DeleteDC(dc);
  return FALSE;
}

LRESULT child_proc(HWND h, UINT msg, WPARAM w, LPARAM l)
{
  gtk_window_rec *rec = gtk_rec(h);
  LRESULT r = rec && rec->proc ? rec->proc(h, msg, w, l) : 0;
  if (msg == WM_NCDESTROY) gtk_rec_drop(h);
  return r;
}

GtkWidget *page_control(HWND dialog, const UI_DIALOG_ITEM &it, const std::string &text)
{
  switch (it.kind) {
    case UI_CTL_CUSTOM: return gtk_custom_control(dialog);
    case UI_CTL_EDIT: return gtk_entry_new();
    case UI_CTL_COMBO:
    case UI_CTL_DROPLIST: {
      GtkWidget *c = it.kind == UI_CTL_COMBO ? gtk_combo_box_text_new_with_entry() : gtk_combo_box_text_new();
      gtk_combo_fit(c);
      return c;
    }
    default: return gtk_caption_control(it.kind, text.c_str());
  }
}

void wire(HWND h, GtkWidget *w, const UI_DIALOG_ITEM &it)
{
  g_object_set_data(G_OBJECT(w), "tarvo-id", GUINT_TO_POINTER(it.id));
  g_object_set_data(G_OBJECT(w), "tarvo-dialog", h);
  if (GTK_IS_BUTTON(w)) g_signal_connect(w, "clicked", G_CALLBACK(on_button), nullptr);
  if (GTK_IS_COMBO_BOX(w)) {
    g_object_set_data_full(G_OBJECT(w), "tarvo-combo", new combo_data, [](gpointer p) {
      delete static_cast<combo_data *>(p);
    });
    g_signal_connect(w, "changed", G_CALLBACK(on_combo_changed), nullptr);
    GtkWidget *entry = gtk_bin_get_child(GTK_BIN(w));
    if (it.kind == UI_CTL_COMBO && entry) g_signal_connect(entry, "focus-out-event", G_CALLBACK(on_focus_out), w);
    else g_signal_connect(w, "focus-out-event", G_CALLBACK(on_focus_out), nullptr);
  }
}

std::string template_text(const UI_DIALOG_TEMPLATE *t, const UI_DIALOG_ITEM &it)
{
  if (it.text) return it.text;
  char buf[1024];
  return LoadDialogText(t->id, it.id, buf, sizeof buf) ? buf : "";
}

GtkWidget *container_of(HWND parent)
{
  if (GtkWidget *content = UiFrameContent(parent)) return content;
  GtkWidget *top = UiGtkWidget(parent);
  return top && GTK_IS_CONTAINER(top) ? top : nullptr;
}

int combo_count(GtkComboBox *c) { return gtk_tree_model_iter_n_children(gtk_combo_box_get_model(c), nullptr); }

LRESULT combo_message(GtkWidget *w, UINT msg, WPARAM wp, LPARAM lp)
{
  GtkComboBox *c = GTK_COMBO_BOX(w);
  auto *data = static_cast<combo_data *>(g_object_get_data(G_OBJECT(w), "tarvo-combo"));
  int count = combo_count(c);
  int index = int(intptr_t(wp));
  switch (msg) {
    case CB_GETCOUNT: return count;
    case CB_GETCURSEL: return gtk_combo_box_get_active(c);
    case CB_ADDSTRING:
      if (!lp) return CB_ERR;
      gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(w), reinterpret_cast<const char *>(lp));
      data->items.push_back(0);
      return count;
    case CB_RESETCONTENT:
      gtk_combo_box_text_remove_all(GTK_COMBO_BOX_TEXT(w));
      data->items.clear();
      return 0;
    case CB_SETCURSEL:
      if (index >= count) return CB_ERR;
      gtk_combo_box_set_active(c, index < 0 ? -1 : index);
      if (index < 0 && gtk_combo_box_get_has_entry(c))
        gtk_entry_set_text(GTK_ENTRY(gtk_bin_get_child(GTK_BIN(w))), "");
      return index < 0 ? CB_ERR : index;
    case WM_GETTEXT:
    case WM_SETTEXT: {
      GtkWidget *entry = gtk_bin_get_child(GTK_BIN(w));
      if (!lp) return 0;
      if (msg == WM_SETTEXT) {
        if (entry && GTK_IS_ENTRY(entry)) {
          gtk_entry_set_text(GTK_ENTRY(entry), reinterpret_cast<const char *>(lp));
          return 1;
        }
        // A list without an edit field shows only its items: the one of
        // that text is selected.
        LRESULT at = combo_message(w, CB_FINDSTRINGEXACT, WPARAM(-1), lp);
        if (at == CB_ERR) return CB_ERR;
        gtk_combo_box_set_active(c, int(at));
        return 1;
      }
      if (wp == 0) return 0;
      gchar *text = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(w));
      size_t n = g_strlcpy(reinterpret_cast<char *>(lp), text ? text : "", wp);
      g_free(text);
      return LRESULT(n < wp ? n : wp - 1);
    }
    case CB_GETITEMDATA: return index >= 0 && index < count ? data->items[size_t(index)] : CB_ERR;
    case CB_SETITEMDATA:
      if (index < 0 || index >= count) return CB_ERR;
      data->items[size_t(index)] = lp;
      return 1;
    case CB_GETLBTEXT:
    case CB_FINDSTRINGEXACT: {
      GtkTreeModel *m = gtk_combo_box_get_model(c);
      GtkTreeIter iter;
      int col = gtk_combo_box_get_entry_text_column(c);
      if (col < 0) col = 0;
      int i = 0;
      for (gboolean ok = gtk_tree_model_get_iter_first(m, &iter); ok; ok = gtk_tree_model_iter_next(m, &iter), ++i) {
        gchar *text = nullptr;
        gtk_tree_model_get(m, &iter, col, &text, -1);
        bool hit = false;
        if (msg == CB_GETLBTEXT && i == index && lp) {
          g_strlcpy(reinterpret_cast<char *>(lp), text ? text : "", UI_COMBO_TEXT_MAX);
          hit = true;
        }
        if (msg == CB_FINDSTRINGEXACT && i > index && lp && text &&
            g_ascii_strcasecmp(text, reinterpret_cast<const char *>(lp)) == 0)
          hit = true;
        g_free(text);
        if (hit) return msg == CB_GETLBTEXT ? LRESULT(std::strlen(reinterpret_cast<char *>(lp))) : i;
      }
      return CB_ERR;
    }
    default: return CB_ERR;
  }
}

}  // namespace

UINT gtk_control_get_text(gtk_control *c, char *buf, uint32_t size)
{
  std::string t;
  if (GTK_IS_COMBO_BOX_TEXT(c->w)) return UINT(combo_message(c->w, WM_GETTEXT, size, reinterpret_cast<LPARAM>(buf)));
  if (GTK_IS_ENTRY(c->w)) t = gtk_entry_get_text(GTK_ENTRY(c->w));
  else if (GTK_IS_LABEL(c->w)) t = gtk_caption_text(gtk_label_get_label(GTK_LABEL(c->w)));
  else if (GTK_IS_BUTTON(c->w)) t = gtk_caption_text(gtk_button_get_label(GTK_BUTTON(c->w)));
  else if (GTK_IS_FRAME(c->w)) {
    GtkWidget *l = gtk_frame_get_label_widget(GTK_FRAME(c->w));
    if (l && GTK_IS_LABEL(l)) t = gtk_caption_text(gtk_label_get_label(GTK_LABEL(l)));
  }
  size_t n = g_strlcpy(buf, t.c_str(), size);
  return n < size ? UINT(n) : UINT(size - 1);
}

int gtk_control_set_text(gtk_window_rec *rec, gtk_control *c, const char *text)
{
  std::string m = gtk_mnemonic_text(text);
  if (GTK_IS_COMBO_BOX_TEXT(c->w)) {
    rec->quiet++;  // a program's own change sends no notice
    LRESULT r = combo_message(c->w, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    rec->quiet--;
    return r == 1;
  }
  if (GTK_IS_ENTRY(c->w)) gtk_entry_set_text(GTK_ENTRY(c->w), text);
  else if (GTK_IS_LABEL(c->w)) gtk_label_set_text_with_mnemonic(GTK_LABEL(c->w), m.c_str());
  else if (GTK_IS_BUTTON(c->w)) {
    gtk_button_set_label(GTK_BUTTON(c->w), m.c_str());
    gtk_button_set_use_underline(GTK_BUTTON(c->w), TRUE);
  } else if (GTK_IS_FRAME(c->w)) {
    GtkWidget *l = gtk_frame_get_label_widget(GTK_FRAME(c->w));
    if (l && GTK_IS_LABEL(l)) gtk_label_set_text_with_mnemonic(GTK_LABEL(l), m.c_str());
    else gtk_frame_set_label_widget(GTK_FRAME(c->w), gtk_label_new_with_mnemonic(m.c_str()));
  } else {
    return 0;
  }
  return 1;
}

extern "C" {

void UiDialogUnitsToPixels(const UI_DIALOG_TEMPLATE *t, int *cx, int *cy)
{
  int x = t ? t->cx : 0, y = t ? t->cy : 0;
  if (t && UiGtkInit(nullptr, nullptr)) {
    // Measured in the font a dialog's box has: a label's, the theme's.
    GtkWidget *probe = gtk_label_new("");
    g_object_ref_sink(probe);
    gtk_dialog_units(probe, &x, &y);
    gtk_widget_destroy(probe);
    g_object_unref(probe);
  }
  if (cx) *cx = x;
  if (cy) *cy = y;
}

HWND UiCreateChildDialog(HWND parent, const UI_DIALOG_TEMPLATE *t, WNDPROC proc, void *user)
{
  if (!t || !UiGtkInit(nullptr, nullptr)) return nullptr;
  GtkWidget *into = container_of(parent);
  if (!into) return nullptr;
  auto *rec = new gtk_window_rec;
  rec->proc = proc;
  rec->dialog_id = t->id;
  if (!gtk_rec_add(rec, UI_DIALOG_CLASS, "", child_proc, user)) {
    delete rec;
    return nullptr;
  }
  GtkWidget *fixed = gtk_dialog_box_new();
  rec->top = rec->fixed = fixed;
  rec->tcx = t->cx, rec->tcy = t->cy;
  g_signal_connect(fixed, "draw", G_CALLBACK(on_dialog_draw), rec->hwnd);
  gtk_container_add(GTK_CONTAINER(into), fixed);  // styled as in its window before it is measured
  for (uint32_t i = 0; i < t->item_count; ++i) {
    const UI_DIALOG_ITEM &it = t->items[i];
    GtkWidget *w = page_control(rec->hwnd, it, template_text(t, it));
    if (!w) continue;
    wire(rec->hwnd, w, it);
    rec->controls.push_back({it.id, it.kind, w});
    gtk_dlg_put(rec, &rec->controls.back(), it);
  }
  gtk_dlg_fit(rec);
  gtk_widget_show_all(fixed);
  for (uint32_t i = 0; i < t->item_count; ++i) {
    if (t->items[i].flags & UI_CTLF_HIDDEN) ShowDlgItem(rec->hwnd, t->items[i].id, 0);
    if (t->items[i].flags & UI_CTLF_DISABLED) EnableDlgItem(rec->hwnd, t->items[i].id, 0);
  }
  gtk_template_finish(rec);
  gtk_widget_set_no_show_all(fixed, TRUE);  // Show hides and shows the page
  HWND h = rec->hwnd;
  SendMessage(h, WM_INITDIALOG, 0, reinterpret_cast<LPARAM>(user));
  if (gtk_rec(h) == rec) gtk_dlg_fit(rec);  // the texts and items it set
  return h;
}

int UiShowChildDialog(HWND dialog, int show)
{
  gtk_window_rec *rec = gtk_rec(dialog);
  if (!rec || !rec->top || GTK_IS_WINDOW(rec->top)) return 0;
  gtk_widget_set_visible(rec->top, show ? TRUE : FALSE);
  return 1;
}

LRESULT SendDlgItemMessage(HWND dialog, UINT id, UINT msg, WPARAM wparam, LPARAM lparam)
{
  gtk_window_rec *rec = gtk_rec(dialog);
  gtk_control *c = gtk_control_of(rec, id);
  if (!c || !GTK_IS_COMBO_BOX_TEXT(c->w)) return CB_ERR;
  rec->quiet++;
  LRESULT r = combo_message(c->w, msg, wparam, lparam);
  rec->quiet--;
  return r;
}

}  // extern "C"
