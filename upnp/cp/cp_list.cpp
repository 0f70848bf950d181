// The device list on top of the engine: discovered devices with their
// descriptions, their subscriptions kept alive, the order of their events
// checked, and actions sent through the shared HTTP client.
#include "cp_impl.h"

#include <algorithm>
#include <tarvo_cp/tarvo_cp_impl.h>
#include <tarvo_util/soap.h>
#include <tarvo_util/sys_time.h>

struct tarvo_cp_ctx {
  tarvo_cp_ctx **self;
  upnp_cp_ctx *cp;
  cp_discovery_added_handler added_fn;
  cp_discovery_updated_handler updated_fn;
  cp_discovery_removed_handler removed_fn;
  void *discovery_user;
  cp_ip_handler ip_fn;
  void *ip_user;
  cp_ip_change_handler ip_change_fn;
  void *ip_change_user;
  int stop;                        // atomic
  sys_ptralloc_rec devices;        // cp_entry*, under list_mutex
  sys_mutex_handle list_mutex;
  sys_thread_handle housekeeping;
  int housekeeping_started;
  int wake_fd;                     // readable once the end began
  http_client hc;
  parallel_soap_client_rec psc;
  sys_mutex_handle hc_mutex;
};

namespace {

// How long the end waits for each device to take its UNSUBSCRIBE.
constexpr uint32_t kEndUnsubscribeMs = 1000;

struct cp_sub {
  char *udn;
  char *service_type;  // the service's own type
  char *sid;
  uint32_t last_seq;
  uint32_t timeout;    // granted; 0 = infinite
  cp_event_handler fn;
  void *user;
  int64_t expiry;      // 0 = not renewed
};

struct cp_entry {
  int64_t last_fetch;
  char *location;
  upnp_desc_device_rec *device;
  sys_ptralloc_rec subs;  // cp_sub*
  int64_t expiry;         // 0 = never
};

int64_t now_s()
{
  int64_t t = 0;
  sys_time_now(&t);
  return t;
}

bool stopping(const tarvo_cp_ctx *x) { return cp_load(x->stop) != 0; }

tarvo_cp_ctx *ctx_get(tarvo_cp_ctx **ctx)
{
  if (!ctx) return nullptr;
  if (!*ctx) {
    auto *x = static_cast<tarvo_cp_ctx *>(sys_alloc_zero(sizeof(tarvo_cp_ctx)));
    if (!x) return nullptr;
    x->self = ctx;
    x->wake_fd = -1;
    *ctx = x;
  }
  return *ctx;
}

tarvo_cp_ctx *started(tarvo_cp_ctx **ctx) { return ctx && *ctx && (*ctx)->list_mutex ? *ctx : nullptr; }

void sub_free(cp_sub *s)
{
  sys_alloc_free(s->udn);
  sys_alloc_free(s->service_type);
  sys_alloc_free(s->sid);
  sys_alloc_free(s);
}

void entry_free(cp_entry *e)
{
  for (uint32_t i = 0; i < e->subs.len; i++) sub_free(static_cast<cp_sub *>(e->subs.buf[i]));
  sys_ptralloc_free(&e->subs);
  upnp_desc_device_free(e->device);
  sys_alloc_free(e->location);
  sys_alloc_free(e);
}

// The USN begins with the UDN followed by ':' or its end.
bool usn_matches(const upnp_desc_device_rec *d, const char *usn)
{
  if (!d->UDN || !usn || !sys_str_start(usn, d->UDN)) return false;
  char next = usn[sys_str_len(d->UDN)];
  return next == ':' || next == 0;
}

// Under the lock: the index of the entry matching usn (exact UDN when
// exact), or devices.len.
uint32_t find(tarvo_cp_ctx *x, const char *key, bool exact)
{
  uint32_t i = 0;
  for (; i < x->devices.len; i++) {
    const upnp_desc_device_rec *d = static_cast<cp_entry *>(x->devices.buf[i])->device;
    if (exact ? d->UDN && !sys_str_diff(d->UDN, key) : usn_matches(d, key)) break;
  }
  return i;
}

cp_entry *entry_at(tarvo_cp_ctx *x, uint32_t i)
{
  return i < x->devices.len ? static_cast<cp_entry *>(x->devices.buf[i]) : nullptr;
}

const upnp_desc_service_rec *service_of(const upnp_desc_device_rec *d, const char *type)
{
  for (upnp_desc_service_rec **s = d->services; s && *s; s++)
    if ((*s)->serviceType && upnp_urn_version_ge((*s)->serviceType, type)) return *s;
  return nullptr;
}

uint32_t sub_index(const cp_entry *e, const char *type)
{
  uint32_t i = 0;
  while (i < e->subs.len && sys_str_diff(static_cast<cp_sub *>(e->subs.buf[i])->service_type, type)) i++;
  return i;
}

// --- removal ---

struct removal_job {
  tarvo_cp_ctx *x;
  char *usn;
};

void remove_device(tarvo_cp_ctx *x, const char *usn)
{
  sys_mutex_lock(&x->list_mutex);
  uint32_t i = find(x, usn, false);
  cp_entry *e = entry_at(x, i);
  if (e) sys_ptralloc_remove(&x->devices, i);
  sys_mutex_unlock(&x->list_mutex);
  if (!e) return;
  if (x->removed_fn) x->removed_fn(e->device, x->discovery_user);
  entry_free(e);
}

void removal_run(void *arg)
{
  auto *j = static_cast<removal_job *>(arg);
  remove_device(j->x, j->usn);
}

void removal_free(void *arg)
{
  auto *j = static_cast<removal_job *>(arg);
  sys_alloc_free(j->usn);
  sys_alloc_free(j);
}

bool queue_removal(tarvo_cp_ctx *x, const upnp_desc_device_rec *d)
{
  auto *j = static_cast<removal_job *>(sys_alloc_zero(sizeof(removal_job)));
  sys_stralloc_rec usn{};
  bool ok = j && sys_stralloc_copys(&usn, d->UDN) && sys_stralloc_cats(&usn, "::") &&
            sys_stralloc_cats(&usn, d->deviceType ? d->deviceType : "") && sys_stralloc_append(&usn, "");
  if (!ok) {
    sys_stralloc_free(&usn);
    sys_alloc_free(j);
    return false;
  }
  *j = removal_job{x, usn.buf};
  return cp_queue(x->cp, removal_run, removal_free, j);
}

// --- subscriptions ---

struct sub_job {
  tarvo_cp_ctx *x;
  char *udn;
  char *type;
  uint32_t timeout;
  cp_event_handler fn;
  void *user;
};

void sub_job_free(void *arg)
{
  auto *j = static_cast<sub_job *>(arg);
  sys_alloc_free(j->udn);
  sys_alloc_free(j->type);
  sys_alloc_free(j);
}

int64_t expiry_of(uint32_t granted) { return granted ? now_s() + granted : 0; }

// Under the lock: renews the subscription, or makes a new one in its place.
void renew(tarvo_cp_ctx *x, const upnp_desc_service_rec *s, cp_sub *sub, const sub_job *j)
{
  uint32_t t = j->timeout;
  char *sid = nullptr;
  bool ok = upnp_cp_event_subscribe_renewal(&x->cp, s->eventSubURL, sub->sid, &t);
  if (!ok && (t = j->timeout, upnp_cp_event_subscribe(&x->cp, s->eventSubURL, &t, &sid))) {
    sys_alloc_free(sub->sid);
    sub->sid = sid;
    sub->last_seq = 0;
    ok = true;
  }
  if (!ok) {
    sub->expiry = 0;
    return;
  }
  sub->timeout = t;
  sub->fn = j->fn;
  sub->user = j->user;
  sub->expiry = expiry_of(t);
}

// Under the lock: a new subscription added to e.
void subscribe_new(tarvo_cp_ctx *x, cp_entry *e, const upnp_desc_service_rec *s, const sub_job *j)
{
  uint32_t t = j->timeout;
  char *sid = nullptr;
  if (!upnp_cp_event_subscribe(&x->cp, s->eventSubURL, &t, &sid)) return;
  auto *sub = static_cast<cp_sub *>(sys_alloc_zero(sizeof(cp_sub)));
  if (sub && sys_str_clone(j->udn, &sub->udn) && sys_str_clone(s->serviceType, &sub->service_type)) {
    sub->sid = sid;
    sub->timeout = t;
    sub->fn = j->fn;
    sub->user = j->user;
    sub->expiry = expiry_of(t);
    if (sys_ptralloc_append(&e->subs, sub)) return;
    sid = nullptr;
  }
  if (sub) sub_free(sub);
  sys_alloc_free(sid);
}

// Under the lock.
void subscribe_locked(tarvo_cp_ctx *x, const sub_job *j)
{
  cp_entry *e = entry_at(x, find(x, j->udn, true));
  const upnp_desc_service_rec *s = e ? service_of(e->device, j->type) : nullptr;
  if (!s) return;
  // Kept under the service's own type, which a request for an older
  // version must find again.
  uint32_t i = sub_index(e, s->serviceType);
  if (i < e->subs.len)
    renew(x, s, static_cast<cp_sub *>(e->subs.buf[i]), j);
  else
    subscribe_new(x, e, s, j);
}

void subscribe_run(void *arg)
{
  auto *j = static_cast<sub_job *>(arg);
  if (stopping(j->x)) return;
  sys_mutex_lock(&j->x->list_mutex);
  subscribe_locked(j->x, j);
  sys_mutex_unlock(&j->x->list_mutex);
}

void unsubscribe_run(void *arg)
{
  auto *j = static_cast<sub_job *>(arg);
  tarvo_cp_ctx *x = j->x;
  if (stopping(x)) return;
  sys_mutex_lock(&x->list_mutex);
  cp_entry *e = entry_at(x, find(x, j->udn, true));
  const upnp_desc_service_rec *s = e ? service_of(e->device, j->type) : nullptr;
  uint32_t i = s ? sub_index(e, s->serviceType) : 0;
  if (s && i < e->subs.len) {
    auto *sub = static_cast<cp_sub *>(e->subs.buf[i]);
    upnp_cp_event_unsubscribe(&x->cp, s->eventSubURL, sub->sid);
    sys_ptralloc_remove(&e->subs, i);
    sub_free(sub);
  }
  sys_mutex_unlock(&x->list_mutex);
}

bool queue_sub_job(tarvo_cp_ctx *x, bool subscribe, const char *udn, const char *type, uint32_t timeout,
                   cp_event_handler fn, void *user)
{
  auto *j = static_cast<sub_job *>(sys_alloc_zero(sizeof(sub_job)));
  if (!j) return false;
  *j = sub_job{x, nullptr, nullptr, timeout, fn, user};
  if (!sys_str_clone(udn, &j->udn) || !sys_str_clone(type, &j->type)) {
    sub_job_free(j);
    return false;
  }
  return cp_queue(x->cp, subscribe ? subscribe_run : unsubscribe_run, sub_job_free, j);
}

// --- discovery ---

// The device of desc that matches usn (the last one, as the list is
// searched from its end), detached; the rest is freed.
upnp_desc_device_rec *detach(upnp_desc_rec *desc, const char *usn)
{
  upnp_desc_device_rec *found = nullptr;
  uint32_t n = 0;
  while (desc->devices && desc->devices[n]) n++;
  for (uint32_t i = n; i-- > 0;)
    if (!found && usn_matches(desc->devices[i], usn)) {
      found = desc->devices[i];
      // The rest stays NULL-terminated for the free below.
      for (uint32_t k = i; k < n; k++) desc->devices[k] = desc->devices[k + 1];
      break;
    }
  upnp_desc_free(desc);
  return found;
}

bool device_text_differs(const upnp_desc_device_rec *a, upnp_desc_device_rec *b)
{
  sys_stralloc_rec ta{}, tb{};
  upnp_desc_device_rec *pa = const_cast<upnp_desc_device_rec *>(a), *pb = b;
  bool differs = !upnp_desc_device_xml(&ta, &pa, 0) || !upnp_desc_device_xml(&tb, &pb, 0) ||
                 ta.len != tb.len || sys_byte_diff(ta.buf, ta.len, tb.buf);
  sys_stralloc_free(&ta);
  sys_stralloc_free(&tb);
  return differs;
}

int64_t expiry_after(uint32_t max_age) { return now_s() + int64_t(max_age); }

// Under the lock: whether a fetch is due for an announcement; a known
// entry's life is extended either way.
bool fetch_due(tarvo_cp_ctx *x, uint32_t max_age, const char *location, const char *usn)
{
  cp_entry *e = entry_at(x, find(x, usn, false));
  if (!e) return x->devices.len < TARVO_CP_DEVICES_MAX;
  if (e->expiry) e->expiry = std::max(e->expiry, expiry_after(max_age));
  return sys_str_diff(e->location, location) || now_s() - e->last_fetch >= TARVO_CP_REFETCH_S;
}

// Under the lock, with the fetched device: a new entry, or the known one
// refreshed.  1 added, 2 changed, 0 nothing to report.
int store(tarvo_cp_ctx *x, uint32_t max_age, const char *location, const char *usn,
          upnp_desc_device_rec **device)
{
  cp_entry *e = entry_at(x, find(x, usn, false));
  char *loc = nullptr;
  if (!sys_str_clone(location, &loc)) return 0;
  if (!e) {
    auto *n = static_cast<cp_entry *>(sys_alloc_zero(sizeof(cp_entry)));
    if (!n || x->devices.len >= TARVO_CP_DEVICES_MAX || !sys_ptralloc_append(&x->devices, n)) {
      sys_alloc_free(n);
      sys_alloc_free(loc);
      return 0;
    }
    *n = cp_entry{now_s(), loc, *device, {}, expiry_after(max_age)};
    *device = nullptr;
    return 1;
  }
  bool changed = sys_str_diff(e->location, location) || device_text_differs(e->device, *device);
  std::swap(e->device, *device);
  sys_alloc_free(e->location);
  e->location = loc;
  e->last_fetch = now_s();
  e->expiry = std::max(e->expiry, expiry_after(max_age));
  for (uint32_t i = 0; i < e->subs.len; i++) {
    auto *sub = static_cast<cp_sub *>(e->subs.buf[i]);
    sub_job j{x, sub->udn, sub->service_type, sub->timeout, sub->fn, sub->user};
    subscribe_locked(x, &j);
  }
  return changed ? 2 : 0;
}

void discovery_update(tarvo_cp_ctx *x, uint32_t max_age, const char *location, const char *server,
                      const char *usn)
{
  if (stopping(x)) return;
  sys_mutex_lock(&x->list_mutex);
  bool due = fetch_due(x, max_age, location, usn);
  sys_mutex_unlock(&x->list_mutex);
  if (!due) return;
  // Fetched without the lock, so that readers never wait behind a slow device.
  upnp_desc_rec *desc = nullptr;
  if (!cp_get_desc(x->cp, location, &desc)) return;
  upnp_desc_device_rec *device = detach(desc, usn);
  if (!device) return;
  sys_mutex_lock(&x->list_mutex);
  int what = stopping(x) ? 0 : store(x, max_age, location, usn, &device);
  const upnp_desc_device_rec *now = what ? entry_at(x, find(x, usn, false))->device : nullptr;
  sys_mutex_unlock(&x->list_mutex);
  // Only the worker changes or frees entries, so the record stays valid.
  if (what == 1 && x->added_fn) x->added_fn(now, location, server, x->discovery_user);
  if (what == 2 && x->updated_fn) x->updated_fn(now, location, server, x->discovery_user);
  if (device) upnp_desc_device_free(device);
}

// --- engine handlers ---

void on_alive(unsigned max_age, const char *location, const char *server, const char *, const char *usn,
              void *user)
{
  discovery_update(static_cast<tarvo_cp_ctx *>(user), max_age, location, server, usn);
}

void on_search(unsigned max_age, const char *location, const char *server, const char *, const char *usn,
               void *user)
{
  discovery_update(static_cast<tarvo_cp_ctx *>(user), max_age, location, server, usn);
}

void on_byebye(const char *, const char *usn, void *user)
{
  auto *x = static_cast<tarvo_cp_ctx *>(user);
  if (!stopping(x)) remove_device(x, usn);
}

// Under the lock: the subscription with that SID.
cp_sub *sub_by_sid(tarvo_cp_ctx *x, const char *sid)
{
  for (uint32_t i = 0; sid && i < x->devices.len; i++) {
    cp_entry *e = entry_at(x, i);
    for (uint32_t k = 0; k < e->subs.len; k++) {
      auto *s = static_cast<cp_sub *>(e->subs.buf[k]);
      if (!sys_str_diff(s->sid, sid)) return s;
    }
  }
  return nullptr;
}

int on_sid_check(const char *sid, void *user)
{
  auto *x = static_cast<tarvo_cp_ctx *>(user);
  sys_mutex_lock(&x->list_mutex);
  bool known = sub_by_sid(x, sid) != nullptr;
  sys_mutex_unlock(&x->list_mutex);
  return known;
}

struct event_copy {
  char *udn = nullptr, *type = nullptr;
  uint32_t timeout = 0;
  cp_event_handler fn = nullptr;
  void *user = nullptr;
  ~event_copy()
  {
    sys_alloc_free(udn);
    sys_alloc_free(type);
  }
};

// Under the lock: 1 deliver, 2 gap, 0 unknown.
int seq_check(tarvo_cp_ctx *x, const char *sid, unsigned seq, event_copy *out)
{
  cp_sub *s = sub_by_sid(x, sid);
  if (!s || !sys_str_clone(s->udn, &out->udn) || !sys_str_clone(s->service_type, &out->type)) return 0;
  out->timeout = s->timeout;
  out->fn = s->fn;
  out->user = s->user;
  uint32_t next = s->last_seq == UINT32_MAX ? 1 : s->last_seq + 1;
  if (seq != 0 && seq != next) return 2;
  s->last_seq = seq;
  return 1;
}

int on_event(const char *sid, unsigned seq, const char *body, void *user)
{
  auto *x = static_cast<tarvo_cp_ctx *>(user);
  if (stopping(x)) return 0;
  event_copy ev;
  sys_mutex_lock(&x->list_mutex);
  int what = seq_check(x, sid, seq, &ev);
  sys_mutex_unlock(&x->list_mutex);
  if (what == 2) {
    // Events were lost: the subscription starts over.
    queue_sub_job(x, false, ev.udn, ev.type, 0, nullptr, nullptr);
    queue_sub_job(x, true, ev.udn, ev.type, ev.timeout, ev.fn, ev.user);
    return 0;
  }
  return what == 1 && ev.fn ? ev.fn(ev.udn, ev.type, seq, body, ev.user) : 0;
}

void on_ip(const uint8_t old_ip[4], const uint8_t new_ip[4], void *user)
{
  auto *x = static_cast<tarvo_cp_ctx *>(user);
  tarvo_cp_discovery_flush(&x);
  if (x->ip_fn) x->ip_fn(old_ip, new_ip, x->ip_user);
}

void on_ip_change(void *user)
{
  auto *x = static_cast<tarvo_cp_ctx *>(user);
  tarvo_cp_discovery_flush(&x);
  if (x->ip_change_fn) x->ip_change_fn(x->ip_change_user);
}

// --- housekeeping ---

struct due_work {
  sys_ptralloc_rec expired{};  // upnp_desc_device_rec* clones
  sys_ptralloc_rec renewals{}; // sub_job*
};

void housekeeping_pass(tarvo_cp_ctx *x)
{
  due_work w;
  int64_t now = now_s();
  sys_mutex_lock(&x->list_mutex);
  for (uint32_t i = 0; i < x->devices.len; i++) {
    cp_entry *e = entry_at(x, i);
    if (e->expiry && e->expiry < now) {
      upnp_desc_device_rec *copy = nullptr;
      if (upnp_desc_device_clone(e->device, &copy) && !sys_ptralloc_append(&w.expired, copy))
        upnp_desc_device_free(copy);
      continue;
    }
    for (uint32_t k = 0; k < e->subs.len; k++) {
      auto *s = static_cast<cp_sub *>(e->subs.buf[k]);
      if (!s->expiry || s->expiry > now + TARVO_CP_RENEW_AHEAD_S) continue;
      auto *j = static_cast<sub_job *>(sys_alloc_zero(sizeof(sub_job)));
      if (!j) continue;
      *j = sub_job{x, nullptr, nullptr, s->timeout, s->fn, s->user};
      if (!sys_str_clone(s->udn, &j->udn) || !sys_str_clone(s->service_type, &j->type) ||
          !sys_ptralloc_append(&w.renewals, j))
        sub_job_free(j);
    }
  }
  sys_mutex_unlock(&x->list_mutex);
  for (uint32_t i = 0; i < w.expired.len; i++) {
    auto *d = static_cast<upnp_desc_device_rec *>(w.expired.buf[i]);
    if (!stopping(x)) queue_removal(x, d);
    upnp_desc_device_free(d);
  }
  for (uint32_t i = 0; i < w.renewals.len; i++) {
    auto *j = static_cast<sub_job *>(w.renewals.buf[i]);
    if (stopping(x))
      sub_job_free(j);
    else
      cp_queue(x->cp, subscribe_run, sub_job_free, j);
  }
  sys_ptralloc_free(&w.expired);
  sys_ptralloc_free(&w.renewals);
}

void housekeeping(void *arg)
{
  auto *x = static_cast<tarvo_cp_ctx *>(arg);
  int64_t last = now_s();
  while (!stopping(x)) {
    sys_socket_read_wait(x->wake_fd, 1000);
    if (stopping(x)) break;
    if (now_s() - last < TARVO_CP_HOUSEKEEPING_S) continue;
    last = now_s();
    housekeeping_pass(x);
  }
}

// --- start and end ---

bool targets_valid(char *const *targets)
{
  for (char *const *t = targets; t && *t; t++)
    if (!upnp_urn_is_device(*t) && !sys_str_start(*t, "uuid:")) return false;
  return true;
}

bool start_parts(tarvo_cp_ctx *x, uint16_t port, char *const *targets)
{
  if (!targets_valid(targets) || !http_client_init2(&x->hc)) return false;
  parallel_soap_client_init(&x->psc);
  if (!sys_mutex_create(&x->list_mutex) || !sys_mutex_create(&x->hc_mutex) || !sys_wakefd_open(&x->wake_fd))
    return false;
  if (!(x->housekeeping_started = sys_thread_create(&x->housekeeping, housekeeping, x))) return false;
  return upnp_cp_set_discovery_handler(&x->cp, on_alive, on_search, on_byebye, x) &&
         upnp_cp_set_event_handler(&x->cp, on_event, on_sid_check, x) &&
         upnp_cp_set_ip_handler(&x->cp, on_ip, x) && upnp_cp_set_ip_change_handler(&x->cp, on_ip_change, x) &&
         upnp_cp_start(&x->cp, nullptr, port, targets);
}

// Sends UNSUBSCRIBE for every subscription, each wait bounded.
void unsubscribe_all(tarvo_cp_ctx *x)
{
  sys_mutex_lock(&x->list_mutex);
  for (uint32_t i = 0; x->cp && i < x->devices.len; i++) {
    cp_entry *e = entry_at(x, i);
    for (uint32_t k = 0; k < e->subs.len; k++) {
      auto *s = static_cast<cp_sub *>(e->subs.buf[k]);
      const upnp_desc_service_rec *svc = service_of(e->device, s->service_type);
      if (svc) cp_unsubscribe_bounded(x->cp, svc->eventSubURL, s->sid, kEndUnsubscribeMs);
    }
  }
  sys_mutex_unlock(&x->list_mutex);
}

void ctx_free(tarvo_cp_ctx *x)
{
  if (x->hc) http_client_set_cancel(&x->hc, 1);
  parallel_soap_client_set_cancel(&x->psc, 1);
  cp_store(x->stop, 1);
  // Whatever the worker waits for is cut short, so that the lock comes free.
  if (x->cp) cp_cancel_clients(x->cp);
  if (x->wake_fd >= 0) sys_wakefd_signal(x->wake_fd);
  if (x->list_mutex) unsubscribe_all(x);
  if (x->housekeeping_started) sys_thread_join(x->housekeeping);
  upnp_cp_end(&x->cp);
  for (uint32_t i = 0; i < x->devices.len; i++) entry_free(entry_at(x, i));
  sys_ptralloc_free(&x->devices);
  if (x->hc_mutex) sys_mutex_lock(&x->hc_mutex);
  http_client_free(&x->hc);
  if (x->hc_mutex) sys_mutex_unlock(&x->hc_mutex);
  for (sys_mutex_handle *m : {&x->list_mutex, &x->hc_mutex})
    if (*m) sys_mutex_destroy(m);
  sys_socket_close(x->wake_fd);
  if (x->self) *x->self = nullptr;
  sys_alloc_free(x);
}

// For the discovery calls: the start targets, or "ssdp:all" without any.
template <class Fn> int each_target(tarvo_cp_ctx *x, Fn fn)
{
  char *const *t = x->cp ? x->cp->targets : nullptr;
  if (!t || !*t) return fn("ssdp:all");
  for (; *t; t++)
    if (!fn(*t)) return 0;
  return 1;
}

}  // namespace

