// The indicator backend as a panel sees it: on a private session bus with a
// small StatusNotifier watcher, the icon registers as an item whose title,
// icon and menu follow the owner's changes, the host's secondary activation
// reaches the owner as the default command, a new watcher raises
// "TaskbarCreated", and a deleted icon leaves the bus.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "../ui/gtk_xvfb.h"

#include <tarvo_tray/tray.h>
#include <tarvo_ui/ui_gtk.h>

namespace {

const char *const kWatcherXml =
    "<node><interface name='org.kde.StatusNotifierWatcher'>"
    "<method name='RegisterStatusNotifierItem'><arg name='service' type='s' direction='in'/></method>"
    "<method name='RegisterStatusNotifierHost'><arg name='service' type='s' direction='in'/></method>"
    "<property name='RegisteredStatusNotifierItems' type='as' access='read'/>"
    "<property name='IsStatusNotifierHostRegistered' type='b' access='read'/>"
    "<property name='ProtocolVersion' type='i' access='read'/>"
    "<signal name='StatusNotifierItemRegistered'><arg type='s'/></signal>"
    "<signal name='StatusNotifierHostRegistered'/>"
    "</interface></node>";

struct watcher_rec {
  GDBusConnection *bus = nullptr;
  guint object = 0;
  int registrations = 0;
  std::string item_name, item_path;
};

void on_watcher_call(GDBusConnection *, const char *sender, const char *, const char *, const char *method,
                     GVariant *args, GDBusMethodInvocation *inv, gpointer data)
{
  auto *w = static_cast<watcher_rec *>(data);
  if (std::string(method) == "RegisterStatusNotifierItem") {
    const char *service = nullptr;
    g_variant_get(args, "(&s)", &service);
    bool is_path = service[0] == '/';
    w->item_name = is_path ? sender : service;
    w->item_path = is_path ? service : "/StatusNotifierItem";
    ++w->registrations;
  }
  g_dbus_method_invocation_return_value(inv, nullptr);
}

GVariant *on_watcher_property(GDBusConnection *, const char *, const char *, const char *, const char *name,
                              GError **, gpointer)
{
  std::string n = name;
  if (n == "IsStatusNotifierHostRegistered") return g_variant_new_boolean(TRUE);
  if (n == "ProtocolVersion") return g_variant_new_int32(0);
  return g_variant_new_strv(nullptr, 0);
}

const GDBusInterfaceVTable kWatcherVtable = {on_watcher_call, on_watcher_property, nullptr, {}};

// The test's own bus daemon: its address, or "" where it cannot start.
struct private_bus {
  std::string address;
  pid_t pid = 0;
  private_bus()
  {
    int status = 0;
    std::string out = tarvo_test::command_output(
        "timeout 10 dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1 "
        "--address=unix:tmpdir=/tmp 2>/dev/null",
        &status);
    size_t nl = out.find('\n');
    if (status != 0 || nl == std::string::npos) return;
    address = out.substr(0, nl);
    pid = pid_t(std::atoi(out.c_str() + nl + 1));
  }
  ~private_bus()
  {
    if (pid > 0) kill(pid, SIGTERM);
  }
};

// Runs the main context until done() or ms pass.
template <class F>
bool pump_until(F done, int ms)
{
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    if (!g_main_context_iteration(nullptr, FALSE)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// A call answered while the loop runs: the item lives in this process.
GVariant *bus_call(GDBusConnection *c, const std::string &name, const std::string &path, const char *iface,
                   const char *method, GVariant *args)
{
  struct result {
    GVariant *v = nullptr;
    bool done = false;
  } r;
  g_dbus_connection_call(c, name.c_str(), path.c_str(), iface, method, args, nullptr, G_DBUS_CALL_FLAGS_NONE, 3000,
                         nullptr,
                         [](GObject *src, GAsyncResult *res, gpointer data) {
                           auto *out = static_cast<result *>(data);
                           out->v = g_dbus_connection_call_finish(G_DBUS_CONNECTION(src), res, nullptr);
                           out->done = true;
                         },
                         &r);
  pump_until([&] { return r.done; }, 4000);
  return r.v;
}

std::string item_property(watcher_rec *w, const char *prop)
{
  GVariant *v = bus_call(w->bus, w->item_name, w->item_path, "org.freedesktop.DBus.Properties", "Get",
                         g_variant_new("(ss)", "org.kde.StatusNotifierItem", prop));
  if (!v) return "<none>";
  GVariant *inner = nullptr;
  g_variant_get(v, "(v)", &inner);
  std::string s = g_variant_is_of_type(inner, G_VARIANT_TYPE_STRING) || g_variant_is_of_type(inner, G_VARIANT_TYPE_OBJECT_PATH)
                      ? g_variant_get_string(inner, nullptr)
                      : "";
  g_variant_unref(inner);
  g_variant_unref(v);
  return s;
}

// The exported menu as "label:enabled" per item ("-" for a separator).
std::vector<std::string> item_menu(watcher_rec *w)
{
  std::vector<std::string> out;
  std::string path = item_property(w, "Menu");
  GVariant *v = bus_call(w->bus, w->item_name, path, "com.canonical.dbusmenu", "GetLayout",
                         g_variant_new("(ii@as)", 0, -1, g_variant_new_strv(nullptr, 0)));
  if (!v) return out;
  GVariant *layout = g_variant_get_child_value(v, 1), *kids = g_variant_get_child_value(layout, 2);
  for (gsize i = 0; i < g_variant_n_children(kids); ++i) {
    GVariant *boxed = g_variant_get_child_value(kids, i), *kid = g_variant_get_variant(boxed);
    GVariant *props = g_variant_get_child_value(kid, 1);
    const char *label = nullptr, *type = nullptr;
    gboolean enabled = TRUE;
    g_variant_lookup(props, "label", "&s", &label);
    g_variant_lookup(props, "type", "&s", &type);
    g_variant_lookup(props, "enabled", "b", &enabled);
    bool visible = TRUE;
    gboolean vis = TRUE;
    if (g_variant_lookup(props, "visible", "b", &vis)) visible = vis;
    if (visible) out.push_back(type && std::string(type) == "separator" ? "-" : std::string(label ? label : "") + ":" + (enabled ? "1" : "0"));
    g_variant_unref(props);
    g_variant_unref(kid);
    g_variant_unref(boxed);
  }
  g_variant_unref(kids);
  g_variant_unref(layout);
  g_variant_unref(v);
  return out;
}

bool own_watcher_name(GDBusConnection *c, bool own)
{
  GVariant *r = g_dbus_connection_call_sync(
      c, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", own ? "RequestName" : "ReleaseName",
      own ? g_variant_new("(su)", "org.kde.StatusNotifierWatcher", 4u) : g_variant_new("(s)", "org.kde.StatusNotifierWatcher"),
      G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 3000, nullptr, nullptr);
  guint code = 0;
  if (r) {
    g_variant_get(r, "(u)", &code);
    g_variant_unref(r);
  }
  return code == 1;
}

bool g_gray_exit = true;
std::vector<std::pair<UINT, WPARAM>> g_messages;

uint32_t menu_fn(HWND, TRAY_MENU_ITEM *items, uint32_t max)
{
  if (max < 3) return 0;
  items[0] = {32772, "Start &Tool", 0, 1};
  items[1] = {0, nullptr, 0, 0};
  items[2] = {32774, "E&xit", g_gray_exit ? 1 : 0, 0};
  return 3;
}

LRESULT owner_proc(HWND, UINT msg, WPARAM w, LPARAM)
{
  g_messages.push_back({msg, w});
  return 0;
}

bool got(UINT msg, WPARAM w)
{
  for (auto &m : g_messages)
    if (m.first == msg && m.second == w) return true;
  return false;
}

TEST(TrayIndicator, ItemOnTheSessionBusFollowsTheIcon)
{
  TARVO_NEED_DISPLAY();
  private_bus daemon;
  if (daemon.address.empty()) GTEST_SKIP() << "dbus-daemon could not start a private session bus";
  setenv("DBUS_SESSION_BUS_ADDRESS", daemon.address.c_str(), 1);
  unsetenv("TARVO_TRAY_BACKEND");

  watcher_rec w;
  w.bus = g_dbus_connection_new_for_address_sync(
      daemon.address.c_str(),
      GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
  ASSERT_NE(w.bus, nullptr);
  GDBusNodeInfo *node = g_dbus_node_info_new_for_xml(kWatcherXml, nullptr);
  w.object = g_dbus_connection_register_object(w.bus, "/StatusNotifierWatcher", node->interfaces[0], &kWatcherVtable,
                                               &w, nullptr, nullptr);
  ASSERT_TRUE(own_watcher_name(w.bus, true));

  ASSERT_TRUE(UiGtkInit(nullptr, nullptr));
  HWND owner = CreateMessageWindow("tray_indicator_test", "", owner_proc, nullptr);
  ASSERT_NE(owner, nullptr);
  if (std::string(TrayBackendName()) != "indicator") GTEST_SKIP() << "built without the indicator";
  const UINT taskbar_created = RegisterWindowMessage("TaskbarCreated");
  std::string icons = tarvo_test::data_dir() + "/../tray/data/";

  TRAY_ICON_DATA d{};
  d.hwnd = owner;
  d.id = 129;
  d.flags = TRAY_FLAG_MESSAGE | TRAY_FLAG_ICON | TRAY_FLAG_TIP;
  d.callback_message = WM_USER + 1;
  std::string icon1 = icons + "quessel_118.png", icon2 = icons + "quessel_162.png";
  d.icon_path = icon1.c_str();
  std::snprintf(d.tip, sizeof d.tip, "Server running");
  ASSERT_TRUE(TraySetMenuSource(owner, 129, menu_fn));
  ASSERT_TRUE(TrayNotifyIcon(TRAY_ADD, &d));
  ASSERT_TRUE(pump_until([&] { return w.registrations > 0; }, 5000)) << "the item never registered";
  EXPECT_EQ(item_property(&w, "Title"), "Server running");
  EXPECT_EQ(item_property(&w, "Status"), "Active");
  EXPECT_EQ(item_property(&w, "IconName"), icon1);
  EXPECT_EQ(item_menu(&w), (std::vector<std::string>{"Start _Tool:1", "-", "E_xit:0"}));

  // A change of tip, icon and gray state reaches the host.
  g_gray_exit = false;
  d.flags = TRAY_FLAG_ICON | TRAY_FLAG_TIP;
  d.icon_path = icon2.c_str();
  std::snprintf(d.tip, sizeof d.tip, "Server stopped");
  ASSERT_TRUE(TrayNotifyIcon(TRAY_MODIFY, &d));
  EXPECT_TRUE(pump_until([&] { return item_property(&w, "Title") == "Server stopped"; }, 3000))
      << item_property(&w, "Title");
  EXPECT_TRUE(pump_until([&] { return item_property(&w, "IconName") == icon2; }, 3000)) << item_property(&w, "IconName");
  EXPECT_EQ(item_menu(&w), (std::vector<std::string>{"Start _Tool:1", "-", "E_xit:1"}));

  // The host's secondary activation: the default item's command.
  GVariant *r = bus_call(w.bus, w.item_name, w.item_path, "org.kde.StatusNotifierItem", "SecondaryActivate",
                         g_variant_new("(ii)", 0, 0));
  if (r) g_variant_unref(r);
  EXPECT_TRUE(pump_until([&] { return got(WM_COMMAND, 32772); }, 3000));

  // A new watcher: the item registers again and the owner hears of a new panel.
  ASSERT_TRUE(own_watcher_name(w.bus, false));
  pump_until([] { return false; }, 200);
  int before = w.registrations;
  ASSERT_TRUE(own_watcher_name(w.bus, true));
  EXPECT_TRUE(pump_until([&] { return w.registrations > before; }, 5000)) << "no registration with the new watcher";
  EXPECT_TRUE(pump_until([&] { return got(taskbar_created, 0); }, 3000)) << "no TaskbarCreated";

  // Deleted: the item is gone from the bus (or at least no longer shown).
  ASSERT_TRUE(TrayNotifyIcon(TRAY_DELETE, &d));
  EXPECT_TRUE(pump_until(
      [&] {
        std::string s = item_property(&w, "Status");
        return s == "<none>" || s == "Passive";
      },
      3000));
  EXPECT_FALSE(TrayNotifyIcon(TRAY_MODIFY, &d));

  DestroyWindow(owner);
  g_dbus_connection_unregister_object(w.bus, w.object);
  g_dbus_node_info_unref(node);
  g_object_unref(w.bus);
}

}  // namespace
