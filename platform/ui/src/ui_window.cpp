// Message windows on the GLib main loop: the window table, posting and
// sending, timers, registered messages, destruction and modal loops.
#include <tarvo_ui/ui_core.h>

#include "ui_remote.h"

#include <tarvo_platform/clock.h>

#include <glib-unix.h>
#include <glib.h>
#include <signal.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <string>
#include <thread>
#include <vector>

namespace {

struct window {
  std::string cls, title;
  WNDPROC proc;
  void *user;
  GMainContext *ctx;
  std::thread::id owner;
  std::map<uintptr_t, GSource *> timers;
  int dialog_ended = 0;
  intptr_t dialog_result = 0;
  ~window() { g_main_context_unref(ctx); }
};

struct table {
  std::mutex m;
  std::map<uint32_t, std::shared_ptr<window>> by_index;
  uint32_t next = 1;
  std::map<std::string, UINT> registered;
};

table &windows()
{
  static table *t = new table;  // outlives windows destroyed at exit
  return *t;
}

HWND handle_of(uint32_t index) { return reinterpret_cast<HWND>((uintptr_t(uint32_t(getpid())) << 32) | index); }

bool index_of(HWND h, uint32_t *index)
{
  uintptr_t v = reinterpret_cast<uintptr_t>(h);
  *index = uint32_t(v & 0xFFFFFFFFu);
  return (v >> 32) == uint32_t(getpid()) && *index != 0;
}

std::shared_ptr<window> find(HWND h)
{
  uint32_t i;
  if (!index_of(h, &i)) return nullptr;
  table &t = windows();
  std::lock_guard<std::mutex> g(t.m);
  auto it = t.by_index.find(i);
  return it == t.by_index.end() ? nullptr : it->second;
}

GMainContext *thread_context()
{
  GMainContext *c = g_main_context_get_thread_default();
  return c ? c : g_main_context_default();
}

thread_local const UI_MSG *current_message = nullptr;

std::atomic<int> quit_asked{0}, quitting{0}, quit_code{0};

gboolean on_stop_signal(gpointer)
{
  UiQuitAll(0);
  return G_SOURCE_CONTINUE;
}

struct loop_rec {
  int quit = 0, code = 0;
};
thread_local std::vector<loop_rec *> loops;

LRESULT dispatch(HWND h, UINT msg, WPARAM w, LPARAM l)
{
  std::shared_ptr<window> win = find(h);
  if (!win) return 0;
  WNDPROC proc;
  {
    std::lock_guard<std::mutex> g(windows().m);
    proc = win->proc;
  }
  if (!proc) return 0;
  UI_MSG m{h, msg, w, l};
  const UI_MSG *outer = current_message;
  current_message = &m;
  LRESULT r = proc(h, msg, w, l);
  current_message = outer;
  return r;
}

// Taken around each hand-over of a posted message: GLib's own locks are
// futexes that the thread checker cannot see.
std::mutex post_lock;

gboolean deliver_posted(gpointer data)
{
  UI_MSG m;
  {
    std::lock_guard<std::mutex> g(post_lock);
    m = *static_cast<const UI_MSG *>(data);
  }
  // Gone before the handler runs: a modal loop inside it must not deliver
  // the same message again.
  g_source_destroy(g_main_current_source());
  dispatch(m.hwnd, m.message, m.wParam, m.lParam);
  return G_SOURCE_REMOVE;
}

struct timer_rec {
  HWND hwnd;
  uintptr_t id;
};

gboolean deliver_timer(gpointer data)
{
  const timer_rec *t = static_cast<const timer_rec *>(data);
  dispatch(t->hwnd, WM_TIMER, t->id, 0);
  return G_SOURCE_CONTINUE;
}

// Sources may run again inside a modal loop that one of them started.
void attach(GSource *s, GMainContext *ctx, GSourceFunc fn, gpointer data, GDestroyNotify free_data)
{
  g_source_set_priority(s, G_PRIORITY_DEFAULT);
  g_source_set_can_recurse(s, TRUE);
  g_source_set_callback(s, fn, data, free_data);
  g_source_attach(s, ctx);
}

bool owned_here(const std::shared_ptr<window> &w) { return w && w->owner == std::this_thread::get_id(); }

bool matches(const std::string &have, const char *want)
{
  return !want || strcasecmp(have.c_str(), want) == 0;
}

}  // namespace

