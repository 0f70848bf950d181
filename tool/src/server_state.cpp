// The server-state monitor and the subject/observer pair it notifies through.
#include "server_state.h"

#include <tarvo_platform/clock.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <system_error>

std::function<void(const char *)> tool_message_box = [](const char *text) { std::fprintf(stderr, "%s\n", text); };

namespace {

constexpr char kThreadFailed[] = "fatal error - Couldn't create thread";
// Real time stop gives a cancelled exchange to notice its cancel flag
// (a socket wait notices it within one 500 ms slice).
constexpr unsigned kCancelGraceMs = 1500;

}  // namespace

int CSubject::Attach(CObserver *o)
{
  std::lock_guard<std::mutex> g(m_observerLock);
  if (std::find(m_observers.begin(), m_observers.end(), o) != m_observers.end()) return 0;
  m_observers.push_back(o);
  return 1;
}

int CSubject::Detach(CObserver *o)
{
  std::lock_guard<std::mutex> g(m_observerLock);
  auto it = std::find(m_observers.begin(), m_observers.end(), o);
  if (it == m_observers.end()) return 0;
  m_observers.erase(it);
  return 1;
}

int CSubject::Notify(int event)
{
  std::lock_guard<std::mutex> g(m_observerLock);
  for (CObserver *o : m_observers) o->Update(event);
  return 1;
}

void tool_thread::start(std::function<void()> body)
{
  done = false;
  t = std::thread([this, body = std::move(body)] {
    body();
    std::lock_guard<std::mutex> g(m);
    done = true;
    cv.notify_all();
  });
}

int tool_thread::join_within(unsigned program_ms) { return join_within_real(platform_real_ms(program_ms)); }

int tool_thread::join_within_real(unsigned ms)
{
  if (!t.joinable()) return 1;
  std::unique_lock<std::mutex> g(m);
  if (!cv.wait_for(g, std::chrono::milliseconds(ms), [&] { return done; })) return 0;
  g.unlock();
  t.join();
  return 1;
}

CSubjectServerState &CSubjectServerState::Instance()
{
  static CSubjectServerState instance;
  return instance;
}

CSubjectServerState::~CSubjectServerState() { server_state_stop(); }

void CSubjectServerState::read_state(int *server, int *auto_run)
{
  int active = 0, s = 0;
  if (m_port == 0) {  // no management port: nothing is asked
    m_serverState = 0;
    if (server) *server = 0;
    if (auto_run) *auto_run = m_autoRunState;
    return;
  }
  {
    std::lock_guard<std::recursive_mutex> g(m_lock);
    m_serverState = s = !tarvo_dmsm_get_server_state(&m_handle, &active) ? 0 : active ? 2 : 1;
  }
  if (server) *server = s;
  std::lock_guard<std::recursive_mutex> g(m_lock);
  if (tarvo_dmsm_get_auto_run_state(&m_handle, &active)) m_autoRunState = active ? 2 : 1;
  if (auto_run) *auto_run = m_autoRunState;
}

void CSubjectServerState::poll_thread()
{
  int previous = -1, count = 0;
  while (m_polling) {
    int s = 0;
    read_state(&s);
    if (count == 0) {
      if (s != previous) count = 1;
    } else if (s == previous && ++count >= SERVER_STATE_SETTLE_READS) {
      Notify(s == 2 ? 1 : 0);
      count = 0;
    }
    previous = s;
    std::unique_lock<std::mutex> g(m_sleepLock);
    m_wake.wait_for(g, std::chrono::milliseconds(platform_real_ms(SERVER_STATE_POLL_MS)), [&] { return !m_polling; });
  }
}

int CSubjectServerState::server_state_start(unsigned port)
{
  tarvo_dmsm_init(&m_handle, uint16_t(port));
  m_port = int(port);
  read_state();
  m_polling = 1;
  try {
    m_poller.start([this] { poll_thread(); });
  } catch (const std::system_error &) {
    tool_message_box(kThreadFailed);
    return 0;
  }
  return 1;
}

int CSubjectServerState::start_worker(int request)
{
  // busy is set here, before the worker exists, so that a second toggle
  // that comes before the worker runs is refused.
  m_busy = 1;
  m_request = request;
  if (!m_worker.join_within(1000)) return m_busy = 0;  // the previous one still ends
  try {
    m_worker.start([this] { start_stop(); });
  } catch (const std::system_error &) {
    m_busy = 0;
    tool_message_box(kThreadFailed);
    return 0;
  }
  return 1;
}

void CSubjectServerState::start_stop()
{
  m_workerRunning = 1;
  {
    std::lock_guard<std::recursive_mutex> g(m_lock);
    if (m_port != 0) {
      if (m_request == 1)
        tarvo_dmsm_start_server(&m_handle);
      else
        tarvo_dmsm_stop_server(&m_handle);
    }
    m_busy = 0;
  }
  m_workerRunning = 0;
}

int CSubjectServerState::server_toggle()
{
  if (m_busy) return 0;
  int s = 0;
  read_state(&s);
  return s == 1 ? start_worker(1) : s == 2 ? start_worker(0) : 0;
}

int CSubjectServerState::set_auto_run(int on)
{
  std::lock_guard<std::recursive_mutex> g(m_lock);
  return m_port != 0 && tarvo_dmsm_set_auto_run_state(&m_handle, on);
}

void CSubjectServerState::cancel()
{
  if (m_handle.client) http_client_set_cancel(&m_handle.client, 1);
}

void CSubjectServerState::server_state_stop()
{
  if (!m_poller.t.joinable() && !m_worker.t.joinable() && m_port == 0) return;
  // A thread that does not end in time has its exchange cancelled; one that
  // still runs after that keeps the handle, which is then never freed.
  auto finish = [this](tool_thread &t) {
    if (t.join_within(SERVER_STATE_STOP_WAIT_MS)) return true;
    cancel();
    if (t.join_within_real(kCancelGraceMs)) return true;
    t.t.detach();
    return false;
  };
  bool worker_done = finish(m_worker);
  {
    std::lock_guard<std::mutex> g(m_sleepLock);
    m_polling = 0;
  }
  m_wake.notify_all();
  cancel();  // a poll in flight ends now
  bool poller_done = finish(m_poller);
  m_leaked = !worker_done || !poller_done;
  if (!m_leaked) tarvo_dmsm_free(&m_handle);
  m_port = 0;
}
