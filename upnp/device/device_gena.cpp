// SUBSCRIBE and UNSUBSCRIBE on a service's event URL: new subscriptions,
// renewals and cancellations.  Initial events and NOTIFY messages go out
// from the senders of device_gena_event.cpp.
#include "device_gena_ssdp.h"

#include <string_view>
#include <tarvo_util/digest.h>
#include <tarvo_util/sys_time.h>
#include <tarvo_util/uri.h>

namespace {

// One callback URL as it is to be called: unchanged when its path needs
// no escaping, else rebuilt around the escaped path.  0 when it does not
// parse.
int callback_url(std::string_view text, char **out)
{
  char *copy = nullptr;
  if (!device_clone_view(text, &copy)) return 0;
  uri_rec u{};
  int ok = uri_parse(&u, copy);
  if (ok && uri_should_escape(u.path)) {
    char *escaped = nullptr;
    ok = uri_escape(u.path, &escaped);
    if (ok) {
      sys_alloc_free(u.path);
      u.path = escaped;
      sys_alloc_free(copy);
      copy = nullptr;
      ok = uri_get_string(&u, &copy);
    }
  }
  uri_free(&u);
  if (!ok) {
    sys_alloc_free(copy);
    return 0;
  }
  *out = copy;
  return 1;
}

// "<url><url>...": text outside the brackets is ignored.  0 when a '<' has
// no '>' or a URL does not parse; -1 on exhaustion.
int callbacks_parse(std::string_view v, sys_str_list *out)
{
  own::str_list_build list;
  for (size_t open = v.find('<'); open != v.npos; open = v.find('<', open)) {
    size_t close = v.find('>', open + 1);
    if (close == v.npos) return 0;
    char *url = nullptr;
    if (!callback_url(v.substr(open + 1, close - open - 1), &url)) return 0;
    if (!list.take(url)) return -1;
    open = close + 1;
  }
  if (!list.pa.len) {
    *out = nullptr;
    return 1;
  }
  return list.release(out) ? 1 : -1;
}

// One header line; NULL, or the status of the error answer.
const char *header_check(const char *line, int unsubscribe, device_gena_request *rq,
                         bool *host)
{
  auto is = [line](const char *name) { return sys_str_case_start(line, name) != 0; };
  if (is("host:")) {
    *host = true;
  } else if (is("transfer-encoding:")) {
    if (!device_case_equal(device_header_value(line, 18), "chunked")) return "505 I do not accept Transfer-Encoding";
    rq->chunked = 1;
  } else if (is("content-length:")) {
    if (!device_header_decimal(line, 15, &rq->length)) return "412 invalid Content-Length";
    rq->has_length = 1;
  } else if (is("connection:")) {
    if (http_header_value_case_equal(line, 11, "close")) rq->keep_alive = 0;
  } else if (is("sid:")) {
    sys_alloc_free(rq->sid);
    rq->sid = nullptr;
    if (!device_clone_view(device_header_value(line, 4), &rq->sid)) return "500 internal server error";
  } else if (is("callback:")) {
    if (unsubscribe) return "400 bad request";
    std::string_view v = device_header_value(line, 9);
    if (v.size() > DEVICE_GENA_CALLBACK_HEADER_MAX) return "412 Precondition Failed";
    sys_str_list_free(rq->callbacks);
    rq->callbacks = nullptr;
    int r = callbacks_parse(v, &rq->callbacks);
    if (r < 0) return "500 internal server error";
    rq->callbacks_invalid = r == 0;
  } else if (is("nt:")) {
    if (unsubscribe) return "400 bad request";
    if (device_header_value(line, 3) != "upnp:event") return "412 invalid NT";
    rq->has_nt = 1;
  }
  return nullptr;
}

bool ip_equal(const uint8_t *a, const uint8_t *b) { return !sys_byte_diff(a, 4, b); }

bool callback_allowed(const char *url, const uint8_t *remote_ip)
{
  uri_rec u{};
  if (!uri_parse(&u, url)) return false;
  uint8_t ip[4];
  uint16_t port = 0;
  bool ok = device_case_equal(u.scheme, "http") && u.host[0] &&
            sys_ip4_scan(u.host, ip) == sys_str_len(u.host) &&
            (!u.port[0] || (sys_str_scan_uint16(u.port, &port) == sys_str_len(u.port) && port)) &&
            ip_equal(ip, remote_ip);
  uri_free(&u);
  return ok;
}

int answer_ok(http_server_conn *conn, const char *sid, int keep_alive)
{
  sys_socketbuffer_rec *sb = &conn->out;
  char timeout[32];
  timeout[sys_str_fmt_uint(timeout, DEVICE_GENA_TIMEOUT_S)] = 0;
  return http_server_write_common_header(sb, "200 OK", conn->server_name) &&
         (!sid || (sys_socketbuffer_puts(sb, "SID: ") && sys_socketbuffer_puts(sb, sid) &&
                   sys_socketbuffer_puts(sb, "\r\nTIMEOUT: Second-") &&
                   sys_socketbuffer_puts(sb, timeout) && sys_socketbuffer_puts(sb, "\r\n"))) &&
         (keep_alive || sys_socketbuffer_puts(sb, "CONNECTION: close\r\n")) &&
         sys_socketbuffer_puts(sb, "CONTENT-LENGTH: 0\r\n\r\n") && sys_socketbuffer_flush(sb);
}

void answer(http_server_conn *conn, const char *sid, int keep_alive)
{
  if (answer_ok(conn, sid, keep_alive)) conn->keep_alive = keep_alive;
}

int64_t expiry_from_now()
{
  int64_t now = 0;
  sys_time_now(&now);
  return now + DEVICE_GENA_TIMEOUT_S;
}

// Removes the subscription with that SID; 1 when there was one.
int subscription_remove(tarvo_device_ctx *c, const char *sid)
{
  sys_mutex_lock(&c->sub_mutex);
  int32_t i = device_subscription_find(c, sid);
  if (i >= 0) device_subscription_drop(c, uint32_t(i));
  sys_mutex_unlock(&c->sub_mutex);
  return i >= 0;
}

// Room for one more subscription from peer: when the peer holds its
// share already, its oldest subscription goes, so that one client's flood
// costs only its own subscriptions.  false when the list is full.
bool room_for(tarvo_device_ctx *c, const uint8_t *peer)
{
  uint32_t held = 0, oldest = 0;
  for (uint32_t i = 0; i < c->subscriptions.len; i++)
    if (ip_equal(static_cast<device_subscription *>(c->subscriptions.buf[i])->peer, peer) && !held++)
      oldest = i;
  if (held >= DEVICE_GENA_PEER_SUBSCRIPTIONS_MAX) device_subscription_drop(c, oldest);
  return c->subscriptions.len < DEVICE_GENA_SUBSCRIPTIONS_MAX;
}

// Stores a new subscription, its initial event waiting in its outbox, and
// copies its SID into sid; 0 with nothing stored, *full set when the list
// is at its limit.
int subscription_add(http_server_conn *conn, const char *service_id, device_gena_request *rq,
                     const char *initial, char *sid, bool *full)
{
  tarvo_device_ctx *c = device_conn_ctx(conn);
  auto *sub = static_cast<device_subscription *>(sys_alloc_zero(sizeof(device_subscription)));
  char uuid[UUID_BUF_LEN];
  if (!sub || !uuid_create(uuid) || !device_subscription_initial(sub, initial)) {
    device_subscription_free(sub);
    return 0;
  }
  sub->service_id = service_id;
  sys_str_copy(sub->sid + sys_str_copy(sub->sid, "uuid:"), uuid);
  sys_byte_copy(sub->peer, 4, conn->addr.remote_ip);
  sub->expiry = expiry_from_now();
  int ok = 0;
  sys_mutex_lock(&c->sub_mutex);
  *full = !device_stopping(c) && !room_for(c, sub->peer);
  if (!device_stopping(c) && !*full && sys_ptralloc_append(&c->subscriptions, sub)) {
    sub->callbacks = rq->callbacks;
    rq->callbacks = nullptr;
    sys_str_copy(sid, sub->sid);
    ok = 1;
  }
  sys_mutex_unlock(&c->sub_mutex);
  if (!ok) device_subscription_free(sub);
  return ok;
}

// The initial event goes once the pause after the answer is over.
void initial_release(tarvo_device_ctx *c, const char *sid)
{
  sys_mutex_lock(&c->sub_mutex);
  int32_t i = device_subscription_find(c, sid);
  if (i >= 0 && !device_stopping(c))
    device_gena_release(c, static_cast<device_subscription *>(c->subscriptions.buf[i]));
  sys_mutex_unlock(&c->sub_mutex);
}

void subscribe(http_server_conn *conn, device_gena_request *rq, const device_request_info *info,
               const device_service_handler *handler)
{
  tarvo_device_ctx *c = device_conn_ctx(conn);
  char *initial = nullptr;
  if (!handler->subscribe(info, handler->user, &initial)) {
    sys_alloc_free(initial);
    device_fail_answer(conn, "500 unable to accept");
    return;
  }
  char sid[DEVICE_SID_LEN + 1];
  bool full = false;
  int ok = !device_stopping(c) &&
           subscription_add(conn, handler->service_id, rq, initial ? initial : "", sid, &full);
  sys_alloc_free(initial);
  if (!ok) {
    if (full) device_fail_answer(conn, "500 unable to accept");
    return;
  }
  answer(conn, sid, rq->keep_alive);
  initial_release(c, sid);
}

void renew(http_server_conn *conn, const device_gena_request *rq)
{
  tarvo_device_ctx *c = device_conn_ctx(conn);
  char sid[DEVICE_SID_LEN + 1];
  int found = 0;
  sys_mutex_lock(&c->sub_mutex);
  if (device_stopping(c)) {
    sys_mutex_unlock(&c->sub_mutex);
    return;
  }
  int32_t i = device_subscription_find(c, rq->sid);
  if (i >= 0) {
    auto *sub = static_cast<device_subscription *>(c->subscriptions.buf[i]);
    sub->expiry = expiry_from_now();
    sys_str_copy(sid, sub->sid);
    found = 1;
  }
  sys_mutex_unlock(&c->sub_mutex);
  if (found)
    answer(conn, sid, rq->keep_alive);
  else
    device_fail_answer(conn, "412 invalid SID");
}

// Any body goes unread into nothing.
int body_discard(http_server_conn *conn, const device_gena_request *rq)
{
  if (rq->chunked) return http_server_read_chunked(conn, nullptr);
  return !rq->has_length || http_server_read(conn, rq->length, nullptr);
}

}  // namespace

