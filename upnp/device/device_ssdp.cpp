// SSDP announcements and the SSDP thread: the alive and byebye sets, the
// socket that takes searches from every interface, and the socket work
// that suspend and resume ask of the thread.
#include "device_gena_ssdp.h"

#include <algorithm>
#include <netinet/in.h>
#include <sys/socket.h>
#include <tarvo_util/sys_time.h>

namespace {

// What tarvo_device_ssdp_close_socket and _open_socket ask of the thread.
enum { REQUEST_NONE, REQUEST_CLOSE, REQUEST_OPEN };

struct set_send {
  tarvo_device_ctx *c;
  int sock;
  int kind;
  uint32_t pause_ms;  // after each datagram
  bool built;         // every datagram could be made
  char location[DEVICE_SSDP_LOCATION_LEN];
  sys_stralloc_rec msg;
};

int set_entry(void *user, const char *target, const char *udn, const char *suffix)
{
  auto *s = static_cast<set_send *>(user);
  // Byebye goes out in full also while stopping: it is what the end sends.
  if (s->kind == DEVICE_SSDP_ALIVE && device_stopping(s->c)) return 0;
  if (!device_ssdp_message(&s->msg, s->kind, s->c, s->location, target, udn, suffix)) {
    s->built = false;
    return 0;
  }
  uint32_t sent = 0;
  sys_socket_sendto4(s->sock, s->msg.buf, s->msg.len, ssdp_ip(), ssdp_port(), &sent);
  // The byebye of the end must fit in the time a stop may take.
  sys_thread_sleep(device_stopping(s->c) ? DEVICE_SSDP_END_PAUSE_MS : s->pause_ms);
  return 1;
}

// The alive or byebye set, twice, on every local address (loopback only
// when it is the only one).
int set_send_all(tarvo_device_ctx *c, int kind, uint32_t pause_ms = DEVICE_SSDP_PAUSE_MS)
{
  sys_memalloc_rec ips{};
  if (!tarvo_device_impl_get_ip_list(c, &ips)) return 0;
  set_send s{c, -1, kind, pause_ms, true, {}, {}};
  int ok = sys_socket_udp(&s.sock) && sys_socket_bind_reuse4(s.sock, sys_ip4_any(), ssdp_port()) &&
           sys_socket_mcast_set_ttl(s.sock, DEVICE_SSDP_TTL);
  uint32_t n = ips.len / 4;
  for (uint32_t i = 0; ok && i < n; i++) {
    const uint8_t *ip = ips.buf + 4 * i;
    if (n > 1 && !sys_byte_diff(ip, 4, sys_ip4_loopback())) continue;
    sys_socket_mcast_set_if(s.sock, ip);
    device_ssdp_location(s.location, ip, c->http_port);
    s.built = true;
    for (int round = 0; round < 2; round++)
      if (!device_ssdp_notification_set(c->desc, set_entry, &s)) break;
    if (!s.built) ok = 0;
  }
  sys_socket_close(s.sock);
  sys_stralloc_free(&s.msg);
  sys_memalloc_free(&ips);
  return ok;
}

void sockets_close(tarvo_device_ctx *c)
{
  for (uint32_t i = 0; i < c->ssdp_sockets.len; i++) sys_socket_close(c->ssdp_sockets.buf[i]);
  c->ssdp_sockets.len = 0;
}

// One socket on 0.0.0.0:1900 in the group on every local address.  It
// takes only the group's traffic of the interfaces it joined on, and
// learns from each datagram the address that took it.
void sockets_open(tarvo_device_ctx *c)
{
  sys_memalloc_rec ips{};
  int s = -1, off = 0, on = 1;
  if (tarvo_device_impl_get_ip_list(c, &ips) && sys_socket_udp(&s) && sys_socket_ndelay_on(s) &&
      !setsockopt(s, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off) &&
      !setsockopt(s, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) &&
      sys_socket_bind_reuse4(s, sys_ip4_any(), ssdp_port())) {
    // An address whose interface has joined already fails; that is fine.
    for (uint32_t i = 0; i + 4 <= ips.len; i += 4) sys_socket_mcast_join4(s, ips.buf + i, ssdp_ip());
    if (sockalloc_append(&c->ssdp_sockets, s)) s = -1;
  }
  sys_socket_close(s);
  sys_memalloc_free(&ips);
}

bool ip_listed(tarvo_device_ctx *c, const uint8_t *ip)
{
  bool found = false;
  sys_mutex_lock(&c->ip_mutex);
  for (uint32_t i = 0; !found && i + 4 <= c->ip_list.len; i += 4)
    found = !sys_byte_diff(c->ip_list.buf + i, 4, ip);
  sys_mutex_unlock(&c->ip_mutex);
  return found;
}

// One datagram from sock; a search that something answers goes to an
// answer thread.
void receive(tarvo_device_ctx *c, int sock)
{
  char buf[DEVICE_SSDP_DATAGRAM_MAX];
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
  sockaddr_in from{};
  iovec iov{buf, sizeof buf};
  msghdr m{};
  m.msg_name = &from;
  m.msg_namelen = sizeof from;
  m.msg_iov = &iov;
  m.msg_iovlen = 1;
  m.msg_control = control;
  m.msg_controllen = sizeof control;
  ssize_t got = recvmsg(sock, &m, 0);
  // A datagram that fills the buffer may have been cut.
  if (got <= 0 || size_t(got) >= sizeof buf || from.sin_family != AF_INET) return;
  uint16_t port = ntohs(from.sin_port);
  if (port <= 1024 || port == ssdp_port()) return;
  const in_pktinfo *info = nullptr;
  for (cmsghdr *h = CMSG_FIRSTHDR(&m); h; h = CMSG_NXTHDR(&m, h))
    if (h->cmsg_level == IPPROTO_IP && h->cmsg_type == IP_PKTINFO)
      info = reinterpret_cast<const in_pktinfo *>(CMSG_DATA(h));
  if (!info) return;
  uint8_t local[4];
  sys_byte_copy(local, 4, &info->ipi_spec_dst);
  // Only addresses of the list are announced, so only they answer.
  if (!ip_listed(c, local)) return;
  buf[got] = 0;
  char *target = nullptr;
  uint32_t mx = 0;
  if (!sys_str_start(buf, "M-SEARCH") || !device_ssdp_search_parse(buf, uint32_t(got), &target, &mx))
    return;
  if (!device_ssdp_search_answers(c->desc, target, nullptr, nullptr)) {
    sys_alloc_free(target);
    return;
  }
  device_ssdp_answer_start(c, local, reinterpret_cast<const uint8_t *>(&from.sin_addr), port,
                           target, mx);
}

void request_serve(tarvo_device_ctx *c)
{
  int r = device_load(c->ssdp_request);
  if (r == REQUEST_NONE) return;
  sockets_close(c);
  if (r == REQUEST_OPEN) sockets_open(c);
  device_store(c->ssdp_request, int(REQUEST_NONE));
}

// Waits on the sockets and the wake-up until the next announcement is due
// (seconds from now; -1: none, with no sockets to serve).
void wait_work(tarvo_device_ctx *c, sys_select_rec *rd, int64_t due_s)
{
  sys_select_init(rd);
  for (uint32_t i = 0; i < c->ssdp_sockets.len; i++) sys_select_set(rd, c->ssdp_sockets.buf[i]);
  sys_select_set(rd, c->ssdp_wake);
  sys_select_set(rd, c->stop_fd);
  uint32_t ms = due_s < 0 ? UINT32_MAX : uint32_t(std::min<int64_t>(due_s, UINT32_MAX / 1000) * 1000);
  uint32_t ready = 0;
  if (!sys_select_check(rd, nullptr, nullptr, ms, &ready)) rd->count = 0;
}

void ssdp_loop(void *arg)
{
  auto *c = static_cast<tarvo_device_ctx *>(arg);
  int64_t now = 0;
  sys_time_now(&now);
  sys_random_init(uint32_t(now));
  uint32_t a = c->max_age / 4;
  int64_t next_alive = 0;
  while (!device_stopping(c)) {
    // Cleared before the flags are read, so that no wake-up is lost.
    sys_wakefd_clear(c->ssdp_wake);
    request_serve(c);
    if (device_load(c->address_changed)) {
      // The list is new already: byebye and alive go out over the new
      // addresses.
      set_send_all(c, DEVICE_SSDP_BYEBYE);
      sockets_close(c);
      sockets_open(c);
      set_send_all(c, DEVICE_SSDP_ALIVE);
      device_store(c->address_changed, 0);
    }
    sys_select_rec rd;
    if (!c->ssdp_sockets.len) {
      wait_work(c, &rd, -1);
      continue;
    }
    sys_time_now(&now);
    if (now >= next_alive) {
      set_send_all(c, DEVICE_SSDP_ALIVE);
      next_alive = now + a + uint32_t(sys_random()) % a;
    }
    wait_work(c, &rd, next_alive - now);
    for (uint32_t i = 0; i < c->ssdp_sockets.len && !device_stopping(c); i++)
      if (sys_select_is_set(&rd, c->ssdp_sockets.buf[i])) receive(c, c->ssdp_sockets.buf[i]);
  }
  device_store(c->address_changed, 0);
  sockets_close(c);
  device_store(c->ssdp_request, int(REQUEST_NONE));
  device_store(c->ssdp_running, 0);
}

// Asks the SSDP thread for socket work and waits until it is done: the
// thread alone touches its sockets.
void request(tarvo_device_ctx **ctx, int what)
{
  tarvo_device_ctx *c = ctx ? *ctx : nullptr;
  if (!c || c->ssdp_disabled) return;
  auto running = [c] { return device_load(c->ssdp_running) && !device_stopping(c); };
  std::atomic_ref<int> slot(c->ssdp_request);
  for (int idle_slot = REQUEST_NONE; running();) {
    if (slot.compare_exchange_strong(idle_slot, what)) break;
    idle_slot = REQUEST_NONE;
    sys_thread_sleep(DEVICE_SSDP_REQUEST_POLL_MS);
  }
  device_ssdp_wake(c);
  while (running() && slot.load() != REQUEST_NONE) sys_thread_sleep(DEVICE_SSDP_REQUEST_POLL_MS);
}

int set_send_public(tarvo_device_ctx **ctx, int kind)
{
  tarvo_device_ctx *c = ctx ? *ctx : nullptr;
  if (!c || c->ssdp_disabled) return 0;
  return set_send_all(c, kind);
}

}  // namespace

