// haldor: loads its settings (exit 1 before any display when they cannot be
// read), then follows the server's state and its clients' host names on the
// GLib main loop, with the record-only page as its view, until SIGTERM.
#include "haldor_resources.h"
#include "host_watch.h"
#include "mgmt_client.h"
#include "server_state.h"
#include "tool_settings.h"

#include <tarvo_ui/ui_automation.h>
#include <tarvo_ui/ui_core.h>
#include <tarvo_ui/ui_resource.h>

#include <glib-unix.h>
#include <signal.h>

namespace {

HWND g_view = nullptr;
host_push_state g_push;

LRESULT main_proc(HWND hwnd, UINT msg, WPARAM w, LPARAM l)
{
  if (msg == host_name_message()) {
    on_host_name(hwnd, w, g_view);
    return 0;
  }
  if (msg == WM_DESTROY) host_lookups_cancel();
  (void)l;
  return 0;
}

LRESULT view_proc(HWND hwnd, UINT msg, WPARAM w, LPARAM)
{
  if (msg == WM_HOSTS_CHANGED) host_push_rule(hwnd, &g_push);
  if (msg == WM_TIMER && w == HOST_PUSH_TIMER) host_push_timer(hwnd, &g_push);
  return 0;
}

gboolean on_stop_signal(gpointer)
{
  PostQuitMessage(0);
  return G_SOURCE_CONTINUE;
}

}  // namespace

int main()
{
  haldor_resources_init();
  CToolSettings &settings = CToolSettings::Instance();  // exits 1 on failure
  char title[256];
  if (!LoadString(HALDOR_IDS_PRODUCT_TITLE, title, sizeof title)) return 1;
  HWND main_window = CreateMessageWindow("HaldorMainFrame", title, main_proc, nullptr);
  g_view = CreateMessageWindow("HaldorView", "", view_proc, nullptr);
  if (!main_window || !g_view || !UiAutomationStart()) return 1;
  g_unix_signal_add(SIGTERM, on_stop_signal, nullptr);
  g_unix_signal_add(SIGINT, on_stop_signal, nullptr);

  CSubjectServerState &monitor = CSubjectServerState::Instance();
  monitor.server_state_start(tool_port(settings.Setting("DMSM_PORT")));
  if (!mgmt_client_init(tool_port(settings.Setting("UPNP_PORT")))) return 1;
  host_watch_set_source(mgmt_client_host_lists());
  CClientHostWatcher &watcher = CClientHostWatcher::Instance();
  if (!watcher.Start(main_window, [&monitor] { return monitor.server_state(); }))
    tool_message_box("fatal error - Couldn't create thread");

  int code = MessageLoop();
  watcher.Stop();
  monitor.server_state_stop();
  mgmt_client_free();
  UiAutomationStop();
  DestroyWindow(g_view);
  DestroyWindow(main_window);
  return code;
}
