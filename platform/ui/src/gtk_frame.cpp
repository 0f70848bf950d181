// The fixed frame window: a content area of a given size, a header bar
// whose menu holds the About item, and keys seen before the focused widget.
#include "gtk_internal.h"

namespace {

LRESULT frame_proc(HWND h, UINT msg, WPARAM w, LPARAM l)
{
  gtk_window_rec *rec = gtk_rec(h);
  LRESULT r = rec && rec->proc ? rec->proc(h, msg, w, l) : 0;
  if (msg == WM_CLOSE && r == 0) DestroyWindow(h);
  if (msg == WM_NCDESTROY) gtk_rec_drop(h);
  return r;
}

gboolean on_frame_key(GtkWidget *, GdkEventKey *e, gpointer window)
{
  HWND h = static_cast<HWND>(window);
  gtk_window_rec *rec = gtk_rec(h);
  if (!rec) return FALSE;
  UINT mods = gtk_key_mods(e->state);
  if (rec->hook && rec->hook(h, e->keyval, mods, rec->hook_user)) return TRUE;
  return SendMessage(h, (mods & UI_KEYMOD_ALT) ? WM_SYSKEYDOWN : WM_KEYDOWN, e->keyval, LPARAM(mods)) != 0;
}

gboolean on_frame_delete(GtkWidget *, GdkEvent *, gpointer window)
{
  SendMessage(static_cast<HWND>(window), WM_CLOSE, 0, 0);
  return TRUE;  // DestroyWindow takes the widget down
}

void on_about(GtkMenuItem *, gpointer window)
{
  SendMessage(static_cast<HWND>(window), WM_SYSCOMMAND, UI_FRAME_ABOUT_ID, 0);
}

GtkWidget *header_bar(HWND h, const char *title, const char *about_text)
{
  GtkWidget *bar = gtk_header_bar_new();
  gtk_header_bar_set_title(GTK_HEADER_BAR(bar), title);
  gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(bar), TRUE);
  gtk_header_bar_set_decoration_layout(GTK_HEADER_BAR(bar), "menu:minimize,close");
  GtkWidget *menu = gtk_menu_new(), *item = gtk_menu_item_new_with_mnemonic(about_text ? about_text : "");
  g_object_set_data(G_OBJECT(item), "tarvo-id", GUINT_TO_POINTER(UI_FRAME_ABOUT_ID));
  g_signal_connect(item, "activate", G_CALLBACK(on_about), h);
  gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
  gtk_widget_show_all(menu);
  GtkWidget *button = gtk_menu_button_new();
  gtk_menu_button_set_popup(GTK_MENU_BUTTON(button), menu);
  gtk_button_set_image(GTK_BUTTON(button), gtk_image_new_from_icon_name("open-menu-symbolic", GTK_ICON_SIZE_BUTTON));
  gtk_header_bar_pack_start(GTK_HEADER_BAR(bar), button);
  return bar;
}

// The view fills the content area, however it was added.
void on_content_add(GtkContainer *, GtkWidget *child, gpointer)
{
  gtk_widget_set_hexpand(child, TRUE);
  gtk_widget_set_vexpand(child, TRUE);
}

}  // namespace

extern "C" {

HWND UiFrameCreate(const char *class_name, const char *title, int width, int height, const char *about_text,
                   WNDPROC proc, void *user)
{
  if (!UiGtkInit(nullptr, nullptr) || width <= 0 || height <= 0) return nullptr;
  auto *rec = new gtk_window_rec;
  rec->proc = proc;
  rec->width = width;
  rec->height = height;
  if (!gtk_rec_add(rec, class_name, title, frame_proc, user)) {
    delete rec;
    return nullptr;
  }
  GtkWidget *top = rec->top = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(top), title ? title : "");
  gtk_window_set_titlebar(GTK_WINDOW(top), header_bar(rec->hwnd, title ? title : "", about_text));
  rec->content = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_widget_set_size_request(rec->content, width, height);
  g_signal_connect(rec->content, "add", G_CALLBACK(on_content_add), nullptr);
  gtk_container_add(GTK_CONTAINER(top), rec->content);
  gtk_window_set_resizable(GTK_WINDOW(top), FALSE);  // also no maximise
  g_signal_connect(top, "key-press-event", G_CALLBACK(on_frame_key), rec->hwnd);
  g_signal_connect(top, "delete-event", G_CALLBACK(on_frame_delete), rec->hwnd);
  return rec->hwnd;
}

void UiFrameSetKeyHook(HWND frame, UI_KEY_HOOK hook, void *user)
{
  if (gtk_window_rec *rec = gtk_rec(frame)) {
    rec->hook = hook;
    rec->hook_user = user;
  }
}

GtkWidget *UiFrameContent(HWND frame)
{
  gtk_window_rec *rec = gtk_rec(frame);
  return rec ? rec->content : nullptr;
}

}  // extern "C"
