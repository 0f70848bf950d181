// The accepted connections of a listener (the media server, the management
// port): admission under a total and a per-address cap, connections without
// a request being served shut down first to make room, the 503 beyond, and
// the stop.
#include <vennard/media_http.h>
#include <vennard/vennard_limits.h>

#include <tarvo_util/sys_socket.h>
#include <tarvo_util/sys_time.h>
#include <tarvo_util/util_limits.h>

#include <atomic>
#include <climits>

namespace {

bool same_ip(const conn_slot *c, const uint8_t *ip)
{
  return !sys_byte_diff(c->http.addr.remote_ip, 4, ip);
}

conn_slot *listed(const conn_set_rec *set, uint32_t i)
{
  return static_cast<conn_slot *>(set->conns.buf[i]);
}

// Shuts down the oldest connection that gives way (of the address ip when
// it is given): kept alive without a request, or still without a whole
// request header, so that silent or trickling clients cannot hold the
// slots.  The list is in accept order.  Under the mutex; the thread sees
// its read fail and leaves at once.
bool make_room(conn_set_rec *set, const uint8_t *ip)
{
  // Their threads are not yet gone: they are bounded apart from the cap.
  if (set->closing >= set->max_total) return false;
  for (uint32_t i = 0; i < set->conns.len; i++) {
    conn_slot *c = listed(set, i);
    if (c->closing || c->leaving || !std::atomic_ref<int32_t>(c->idle).load() || (ip && !same_ip(c, ip)))
      continue;
    c->closing = 1;
    set->closing++;
    sys_socket_shutdown(c->http.socket, 2);
    return true;
  }
  return false;
}

// Under the mutex: the running connections that hold a slot, in all and
// from ip.  Those shut down to make room or served are on their way out,
// and with look_at_peers so are those whose client has closed: their
// threads have only the close left.
void slots_held(const conn_set_rec *set, const uint8_t *ip, bool look_at_peers, uint32_t *all, uint32_t *same)
{
  *all = *same = 0;
  for (uint32_t i = 0; i < set->conns.len; i++) {
    const conn_slot *c = listed(set, i);
    if (c->closing || c->leaving || (look_at_peers && sys_socket_peer_closed(c->http.socket))) continue;
    ++*all;
    if (same_ip(c, ip)) ++*same;
  }
}

// Whether a connection from ip fits, after making room if need be; under
// the mutex.
bool fits(conn_set_rec *set, const uint8_t *ip)
{
  // The threads that no longer hold a slot are bounded apart from the caps.
  if (set->count >= 2 * set->max_total) return false;
  uint32_t all, from_ip;
  slots_held(set, ip, false, &all, &from_ip);
  // A client that closed its connection has its slot back before the
  // thread is gone: the sockets are looked at only at a cap.
  if (from_ip >= set->max_per_address || all >= set->max_total) slots_held(set, ip, true, &all, &from_ip);
  if (from_ip >= set->max_per_address) {
    if (!make_room(set, ip)) return false;
    all--;
  }
  if (all >= set->max_total && !make_room(set, nullptr)) return false;
  return true;
}

// "503 Service Unavailable" within a short wait, and the close: the accept
// loop never waits long for a client it turns away.
void refuse(conn_set_rec *set, conn_slot *slot)
{
  http_server_conn *c = &slot->http;
  sys_socketbuffer_init(&c->out, c->socket, c->out_buf, sizeof c->out_buf, set->refuse_timeout_ms);
  http_server_write_error_response(&c->out, "503 Service Unavailable", set->server_name, 1);
  sys_socket_shutdown(c->socket, 1);
  // A request already there is read off, so that the close sends no reset
  // that could destroy the answer; the socket does not block.
  uint32_t got = 0;
  for (int i = 0; i < 4 && sys_socket_recv(c->socket, c->in_buf, sizeof c->in_buf, &got) && got; i++) {
  }
  sys_socket_close(c->socket);
  c->socket = -1;
}

bool start(conn_set_rec *set, conn_slot *slot, void (*run)(void *))
{
  if (!fits(set, slot->http.addr.remote_ip) || !sys_ptralloc_append(&set->conns, slot)) return false;
  sys_thread_handle t;
  if (sys_thread_create(&t, run, slot)) {
    sys_thread_detach(t);
    set->count++;
    return true;
  }
  sys_ptralloc_remove(&set->conns, set->conns.len - 1);
  return false;
}

}  // namespace

