// SSDP announcements and the SSDP thread: the alive and byebye sets, paced
// out between the reads of the socket that takes searches from every
// interface, and the work that suspend and resume ask of the thread.
#include "device_gena_ssdp.h"

#include <algorithm>
#include <optional>
#include <netinet/in.h>
#include <sys/socket.h>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/sys_time.h>

namespace {

// What tarvo_device_ssdp_close_socket, _open_socket, _suspend and _resume
// ask of the thread.
enum { REQUEST_NONE, REQUEST_CLOSE, REQUEST_OPEN, REQUEST_SUSPEND, REQUEST_RESUME };

// The datagrams of the alive or byebye set, one at a time: twice the
// notification set on every announced address, in order.
struct set_send {
  tarvo_device_ctx *c;
  int kind;
  uint32_t pause_ms;  // between two datagrams
  own::file sock;
  own::memalloc ips;
  uint32_t entries = 0;  // of the notification set
  uint32_t ip_at = 0, round = 0, entry = 0;
  bool built = true;  // every datagram could be made
  char location[DEVICE_SSDP_LOCATION_LEN];
  own::stralloc msg;
  uint32_t seen = 0;  // entries walked past while looking for entry

  set_send(tarvo_device_ctx *ctx, int k, uint32_t pause) : c(ctx), kind(k), pause_ms(pause) {}

