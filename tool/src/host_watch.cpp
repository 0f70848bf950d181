// The client host watcher, its reverse look-ups and the push of the host
// table into the page.
#include "host_watch.h"

#include "js_escape.h"

#include <tarvo_platform/clock.h>
#include <tarvo_ui/ui_page.h>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/utf8file.h>

#include <arpa/inet.h>
#include <gio/gio.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct HostLookupRequest {
  uintptr_t task = 0;
  GCancellable *cancel = nullptr;
  uint32_t addr = 0;
  std::string text;
  HWND main = nullptr;
  int found = 0;
  std::string name;
};

struct pending_list {
  std::mutex m;  // taken before the host-table lock where both are held
  std::vector<HostLookupRequest> requests;
  uintptr_t next_task = 1;
  std::atomic<int> inflight{0};  // callbacks still to run on the watcher's context
};

pending_list &pending()
{
  static pending_list *p = new pending_list;  // completions may arrive during exit
  return *p;
}

std::atomic<const host_list_source *> list_source{nullptr};

// Runs on the watcher's context: the result goes to the main window.
void lookup_done(uintptr_t task, char *name)
{
  pending_list &p = pending();
  {
    std::lock_guard<std::mutex> g(p.m);
    for (HostLookupRequest &r : p.requests) {
      if (r.task != task) continue;
      if (name) {
        r.found = 1;
        r.name.assign(name, strnlen(name, HOST_LOOKUP_RESULT_MAX - 1));
      }
      PostMessage(r.main, host_name_message(), task, 0);
      break;
    }
  }
  g_free(name);
  p.inflight--;
}

void resolver_done(GObject *resolver, GAsyncResult *res, gpointer task)
{
  char *name = g_resolver_lookup_by_address_finish(G_RESOLVER(resolver), res, nullptr);
  lookup_done(reinterpret_cast<uintptr_t>(task), name);
}

// The hosts-file stand-in answers from the file at once and completes on
// the watcher's context at its next turn, as a look-up would.
struct hosts_file_answer {
  uintptr_t task;
  GCancellable *cancel;
  char *name;
};

gboolean hosts_file_done(gpointer data)
{
  auto *a = static_cast<hosts_file_answer *>(data);
  char *name = g_cancellable_is_cancelled(a->cancel) ? nullptr : a->name;
  if (name) a->name = nullptr;
  lookup_done(a->task, name);
  return G_SOURCE_REMOVE;
}

void hosts_file_free(gpointer data)
{
  auto *a = static_cast<hosts_file_answer *>(data);
  g_object_unref(a->cancel);
  g_free(a->name);
  delete a;
}

void hosts_file_lookup(const HostLookupRequest &r, const char *path)
{
  own::stralloc sa;
  std::string name;
  auto *a = new hosts_file_answer{r.task, G_CANCELLABLE(g_object_ref(r.cancel)), nullptr};
  if (file_read_all_max(path, &sa.s, HOSTS_FILE_MAX) && hosts_file_name(sa.s.buf, sa.s.len, r.text.c_str(), &name))
    a->name = g_strdup(name.c_str());
  GSource *s = g_idle_source_new();
  g_source_set_callback(s, hosts_file_done, a, hosts_file_free);
  g_source_attach(s, g_main_context_get_thread_default());
  g_source_unref(s);
}

void start_lookup(const HostLookupRequest &r)
{
  gpointer task = reinterpret_cast<gpointer>(r.task);
  if (const char *path = std::getenv("TARVO_HOSTS_FILE")) {
    hosts_file_lookup(r, path);
    return;
  }
  GResolver *resolver = g_resolver_get_default();
  GInetAddress *a = g_inet_address_new_from_bytes(reinterpret_cast<const guint8 *>(&r.addr), G_SOCKET_FAMILY_IPV4);
  g_resolver_lookup_by_address_async(resolver, a, r.cancel, resolver_done, task);
  g_object_unref(a);
  g_object_unref(resolver);
}


}  // namespace

void host_watch_set_source(const host_list_source *source) { list_source = source; }

host_table &app_host_table()
{
  static host_table *t = new host_table;
  return *t;
}

UINT host_name_message()
{
  static const UINT id = RegisterWindowMessage("UWM_GETHOSTNAME_message");
  return id;
}

int hosts_file_name(const char *data, size_t size, const char *addr, std::string *name)
{
  const char *found = nullptr;
  uint32_t n = size > UINT32_MAX ? 0 : hosts_text_name(data, uint32_t(size), addr, &found);
  if (!n) return 0;
  name->assign(found, n);
  return 1;
}

void lookup_host_name(const char *text, uint32_t addr, HWND main)
{
  if (addr == INADDR_NONE) return;
  pending_list &p = pending();
  std::lock_guard<std::mutex> g(p.m);
  HostLookupRequest r;
  r.task = p.next_task++;
  r.cancel = g_cancellable_new();
  r.addr = addr;
  r.text = text;
  r.main = main;
  p.inflight++;
  start_lookup(r);
  p.requests.push_back(std::move(r));
}

