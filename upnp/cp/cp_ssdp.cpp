// SSDP for the control point: the checks of announcements and search
// responses, the SSDP thread that receives them, M-SEARCH, and static
// discovery from a known description.
#include "cp_impl.h"

#include <cstring>
#include <netinet/in.h>
#include <string_view>
#include <sys/socket.h>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/uri.h>

namespace {

using text = own::stralloc;

bool is_blank(char ch) { return ch == ' ' || ch == '\t'; }

// The datagram's headers after its first line, folded lines joined and
// normalised, each handed to fn as a NUL-terminated line.  false when fn
// refuses one or memory runs out.
template <class Fn> bool each_header(const char *data, uint32_t length, uint32_t pos, Fn fn)
{
  text acc, line;
  for (;;) {
    bool got = http_header_readline2(data, length, &pos, &line.s);
    if (got && line.s.len && is_blank(line.s.buf[0]) && acc.s.len) {
      if (!sys_stralloc_cat(&acc.s, &line.s)) return false;
      continue;
    }
    if (acc.s.len) {
      acc.s.len = http_header_normalize(acc.s.buf, acc.s.len);
      if (!sys_stralloc_append(&acc.s, "") || !fn(static_cast<const char *>(acc.s.buf)))
        return false;
    }
    if (!got || !line.s.len) return true;
    if (!sys_stralloc_copy(&acc.s, &line.s)) return false;
  }
}

bool take(const char *line, uint32_t offset, char **out)
{
  text v;
  if (*out || !http_header_value_get(line, offset, &v.s) || !sys_stralloc_append(&v.s, ""))
    return false;
  *out = v.s.buf;
  v.s = sys_stralloc_rec{};
  return true;
}

struct fields {
  bool host = false, bad_host = false, max_age = false, ext = false;
  int nts = 0;  // 1 alive, 2 byebye, -1 other
};

// One header of either kind of datagram; false drops the datagram.
bool header(const char *l, fields *f, cp_ssdp_msg *m)
{
  if (sys_str_case_start(l, "host:")) {
    f->host = http_header_value_equal(l, 5, ssdp_host_port()) || http_header_value_equal(l, 5, ssdp_host());
    f->bad_host = !f->host;
    return true;
  }
  if (sys_str_case_start(l, "cache-control:")) {
    uint32_t n = 0;
    f->max_age = http_header_value_get_cache_control_max_age(l, 14, &n);
    m->max_age = n;
    return true;
  }
  if (sys_str_case_start(l, "ext:")) return (f->ext = true);
  if (sys_str_case_start(l, "location:")) return take(l, 9, &m->location);
  if (sys_str_case_start(l, "server:")) return take(l, 7, &m->server);
  if (sys_str_case_start(l, "usn:")) return take(l, 4, &m->usn);
  if (sys_str_case_start(l, "nt:") || sys_str_case_start(l, "st:")) return take(l, 3, &m->nt);
  if (sys_str_case_start(l, "nts:")) {
    f->nts = http_header_value_equal(l, 4, "ssdp:alive") ? 1 : http_header_value_equal(l, 4, "ssdp:byebye") ? 2 : -1;
    return true;
  }
  return true;
}

bool target_passes(char *const *targets, const char *nt)
{
  if (!targets || !*targets) return true;
  for (char *const *t = targets; *t; t++)
    if (!sys_str_diff(*t, nt) || upnp_urn_version_le(*t, nt)) return true;
  return false;
}

// Only http:// locations, and one whose host is an IPv4 literal must name
// the sender itself.
bool location_allowed(const char *location, const uint8_t source[4])
{
  if (!sys_str_case_start(location, "http://")) return false;
  uri_rec u{};
  if (!uri_parse(&u, location)) return false;
  uint8_t ip[4];
  uint32_t n = sys_ip4_scan(u.host, ip);
  bool ok = u.host[0] && (!n || u.host[n] || !sys_byte_diff(ip, 4, source));
  uri_free(&u);
  return ok;
}

bool first_line(const char *data, uint32_t length, uint32_t *pos, bool notify)
{
  text line;
  if (!http_header_readline2(data, length, pos, &line.s)) return false;
  std::string_view l(line.s.buf, line.s.len);
  if (notify) return l == "NOTIFY * HTTP/1.1";
  // "HTTP/x.y 200 ..."
  size_t sp = l.find(' ');
  return l.starts_with("HTTP/") && sp != l.npos && l.substr(sp + 1, 3) == "200" &&
         (l.size() == sp + 4 || l[sp + 4] == ' ');
}

int classify(bool notify, const fields &f, const cp_ssdp_msg &m, char *const *targets)
{
  if (!notify)
    return f.max_age && f.ext && m.location && m.server && m.nt && m.usn ? CP_SSDP_RESPONSE : CP_SSDP_NONE;
  if (f.bad_host || !m.nt || !target_passes(targets, m.nt)) return CP_SSDP_NONE;
  if (f.nts == 1 && f.host && f.max_age && m.location && m.server && m.usn) return CP_SSDP_ALIVE;
  if (f.nts == 2 && f.host && m.usn) return CP_SSDP_BYEBYE;
  return CP_SSDP_NONE;
}

// --- the SSDP thread ---

void ssdp_open(upnp_cp_ctx *c)
{
  sys_memalloc_rec ips{};
  sys_mutex_lock(&c->ip_mutex);
  int ok = sys_memalloc_copy(&ips, &c->ip_list);
  sys_mutex_unlock(&c->ip_mutex);
  int s = -1, off = 0;
  if (ok && sys_socket_udp(&s) && sys_socket_ndelay_on(s) &&
      !setsockopt(s, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off) &&
      sys_socket_bind_reuse4(s, sys_ip4_any(), ssdp_port())) {
    // A bound socket takes the group's traffic of each interface joined.
    for (uint32_t i = 0; i + 4 <= ips.len; i += 4)
      if (ips.len == 4 || sys_byte_diff(ips.buf + i, 4, sys_ip4_loopback()))
        sys_socket_mcast_join4(s, ips.buf + i, ssdp_ip());
    c->ssdp_socket = s;
    s = -1;
  }
  sys_socket_close(s);
  sys_memalloc_free(&ips);
}

void ssdp_close(upnp_cp_ctx *c)
{
  sys_socket_close(c->ssdp_socket);
  c->ssdp_socket = -1;
}

}  // namespace