int32_t device_subscription_find(const tarvo_device_ctx *c, const char *sid)
{
  for (uint32_t i = 0; i < c->subscriptions.len; i++)
    if (!sys_str_diff(static_cast<const device_subscription *>(c->subscriptions.buf[i])->sid, sid))
      return int32_t(i);
  return -1;
}

uint32_t device_seq_next(uint32_t seq) { return seq == UINT32_MAX ? 1 : seq + 1; }

void device_gena_request_free(device_gena_request *rq)
{
  sys_alloc_free(rq->sid);
  sys_str_list_free(rq->callbacks);
  *rq = device_gena_request{};
}

const char *device_gena_headers(char *const *lines, int unsubscribe, int http10,
                                device_gena_request *rq)
{
  rq->keep_alive = !http10;
  bool host = false;
  for (char *const *l = lines; l && *l; l++)
    if (const char *err = header_check(*l, unsubscribe, rq, &host)) return err;
  if (!host && !http10) return "400 HTTP/1.1 requests must include a host name";
  if (unsubscribe) return rq->sid ? nullptr : "412 I need SID";
  if (rq->sid) return rq->has_nt || rq->callbacks ? "400 bad request" : nullptr;
  if (rq->callbacks_invalid || !rq->callbacks) return "412 I need Callback";
  if (!rq->has_nt) return "400 I need NT";
  return nullptr;
}