void device_ssdp_location(char *buf, const uint8_t *ip, uint16_t port)
{
  uint32_t n = sys_str_copy(buf, "http://");
  n += sys_ip4_fmt(buf + n, ip);
  buf[n++] = ':';
  n += sys_str_fmt_uint(buf + n, port);
  buf[n++] = '/';
  buf[n] = 0;
}

int device_ssdp_message(sys_stralloc_rec *sa, int kind, const tarvo_device_ctx *c,
                        const char *location, const char *target, const char *udn,
                        const char *suffix)
{
  char age[16];
  age[sys_str_fmt_uint(age, c->max_age)] = 0;
  auto cats = [sa](const char *s) { return sys_stralloc_cats(sa, s) != 0; };
  auto usn = [&] { return cats("USN: ") && cats(udn) && (!suffix || (cats("::") && cats(suffix))) &&
                          cats("\r\n\r\n"); };
  sa->len = 0;
  switch (kind) {
  case DEVICE_SSDP_ALIVE:
    return cats("NOTIFY * HTTP/1.1\r\nHOST: ") && cats(ssdp_host_port()) &&
           cats("\r\nCACHE-CONTROL: max-age=") && cats(age) && cats("\r\nLOCATION: ") &&
           cats(location) && cats("\r\nNT: ") && cats(target) &&
           cats("\r\nNTS: ssdp:alive\r\nSERVER: ") && cats(c->server_name) && cats("\r\n") && usn();
  case DEVICE_SSDP_BYEBYE:
    return cats("NOTIFY * HTTP/1.1\r\nHOST: ") && cats(ssdp_host_port()) && cats("\r\nNT: ") &&
           cats(target) && cats("\r\nNTS: ssdp:byebye\r\n") && usn();
  default:
    return cats("HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=") && cats(age) &&
           cats("\r\nEXT:\r\nLOCATION: ") && cats(location) && cats("\r\nSERVER: ") &&
           cats(c->server_name) && cats("\r\nST: ") && cats(target) && cats("\r\n") && usn();
  }
}