  static int count(void *user, const char *, const char *, const char *)
  {
    static_cast<set_send *>(user)->entries++;
    return 1;
  }
  bool open()
  {
    device_ssdp_notification_set(c->desc, count, this);
    return tarvo_device_impl_get_ip_list(c, &ips) && sys_socket_udp(&sock.fd) &&
           sys_socket_bind_reuse4(sock.fd, sys_ip4_any(), ssdp_port()) &&
           sys_socket_mcast_set_ttl(sock.fd, DEVICE_SSDP_TTL);
  }
  // Loopback is announced only when it is the only address.
  bool announced(uint32_t i) const
  {
    return entries && (ips.len / 4 == 1 || sys_byte_diff(ips.buf + 4 * i, 4, sys_ip4_loopback()));
  }
  // Alive stops with the stop flag and while closed by the caller;
  // byebye goes out in full also then: it is what the end sends.
  bool pending()
  {
    if (kind == DEVICE_SSDP_ALIVE && (device_stopping(c) || device_load(c->ssdp_quiet))) return false;
    while (ip_at < ips.len / 4 && !announced(ip_at)) ip_at++;
    return ip_at < ips.len / 4;
  }
  // The byebye of the end must fit in the time a stop may take.
  uint32_t pause() const { return device_stopping(c) ? std::min(pause_ms, DEVICE_SSDP_END_PAUSE_MS) : pause_ms; }
  static int pick(void *user, const char *target, const char *udn, const char *suffix)
  {
    auto *s = static_cast<set_send *>(user);
    if (s->seen++ < s->entry) return 1;
    if (!device_ssdp_message(&s->msg.s, s->kind, s->c, s->location, target, udn, suffix)) {
      s->built = false;
      return 0;
    }
    uint32_t sent = 0;
    sys_socket_sendto4(s->sock.fd, s->msg.s.buf, s->msg.s.len, ssdp_ip(), ssdp_port(), &sent);
    return 0;
  }
  // The next datagram; only while pending().
  void send_next()
  {
    const uint8_t *ip = ips.buf + 4 * ip_at;
    sys_socket_mcast_set_if(sock.fd, ip);
    device_ssdp_location(location, ip, c->http_port);
    seen = 0;
    device_ssdp_notification_set(c->desc, pick, this);
    if (++entry < entries) return;
    entry = 0;
    if (++round < 2) return;
    round = 0;
    ip_at++;
  }
};

// The whole set on the calling thread.
int set_send_all(tarvo_device_ctx *c, int kind, uint32_t pause_ms = DEVICE_SSDP_PAUSE_MS)
{
  set_send s(c, kind, pause_ms);
  if (!s.open()) return 0;
  while (s.pending()) {
    s.send_next();
    if (s.pending()) sys_thread_sleep(s.pause());
  }
  return s.built;
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

// The sets the SSDP thread paces out between its reads of the sockets, so
// that a search is taken while they go out: a byebye set first, then an
// alive set.
struct pacer {
  tarvo_device_ctx *c;
  std::optional<set_send> byebye, alive;
  int64_t due_ms = 0;      // steady clock: the next datagram
  int64_t next_alive = 0;  // steady clock: the next alive set of the schedule

  void queue(int kind, uint32_t pause_ms)
  {
    std::optional<set_send> &slot = kind == DEVICE_SSDP_BYEBYE ? byebye : alive;
    slot.emplace(c, kind, pause_ms);
    if (!slot->open()) slot.reset();
  }
  set_send *current()
  {
    if (byebye && !byebye->pending()) byebye.reset();
    if (alive && !alive->pending()) alive.reset();
    return byebye ? &*byebye : alive ? &*alive : nullptr;
  }
  // Sends the datagram that is due; when the next one is due, -1 when none
  // is left.
  int64_t run(int64_t now)
  {
    set_send *s = current();
    if (s && now >= due_ms) {
      s->send_next();
      due_ms = now + s->pause();
      s = current();
    }
    return s ? due_ms : -1;
  }
};

// Closed by the caller until it opens again.  Quiet is set before the
// byebye, so that no alive, of this thread's or a caller's set, follows
// it; the byebye must fit in the sleep delay that the login manager
// grants, so it goes at the end's pace and whole, before any search is
// read.
void quiet_enter(tarvo_device_ctx *c, pacer *p, bool byebye)
{
  device_store(c->ssdp_quiet, 1);
  p->alive.reset();
  p->byebye.reset();
  if (byebye) set_send_all(c, DEVICE_SSDP_BYEBYE, DEVICE_SSDP_END_PAUSE_MS);
  sockets_close(c);
}

// The sockets of the current address list; an address change noted while
// quiet is announced with them.
void quiet_leave(tarvo_device_ctx *c, pacer *p, bool alive)
{
  device_store(c->address_changed, 0);
  device_store(c->ssdp_quiet, 0);
  sockets_close(c);
  sockets_open(c);
  // The schedule starts again with this alive set.
  if (alive) p->next_alive = 0;
}

void request_serve(tarvo_device_ctx *c, pacer *p)
{
  int r = device_load(c->ssdp_request);
  if (r == REQUEST_NONE) return;
  if (r == REQUEST_CLOSE || r == REQUEST_SUSPEND)
    quiet_enter(c, p, r == REQUEST_SUSPEND);
  else
    quiet_leave(c, p, r == REQUEST_RESUME);
  device_store(c->ssdp_request, int(REQUEST_NONE));
}

// Waits on the sockets and the wake-up until the deadline (steady clock;
// -1: none).
void wait_work(tarvo_device_ctx *c, sys_select_rec *rd, int64_t until_ms)
{
  sys_select_init(rd);
  for (uint32_t i = 0; i < c->ssdp_sockets.len; i++) sys_select_set(rd, c->ssdp_sockets.buf[i]);
  sys_select_set(rd, c->ssdp_wake);
  sys_select_set(rd, c->stop_fd);
  int64_t left = until_ms - device_steady_ms();
  uint32_t ms = until_ms < 0 ? UINT32_MAX : uint32_t(std::clamp<int64_t>(left, 0, UINT32_MAX - 1));
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
  pacer p{c, {}, {}};
  // Only clears what peers kept of an earlier run, so it is short and must
  // not hold back the first alive; but it goes out whole before any search
  // is read, or a peer would drop a device it had just been answered.
  {
    set_send bye(c, DEVICE_SSDP_BYEBYE, DEVICE_SSDP_START_PAUSE_MS);
    for (bool more = bye.open() && bye.pending(); more && !device_stopping(c);) {
      bye.send_next();
      if ((more = bye.pending())) sys_thread_sleep(bye.pause());
    }
  }
  while (!device_stopping(c)) {
    // Cleared before the flags are read, so that no wake-up is lost.
    sys_wakefd_clear(c->ssdp_wake);
    request_serve(c, &p);
    if (device_load(c->address_changed) && !device_load(c->ssdp_quiet)) {
      // The list is new already: byebye and alive go out over the new
      // addresses.
      p.queue(DEVICE_SSDP_BYEBYE, DEVICE_SSDP_PAUSE_MS);
      sockets_close(c);
      sockets_open(c);
      p.queue(DEVICE_SSDP_ALIVE, DEVICE_SSDP_PAUSE_MS);
      device_store(c->address_changed, 0);
    }
    now = device_steady_ms();
    if (c->ssdp_sockets.len && now >= p.next_alive) {
      p.queue(DEVICE_SSDP_ALIVE, DEVICE_SSDP_PAUSE_MS);
      p.next_alive = now + int64_t(a + uint32_t(sys_random()) % a) * 1000;
    }
    int64_t until = p.run(now);
    if (c->ssdp_sockets.len && (until < 0 || p.next_alive < until)) until = p.next_alive;
    sys_select_rec rd;
    wait_work(c, &rd, until);
    for (uint32_t i = 0; i < c->ssdp_sockets.len && !device_stopping(c); i++)
      if (sys_select_is_set(&rd, c->ssdp_sockets.buf[i])) receive(c, c->ssdp_sockets.buf[i]);
  }
  device_store(c->address_changed, 0);
  sockets_close(c);
  device_store(c->ssdp_quiet, 0);
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

void tarvo_device_ssdp_suspend(tarvo_device_ctx **ctx) { request(ctx, REQUEST_SUSPEND); }

void tarvo_device_ssdp_resume(tarvo_device_ctx **ctx) { request(ctx, REQUEST_RESUME); }

}  // extern "C"
