// M-SEARCH: which datagrams ask for a discovery, which entries of the
// description answer them, and the answer threads that send the answers
// after their random delay.
#include "device_gena_ssdp.h"

#include <algorithm>
#include <cstring>

namespace {

bool is_blank(char ch) { return ch == ' ' || ch == '\t'; }

struct search_headers {
  bool host = false, man = false, mx = false;
  uint32_t mx_value = 0;
  own::stralloc target;
};

// One complete header line; false drops the datagram.
bool search_header(sys_stralloc_rec *line, search_headers *h)
{
  line->len = http_header_normalize(line->buf, line->len);
  if (!sys_stralloc_append(line, "")) return false;
  const char *l = line->buf;
  if (sys_str_case_start(l, "host:"))
    return (h->host = http_header_value_equal(l, 5, ssdp_host_port()) ||
                      http_header_value_equal(l, 5, ssdp_host()));
  if (sys_str_case_start(l, "man:")) return (h->man = http_header_value_equal(l, 4, "\"ssdp:discover\""));
  if (sys_str_case_start(l, "mx:")) return (h->mx = http_header_value_scan_uint(l, 3, &h->mx_value) > 0);
  if (sys_str_case_start(l, "st:")) return http_header_value_get(l, 3, &h->target.s);
  return true;
}

bool search_line(const char *data, uint32_t length, uint32_t *pos)
{
  own::stralloc line;
  if (!http_header_readline2(data, length, pos, &line.s)) return false;
  http_request_startline_rec start{};
  bool ok = http_request_startline_parse(&start, &line.s) && !sys_str_diff(start.method, "M-SEARCH") &&
            !sys_str_diff(start.uri.path, "*") && !start.uri.scheme[0] && !start.uri.host[0] && !start.uri.port[0] &&
            !start.uri.query[0] && !sys_str_diff(start.version, "HTTP/1.1");
  http_request_startline_free(&start);
  return ok;
}

// Counts the answers and hands each to fn (when there is one).
struct answer_walk {
  uint32_t n;
  device_ssdp_entry_fn fn;
  void *user;
  int one(const char *st, const char *udn, const char *suffix)
  {
    n++;
    return !fn || fn(user, st, udn, suffix);
  }
  static int entry(void *w, const char *st, const char *udn, const char *suffix)
  {
    return static_cast<answer_walk *>(w)->one(st, udn, suffix);
  }
};

bool device_has_udn(const upnp_desc_device_rec *d) { return d->UDN && d->UDN[0]; }

struct ssdp_answer {
  tarvo_device_ctx *ctx;
  uint8_t local_ip[4];
  uint8_t remote_ip[4];
  uint16_t remote_port;
  char *target;
  uint32_t mx;
};

struct answer_send {
  const ssdp_answer *a;
  int sock;
  bool pause;  // after each datagram (ssdp:all)
  char location[DEVICE_SSDP_LOCATION_LEN];
  own::stralloc msg;
};

int answer_entry(void *user, const char *target, const char *udn, const char *suffix)
{
  auto *s = static_cast<answer_send *>(user);
  tarvo_device_ctx *c = s->a->ctx;
  // A search taken before a suspend is not answered after its byebye.
  if (device_stopping(c) || device_load(c->ssdp_quiet) ||
      !device_ssdp_message(&s->msg.s, DEVICE_SSDP_ANSWER, c, s->location, target, udn, suffix))
    return 0;
  uint32_t sent = 0;
  sys_socket_sendto4(s->sock, s->msg.s.buf, s->msg.s.len, s->a->remote_ip, s->a->remote_port, &sent);
  return !s->pause || device_sleep(c, DEVICE_SSDP_PAUSE_MS);
}

void answer_loop(void *arg)
{
  auto *a = static_cast<ssdp_answer *>(arg);
  tarvo_device_ctx *c = a->ctx;
  // The random generator is process-wide and seeded once by the SSDP
  // thread: seeding it again here would give every answer of the same
  // second the same delay.
  uint32_t bound = std::min(a->mx, DEVICE_SSDP_MX_MAX_MS / 1000) * 1000;
  if ((!bound || device_sleep(c, uint32_t(sys_random()) % bound)) && !device_stopping(c)) {
    answer_send s{a, -1, !sys_str_diff(a->target, "ssdp:all"), {}, {}};
    device_ssdp_location(s.location, a->local_ip, c->http_port);
    if (sys_socket_udp(&s.sock) && sys_socket_bind_reuse4(s.sock, a->local_ip, ssdp_port()))
      device_ssdp_search_answers(c->desc, a->target, answer_entry, &s);
    sys_socket_close(s.sock);
  }
  sys_mutex_lock(&c->live_mutex);
  c->ssdp_answer_count--;
  sys_mutex_unlock(&c->live_mutex);
  sys_alloc_free(a->target);
  sys_alloc_free(a);
}

}  // namespace

