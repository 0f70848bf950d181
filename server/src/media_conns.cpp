// The accepted connections of a listener (the media server, the management
// port): a thread each, admitted under util's connection policy, the 503
// beyond its caps, and the stop.
#include <vennard/media_http.h>
#include <vennard/vennard_limits.h>

#include <tarvo_util/sys_socket.h>
#include <tarvo_util/sys_time.h>
#include <tarvo_util/util_limits.h>

namespace {

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
  if (!conn_policy_admit(&set->policy, &slot->policy)) return false;
  sys_thread_handle t;
  if (sys_thread_create(&t, run, slot)) {
    sys_thread_detach(t);
    return true;
  }
  conn_policy_remove(&set->policy, &slot->policy);
  return false;
}

}  // namespace

extern "C" {

int conn_set_init(conn_set_rec *set, uint32_t max_total, uint32_t max_per_address, uint32_t refuse_timeout_ms,
                  const char *server_name)
{
  *set = conn_set_rec{};
  if (!sys_mutex_create(&set->mutex)) return 0;
  if (!conn_policy_init(&set->policy, max_total, max_per_address, &set->mutex)) {
    sys_mutex_destroy(&set->mutex);
    return 0;
  }
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
  slot->policy.conn = &slot->http;
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
  conn_policy_served(&slot->policy);
  sys_mutex_unlock(&set->mutex);
  // Still listed, so that the stop can cut the wait short.
  sys_socket_linger(slot->http.socket);
  // Closed under the mutex and off the list in one step, so that nobody
  // shuts down a descriptor the system has handed out again.
  sys_mutex_lock(&set->mutex);
  conn_policy_remove(&set->policy, &slot->policy);
  sys_socket_close(slot->http.socket);
  sys_mutex_unlock(&set->mutex);
  sys_alloc_free(slot);
}

void conn_set_close(conn_set_rec *set)
{
  if (!set->mutex) return;
  sys_mutex_lock(&set->mutex);
  conn_policy_cut(&set->policy);
  sys_mutex_unlock(&set->mutex);
  for (;;) {
    sys_mutex_lock(&set->mutex);
    uint32_t n = set->policy.count;
    sys_mutex_unlock(&set->mutex);
    if (!n) break;
    sys_thread_sleep(MEDIA_HTTP_STOP_POLL_MS);
  }
  conn_policy_free(&set->policy);
  sys_mutex_destroy(&set->mutex);
  *set = conn_set_rec{};
}

conn_policy_entry *conn_slot_policy(http_server_conn *conn) { return &reinterpret_cast<conn_slot *>(conn)->policy; }

void conn_slot_fail_pause(http_server_conn *conn)
{
  conn_policy_pause(conn_slot_policy(conn));
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