extern "C" {

int tarvo_cp_set_discovery_handler(tarvo_cp_ctx **ctx, cp_discovery_added_handler added,
                                   cp_discovery_updated_handler updated,
                                   cp_discovery_removed_handler removed, void *user)
{
  tarvo_cp_ctx *x = ctx_get(ctx);
  if (!x) return 0;
  x->added_fn = added;
  x->updated_fn = updated;
  x->removed_fn = removed;
  x->discovery_user = user;
  return 1;
}

int tarvo_cp_set_ip_handler(tarvo_cp_ctx **ctx, cp_ip_handler fn, void *user)
{
  tarvo_cp_ctx *x = ctx_get(ctx);
  if (!x) return 0;
  x->ip_fn = fn;
  x->ip_user = user;
  return 1;
}

int tarvo_cp_set_ip_change_handler(tarvo_cp_ctx **ctx, cp_ip_change_handler fn, void *user)
{
  tarvo_cp_ctx *x = ctx_get(ctx);
  if (!x) return 0;
  x->ip_change_fn = fn;
  x->ip_change_user = user;
  return 1;
}

int tarvo_cp_start(tarvo_cp_ctx **ctx, void *reserved, uint16_t port, char *const *targets)
{
  (void)reserved;
  tarvo_cp_ctx *x = ctx_get(ctx);
  if (!x) return 0;
  if (start_parts(x, port, targets)) return 1;
  ctx_free(x);
  return 0;
}

void tarvo_cp_end(tarvo_cp_ctx **ctx)
{
  if (ctx && *ctx) ctx_free(*ctx);
}

upnp_cp_ctx **tarvo_cp_get_cp(tarvo_cp_ctx **ctx) { return ctx && *ctx ? &(*ctx)->cp : nullptr; }

int tarvo_cp_get_udn_list(tarvo_cp_ctx **ctx, sys_str_list *list)
{
  *list = nullptr;
  tarvo_cp_ctx *x = started(ctx);
  if (!x) return 0;
  sys_mutex_lock(&x->list_mutex);
  uint32_t n = x->devices.len;
  auto out = static_cast<sys_str_list>(sys_alloc_zero((n + 1) * sizeof(char *)));
  bool ok = out != nullptr;
  for (uint32_t i = 0; ok && i < n; i++) ok = sys_str_clone(entry_at(x, i)->device->UDN, &out[i]);
  sys_mutex_unlock(&x->list_mutex);
  if (!ok) {
    sys_str_list_free(out);
    return 0;
  }
  *list = out;
  return 1;
}

int tarvo_cp_get_desc_device(tarvo_cp_ctx **ctx, const char *udn, upnp_desc_device_rec **device)
{
  *device = nullptr;
  tarvo_cp_ctx *x = started(ctx);
  if (!x || !udn) return 0;
  sys_mutex_lock(&x->list_mutex);
  cp_entry *e = entry_at(x, find(x, udn, true));
  int ok = e && upnp_desc_device_clone(e->device, device);
  sys_mutex_unlock(&x->list_mutex);
  return ok;
}

int tarvo_cp_get_control_url(tarvo_cp_ctx **ctx, const char *udn, const char *service_type, char **url)
{
  *url = nullptr;
  tarvo_cp_ctx *x = started(ctx);
  if (!x || !udn || !service_type) return 0;
  sys_mutex_lock(&x->list_mutex);
  cp_entry *e = entry_at(x, find(x, udn, true));
  const upnp_desc_service_rec *s = e ? service_of(e->device, service_type) : nullptr;
  int ok = s && s->controlURL && sys_str_clone(s->controlURL, url);
  sys_mutex_unlock(&x->list_mutex);
  return ok;
}

int tarvo_cp_discovery_search_async(tarvo_cp_ctx **ctx, uint32_t mx)
{
  tarvo_cp_ctx *x = started(ctx);
  return x && each_target(x, [&](const char *t) { return upnp_cp_discovery_search_async(&x->cp, t, mx); });
}

int tarvo_cp_discovery_static_async(tarvo_cp_ctx **ctx, const char *location)
{
  tarvo_cp_ctx *x = started(ctx);
  return x &&
         each_target(x, [&](const char *t) { return upnp_cp_discovery_static_async(&x->cp, t, location); });
}

int tarvo_cp_discovery_flush(tarvo_cp_ctx **ctx)
{
  tarvo_cp_ctx *x = started(ctx);
  if (!x) return 0;
  sys_ptralloc_rec copies{};
  sys_mutex_lock(&x->list_mutex);
  for (uint32_t i = 0; i < x->devices.len; i++) {
    upnp_desc_device_rec *copy = nullptr;
    if (upnp_desc_device_clone(entry_at(x, i)->device, &copy) && !sys_ptralloc_append(&copies, copy))
      upnp_desc_device_free(copy);
  }
  sys_mutex_unlock(&x->list_mutex);
  int ok = 1;
  for (uint32_t i = 0; i < copies.len; i++) {
    auto *d = static_cast<upnp_desc_device_rec *>(copies.buf[i]);
    if (!queue_removal(x, d)) ok = 0;
    upnp_desc_device_free(d);
  }
  sys_ptralloc_free(&copies);
  return ok;
}

int tarvo_cp_event_subscribe(tarvo_cp_ctx **ctx, const char *udn, const char *service_type, uint32_t timeout,
                             cp_event_handler handler, void *user)
{
  tarvo_cp_ctx *x = started(ctx);
  return x && udn && service_type && queue_sub_job(x, true, udn, service_type, timeout, handler, user);
}

int tarvo_cp_event_unsubscribe(tarvo_cp_ctx **ctx, const char *udn, const char *service_type)
{
  tarvo_cp_ctx *x = started(ctx);
  return x && udn && service_type && queue_sub_job(x, false, udn, service_type, 0, nullptr, nullptr);
}

uint32_t tarvo_cp_action(tarvo_cp_ctx **ctx, const char *udn, const char *service_type, const char *action,
                         const char *body, sys_str_list *names, sys_str_list *values)
{
  if (names) *names = nullptr;
  if (values) *values = nullptr;
  char *url = nullptr;
  if (!tarvo_cp_get_control_url(ctx, udn, service_type, &url)) return SOAP_ACTION_FAILED;
  tarvo_cp_ctx *x = *ctx;
  uint32_t code = SOAP_ACTION_FAILED;
  if (tarvo_cp_impl_hc_lock(x)) {
    if (http_client_set_url(&x->hc, url)) {
      code = upnp_cp_action2(&x->hc, service_type, action, body, names, values);
      http_client_disconnect(&x->hc);
    }
    tarvo_cp_impl_hc_unlock(x);
  }
  sys_alloc_free(url);
  return code;
}

void tarvo_cp_set_connect_timeout(tarvo_cp_ctx **ctx, uint32_t ms)
{
  if (tarvo_cp_ctx *x = started(ctx)) http_client_set_connect_timeout(&x->hc, ms);
}

void tarvo_cp_set_write_timeout(tarvo_cp_ctx **ctx, uint32_t ms)
{
  if (tarvo_cp_ctx *x = started(ctx)) http_client_set_write_timeout(&x->hc, ms);
}

void tarvo_cp_set_read_timeout(tarvo_cp_ctx **ctx, uint32_t ms)
{
  if (tarvo_cp_ctx *x = started(ctx)) {
    http_client_set_read_timeout(&x->hc, ms);
    parallel_soap_client_set_timeout(&x->psc, int32_t(std::min<uint32_t>(ms, INT32_MAX)));
  }
}

int tarvo_cp_is_connect_timeout(tarvo_cp_ctx **ctx)
{
  tarvo_cp_ctx *x = started(ctx);
  return x && http_client_is_connect_timeout(&x->hc);
}

int tarvo_cp_is_read_timeout(tarvo_cp_ctx **ctx)
{
  tarvo_cp_ctx *x = started(ctx);
  return x && http_client_is_read_timeout(&x->hc);
}

int tarvo_cp_is_write_timeout(tarvo_cp_ctx **ctx)
{
  tarvo_cp_ctx *x = started(ctx);
  return x && http_client_is_write_timeout(&x->hc);
}

void tarvo_cp_set_cancel(tarvo_cp_ctx **ctx, int flag)
{
  if (tarvo_cp_ctx *x = started(ctx)) {
    http_client_set_cancel(&x->hc, flag);
    parallel_soap_client_set_cancel(&x->psc, flag);
  }
}

int tarvo_cp_is_canceled(tarvo_cp_ctx **ctx)
{
  tarvo_cp_ctx *x = started(ctx);
  return x && (http_client_is_canceled(&x->hc) || parallel_soap_client_is_canceled(&x->psc));
}

int tarvo_cp_impl_hc_lock(tarvo_cp_ctx *ctx)
{
  if (!ctx || stopping(ctx)) return 0;
  sys_mutex_lock(&ctx->hc_mutex);
  if (!stopping(ctx)) return 1;
  sys_mutex_unlock(&ctx->hc_mutex);
  return 0;
}

void tarvo_cp_impl_hc_unlock(tarvo_cp_ctx *ctx)
{
  if (ctx) sys_mutex_unlock(&ctx->hc_mutex);
}

int tarvo_cp_get_ip(tarvo_cp_ctx **ctx, uint8_t out[4])
{
  sys_byte_zero(out, 4);
  tarvo_cp_ctx *x = started(ctx);
  return x && upnp_cp_get_ip(&x->cp, out);
}

http_client *tarvo_cp_impl_http_client(tarvo_cp_ctx *ctx) { return ctx ? &ctx->hc : nullptr; }

parallel_soap_client_rec *tarvo_cp_impl_parallel_soap_client(tarvo_cp_ctx *ctx)
{
  return ctx ? &ctx->psc : nullptr;
}

}  // extern "C"
