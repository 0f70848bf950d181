// The connection policy shared by the listeners: admission under a total
// and a per-address cap, a really idle connection shut down to make room,
// the wait for a slot beyond the caps, and the request header's deadline.
#include <tarvo_util/conn_policy.h>
#include <tarvo_util/http_message.h>
#include <tarvo_util/sys_socket.h>
#include <tarvo_util/sys_str.h>

#include <algorithm>
#include <atomic>
#include <chrono>

namespace {

conn_policy_entry *listed(const conn_policy_rec *p, uint32_t i)
{
  return static_cast<conn_policy_entry *>(p->conns.buf[i]);
}

bool same_ip(const conn_policy_entry *e, const uint8_t *ip)
{
  return !sys_byte_diff(e->conn->addr.remote_ip, 4, ip);
}

int64_t steady_ms()
{
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int32_t state(const conn_policy_entry *e) { return std::atomic_ref<int32_t>(const_cast<int32_t &>(e->idle)).load(); }

void state_set(conn_policy_entry *e, int32_t s) { std::atomic_ref<int32_t>(e->idle).store(s); }

// New and busy connections hold their address's share; kept-alive and
// pausing ones only a slot of the total.
bool in_share(const conn_policy_entry *e)
{
  int32_t s = state(e);
  return s == CONN_NEW || s == CONN_BUSY;
}

// Whether e may be shut down without costing a request its answer: new
// and silent past the grace, kept alive with no byte of its next request
// come, or pausing.  With share_only, only one that holds a share.
bool gives_way(const conn_policy_entry *e, bool share_only, int64_t now)
{
  if (e->closing || e->leaving || e->waiting) return false;
  // The socket before the state: the thread marks itself busy before it
  // reads a byte, so a byte taken after this look shows in the state.
  bool input = sys_socket_input_pending(e->conn->socket);
  switch (state(e)) {
    case CONN_NEW: return !input && now - e->since_ms >= CONN_SILENT_GRACE_MS;
    case CONN_KEPT: return !share_only && !input;
    case CONN_PAUSED: return !share_only;
    default: return false;
  }
}

// Shuts down the oldest connection that gives way (of the address ip when
// it is given), so that silent clients cannot hold the slots; its thread
// sees its read fail and leaves at once.
bool make_room(conn_policy_rec *p, const uint8_t *ip)
{
  // Their threads are not yet gone: they are bounded apart from the cap.
  if (p->closing >= p->max_total) return false;
  int64_t now = steady_ms();
  for (uint32_t i = 0; i < p->conns.len; i++) {
    conn_policy_entry *e = listed(p, i);
    if ((ip && !same_ip(e, ip)) || !gives_way(e, ip != nullptr, now)) continue;
    e->closing = 1;
    p->closing++;
    sys_socket_shutdown(e->conn->socket, 2);
    return true;
  }
  return false;
}

// The connections that hold a slot, in all and in ip's share.  Those shut
// down, served or waiting hold none, and with look_at_peers neither do
// those whose client has closed: their threads have only the close left.
void slots_held(const conn_policy_rec *p, const uint8_t *ip, bool look_at_peers, uint32_t *all, uint32_t *same)
{
  *all = *same = 0;
  for (uint32_t i = 0; i < p->conns.len; i++) {
    const conn_policy_entry *e = listed(p, i);
    if (e->closing || e->leaving || e->waiting || (look_at_peers && sys_socket_peer_closed(e->conn->socket)))
      continue;
    ++*all;
    if (same_ip(e, ip) && in_share(e)) ++*same;
  }
}

bool fits(conn_policy_rec *p, const uint8_t *ip)
{
  uint32_t all, from_ip;
  slots_held(p, ip, false, &all, &from_ip);
  // A client that closed its connection has its slot back before the
  // thread is gone: the sockets are looked at only at a cap.
  if (from_ip >= p->max_per_address || all >= p->max_total) slots_held(p, ip, true, &all, &from_ip);
  if (from_ip >= p->max_per_address) {
    if (!make_room(p, ip)) return false;
    all--;
  }
  return all < p->max_total || make_room(p, nullptr);
}

uint32_t waiting_from(const conn_policy_rec *p, const uint8_t *ip)
{
  uint32_t n = 0;
  for (uint32_t i = 0; i < p->conns.len; i++) n += listed(p, i)->waiting && same_ip(listed(p, i), ip);
  return n;
}

// Under the mutex: a slot may have come free for those that wait.
void wake_waiting(conn_policy_rec *p) { sys_sync_notify_all(&p->turn); }

enum class turn { taken, none, cut };

// Waits until e holds a slot: none when no slot came within
// CONN_TURN_WAIT_MS.
turn take_turn(conn_policy_entry *e)
{
  conn_policy_rec *p = e->policy;
  if (!p) return turn::taken;
  sys_mutex_lock(p->mutex);
  int64_t due = steady_ms() + CONN_TURN_WAIT_MS;
  while (e->waiting && !p->cut && !e->closing) {
    if (fits(p, e->conn->addr.remote_ip)) {
      e->waiting = 0;
      e->since_ms = steady_ms();
      break;
    }
    int64_t left = due - steady_ms();
    if (left <= 0) break;
    // A slot that comes free wakes the wait; a silent connection comes to
    // give way with time alone, so the wait looks again after the grace.
    sys_sync_timedwait(&p->turn, p->mutex, uint32_t(std::clamp<int64_t>(left, 1, CONN_SILENT_GRACE_MS)));
  }
  turn got = p->cut || e->closing ? turn::cut : e->waiting ? turn::none : turn::taken;
  // Waited in vain: only its 503 and the close are left, which take no
  // place among those that wait.
  if (got == turn::none) {
    e->waiting = 0;
    e->leaving = 1;
  }
  sys_mutex_unlock(p->mutex);
  return got;
}

// Kept alive for its next request: the address's share has room again.
void kept(conn_policy_entry *e)
{
  conn_policy_rec *p = e->policy;
  if (!p) return state_set(e, CONN_KEPT);
  sys_mutex_lock(p->mutex);
  state_set(e, CONN_KEPT);
  wake_waiting(p);
  sys_mutex_unlock(p->mutex);
}

}  // namespace

extern "C" {

int conn_policy_init(conn_policy_rec *p, uint32_t max_total, uint32_t max_per_address, sys_mutex_handle *mutex)
{
  *p = conn_policy_rec{};
  if (!max_total || !max_per_address || !mutex || !sys_sync_create(&p->turn)) return 0;
  p->max_total = max_total;
  p->max_per_address = max_per_address;
  p->mutex = mutex;
  return 1;
}

void conn_policy_free(conn_policy_rec *p)
{
  sys_ptralloc_free(&p->conns);
  if (p->mutex) sys_sync_destroy(&p->turn);
  *p = conn_policy_rec{};
}

int conn_policy_admit(conn_policy_rec *p, conn_policy_entry *e)
{
  e->closing = e->leaving = e->waiting = 0;
  e->policy = p;
  e->since_ms = steady_ms();
  state_set(e, CONN_NEW);
  // The threads, waiting or on their way out, are bounded apart from the caps.
  if (p->count >= 2 * p->max_total) return 0;
  if (!fits(p, e->conn->addr.remote_ip)) {
    if (waiting_from(p, e->conn->addr.remote_ip) >= CONN_WAITING_PER_ADDRESS_MAX) return 0;
    e->waiting = 1;
  }
  if (!sys_ptralloc_append(&p->conns, e)) return 0;
  p->count++;
  return 1;
}

void conn_policy_served(conn_policy_entry *e)
{
  e->leaving = 1;
  if (e->policy) wake_waiting(e->policy);
}

void conn_policy_remove(conn_policy_rec *p, conn_policy_entry *e)
{
  for (uint32_t i = 0; i < p->conns.len; i++)
    if (listed(p, i) == e) {
      sys_ptralloc_remove(&p->conns, i);
      p->count--;
      if (e->closing) p->closing--;
      wake_waiting(p);
      return;
    }
}

void conn_policy_cut(conn_policy_rec *p)
{
  p->cut = 1;
  for (uint32_t i = 0; i < p->conns.len; i++) sys_socket_shutdown(listed(p, i)->conn->socket, 2);
  if (p->mutex) wake_waiting(p);
}

void conn_policy_pause(conn_policy_entry *e) { state_set(e, CONN_PAUSED); }

void conn_header_wait(http_server_conn *conn, int64_t due_ms)
{
  int64_t left = std::clamp<int64_t>(due_ms - steady_ms(), 0, CONN_HEADER_DUE_MS);
  sys_socketbuffer_set_timeout(&conn->in, uint32_t(left));
}

int conn_request_line(conn_policy_entry *e, int first, uint32_t keep_wait_ms, int64_t *due_ms,
                      sys_stralloc_rec *line)
{
  http_server_conn *conn = e->conn;
  if (turn t = first ? take_turn(e) : turn::taken; t != turn::taken) {
    if (t == turn::none) http_server_write_error_response(&conn->out, "503 Service Unavailable", conn->server_name, 1);
    return 0;
  }
  // Bytes already read belong to a request that follows at once.
  if (!first && !conn->in.p) kept(e);
  int64_t start = steady_ms();
  // Busy before its first byte is read, so that a connection with a
  // request come is never taken for an idle one.
  if (!conn->in.p && !sys_socket_read_wait(conn->socket, first ? CONN_HEADER_DUE_MS : keep_wait_ms)) return 0;
  state_set(e, CONN_BUSY);
  *due_ms = (first ? start : steady_ms()) + CONN_HEADER_DUE_MS;
  for (uint32_t empty = 0; empty <= CONN_EMPTY_LINES_MAX; empty++) {
    conn_header_wait(conn, *due_ms);
    if (!http_header_readline(&conn->in, line)) return 0;
    if (line->len) return 1;
  }
  return 0;
}

}  // extern "C"
