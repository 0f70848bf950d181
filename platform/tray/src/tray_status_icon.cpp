// The GtkStatusIcon backend: exact clicks, the menu tracked at the pointer,
// and "TaskbarCreated" when the icon is embedded again after losing its
// panel.
#include "tray_impl.h"

#include <gtk/gtk.h>

#include <cstring>

G_GNUC_BEGIN_IGNORE_DEPRECATIONS

namespace {

struct key_rec {
  HWND hwnd;
  UINT id;
  bool was_embedded = false;
};

const icon_rec *lookup(const key_rec *k)
{
  for (const icon_rec &i : tray_icons())
    if (i.hwnd == k->hwnd && i.id == k->id) return &i;
  return nullptr;
}

gboolean on_press(GtkStatusIcon *, GdkEventButton *e, gpointer data)
{
  const icon_rec *i = lookup(static_cast<key_rec *>(data));
  if (i && e->button == 1 && e->type == GDK_2BUTTON_PRESS) tray_click(i, WM_LBUTTONDBLCLK);
  return FALSE;
}

gboolean on_release(GtkStatusIcon *, GdkEventButton *e, gpointer data)
{
  const icon_rec *i = lookup(static_cast<key_rec *>(data));
  if (i && e->button == 3) tray_click(i, WM_RBUTTONUP);
  return FALSE;
}

void on_embedded(GObject *icon, GParamSpec *, gpointer data)
{
  auto *k = static_cast<key_rec *>(data);
  bool now = gtk_status_icon_is_embedded(GTK_STATUS_ICON(icon));
  if (now && k->was_embedded) tray_shell_restarted();
  if (now) k->was_embedded = true;
}

void apply(icon_rec *i)
{
  auto *icon = static_cast<GtkStatusIcon *>(i->backend);
  if (!i->icon.empty()) gtk_status_icon_set_from_file(icon, i->icon.c_str());
  gtk_status_icon_set_tooltip_text(icon, i->tip.c_str());
  gtk_status_icon_set_visible(icon, TRUE);
}

void add(icon_rec *i)
{
  GtkStatusIcon *icon = gtk_status_icon_new();
  i->backend = icon;
  auto *k = new key_rec{i->hwnd, i->id};
  g_object_set_data_full(G_OBJECT(icon), "tarvo-key", k, [](gpointer p) { delete static_cast<key_rec *>(p); });
  g_signal_connect(icon, "button-press-event", G_CALLBACK(on_press), k);
  g_signal_connect(icon, "button-release-event", G_CALLBACK(on_release), k);
  g_signal_connect(icon, "notify::embedded", G_CALLBACK(on_embedded), k);
  apply(i);
}

void remove(icon_rec *i)
{
  if (i->backend) g_object_unref(static_cast<GtkStatusIcon *>(i->backend));
  i->backend = nullptr;
}

struct item_rec {
  HWND owner;
  UINT id;
};

void on_activate(GtkMenuItem *, gpointer data)
{
  auto *it = static_cast<item_rec *>(data);
  PostMessage(it->owner, WM_COMMAND, it->id, 0);
}

int track(icon_rec *i)
{
  GtkWidget *menu = gtk_menu_new();
  for (const TRAY_MENU_ITEM &m : tracked_menu()) {
    GtkWidget *w;
    if (!m.id) w = gtk_separator_menu_item_new();
    else {
      std::string label = tray_mnemonic(m.text);
      w = gtk_menu_item_new_with_mnemonic(label.c_str());
      if (m.is_default) gtk_label_set_markup_with_mnemonic(GTK_LABEL(gtk_bin_get_child(GTK_BIN(w))),
                                                            ("<b>" + label + "</b>").c_str());
      gtk_widget_set_sensitive(w, !m.grayed);
      g_signal_connect_data(w, "activate", G_CALLBACK(on_activate), new item_rec{i->hwnd, m.id},
                            [](gpointer p, GClosure *) { delete static_cast<item_rec *>(p); }, GConnectFlags(0));
    }
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), w);
  }
  gtk_widget_show_all(menu);
  g_signal_connect(menu, "deactivate", G_CALLBACK(+[](GtkWidget *w, gpointer) {
                     g_idle_add([](gpointer p) { gtk_widget_destroy(GTK_WIDGET(p)); return G_SOURCE_REMOVE; }, w);
                   }), nullptr);
  // Placed against the icon: a synthetic right-click has no pointer event.
  gtk_menu_popup(GTK_MENU(menu), nullptr, nullptr, gtk_status_icon_position_menu, i->backend, 3,
                 gtk_get_current_event_time());
  return 1;
}

const tray_backend status_icon_backend = {"status-icon", add, apply, remove, track};

}  // namespace

G_GNUC_END_IGNORE_DEPRECATIONS

const tray_backend *tray_desktop_backend(const char *want)
{
  // Without a display (or before gtk_init) nothing can be shown.
  if (!gdk_display_get_default()) return nullptr;
  bool forced = want && std::strcmp(want, "status-icon") == 0;
#ifdef TARVO_HAVE_INDICATOR
  if (!forced && tray_watcher_present()) return tray_indicator_backend();
#endif
  (void)forced;
  return &status_icon_backend;
}