extern "C" {

HWND CreateMessageWindow(const char *class_name, const char *title, WNDPROC proc, void *user)
{
  auto w = std::make_shared<window>();
  w->cls = class_name ? class_name : "";
  w->title = title ? title : "";
  w->proc = proc;
  w->user = user;
  w->ctx = g_main_context_ref(thread_context());
  w->owner = std::this_thread::get_id();
  table &t = windows();
  std::lock_guard<std::mutex> g(t.m);
  if (t.next == 0) return nullptr;  // every index of the process used
  uint32_t i = t.next++;
  t.by_index[i] = w;
  return handle_of(i);
}

int IsWindow(HWND window) { return find(window) != nullptr; }

WNDPROC GetWindowProc(HWND h)
{
  std::shared_ptr<window> w = find(h);
  if (!w) return nullptr;
  std::lock_guard<std::mutex> g(windows().m);
  return w->proc;
}

WNDPROC SetWindowProc(HWND h, WNDPROC proc)
{
  std::shared_ptr<window> w = find(h);
  if (!w) return nullptr;
  std::lock_guard<std::mutex> g(windows().m);
  return std::exchange(w->proc, proc);
}

LRESULT CallWindowProc(WNDPROC proc, HWND h, UINT msg, WPARAM wparam, LPARAM lparam)
{
  return proc ? proc(h, msg, wparam, lparam) : 0;
}

void *GetWindowUserData(HWND h)
{
  std::shared_ptr<window> w = find(h);
  return w ? w->user : nullptr;
}

void SetWindowUserData(HWND h, void *user)
{
  if (std::shared_ptr<window> w = find(h)) w->user = user;
}

const char *GetWindowTitle(HWND h)
{
  std::shared_ptr<window> w = find(h);
  return w ? w->title.c_str() : nullptr;
}

const char *GetWindowClass(HWND h)
{
  std::shared_ptr<window> w = find(h);
  return w ? w->cls.c_str() : nullptr;
}

uint32_t EnumWindowHandles(HWND *out, uint32_t max)
{
  table &t = windows();
  std::lock_guard<std::mutex> g(t.m);
  uint32_t n = 0;
  for (const auto &entry : t.by_index) {
    if (n < max) out[n] = handle_of(entry.first);
    ++n;
  }
  return n;
}

int SetWindowTitle(HWND h, const char *title)
{
  std::shared_ptr<window> w = find(h);
  if (!owned_here(w)) return 0;
  std::lock_guard<std::mutex> g(windows().m);
  w->title = title ? title : "";
  return 1;
}

int PostMessage(HWND h, UINT msg, WPARAM wparam, LPARAM lparam)
{
  std::shared_ptr<window> w = find(h);
  if (!w) return ui_remote_post(h, msg, wparam, lparam);
  GSource *s = g_idle_source_new();
  std::lock_guard<std::mutex> g(post_lock);
  attach(s, w->ctx, deliver_posted, new UI_MSG{h, msg, wparam, lparam}, [](gpointer p) {
    std::lock_guard<std::mutex> pg(post_lock);
    delete static_cast<UI_MSG *>(p);
  });
  g_source_unref(s);
  return 1;
}

LRESULT SendMessage(HWND h, UINT msg, WPARAM wparam, LPARAM lparam)
{
  return owned_here(find(h)) ? dispatch(h, msg, wparam, lparam) : 0;
}

void PostQuitMessage(int code)
{
  if (loops.empty()) return;
  loops.back()->quit = 1;
  loops.back()->code = code;
  g_main_context_wakeup(thread_context());
}

int MessageLoop(void)
{
  loop_rec rec;
  loops.push_back(&rec);
  GMainContext *ctx = thread_context();
  while (!rec.quit && !quitting) g_main_context_iteration(ctx, TRUE);
  loops.pop_back();
  return rec.quit ? rec.code : quit_code.load();
}

void UiQuitAll(int code)
{
  if (quit_asked.exchange(1)) return;  // the first code counts
  quit_code = code;
  quitting = 1;
  // Each loop waits on its own context: every one of them looks again.
  std::vector<GMainContext *> contexts{g_main_context_ref(g_main_context_default())};
  {
    table &t = windows();
    std::lock_guard<std::mutex> g(t.m);
    for (auto &[i, w] : t.by_index) contexts.push_back(g_main_context_ref(w->ctx));
  }
  for (GMainContext *c : contexts) {
    g_main_context_wakeup(c);
    g_main_context_unref(c);
  }
}

int UiQuitting(void) { return quitting; }

int UiQuitOnStopSignals(void)
{
  return g_unix_signal_add(SIGTERM, on_stop_signal, nullptr) && g_unix_signal_add(SIGINT, on_stop_signal, nullptr);
}

uintptr_t SetTimer(HWND h, uintptr_t id, UINT ms)
{
  std::shared_ptr<window> w = find(h);
  if (!owned_here(w)) return 0;
  if (id == 0) id = 1;
  KillTimer(h, id);
  GSource *s = g_timeout_source_new(platform_real_ms(ms ? ms : 1));
  attach(s, w->ctx, deliver_timer, new timer_rec{h, id}, [](gpointer p) { delete static_cast<timer_rec *>(p); });
  std::lock_guard<std::mutex> g(windows().m);
  w->timers[id] = s;
  return id;
}

int KillTimer(HWND h, uintptr_t id)
{
  std::shared_ptr<window> w = find(h);
  if (!w) return 0;
  GSource *s = nullptr;
  {
    std::lock_guard<std::mutex> g(windows().m);
    auto it = w->timers.find(id);
    if (it == w->timers.end()) return 0;
    s = it->second;
    w->timers.erase(it);
  }
  g_source_destroy(s);
  g_source_unref(s);
  return 1;
}

UINT RegisterWindowMessage(const char *name)
{
  if (!name || !*name) return 0;
  std::string key = name;
  std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return char(g_ascii_tolower(c)); });
  table &t = windows();
  std::lock_guard<std::mutex> g(t.m);
  auto it = t.registered.find(key);
  if (it != t.registered.end()) return it->second;
  UINT id = UINT(UI_REGISTERED_MESSAGE_FIRST + t.registered.size());
  if (id > UI_REGISTERED_MESSAGE_LAST) return 0;
  t.registered[key] = id;
  return id;
}