// The wake-up descriptor is opened and closed under ip_mutex, which the
// timer thread holds while it wakes the SSDP thread.
bool wake_set(tarvo_device_ctx *c, bool open)
{
  sys_mutex_lock(&c->ip_mutex);
  bool ok = true;
  if (open && !c->ssdp_wake_open) {
    c->ssdp_wake_open = sys_wakefd_open(&c->ssdp_wake);
    ok = c->ssdp_wake_open != 0;
  }
  if (!open && c->ssdp_wake_open) {
    sys_socket_close(c->ssdp_wake);
    c->ssdp_wake_open = 0;
  }
  sys_mutex_unlock(&c->ip_mutex);
  return ok;
}

int device_ssdp_start(tarvo_device_ctx *c)
{
  if (!wake_set(c, true)) return 0;
  // Only clears what peers kept of an earlier run: it must not hold back
  // the first alive.
  set_send_all(c, DEVICE_SSDP_BYEBYE, DEVICE_SSDP_START_PAUSE_MS);
  sockets_open(c);
  device_store(c->ssdp_running, 1);
  if (sys_thread_create(&c->ssdp_thread, ssdp_loop, c)) return 1;
  device_store(c->ssdp_running, 0);
  sockets_close(c);
  wake_set(c, false);
  return 0;
}

void device_ssdp_stop(tarvo_device_ctx *c)
{
  device_ssdp_wake(c);
  set_send_all(c, DEVICE_SSDP_BYEBYE);
  sys_thread_join(c->ssdp_thread);
  wake_set(c, false);
}

void device_ssdp_wake(tarvo_device_ctx *c)
{
  sys_mutex_lock(&c->ip_mutex);
  if (c->ssdp_wake_open) sys_wakefd_signal(c->ssdp_wake);
  sys_mutex_unlock(&c->ip_mutex);
}

extern "C" {

int tarvo_device_send_alive(tarvo_device_ctx **ctx) { return set_send_public(ctx, DEVICE_SSDP_ALIVE); }

int tarvo_device_send_byebye(tarvo_device_ctx **ctx) { return set_send_public(ctx, DEVICE_SSDP_BYEBYE); }

void tarvo_device_ssdp_open_socket(tarvo_device_ctx **ctx) { request(ctx, REQUEST_OPEN); }

void tarvo_device_ssdp_close_socket(tarvo_device_ctx **ctx) { request(ctx, REQUEST_CLOSE); }

}  // extern "C"
