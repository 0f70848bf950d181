// The folder chooser: OK is enabled only while the caller's decision on
// the selected folder says so.
#include "gtk_internal.h"

namespace {

void decide(gtk_window_rec *rec, const char *path)
{
  rec->folder = path ? path : "";
  rec->ok_enabled = path && (!rec->decide || rec->decide(path, rec->decide_user));
  gtk_dialog_set_response_sensitive(GTK_DIALOG(rec->top), GTK_RESPONSE_ACCEPT, rec->ok_enabled);
}

void on_selection(GtkFileChooser *chooser, gpointer window)
{
  gtk_window_rec *rec = gtk_rec(static_cast<HWND>(window));
  if (!rec || rec->quiet) return;  // the automation picked the folder
  gchar *path = gtk_file_chooser_get_filename(chooser);
  if (!path) path = gtk_file_chooser_get_current_folder(chooser);
  decide(rec, path);
  g_free(path);
}

void on_response(GtkDialog *, gint response, gpointer window)
{
  HWND h = static_cast<HWND>(window);
  gtk_window_rec *rec = gtk_rec(h);
  if (response == GTK_RESPONSE_ACCEPT && rec && !rec->ok_enabled) return;
  EndDialog(h, response == GTK_RESPONSE_ACCEPT ? IDOK : IDCANCEL);
}

LRESULT folder_proc(HWND h, UINT msg, WPARAM w, LPARAM)
{
  if (msg == WM_COMMAND && UI_HIWORD(w) == BN_CLICKED) {
    gtk_window_rec *rec = gtk_rec(h);
    if (UI_LOWORD(w) == IDCANCEL || (UI_LOWORD(w) == IDOK && rec && rec->ok_enabled)) EndDialog(h, UI_LOWORD(w));
  }
  if (msg == WM_NCDESTROY) gtk_rec_drop(h);
  return 0;
}

}  // namespace

extern "C" {

int UiFolderChoose(HWND owner, const char *title, UI_FOLDER_DECIDE decide_fn, void *user, char *out, uint32_t size)
{
  if (!out || size == 0 || !UiGtkInit(nullptr, nullptr)) return 0;
  auto *rec = new gtk_window_rec;
  rec->decide = decide_fn;
  rec->decide_user = user;
  if (!gtk_rec_add(rec, UI_DIALOG_CLASS, title ? title : "", folder_proc, nullptr)) {
    delete rec;
    return 0;
  }
  HWND h = rec->hwnd;
  rec->top = gtk_file_chooser_dialog_new(title ? title : "", gtk_owner_window(owner), GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER,
                                         "_Cancel", GTK_RESPONSE_CANCEL, "_OK", GTK_RESPONSE_ACCEPT, nullptr);
  gtk_window_set_modal(GTK_WINDOW(rec->top), TRUE);
  gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(rec->top), TRUE);
  g_signal_connect(rec->top, "selection-changed", G_CALLBACK(on_selection), h);
  g_signal_connect(rec->top, "current-folder-changed", G_CALLBACK(on_selection), h);
  g_signal_connect(rec->top, "response", G_CALLBACK(on_response), h);
  g_signal_connect(rec->top, "delete-event", G_CALLBACK(gtk_true), nullptr);
  decide(rec, nullptr);
  gtk_dlg_place(rec);  // inside the work area, centred on the owner, whatever size the chooser takes
  gtk_widget_show_all(rec->top);
  intptr_t r = ModalLoop(h);
  std::string path = rec->folder;
  DestroyWindow(h);
  if (r != IDOK || path.empty() || path.size() >= size) return 0;
  path.copy(out, path.size());
  out[path.size()] = '\0';
  return 1;
}

}  // extern "C"

// The automation's selection: as if the user had picked path.
int gtk_folder_select(HWND window, const char *path)
{
  gtk_window_rec *rec = gtk_rec(window);
  if (!rec || !rec->top || !GTK_IS_FILE_CHOOSER(rec->top)) return -1;
  rec->quiet = 1;
  gtk_file_chooser_select_filename(GTK_FILE_CHOOSER(rec->top), path);
  decide(rec, path);
  return rec->ok_enabled;
}
