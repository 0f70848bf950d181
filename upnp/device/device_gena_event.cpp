// Events: the property sets of NOTIFY bodies, the event queue, the timer
// thread that runs its jobs, removes expired subscriptions and watches the
// local address list, and the NOTIFY messages themselves.
#include "device_gena_ssdp.h"

#include <tarvo_util/http_client.h>
#include <tarvo_util/sys_time.h>
#include <tarvo_util/xml.h>

namespace {

// One NOTIFY to make, copied out of a subscription so that it is sent
// without the subscription mutex held.
struct delivery {
  char sid[DEVICE_SID_LEN + 1];
  uint32_t seq;
  sys_str_list callbacks;
  char *body;  // owned; NULL: the job's body
};

struct delivery_list {
  sys_ptralloc_rec pa{};
  delivery_list() = default;
  delivery_list(const delivery_list &) = delete;
  delivery_list &operator=(const delivery_list &) = delete;
  ~delivery_list()
  {
    for (uint32_t i = 0; i < pa.len; i++) {
      auto *d = static_cast<delivery *>(pa.buf[i]);
      sys_str_list_free(d->callbacks);
      sys_alloc_free(d->body);
      sys_alloc_free(d);
    }
    sys_ptralloc_free(&pa);
  }
  // A copy of the subscription's SID and callbacks with seq; body is
  // taken over (also on failure).
  bool add(const device_subscription *sub, uint32_t seq, char *body)
  {
    auto *d = static_cast<delivery *>(sys_alloc_zero(sizeof(delivery)));
    if (!d || !sys_str_list_clone(sub->callbacks, &d->callbacks) || !sys_ptralloc_append(&pa, d)) {
      if (d) sys_str_list_free(d->callbacks);
      sys_alloc_free(d);
      sys_alloc_free(body);
      return false;
    }
    sys_str_copy(d->sid, sub->sid);
    d->seq = seq;
    d->body = body;
    return true;
  }
};

void job_free(device_event_job *job)
{
  if (!job) return;
  sys_alloc_free(job->key);
  sys_alloc_free(job->body);
  sys_alloc_free(job);
}

int notify_request(http_client_rec **hc, const delivery *d, const char *body)
{
  const uri_rec *u = http_client_get_url(hc);
  sys_stralloc_rec sa{};
  char num[24];
  auto cat_num = [&](uint64_t v) { return sys_stralloc_catb(&sa, num, sys_str_fmt_uint64(num, v)); };
  uint32_t length = sys_str_len(body);
  int ok = sys_stralloc_copys(&sa, "NOTIFY ") &&
           sys_stralloc_cats(&sa, u->path[0] ? u->path : "/") &&
           (!u->query[0] || (sys_stralloc_cats(&sa, "?") && sys_stralloc_cats(&sa, u->query))) &&
           sys_stralloc_cats(&sa, " HTTP/1.1\r\nHOST: ") && sys_stralloc_cats(&sa, u->host) &&
           (!u->port[0] || (sys_stralloc_cats(&sa, ":") && sys_stralloc_cats(&sa, u->port))) &&
           sys_stralloc_cats(&sa, "\r\nCONTENT-LENGTH: ") && cat_num(length) &&
           sys_stralloc_cats(&sa, "\r\nCONTENT-TYPE: text/xml;charset=\"utf-8\"\r\n"
                                  "NT: upnp:event\r\nNTS: upnp:propchange\r\nSID: ") &&
           sys_stralloc_cats(&sa, d->sid) && sys_stralloc_cats(&sa, "\r\nSEQ: ") &&
           cat_num(d->seq) && sys_stralloc_cats(&sa, "\r\nCONNECTION: close\r\n\r\n");
  sys_socketbuffer_rec *out = http_client_get_socketbuffer_out(hc);
  ok = ok && sys_socketbuffer_put(out, sa.buf, sa.len) && sys_socketbuffer_put(out, body, length) &&
       sys_socketbuffer_flush(out);
  sys_stralloc_free(&sa);
  return ok;
}

// One NOTIFY to one callback URL; 1 when answered with 200.
int notify_one(tarvo_device_ctx *c, const char *url, const delivery *d, const char *body)
{
  http_client_rec *hc = nullptr;
  if (!http_client_init(&hc, url)) return 0;
  // Published under the mutex so that the end can cancel a stuck exchange.
  sys_mutex_lock(&c->sub_mutex);
  bool go = !device_stopping(c);
  if (go) c->notify_client = hc;
  sys_mutex_unlock(&c->sub_mutex);
  int code = 0;
  int ok = go && http_client_connect(&hc) && notify_request(&hc, d, body) &&
           http_client_status(&hc, &code) && code == 200;
  sys_mutex_lock(&c->sub_mutex);
  c->notify_client = nullptr;
  sys_mutex_unlock(&c->sub_mutex);
  http_client_free(&hc);
  return ok;
}

// The callbacks in order until one takes it; an event no callback takes
// is lost for that subscriber.
void deliver(tarvo_device_ctx *c, const delivery_list &list, const char *job_body)
{
  for (uint32_t i = 0; i < list.pa.len && !device_stopping(c); i++) {
    auto *d = static_cast<const delivery *>(list.pa.buf[i]);
    for (char **u = d->callbacks; u && *u && !device_stopping(c); u++)
      if (notify_one(c, *u, d, d->body ? d->body : job_body)) break;
  }
}

void remove_at(tarvo_device_ctx *c, uint32_t i)
{
  device_subscription_free(static_cast<device_subscription *>(c->subscriptions.buf[i]));
  sys_ptralloc_remove(&c->subscriptions, i);
}

void event_run(tarvo_device_ctx *c, const device_event_job *job)
{
  delivery_list list;
  sys_mutex_lock(&c->sub_mutex);
  for (uint32_t i = c->subscriptions.len; i-- > 0;) {
    auto *sub = static_cast<device_subscription *>(c->subscriptions.buf[i]);
    if (sys_str_diff(sub->service_id, job->key)) continue;
    if (!sub->initial_pending) continue;
    // Held until the initial event has gone; a subscriber whose initial
    // event is that far behind is given up.
    char *copy = nullptr;
    if (sub->held.len >= DEVICE_GENA_HELD_MAX || !sys_str_clone(job->body, &copy) ||
        !sys_ptralloc_append(&sub->held, copy)) {
      sys_alloc_free(copy);
      remove_at(c, i);
    }
  }
  for (uint32_t i = 0; i < c->subscriptions.len; i++) {
    auto *sub = static_cast<device_subscription *>(c->subscriptions.buf[i]);
    if (sub->initial_pending || sys_str_diff(sub->service_id, job->key)) continue;
    sub->seq = device_seq_next(sub->seq);
    list.add(sub, sub->seq, nullptr);
  }
  sys_mutex_unlock(&c->sub_mutex);
  deliver(c, list, job->body);
}

void initial_run(tarvo_device_ctx *c, const device_event_job *job)
{
  sys_thread_sleep(DEVICE_GENA_INITIAL_DELAY_MS);
  delivery_list list;
  sys_mutex_lock(&c->sub_mutex);
  int32_t i = device_subscription_find(c, job->key);
  if (i >= 0) {
    auto *sub = static_cast<device_subscription *>(c->subscriptions.buf[i]);
    sub->seq = 0;
    sub->initial_pending = 0;
    list.add(sub, 0, nullptr);
    for (uint32_t k = 0; k < sub->held.len; k++) {
      sub->seq = device_seq_next(sub->seq);
      list.add(sub, sub->seq, static_cast<char *>(sub->held.buf[k]));
    }
    sub->held.len = 0;
  }
  sys_mutex_unlock(&c->sub_mutex);
  deliver(c, list, job->body);
}

void sweep(tarvo_device_ctx *c, int64_t now)
{
  sys_mutex_lock(&c->sub_mutex);
  for (uint32_t i = c->subscriptions.len; i-- > 0;)
    if (static_cast<device_subscription *>(c->subscriptions.buf[i])->expiry <= now) remove_at(c, i);
  sys_mutex_unlock(&c->sub_mutex);
}

void address_check(tarvo_device_ctx *c, int64_t now)
{
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

void timer_loop(void *arg)
{
  auto *c = static_cast<tarvo_device_ctx *>(arg);
  int64_t next_sweep = 0, next_check = 0;
  while (!device_stopping(c)) {
    uintptr_t v = 0;
    if (queue_async_read(&c->event_queue, DEVICE_TIMER_WAIT_MS, &v)) {
      auto *job = reinterpret_cast<device_event_job *>(v);
      if (!device_stopping(c)) (job->initial ? initial_run : event_run)(c, job);
      job_free(job);
    }
    // Also after a job: under a steady stream of events the wait never
    // times out, and expired subscriptions and new addresses would go
    // unnoticed.
    int64_t now = 0;
    sys_time_now(&now);
    if (now > next_sweep) {
      sweep(c, now);
      next_sweep = now + DEVICE_GENA_SWEEP_S;
    }
    if (now > next_check) {
      address_check(c, now);
      next_check = now + DEVICE_ADDRESS_CHECK_S;
    }
  }
}

void subscriptions_free(tarvo_device_ctx *c)
{
  for (uint32_t i = 0; i < c->subscriptions.len; i++)
    device_subscription_free(static_cast<device_subscription *>(c->subscriptions.buf[i]));
  sys_ptralloc_free(&c->subscriptions);
  // The timer thread may still sweep the list after the accept thread
  // cleared it.
  c->subscriptions = sys_ptralloc_rec{};
}

}  // namespace

int device_event_queue(tarvo_device_ctx *c, int initial, const char *key, const char *body)
{
  auto *job = static_cast<device_event_job *>(sys_alloc_zero(sizeof(device_event_job)));
  if (!job) return 0;
  job->ctx = c;
  job->initial = initial;
  if (!sys_str_clone(key, &job->key) || !sys_str_clone(body, &job->body)) {
    job_free(job);
    return 0;
  }
  int queued = 0;
  sys_mutex_lock(&c->queue_mutex);
  // In slices, so that a full queue does not hold up the end.
  for (uint32_t waited = 0; !queued && !device_stopping(c) && waited < DEVICE_GENA_QUEUE_WAIT_MS;
       waited += DEVICE_TIMER_WAIT_MS)
    queued = queue_async_write(&c->event_queue, DEVICE_TIMER_WAIT_MS, reinterpret_cast<uintptr_t>(job));
  sys_mutex_unlock(&c->queue_mutex);
  if (!queued) job_free(job);
  return queued;
}

int device_gena_start(tarvo_device_ctx *c) { return sys_thread_create(&c->timer_thread, timer_loop, c); }

void device_gena_stop(tarvo_device_ctx *c)
{
  sys_mutex_lock(&c->sub_mutex);
  if (auto *hc = static_cast<http_client_rec *>(c->notify_client)) http_client_set_cancel(&hc, 1);
  sys_mutex_unlock(&c->sub_mutex);
  sys_thread_join(c->timer_thread);
}

void device_gena_clear(tarvo_device_ctx *c)
{
  sys_mutex_lock(&c->sub_mutex);
  subscriptions_free(c);
  sys_mutex_unlock(&c->sub_mutex);
}

void device_gena_free(tarvo_device_ctx *c)
{
  uintptr_t v = 0;
  if (c->event_queue.slots)
    while (queue_async_read(&c->event_queue, 1, &v)) job_free(reinterpret_cast<device_event_job *>(v));
  subscriptions_free(c);
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
  if (!c->event_queue.slots || device_stopping(c)) return 0;
  return device_event_queue(c, 0, service_id, body);
}

}  // extern "C"
