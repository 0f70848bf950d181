// Events: the property sets of NOTIFY bodies, each subscriber's queue of
// NOTIFYs, the small pool of sender threads that deliver them, and the
// timer thread that ends each initial pause, removes expired subscriptions
// and watches the local address list.
//
// Every subscriber has its own queue, served by one sender at a time, so
// SEQ order holds per subscriber while a dead or slow callback delays only
// its own subscriber.
#include "device_gena_ssdp.h"

#include <algorithm>
#include <chrono>
#include <tarvo_util/sys_time.h>
#include <tarvo_util/xml.h>

namespace {

bool quitting(const tarvo_device_ctx *c) { return device_stopping(c) || device_load(c->gena->quit); }

// A body with no holder yet; NULL on exhaustion.
device_event_body *body_make(const char *text)
{
  uint32_t length = sys_str_len(text);
  auto *b = static_cast<device_event_body *>(sys_alloc(sizeof(device_event_body) + length + 1));
  if (!b) return nullptr;
  b->refs = 0;
  b->length = length;
  b->text = reinterpret_cast<char *>(b + 1);
  sys_byte_copy(b->text, length + 1, text);
  return b;
}

void body_release(device_event_body *b)
{
  if (b && !--b->refs) sys_alloc_free(b);
}

// Appends body to the subscription's outbox with the next SEQ; 0 when its
// outbox is full or on exhaustion.
bool outbox_add(device_subscription *sub, device_event_body *body)
{
  uint32_t seq = device_seq_next(sub->seq);
  if (sub->outbox.len >= DEVICE_GENA_PENDING_MAX || !sys_uint32alloc_append(&sub->outbox_seq, seq))
    return false;
  if (!sys_ptralloc_append(&sub->outbox, body)) {
    sub->outbox_seq.len--;
    return false;
  }
  body->refs++;
  sub->seq = seq;
  return true;
}

uint32_t peer_load(const device_gena *g, const uint8_t *peer)
{
  uint32_t n = 0;
  for (const auto &s : g->sender)
    if (s.serving && !sys_byte_diff(s.serving->peer, 4, peer)) n++;
  return n;
}

bool ready(const device_gena *g, const device_subscription *sub, int64_t now)
{
  return !sub->busy && sub->outbox.len && sub->due_ms <= now &&
         peer_load(g, sub->peer) < DEVICE_GENA_SENDERS_PER_PEER;
}

// The next subscription to serve, in turns from where the last round
// stopped; *more when another one is ready too.
device_subscription *pick(tarvo_device_ctx *c, int64_t now, bool *more)
{
  device_gena *g = c->gena;
  uint32_t n = c->subscriptions.len;
  device_subscription *got = nullptr;
  for (uint32_t k = 0; k < n; k++) {
    uint32_t i = (g->next_pick + k) % n;
    auto *sub = static_cast<device_subscription *>(c->subscriptions.buf[i]);
    if (!ready(g, sub, now)) continue;
    if (got) {
      *more = true;
      break;
    }
    got = sub;
    g->next_pick = i + 1;
  }
  return got;
}

int notify_request(http_client_rec **hc, const char *sid, uint32_t seq, const device_event_body *body)
{
  const uri_rec *u = http_client_get_url(hc);
  sys_stralloc_rec sa{};
  char num[24];
  auto cat_num = [&](uint64_t v) { return sys_stralloc_catb(&sa, num, sys_str_fmt_uint64(num, v)); };
  int ok = sys_stralloc_copys(&sa, "NOTIFY ") &&
           sys_stralloc_cats(&sa, u->path[0] ? u->path : "/") &&
           (!u->query[0] || (sys_stralloc_cats(&sa, "?") && sys_stralloc_cats(&sa, u->query))) &&
           sys_stralloc_cats(&sa, " HTTP/1.1\r\nHOST: ") && sys_stralloc_cats(&sa, u->host) &&
           (!u->port[0] || (sys_stralloc_cats(&sa, ":") && sys_stralloc_cats(&sa, u->port))) &&
           sys_stralloc_cats(&sa, "\r\nCONTENT-LENGTH: ") && cat_num(body->length) &&
           sys_stralloc_cats(&sa, "\r\nCONTENT-TYPE: text/xml;charset=\"utf-8\"\r\n"
                                  "NT: upnp:event\r\nNTS: upnp:propchange\r\nSID: ") &&
           sys_stralloc_cats(&sa, sid) && sys_stralloc_cats(&sa, "\r\nSEQ: ") && cat_num(seq) &&
           sys_stralloc_cats(&sa, "\r\nCONNECTION: close\r\n\r\n");
  sys_socketbuffer_rec *out = http_client_get_socketbuffer_out(hc);
  ok = ok && sys_socketbuffer_put(out, sa.buf, sa.len) &&
       sys_socketbuffer_put(out, body->text, body->length) && sys_socketbuffer_flush(out);
  sys_stralloc_free(&sa);
  return ok;
}

// One NOTIFY to one callback URL; 1 when answered with 200.
int notify_one(device_gena_sender *s, const char *url, const char *sid, uint32_t seq,
               const device_event_body *body)
{
  tarvo_device_ctx *c = s->ctx;
  http_client_rec *hc = nullptr;
  if (!http_client_init(&hc, url)) return 0;
  http_client_set_connect_timeout(&hc, DEVICE_GENA_CONNECT_TIMEOUT_MS);
  http_client_set_write_timeout(&hc, DEVICE_GENA_SEND_TIMEOUT_MS);
  http_client_set_read_timeout(&hc, DEVICE_GENA_SEND_TIMEOUT_MS);
  // Published under the mutex so that the stop can cut a stuck exchange.
  sys_mutex_lock(&c->sub_mutex);
  bool go = !quitting(c);
  if (go) s->client = hc;
  sys_mutex_unlock(&c->sub_mutex);
  int code = 0;
  int ok = go && http_client_connect(&hc) && notify_request(&hc, sid, seq, body) &&
           http_client_status(&hc, &code) && code == 200;
  sys_mutex_lock(&c->sub_mutex);
  s->client = nullptr;
  sys_mutex_unlock(&c->sub_mutex);
  http_client_free(&hc);
  return ok;
}

// The head of sub's outbox, taken by this sender: the callbacks in order
// until one takes it.  An event no callback takes is lost for that
// subscriber, who stays subscribed.  The SID and callbacks stay put while
// the subscription is busy.
void deliver(device_gena_sender *s, const device_subscription *sub, uint32_t seq,
             const device_event_body *body)
{
  for (char **u = sub->callbacks; u && *u && !quitting(s->ctx); u++)
    if (notify_one(s, *u, sub->sid, seq, body)) break;
}

void sender_loop(void *arg)
{
  auto *s = static_cast<device_gena_sender *>(arg);
  tarvo_device_ctx *c = s->ctx;
  device_gena *g = c->gena;
  sys_mutex_lock(&c->sub_mutex);
  while (!quitting(c)) {
    bool more = false;
    device_subscription *sub = pick(c, device_steady_ms(), &more);
    if (!sub) {
      sys_sync_wait(&g->send_wake, &c->sub_mutex);
      continue;
    }
    if (more) sys_sync_notify_all(&g->send_wake);
    sub->busy = 1;
    s->serving = sub;
    auto *body = static_cast<device_event_body *>(sub->outbox.buf[0]);
    uint32_t seq = sub->outbox_seq.buf[0];
    sys_mutex_unlock(&c->sub_mutex);
    deliver(s, sub, seq, body);
    sys_mutex_lock(&c->sub_mutex);
    s->serving = nullptr;
    sub->busy = 0;
    sys_ptralloc_remove(&sub->outbox, 0);
    sys_uint32alloc_remove(&sub->outbox_seq, 0);
    body_release(body);
    if (sub->removed) device_subscription_free(sub);
  }
  sys_mutex_unlock(&c->sub_mutex);
}

// Removes the expired subscriptions; the steady time at which the next
// one expires (INT64_MAX when none will).
int64_t sweep(tarvo_device_ctx *c, int64_t now_ms)
{
  int64_t wall_ms = 0;
  sys_timems_now(&wall_ms);
  int64_t now = wall_ms / 1000, next = INT64_MAX;
  for (uint32_t i = c->subscriptions.len; i-- > 0;) {
    int64_t expiry = static_cast<device_subscription *>(c->subscriptions.buf[i])->expiry;
    if (expiry <= now)
      device_subscription_drop(c, i);
    else
      next = std::min(next, expiry);
  }
  return next == INT64_MAX ? next : now_ms + (next * 1000 - wall_ms);
}

// Hands every subscription whose pause is over to the senders; the
// steady time at which the next pause ends (INT64_MAX when none waits).
int64_t release_due(tarvo_device_ctx *c, int64_t now_ms)
{
  int64_t next = INT64_MAX;
  bool wake = false;
  for (uint32_t i = 0; i < c->subscriptions.len; i++) {
    auto *sub = static_cast<device_subscription *>(c->subscriptions.buf[i]);
    if (!sub->outbox.len || sub->busy) continue;
    if (sub->due_ms <= now_ms)
      wake = true;
    else if (sub->due_ms != INT64_MAX)
      next = std::min(next, sub->due_ms);
  }
  if (wake) sys_sync_notify_all(&c->gena->send_wake);
  return next;
}

void address_check(tarvo_device_ctx *c)
{
  int64_t now = 0;
  sys_time_now(&now);
  sys_memalloc_rec fresh{};
  sys_mutex_lock(&c->ip_mutex);
  bool changed = sys_ip4_list2(&fresh, c->disabled_if) &&
                 (fresh.len != c->ip_list.len || sys_byte_diff(fresh.buf, fresh.len, c->ip_list.buf));
  if (changed) {
    sys_memalloc_rec old = c->ip_list;
    c->ip_list = fresh;
    fresh = old;
  }
  sys_mutex_unlock(&c->ip_mutex);
  sys_memalloc_free(&fresh);
  if (!changed) return;
  if (c->ip_change_fn) c->ip_change_fn(c->ip_change_user);
  device_content_time_set(c, now);
  device_store(c->address_changed, 1);
  device_ssdp_wake(c);
}

// Sleeps on its condition until the next due time: the end of an initial
// pause, the next expiry or, without an address watch, the next address
// check; the watch and the stop wake it.
void timer_loop(void *arg)
{
  auto *c = static_cast<tarvo_device_ctx *>(arg);
  device_gena *g = c->gena;
  const bool watched = c->address_watch >= 0;
  int64_t next_check = 0;
  sys_mutex_lock(&c->sub_mutex);
  while (!quitting(c)) {
    int64_t now = device_steady_ms();
    if (now >= next_check || std::atomic_ref<int>(c->addresses_stale).exchange(0)) {
      // The address-change handler runs without any lock held.
      sys_mutex_unlock(&c->sub_mutex);
      address_check(c);
      sys_mutex_lock(&c->sub_mutex);
      next_check = watched ? INT64_MAX : now + DEVICE_ADDRESS_CHECK_S * 1000;
      if (quitting(c)) break;
    }
    int64_t due = std::min({next_check, sweep(c, now), release_due(c, now)});
    g->timer_due_ms = due;
    // The flag is set before the notice, which takes the mutex held here.
    if (std::atomic_ref<int>(c->addresses_stale).load()) continue;
    if (due == INT64_MAX)
      sys_sync_wait(&g->timer_wake, &c->sub_mutex);
    else
      sys_sync_timedwait(&g->timer_wake, &c->sub_mutex, uint32_t(std::clamp<int64_t>(due - device_steady_ms(), 1, INT32_MAX)));
  }
  sys_mutex_unlock(&c->sub_mutex);
}

void subscriptions_free(tarvo_device_ctx *c)
{
  for (uint32_t i = c->subscriptions.len; i-- > 0;) device_subscription_drop(c, i);
  sys_ptralloc_free(&c->subscriptions);
  // The timer thread may still sweep the list after the accept thread
  // cleared it.
  c->subscriptions = sys_ptralloc_rec{};
}

// Ends and joins the threads started; frees the record.
void threads_end(tarvo_device_ctx *c)
{
  device_gena *g = c->gena;
  sys_mutex_lock(&c->sub_mutex);
  device_store(g->quit, 1);
  for (auto &s : g->sender)
    if (s.client) http_client_set_cancel(&s.client, 1);
  sys_sync_notify_all(&g->timer_wake);
  sys_sync_notify_all(&g->send_wake);
  sys_mutex_unlock(&c->sub_mutex);
  if (c->timer_thread) sys_thread_join(c->timer_thread);
  c->timer_thread = 0;
  for (uint32_t i = 0; i < g->senders; i++) sys_thread_join(g->sender[i].thread);
  g->senders = 0;
}

}  // namespace

