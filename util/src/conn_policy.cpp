// The connection policy shared by the listeners: admission under a total
// and a per-address cap, the oldest connection without a whole header
// shut down to make room, and the request header's deadline.
#include <tarvo_util/conn_policy.h>
#include <tarvo_util/http_message.h>
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

// Shuts down the oldest connection that gives way (of the address ip when
// it is given), so that silent or trickling clients cannot hold the
// slots; its thread sees its read fail and leaves at once.
bool make_room(conn_policy_rec *p, const uint8_t *ip)
{
  // Their threads are not yet gone: they are bounded apart from the cap.
  if (p->closing >= p->max_total) return false;
  for (uint32_t i = 0; i < p->conns.len; i++) {
    conn_policy_entry *e = listed(p, i);
    if (e->closing || e->leaving || !std::atomic_ref<int32_t>(e->idle).load() || (ip && !same_ip(e, ip)))
      continue;
    e->closing = 1;
    p->closing++;
    sys_socket_shutdown(e->conn->socket, 2);
    return true;
  }
  return false;
}

// The connections that hold a slot, in all and from ip.  Those shut down
// or served are on their way out, and with look_at_peers so are those
// whose client has closed: their threads have only the close left.
void slots_held(const conn_policy_rec *p, const uint8_t *ip, bool look_at_peers, uint32_t *all, uint32_t *same)
{
  *all = *same = 0;
  for (uint32_t i = 0; i < p->conns.len; i++) {
    const conn_policy_entry *e = listed(p, i);
    if (e->closing || e->leaving || (look_at_peers && sys_socket_peer_closed(e->conn->socket))) continue;
    ++*all;
    if (same_ip(e, ip)) ++*same;
  }
}

bool fits(conn_policy_rec *p, const uint8_t *ip)
{
  // The threads that no longer hold a slot are bounded apart from the caps.
  if (p->count >= 2 * p->max_total) return false;
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

int64_t steady_ms()
{
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

extern "C" {

int conn_policy_init(conn_policy_rec *p, uint32_t max_total, uint32_t max_per_address)
{
  *p = conn_policy_rec{};
  if (!max_total || !max_per_address) return 0;
  p->max_total = max_total;
  p->max_per_address = max_per_address;
  return 1;
}

void conn_policy_free(conn_policy_rec *p)
{
  sys_ptralloc_free(&p->conns);
  *p = conn_policy_rec{};
}

int conn_policy_admit(conn_policy_rec *p, conn_policy_entry *e)
{
  e->closing = e->leaving = 0;
  // Until its first request header is whole.
  conn_policy_idle(e, 1);
  if (!fits(p, e->conn->addr.remote_ip) || !sys_ptralloc_append(&p->conns, e)) return 0;
  p->count++;
  return 1;
}

void conn_policy_served(conn_policy_entry *e) { e->leaving = 1; }

void conn_policy_remove(conn_policy_rec *p, conn_policy_entry *e)
{
  for (uint32_t i = 0; i < p->conns.len; i++)
    if (listed(p, i) == e) {
      sys_ptralloc_remove(&p->conns, i);
      p->count--;
      if (e->closing) p->closing--;
      return;
    }
}

void conn_policy_cut(conn_policy_rec *p)
{
  for (uint32_t i = 0; i < p->conns.len; i++) sys_socket_shutdown(listed(p, i)->conn->socket, 2);
}

void conn_policy_idle(conn_policy_entry *e, int on) { std::atomic_ref<int32_t>(e->idle).store(on ? 1 : 0); }

void conn_header_wait(http_server_conn *conn, int64_t due_ms)
{
  int64_t left = std::clamp<int64_t>(due_ms - steady_ms(), 0, CONN_HEADER_DUE_MS);
  sys_socketbuffer_set_timeout(&conn->in, uint32_t(left));
}

int conn_request_line(http_server_conn *conn, int first, uint32_t keep_wait_ms, int64_t *due_ms,
                      sys_stralloc_rec *line)
{
  if (!first) {
    uint32_t avail = 0;
    sys_socketbuffer_set_timeout(&conn->in, keep_wait_ms);
    if (!sys_socketbuffer_feed(&conn->in, &avail) || !avail) return 0;
  }
  *due_ms = steady_ms() + CONN_HEADER_DUE_MS;
  for (uint32_t empty = 0; empty <= CONN_EMPTY_LINES_MAX; empty++) {
    conn_header_wait(conn, *due_ms);
    if (!http_header_readline(&conn->in, line)) return 0;
    if (line->len) return 1;
  }
  return 0;
}

}  // extern "C"