void cp_ssdp_msg_free(cp_ssdp_msg *m)
{
  for (char **s : {&m->location, &m->server, &m->nt, &m->usn}) {
    sys_alloc_free(*s);
    *s = nullptr;
  }
  m->kind = CP_SSDP_NONE;
}

void cp_ssdp_parse(const char *data, uint32_t length, char *const *targets, const uint8_t source[4],
                   cp_ssdp_msg *m)
{
  *m = cp_ssdp_msg{};
  length = uint32_t(strnlen(data, length));
  bool notify = sys_str_startn(data, length, "NOTIFY");
  if (!notify && !sys_str_startn(data, length, "HTTP/")) return;
  uint32_t pos = 0;
  fields f;
  bool ok = first_line(data, length, &pos, notify) &&
            each_header(data, length, pos, [&](const char *l) { return header(l, &f, m); });
  int kind = ok ? classify(notify, f, *m, targets) : CP_SSDP_NONE;
  if (kind != CP_SSDP_NONE && kind != CP_SSDP_BYEBYE && !location_allowed(m->location, source))
    kind = CP_SSDP_NONE;
  if (kind == CP_SSDP_NONE) cp_ssdp_msg_free(m);
  m->kind = kind;
}

namespace {

struct engine_msg {
  upnp_cp_ctx *c;
  cp_ssdp_msg m;
};

void engine_msg_free(void *arg)
{
  auto *e = static_cast<engine_msg *>(arg);
  cp_ssdp_msg_free(&e->m);
  sys_alloc_free(e);
}

const char *or_empty(const char *s) { return s ? s : ""; }

void engine_msg_run(void *arg)
{
  auto *e = static_cast<engine_msg *>(arg);
  upnp_cp_ctx *c = e->c;
  const cp_ssdp_msg &m = e->m;
  if (m.kind == CP_SSDP_ALIVE && c->alive_fn)
    c->alive_fn(m.max_age, m.location, m.server, m.nt, m.usn, c->discovery_user);
  else if (m.kind == CP_SSDP_RESPONSE && c->search_fn)
    c->search_fn(m.max_age, m.location, or_empty(m.server), m.nt, m.usn, c->discovery_user);
  else if (m.kind == CP_SSDP_BYEBYE && c->byebye_fn)
    c->byebye_fn(m.nt, m.usn, c->discovery_user);
}

void queue_msg(upnp_cp_ctx *c, cp_ssdp_msg *m)
{
  auto *e = static_cast<engine_msg *>(sys_alloc(sizeof(engine_msg)));
  if (!e) {
    cp_ssdp_msg_free(m);
    return;
  }
  e->c = c;
  e->m = *m;
  *m = cp_ssdp_msg{};
  cp_queue(c, engine_msg_run, engine_msg_free, e);
}

void receive(upnp_cp_ctx *c, int sock)
{
  char buf[CP_SSDP_DATAGRAM_MAX];
  uint8_t from[4];
  uint16_t port = 0;
  uint32_t got = 0;
  if (!sys_socket_recvfrom4(sock, buf, sizeof buf, from, &port, &got) || !got || got >= sizeof buf)
    return;
  buf[got] = 0;
  cp_ssdp_msg m;
  cp_ssdp_parse(buf, got, c->targets, from, &m);
  if (m.kind != CP_SSDP_NONE) queue_msg(c, &m);
}

// What the worker or a public call asked of the socket.
void socket_requests(upnp_cp_ctx *c)
{
  if (cp_load(c->reopen)) {
    ssdp_close(c);
    ssdp_open(c);
    cp_store(c->reopen, 0);
  }
  int r = cp_load(c->ssdp_request);
  if (!r) return;
  cp_store(c->ssdp_request, 0);
  ssdp_close(c);
  if (r == 1) ssdp_open(c);
}

}  // namespace

