// The client host watcher: while the server runs, the allowed and denied
// client lists are read every cycle, each new IPv4 address is looked up once
// in reverse, and the names found reach the page by the push rule.
#pragma once

#include <tarvo_ui/ui_core.h>
#include <tarvo_util/hosts_file.h>
#include <tarvo_util/sys_str.h>

#include <glib.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>

// Program time between two reads of the client lists.
constexpr unsigned HOST_WATCH_CYCLE_MS = 5000;
// Program time within which a second push into the page is held back.
constexpr unsigned HOST_PUSH_WINDOW_MS = 2000;
// Bytes of a looked-up host name kept (the result area of a look-up).
constexpr size_t HOST_LOOKUP_RESULT_MAX = 1024;
// Real time the watcher waits at stop for cancelled look-ups to finish.
constexpr unsigned HOST_LOOKUP_DRAIN_MS = 2000;

// Sent to the active view when the host table has grown.
constexpr UINT WM_HOSTS_CHANGED = WM_USER + 101;
// The view's one-shot timer for a push that was held back.
constexpr uintptr_t HOST_PUSH_TIMER = 101;

// The two list calls of the local-server client, with its result rule
// (0 = read).  No source means no client (UPnP port 0): nothing is read.
struct host_list_source {
  uint32_t (*allow_list)(sys_str_list *macs, sys_str_list *ips);
  uint32_t (*deny_list)(sys_str_list *macs, sys_str_list *ips);
};
void host_watch_set_source(const host_list_source *source);

// Address text -> host name, ordered by the bytes of the address.
struct host_table {
  std::mutex m;
  std::map<std::string, std::string> names;
};
host_table &app_host_table();

// The registered id of the look-up completions sent to the main window.
UINT host_name_message();

// The name of addr in a hosts-format file's text: 1 when a line names it.
int hosts_file_name(const char *data, size_t size, const char *addr, std::string *name);

// Starts a reverse look-up of addr (network order) whose completion goes to
// main; nothing for INADDR_NONE.  On the watcher's thread.
void lookup_host_name(const char *text, uint32_t addr, HWND main);
// main's handler of host_name_message(): wparam is the look-up's task.
void on_host_name(HWND main, WPARAM task, HWND active_view);
// Cancels every pending look-up; when the main window goes.
void host_lookups_cancel();

class CClientHostWatcher {
 public:
  static CClientHostWatcher &Instance();
  // server_state: the monitor's last stored state, read each cycle.
  int Start(HWND main, std::function<int()> server_state);
  void Stop();

 private:
  void host_watch_thread();
  void sleep_cycle();
  void read_list(uint32_t (*call)(sys_str_list *, sys_str_list *));
  void process_list(sys_str_list ips);

  std::atomic<int> m_run{0};
  std::set<std::string> m_seen;  // the watcher thread's own
  HWND m_main = nullptr;
  std::function<int()> m_serverState;
  GMainContext *m_ctx = nullptr;  // the look-ups complete here, between cycles
  std::thread m_thread;
};

// The push rule of the view, run on WM_HOSTS_CHANGED and on its timer.
struct host_push_state {
  uint64_t last_ms = 0;
  int pushed = 0;
  size_t last_count = 0;
  int timer_armed = 0;
};
void host_push_rule(HWND view, host_push_state *state);
void host_push_timer(HWND view, host_push_state *state);
// The hosts script of the table, every text escaped for its literal.
std::string hosts_script(const std::map<std::string, std::string> &names);
// The hosts script of the table as it is now (built under the table lock).
std::string host_table_script();
// Runs the table's script in view's page; no lock is held meanwhile.
int update_page_hosts(HWND view);