extern "C" {

int conn_set_init(conn_set_rec *set, uint32_t max_total, uint32_t max_per_address, uint32_t refuse_timeout_ms,
                  const char *server_name)
{
  *set = conn_set_rec{};
  if (!max_total || !max_per_address || !sys_mutex_create(&set->mutex)) return 0;
  set->max_total = max_total;
  set->max_per_address = max_per_address;
  set->refuse_timeout_ms = refuse_timeout_ms;
  set->server_name = server_name;
  return 1;
}

int conn_set_wait(int listen_socket, int wake)
{
  sys_select_rec rd;
  sys_select_init(&rd);
  sys_select_set(&rd, listen_socket);
  sys_select_set(&rd, wake);
  uint32_t n = 0;
  // No timeout: the stop makes wake readable.
  if (!sys_select_check(&rd, nullptr, nullptr, UINT32_MAX, &n)) return 0;
  if (sys_select_is_set(&rd, wake)) return -1;
  return sys_select_is_set(&rd, listen_socket);
}

int conn_set_admit(conn_set_rec *set, conn_slot *slot, void (*run)(void *))
{
  slot->set = set;
  // Until its first request header is whole.
  std::atomic_ref<int32_t>(slot->idle).store(1);
  slot->closing = slot->leaving = 0;
  if (!sys_mutex_lock(&set->mutex)) {
    sys_socket_close(slot->http.socket);
    return 0;
  }
  bool started = start(set, slot, run);
  sys_mutex_unlock(&set->mutex);
  if (!started) refuse(set, slot);
  return started;
}

void conn_set_leave(conn_slot *slot)
{
  conn_set_rec *set = slot->set;
  sys_mutex_lock(&set->mutex);
  // Served: its slot is free for the client's next connection at once.
  slot->leaving = 1;
  sys_mutex_unlock(&set->mutex);
  // Still listed, so that the stop can cut the wait short.
  sys_socket_linger(slot->http.socket);
  // Closed under the mutex and off the list in one step, so that nobody
  // shuts down a descriptor the system has handed out again.
  sys_mutex_lock(&set->mutex);
  for (uint32_t i = 0; i < set->conns.len; i++)
    if (set->conns.buf[i] == slot) {
      sys_ptralloc_remove(&set->conns, i);
      break;
    }
  sys_socket_close(slot->http.socket);
  if (slot->closing) set->closing--;
  set->count--;
  sys_mutex_unlock(&set->mutex);
  sys_alloc_free(slot);
}

void conn_set_close(conn_set_rec *set)
{
  if (!set->mutex) return;
  sys_mutex_lock(&set->mutex);
  for (uint32_t i = 0; i < set->conns.len; i++) sys_socket_shutdown(listed(set, i)->http.socket, 2);
  sys_mutex_unlock(&set->mutex);
  for (;;) {
    sys_mutex_lock(&set->mutex);
    uint32_t n = set->count;
    sys_mutex_unlock(&set->mutex);
    if (!n) break;
    sys_thread_sleep(MEDIA_HTTP_STOP_POLL_MS);
  }
  sys_ptralloc_free(&set->conns);
  sys_mutex_destroy(&set->mutex);
  *set = conn_set_rec{};
}

void conn_slot_idle(http_server_conn *conn, int on)
{
  std::atomic_ref<int32_t>(reinterpret_cast<conn_slot *>(conn)->idle).store(on ? 1 : 0);
}

void conn_slot_fail_pause(http_server_conn *conn)
{
  conn_slot_idle(conn, 1);
  int64_t now = 0, end;
  sys_timems_now(&now);
  end = now + HTTP_SERVER_FAIL_PAUSE_MS;
  // What the client sends meanwhile is dropped; a shutdown (room made for
  // another client, or the stop) or the client's close ends the pause.
  while (now < end && sys_socket_read_wait(conn->socket, uint32_t(end - now))) {
    uint32_t got = 0;
    if (!sys_socket_recv(conn->socket, conn->in_buf, sizeof conn->in_buf, &got) || !got) break;
    sys_timems_now(&now);
  }
}

}  // extern "C"