int device_gena_callbacks_filter(device_gena_request *rq, const uint8_t *remote_ip)
{
  uint32_t kept = 0;
  for (uint32_t i = 0; rq->callbacks && rq->callbacks[i]; i++) {
    char *u = rq->callbacks[i];
    rq->callbacks[i] = nullptr;
    if (kept < DEVICE_GENA_CALLBACKS_MAX && callback_allowed(u, remote_ip))
      rq->callbacks[kept++] = u;
    else
      sys_alloc_free(u);
  }
  if (!kept) {
    sys_str_list_free(rq->callbacks);
    rq->callbacks = nullptr;
  }
  return kept != 0;
}

void device_gena_serve(http_server_conn *conn, const http_request_startline_rec *start)
{
  bool unsubscribe = !sys_str_diff(start->method, "UNSUBSCRIBE");
  device_request_info info{};
  const device_service_handler *handler = nullptr;
  if (!device_service_find(conn, start->uri.path, 1, &info, &handler)) {
    device_fail_answer(conn, "404 not found");
    return;
  }
  sys_str_list lines = nullptr;
  if (!device_request_headers(conn, &lines)) return;
  device_gena_request rq{};
  const char *err = device_gena_headers(lines, unsubscribe, !conn->http11, &rq);
  sys_str_list_free(lines);
  if (!err && !body_discard(conn, &rq)) {
    device_gena_request_free(&rq);
    return;
  }
  if (!err && !unsubscribe && !rq.sid && !device_gena_callbacks_filter(&rq, conn->addr.remote_ip))
    err = "412 I need Callback";
  if (err)
    device_fail_answer(conn, err);
  else if (unsubscribe && subscription_remove(device_conn_ctx(conn), rq.sid))
    answer(conn, nullptr, rq.keep_alive);
  else if (unsubscribe)
    device_fail_answer(conn, "412 invalid SID");
  else if (rq.sid)
    renew(conn, &rq);
  else
    subscribe(conn, &rq, &info, handler);
  device_gena_request_free(&rq);
}
