// The Ayatana indicator backend, where the session bus has a StatusNotifier
// watcher: the host draws the icon and the menu; the menu is rebuilt with
// the owner's gray rules whenever the icon changes and once a second while
// the icon is there; the host's secondary activation stands in for the
// double-click, and a new connection to the host raises "TaskbarCreated".
#include "tray_impl.h"

#include <libayatana-appindicator/app-indicator.h>

#include <string>

namespace {

// How often the menu's gray states are brought up to date.
constexpr unsigned kMenuRefreshMs = 1000;

struct key_rec {
  HWND hwnd;
  UINT id;
  bool connected_once = false;
  guint refresh = 0;
};

void on_item(GtkMenuItem *item, gpointer data)
{
  auto *k = static_cast<key_rec *>(data);
  UINT id = GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(item), "tarvo-id"));
  PostMessage(k->hwnd, WM_COMMAND, id, 0);
}

void rebuild_menu(AppIndicator *ind, key_rec *k)
{
  TRAY_MENU_ITEM items[TRAY_MENU_MAX];
  uint32_t n = tray_menu_items(k->hwnd, k->id, items, TRAY_MENU_MAX);
  GtkMenu *menu = app_indicator_get_menu(ind);
  GList *kids = menu ? gtk_container_get_children(GTK_CONTAINER(menu)) : nullptr;
  bool same = menu && g_list_length(kids) == n;
  uint32_t at = 0;
  for (GList *l = kids; same && l; l = l->next, ++at)
    same = GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(l->data), "tarvo-id")) == items[at].id;
  if (same) {  // only the gray states change
    at = 0;
    for (GList *l = kids; l; l = l->next, ++at)
      if (items[at].id) gtk_widget_set_sensitive(GTK_WIDGET(l->data), !items[at].grayed);
    g_list_free(kids);
    return;
  }
  g_list_free(kids);
  GtkWidget *m = gtk_menu_new();
  for (uint32_t i = 0; i < n && i < TRAY_MENU_MAX; ++i) {
    GtkWidget *w = items[i].id ? gtk_menu_item_new_with_mnemonic(tray_mnemonic(items[i].text).c_str())
                               : gtk_separator_menu_item_new();
    g_object_set_data(G_OBJECT(w), "tarvo-id", GUINT_TO_POINTER(items[i].id));
    if (items[i].id) {
      gtk_widget_set_sensitive(w, !items[i].grayed);
      g_signal_connect(w, "activate", G_CALLBACK(on_item), k);
      if (items[i].is_default) app_indicator_set_secondary_activate_target(ind, w);
    }
    gtk_menu_shell_append(GTK_MENU_SHELL(m), w);
  }
  gtk_widget_show_all(m);
  app_indicator_set_menu(ind, GTK_MENU(m));
}

void on_connection(AppIndicator *, gboolean connected, gpointer data)
{
  auto *k = static_cast<key_rec *>(data);
  if (connected && k->connected_once) tray_shell_restarted();
  if (connected) k->connected_once = true;
}

void apply(icon_rec *i)
{
  auto *ind = static_cast<AppIndicator *>(i->backend);
  auto *k = static_cast<key_rec *>(g_object_get_data(G_OBJECT(ind), "tarvo-key"));
  if (!i->icon.empty()) app_indicator_set_icon_full(ind, i->icon.c_str(), i->tip.c_str());
  app_indicator_set_title(ind, i->tip.c_str());
  rebuild_menu(ind, k);
  app_indicator_set_status(ind, APP_INDICATOR_STATUS_ACTIVE);
}

gboolean refresh(gpointer data)
{
  auto *k = static_cast<key_rec *>(data);
  for (icon_rec &i : tray_icons())
    if (i.hwnd == k->hwnd && i.id == k->id && i.backend) rebuild_menu(static_cast<AppIndicator *>(i.backend), k);
  return G_SOURCE_CONTINUE;
}

void add(icon_rec *i)
{
  std::string name = "tarvo-" + std::to_string(uintptr_t(i->hwnd)) + "-" + std::to_string(i->id);
  AppIndicator *ind =
      app_indicator_new(name.c_str(), i->icon.c_str(), APP_INDICATOR_CATEGORY_APPLICATION_STATUS);
  auto *k = new key_rec{i->hwnd, i->id};
  k->refresh = g_timeout_add(kMenuRefreshMs, refresh, k);
  g_object_set_data_full(G_OBJECT(ind), "tarvo-key", k, [](gpointer p) {
    auto *key = static_cast<key_rec *>(p);
    g_source_remove(key->refresh);
    delete key;
  });
  g_signal_connect(ind, "connection-changed", G_CALLBACK(on_connection), k);
  i->backend = ind;
  apply(i);
}

void remove(icon_rec *i)
{
  if (!i->backend) return;
  auto *ind = static_cast<AppIndicator *>(i->backend);
  app_indicator_set_status(ind, APP_INDICATOR_STATUS_PASSIVE);
  g_object_unref(ind);
  i->backend = nullptr;
}

// The host shows the menu itself: nothing to track.
int track(icon_rec *) { return 1; }

const tray_backend indicator_backend = {"indicator", add, apply, remove, track};

}  // namespace

// 1 when a StatusNotifier watcher owns its name on the session bus.
bool tray_watcher_present()
{
  GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!bus) return false;
  GVariant *r = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                            "org.freedesktop.DBus", "NameHasOwner",
                                            g_variant_new("(s)", "org.kde.StatusNotifierWatcher"), G_VARIANT_TYPE("(b)"),
                                            G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, nullptr);
  gboolean has = FALSE;
  if (r) {
    g_variant_get(r, "(b)", &has);
    g_variant_unref(r);
  }
  g_object_unref(bus);
  return has;
}

const tray_backend *tray_indicator_backend() { return &indicator_backend; }