void cp_ssdp_thread(void *arg)
{
  auto *c = static_cast<upnp_cp_ctx *>(arg);
  ssdp_open(c);
  while (!cp_stopping(c)) {
    socket_requests(c);
    sys_select_rec rd;
    sys_select_init(&rd);
    if (c->ssdp_socket >= 0) sys_select_set(&rd, c->ssdp_socket);
    sys_select_set(&rd, c->search_socket);
    sys_select_set(&rd, c->stop_fd);
    uint32_t n = 0;
    if (!sys_select_check(&rd, nullptr, nullptr, CP_SSDP_WAIT_MS, &n) || !n) continue;
    for (int s : {c->ssdp_socket, c->search_socket})
      if (s >= 0 && !cp_stopping(c) && sys_select_is_set(&rd, s)) receive(c, s);
  }
  ssdp_close(c);
}

// --- M-SEARCH and static discovery ---

namespace {

bool search_message(sys_stralloc_rec *sa, const char *target, uint32_t mx)
{
  char num[16];
  num[sys_str_fmt_uint(num, mx)] = 0;
  return sys_stralloc_copys(sa, "M-SEARCH * HTTP/1.1\r\nHOST: ") && sys_stralloc_cats(sa, ssdp_host_port()) &&
         sys_stralloc_cats(sa, "\r\nMAN: \"ssdp:discover\"\r\nMX: ") && sys_stralloc_cats(sa, num) &&
         sys_stralloc_cats(sa, "\r\nST: ") && sys_stralloc_cats(sa, target) && sys_stralloc_cats(sa, "\r\n\r\n");
}

// A search-response job for one USN found in a known description.
bool static_answer(upnp_cp_ctx *c, const char *location, const char *usn, const char *st)
{
  cp_ssdp_msg m{};
  m.kind = CP_SSDP_RESPONSE;
  m.max_age = TARVO_CP_STATIC_MAX_AGE;
  bool ok = sys_str_clone(location, &m.location) && sys_str_clone("", &m.server) &&
            sys_str_clone(usn, &m.usn) && sys_str_clone(st, &m.nt);
  if (!ok) {
    cp_ssdp_msg_free(&m);
    return false;
  }
  queue_msg(c, &m);
  return true;
}

bool static_entry(upnp_cp_ctx *c, const char *location, const char *udn, const char *suffix)
{
  if (!suffix) return static_answer(c, location, udn, udn);
  text usn;
  if (!sys_stralloc_copys(&usn.s, udn) || !sys_stralloc_cats(&usn.s, "::") ||
      !sys_stralloc_cats(&usn.s, suffix) || !sys_stralloc_append(&usn.s, ""))
    return false;
  return static_answer(c, location, usn.s.buf, suffix);
}

void static_answers(upnp_cp_ctx *c, const upnp_desc_rec *d, const char *target, const char *location)
{
  bool all = !sys_str_diff(target, "ssdp:all");
  for (upnp_desc_device_rec **dev = d->devices; dev && *dev && !cp_stopping(c); dev++) {
    const char *udn = (*dev)->UDN, *type = (*dev)->deviceType;
    if (!udn) continue;
    bool root = dev == d->devices;
    if (all) {
      if (root) static_entry(c, location, udn, "upnp:rootdevice");
      static_entry(c, location, udn, nullptr);
      if (type) static_entry(c, location, udn, type);
      for (upnp_desc_service_rec **s = (*dev)->services; s && *s; s++)
        if ((*s)->serviceType) static_entry(c, location, udn, (*s)->serviceType);
    } else if (!sys_str_diff(target, "upnp:rootdevice")) {
      if (root) static_entry(c, location, udn, "upnp:rootdevice");
    } else if (sys_str_start(target, "uuid:")) {
      if (!sys_str_diff(udn, target)) static_entry(c, location, udn, nullptr);
    } else if (upnp_urn_is_device(target)) {
      if (type && !sys_str_diff(type, target)) static_entry(c, location, udn, type);
    } else if (upnp_urn_is_service(target)) {
      for (upnp_desc_service_rec **s = (*dev)->services; s && *s; s++)
        if ((*s)->serviceType && !sys_str_diff((*s)->serviceType, target)) {
          static_entry(c, location, udn, target);
          break;
        }
    }
  }
}

}  // namespace