HWND FindWindow(const char *class_name, const char *title)
{
  table &t = windows();
  {
    std::lock_guard<std::mutex> g(t.m);
    for (auto &[i, w] : t.by_index)
      if (matches(w->cls, class_name) && matches(w->title, title)) return handle_of(i);
  }
  return class_name && !title ? ui_remote_find(class_name) : nullptr;
}

int DestroyWindow(HWND h)
{
  std::shared_ptr<window> w = find(h);
  if (!owned_here(w)) return 0;
  dispatch(h, WM_DESTROY, 0, 0);
  std::vector<uintptr_t> ids;
  {
    std::lock_guard<std::mutex> g(windows().m);
    for (auto &[id, s] : w->timers) ids.push_back(id);
  }
  for (uintptr_t id : ids) KillTimer(h, id);
  dispatch(h, WM_NCDESTROY, 0, 0);
  ui_remote_unpublish(h);
  uint32_t i;
  index_of(h, &i);
  table &t = windows();
  {
    std::lock_guard<std::mutex> g(t.m);
    t.by_index.erase(i);
  }
  g_main_context_wakeup(w->ctx);  // a modal loop on it ends
  return 1;
}

intptr_t ModalLoop(HWND h)
{
  std::shared_ptr<window> w = find(h);
  if (!owned_here(w)) return -1;
  w->dialog_ended = 0;
  while (!w->dialog_ended && IsWindow(h) && !quitting) g_main_context_iteration(w->ctx, TRUE);
  if (!w->dialog_ended) return -1;
  w->dialog_ended = 0;
  return w->dialog_result;
}

int EndDialog(HWND h, intptr_t result)
{
  std::shared_ptr<window> w = find(h);
  if (!owned_here(w)) return 0;
  w->dialog_result = result;
  w->dialog_ended = 1;
  g_main_context_wakeup(w->ctx);
  return 1;
}

const UI_MSG *GetCurrentMessage(void) { return current_message; }

}  // extern "C"