int device_ssdp_search_parse(const char *data, uint32_t length, char **target, uint32_t *mx)
{
  length = uint32_t(strnlen(data, length));
  uint32_t pos = 0;
  if (!search_line(data, length, &pos)) return 0;
  search_headers h;
  own::stralloc acc, line;
  for (;;) {
    bool got = http_header_readline2(data, length, &pos, &line.s);
    // A line that begins with a blank or a tab continues the one before.
    if (got && line.s.len && is_blank(line.s.buf[0]) && acc.s.len) {
      if (!sys_stralloc_cat(&acc.s, &line.s)) return 0;
      continue;
    }
    if (acc.s.len && !search_header(&acc.s, &h)) return 0;
    if (!got || !line.s.len) break;
    if (!sys_stralloc_copy(&acc.s, &line.s)) return 0;
  }
  if (!h.host || !h.man || !h.mx || !h.target.s.len || !sys_stralloc_append(&h.target.s, "")) return 0;
  *target = h.target.s.buf;
  h.target.s = sys_stralloc_rec{};
  *mx = h.mx_value;
  return 1;
}

int device_ssdp_notification_set(const upnp_desc_rec *desc, device_ssdp_entry_fn fn, void *user)
{
  for (upnp_desc_device_rec **d = desc ? desc->devices : nullptr; d && *d; d++) {
    const char *udn = (*d)->UDN;
    if (!device_has_udn(*d)) continue;
    if (d == desc->devices && !fn(user, "upnp:rootdevice", udn, "upnp:rootdevice")) return 0;
    if (!fn(user, udn, udn, nullptr)) return 0;
    if ((*d)->deviceType && !fn(user, (*d)->deviceType, udn, (*d)->deviceType)) return 0;
    for (upnp_desc_service_rec **s = (*d)->services; s && *s; s++)
      if ((*s)->serviceType && !fn(user, (*s)->serviceType, udn, (*s)->serviceType)) return 0;
  }
  return 1;
}

uint32_t device_ssdp_search_answers(const upnp_desc_rec *desc, const char *target,
                                    device_ssdp_entry_fn fn, void *user)
{
  if (!desc || !desc->devices) return 0;
  answer_walk w{0, fn, user};
  if (!sys_str_diff(target, "ssdp:all")) {
    device_ssdp_notification_set(desc, answer_walk::entry, &w);
    return w.n;
  }
  bool root = !sys_str_diff(target, "upnp:rootdevice");
  bool uuid = sys_str_start(target, "uuid:");
  bool device = !root && !uuid && upnp_urn_is_device(target);
  bool service = !root && !uuid && !device && upnp_urn_is_service(target);
  for (upnp_desc_device_rec **d = desc->devices; *d; d++) {
    const char *udn = (*d)->UDN;
    if (!device_has_udn(*d)) {
      if (root) return w.n;
      continue;
    }
    if (root) {
      w.one(target, udn, "upnp:rootdevice");
      return w.n;
    }
    if (uuid && !sys_str_diff(udn, target)) {
      w.one(target, udn, nullptr);
      return w.n;
    }
    if (device && (*d)->deviceType && upnp_urn_version_ge((*d)->deviceType, target) &&
        !w.one(target, udn, (*d)->deviceType))
      return w.n;
    if (!service) continue;
    for (upnp_desc_service_rec **s = (*d)->services; s && *s; s++) {
      if (!(*s)->serviceType || !upnp_urn_version_ge((*s)->serviceType, target)) continue;
      if (!w.one(target, udn, (*s)->serviceType)) return w.n;
      break;
    }
  }
  return w.n;
}

int device_ssdp_answer_start(tarvo_device_ctx *c, const uint8_t *local_ip,
                             const uint8_t *remote_ip, uint16_t remote_port, char *target,
                             uint32_t mx)
{
  auto *a = static_cast<ssdp_answer *>(sys_alloc_zero(sizeof(ssdp_answer)));
  if (!a) {
    sys_alloc_free(target);
    return 0;
  }
  *a = ssdp_answer{c, {}, {}, remote_port, target, mx};
  sys_byte_copy(a->local_ip, 4, local_ip);
  sys_byte_copy(a->remote_ip, 4, remote_ip);
  int started = 0;
  sys_mutex_lock(&c->live_mutex);
  // Started under the live-count mutex, so that the end cannot miss it.
  sys_thread_handle t;
  if (!device_stopping(c) && c->ssdp_answer_count < DEVICE_SSDP_ANSWERS_MAX &&
      sys_thread_create(&t, answer_loop, a)) {
    sys_thread_detach(t);
    c->ssdp_answer_count++;
    started = 1;
  }
  sys_mutex_unlock(&c->live_mutex);
  if (!started) {
    sys_alloc_free(target);
    sys_alloc_free(a);
  }
  return started;
}

int device_sleep(const tarvo_device_ctx *c, uint32_t ms)
{
  while (ms && !device_stopping(c)) {
    uint32_t slice = std::min(ms, DEVICE_STOP_SLICE_MS);
    sys_thread_sleep(slice);
    ms -= slice;
  }
  return !device_stopping(c);
}