extern "C" {

int upnp_cp_discovery_search_async(upnp_cp_ctx **cp, const char *target, uint32_t mx)
{
  if (!cp || !*cp || !target) return 0;
  upnp_cp_ctx *c = *cp;
  text msg;
  if (!search_message(&msg.s, target, mx)) return 0;
  // Sent from the search socket itself, so that every answer reaches it.
  sys_mutex_lock(&c->ip_mutex);
  uint32_t n = c->ip_list.len / 4, sent_any = 0;
  for (uint32_t i = 0; i < n; i++) {
    const uint8_t *ip = c->ip_list.buf + 4 * i;
    if (n > 1 && !sys_byte_diff(ip, 4, sys_ip4_loopback())) continue;
    sys_socket_mcast_set_if(c->search_socket, ip);
    for (uint32_t k = 0; k < CP_MSEARCH_REPEAT; k++) {
      uint32_t sent = 0;
      sent_any |= sys_socket_sendto4(c->search_socket, msg.s.buf, msg.s.len, ssdp_ip(), ssdp_port(), &sent);
    }
  }
  sys_mutex_unlock(&c->ip_mutex);
  return sent_any ? 1 : 0;
}

int upnp_cp_discovery_static_async(upnp_cp_ctx **cp, const char *target, const char *location)
{
  if (!cp || !*cp || !target || !location || cp_stopping(*cp)) return 0;
  upnp_desc_rec *d = nullptr;
  if (!cp_get_desc(*cp, location, &d)) return 0;
  static_answers(*cp, d, target, location);
  upnp_desc_free(d);
  return 1;
}

}  // extern "C"