void device_addresses_stale(tarvo_device_ctx *c)
{
  std::atomic_ref<int>(c->addresses_stale).store(1);
  sys_mutex_lock(&c->sub_mutex);
  if (c->gena) sys_sync_notify_all(&c->gena->timer_wake);
  sys_mutex_unlock(&c->sub_mutex);
}

void device_subscription_drop(tarvo_device_ctx *c, uint32_t i)
{
  auto *sub = static_cast<device_subscription *>(c->subscriptions.buf[i]);
  sys_ptralloc_remove(&c->subscriptions, i);
  if (sub->busy)
    sub->removed = 1;
  else
    device_subscription_free(sub);
}

void device_subscription_free(device_subscription *sub)
{
  if (!sub) return;
  sys_str_list_free(sub->callbacks);
  for (uint32_t i = 0; i < sub->outbox.len; i++)
    body_release(static_cast<device_event_body *>(sub->outbox.buf[i]));
  sys_ptralloc_free(&sub->outbox);
  sys_uint32alloc_free(&sub->outbox_seq);
  sys_alloc_free(sub);
}

int device_subscription_initial(device_subscription *sub, const char *body)
{
  device_event_body *b = body_make(body);
  if (!b || !sys_uint32alloc_append(&sub->outbox_seq, 0) || !sys_ptralloc_append(&sub->outbox, b)) {
    sys_alloc_free(b);
    return 0;
  }
  b->refs = 1;
  sub->seq = 0;
  sub->due_ms = INT64_MAX;
  return 1;
}