// The request leaves the list before anything else happens: the view's push
// runs a script whose wait delivers the next completion here again.
void on_host_name(HWND, WPARAM task, HWND active_view)
{
  pending_list &p = pending();
  HostLookupRequest done;
  {
    std::lock_guard<std::mutex> g(p.m);
    auto it = std::find_if(p.requests.begin(), p.requests.end(),
                           [task](const HostLookupRequest &r) { return r.task == task; });
    if (it == p.requests.end()) return;
    done = std::move(*it);
    p.requests.erase(it);
  }
  g_object_unref(done.cancel);
  if (!done.found || done.text.empty()) return;
  {
    host_table &t = app_host_table();
    std::lock_guard<std::mutex> tg(t.m);
    t.names[done.text] = done.name;
  }
  if (active_view) SendMessage(active_view, WM_HOSTS_CHANGED, 0, 0);
}

void host_lookups_cancel()
{
  pending_list &p = pending();
  std::lock_guard<std::mutex> g(p.m);
  for (HostLookupRequest &r : p.requests) {
    g_cancellable_cancel(r.cancel);
    g_object_unref(r.cancel);
  }
  p.requests.clear();
}

CClientHostWatcher &CClientHostWatcher::Instance()
{
  static CClientHostWatcher *w = new CClientHostWatcher;  // the thread is joined by Stop
  return *w;
}

int CClientHostWatcher::Start(HWND main, std::function<int()> server_state)
{
  if (m_thread.joinable()) return 0;
  m_main = main;
  m_serverState = std::move(server_state);
  m_ctx = g_main_context_new();
  m_run = 1;
  try {
    m_thread = std::thread([this] { host_watch_thread(); });
  } catch (...) {
    m_run = 0;
    g_main_context_unref(m_ctx);
    m_ctx = nullptr;
    return 0;
  }
  return 1;
}

void CClientHostWatcher::Stop()
{
  if (!m_thread.joinable()) return;
  m_run = 0;
  g_main_context_wakeup(m_ctx);
  m_thread.join();
  g_main_context_unref(m_ctx);
  m_ctx = nullptr;
  m_seen.clear();
}

// The sleep runs the watcher's context, where the look-ups complete.
void CClientHostWatcher::sleep_cycle()
{
  uint64_t end = platform_clock_ms() + HOST_WATCH_CYCLE_MS;
  for (uint64_t now; m_run && (now = platform_clock_ms()) < end;) {
    GSource *t = g_timeout_source_new(platform_real_ms(uint32_t(end - now)));
    g_source_set_callback(t, [](gpointer) { return G_SOURCE_REMOVE; }, nullptr, nullptr);
    g_source_attach(t, m_ctx);
    g_main_context_iteration(m_ctx, TRUE);
    g_source_destroy(t);
    g_source_unref(t);
  }
}

void CClientHostWatcher::host_watch_thread()
{
  g_main_context_push_thread_default(m_ctx);
  while (m_run) {
    sleep_cycle();
    if (!m_run) break;
    if (m_serverState() != 2) continue;
    const host_list_source *s = list_source;
    if (!s) continue;
    read_list(s->allow_list);
    read_list(s->deny_list);
  }
  // Cancelled look-ups finish at once; their callbacks must run on this context.
  host_lookups_cancel();
  uint64_t end = uint64_t(g_get_monotonic_time() / 1000) + HOST_LOOKUP_DRAIN_MS;
  while (pending().inflight > 0 && uint64_t(g_get_monotonic_time() / 1000) < end)
    g_main_context_iteration(m_ctx, FALSE) || (g_usleep(1000), true);
  g_main_context_pop_thread_default(m_ctx);
}

void CClientHostWatcher::read_list(uint32_t (*call)(sys_str_list *, sys_str_list *))
{
  own::str_list macs, ips;
  if (call && call(&macs.l, &ips.l) == 0 && ips.l) process_list(ips.l);
}

void CClientHostWatcher::process_list(sys_str_list ips)
{
  if (!m_main) return;
  for (char **e = ips; *e; ++e) {
    // A seen address is never looked up again, also when its look-up failed.
    if (!m_seen.insert(*e).second) continue;
    lookup_host_name(*e, inet_addr(*e), m_main);
  }
}

std::string hosts_script(const std::map<std::string, std::string> &names)
{
  std::string s = "tollamy_data_hosts_update_hosts({";
  const char *sep = "";
  for (const auto &[addr, name] : names) {
    s += sep;
    s += "'" + js_string_escape(addr) + "' : '" + js_string_escape(name) + "'";
    sep = ", ";
  }
  return s + "});";
}

std::string host_table_script()
{
  host_table &t = app_host_table();
  std::lock_guard<std::mutex> g(t.m);
  return hosts_script(t.names);
}

int update_page_hosts(HWND view) { return PageRunScript(view, host_table_script().c_str()); }

void host_push_rule(HWND view, host_push_state *state)
{
  uint64_t now = platform_clock_ms();
  if (state->pushed && now - state->last_ms < HOST_PUSH_WINDOW_MS) {
    // Held back: the timer brings it once the window has passed, so that a
    // name resolved just after a push is not left out of the page.
    if (!state->timer_armed && SetTimer(view, HOST_PUSH_TIMER, UINT(HOST_PUSH_WINDOW_MS - (now - state->last_ms))))
      state->timer_armed = 1;
    return;
  }
  size_t count;
  {
    host_table &t = app_host_table();
    std::lock_guard<std::mutex> g(t.m);
    count = t.names.size();
  }
  if (count > state->last_count) {
    update_page_hosts(view);
    state->last_count = count;
  }
  state->last_ms = now;
  state->pushed = 1;
}

void host_push_timer(HWND view, host_push_state *state)
{
  KillTimer(view, HOST_PUSH_TIMER);
  state->timer_armed = 0;
  host_push_rule(view, state);
}