void device_gena_release(tarvo_device_ctx *c, device_subscription *sub)
{
  sub->due_ms = device_steady_ms() + DEVICE_GENA_INITIAL_DELAY_MS;
  // Before the timer thread is there, its first round finds the due time.
  device_gena *g = c->gena;
  if (g && sub->due_ms < g->timer_due_ms) sys_sync_notify_all(&g->timer_wake);
}

int device_gena_start(tarvo_device_ctx *c)
{
  auto *g = static_cast<device_gena *>(sys_alloc_zero(sizeof(device_gena)));
  if (!g) return 0;
  g->timer_due_ms = INT64_MAX;
  if (!sys_sync_create(&g->timer_wake) || !sys_sync_create(&g->send_wake)) {
    sys_sync_destroy(&g->timer_wake);
    sys_sync_destroy(&g->send_wake);
    sys_alloc_free(g);
    return 0;
  }
  // Connections are served already and look at it under the mutex.
  sys_mutex_lock(&c->sub_mutex);
  c->gena = g;
  sys_mutex_unlock(&c->sub_mutex);
  bool ok = sys_thread_create(&c->timer_thread, timer_loop, c);
  for (uint32_t i = 0; ok && i < DEVICE_GENA_SENDERS; i++) {
    g->sender[i].ctx = c;
    ok = sys_thread_create(&g->sender[i].thread, sender_loop, &g->sender[i]);
    if (ok) g->senders++;
  }
  if (!ok) threads_end(c);
  return ok;
}

void device_gena_stop(tarvo_device_ctx *c)
{
  if (c->gena) threads_end(c);
}

void device_gena_clear(tarvo_device_ctx *c)
{
  sys_mutex_lock(&c->sub_mutex);
  subscriptions_free(c);
  sys_mutex_unlock(&c->sub_mutex);
}

void device_gena_free(tarvo_device_ctx *c)
{
  subscriptions_free(c);
  if (device_gena *g = c->gena) {
    sys_sync_destroy(&g->timer_wake);
    sys_sync_destroy(&g->send_wake);
    sys_alloc_free(g);
    c->gena = nullptr;
  }
  for (uint32_t i = 0; i < c->ssdp_sockets.len; i++) sys_socket_close(c->ssdp_sockets.buf[i]);
  sockalloc_free(&c->ssdp_sockets);
}

extern "C" {

int property_set_xml_begin(sys_stralloc_rec *sa)
{
  return sys_stralloc_copys(sa, "<e:propertyset xmlns:e=\"urn:schemas-upnp-org:event-1-0\">\n");
}

int property_set_xml_add(sys_stralloc_rec *sa, const char *name, const char *value)
{
  return sys_stralloc_cats(sa, "<e:property>\n") && xml_gen_element_append(sa, name, value) &&
         sys_stralloc_cats(sa, "</e:property>\n");
}

int property_set_xml_end(sys_stralloc_rec *sa) { return sys_stralloc_cats(sa, "</e:propertyset>\n"); }

int tarvo_device_event_notify(tarvo_device_ctx **ctx, const char *service_id, const char *body)
{
  if (!ctx || !*ctx || !service_id || !body) return 0;
  tarvo_device_ctx *c = *ctx;
  if (!c->sub_mutex || device_stopping(c)) return 0;
  device_event_body *b = body_make(body);
  if (!b) return 0;
  b->refs = 1;  // held here until every outbox has it
  sys_mutex_lock(&c->sub_mutex);
  bool queued = c->gena && !device_stopping(c), any = false;
  for (uint32_t i = c->subscriptions.len; queued && i-- > 0;) {
    auto *sub = static_cast<device_subscription *>(c->subscriptions.buf[i]);
    if (sys_str_diff(sub->service_id, service_id)) continue;
    // A subscriber that far behind is given up; its next renewal fails
    // and it subscribes again.
    if (outbox_add(sub, b))
      any = true;
    else
      device_subscription_drop(c, i);
  }
  if (any) sys_sync_notify_all(&c->gena->send_wake);
  body_release(b);
  sys_mutex_unlock(&c->sub_mutex);
  return queued;
}

}  // extern "C"
