// Buffered socket reading and writing with a timeout and a cancel flag.
#include <tarvo_util/sys_socket.h>

#include "buffer_core.h"
#include "sys_socket_impl.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

namespace {

std::atomic_ref<int32_t> cancel_flag(sys_socketbuffer_rec *sb)
{
  return std::atomic_ref<int32_t>(sb->canceled);
}

bool canceled(sys_socketbuffer_rec *sb)
{
  return cancel_flag(sb).load(std::memory_order_acquire) != 0;
}

// Waits for the socket in slices so that a cancel from another thread is
// seen within one slice.
int sb_wait(sys_socketbuffer_rec *sb, short events)
{
  sb->timed_out = 0;
  if (sb->timeout_ms == 0) {
    sb->timed_out = 1;
    return 0;
  }
  uint32_t remaining = sb->timeout_ms;
  for (;;) {
    if (canceled(sb)) return 0;
    uint32_t slice = std::min<uint32_t>(remaining, SYS_SOCKET_WAIT_SLICE_MS);
    if (tarvo_impl::wait_socket(sb->fd, events, slice)) return 1;
    if (slice == remaining) {
      sb->timed_out = 1;
      return 0;
    }
    remaining -= slice;
  }
}

bool would_block(int e)
{
  return e == EAGAIN || e == EWOULDBLOCK;
}

// One receive, waiting once when the socket has nothing yet; got 0 when
// the peer has closed.
int sb_recv(sys_socketbuffer_rec *sb, char *dst, uint32_t len, uint32_t *got)
{
  if (canceled(sb)) return 0;
  bool waited = false;
  for (;;) {
    ssize_t r = ::recv(sb->fd, dst, len, 0);
    if (r >= 0) {
      *got = uint32_t(r);
      return 1;
    }
    if (errno == EINTR) continue;
    if (!would_block(errno) || waited) return 0;
    if (!sb_wait(sb, POLLIN)) return 0;
    waited = true;
  }
}

// a then b as one stream, in as few sends as the socket takes: a header
// and the body after it leave together.  flags are added to each send.
int sb_sendv(sys_socketbuffer_rec *sb, const char *a, uint32_t alen, const char *b, uint32_t blen,
             int flags)
{
  while (alen || blen) {
    if (canceled(sb)) return 0;
    iovec iov[2] = {{const_cast<char *>(a), alen}, {const_cast<char *>(b), blen}};
    msghdr m{};
    m.msg_iov = alen ? iov : iov + 1;
    m.msg_iovlen = alen && blen ? 2 : 1;
    ssize_t r = ::sendmsg(sb->fd, &m, MSG_NOSIGNAL | flags);
    if (r >= 0) {
      uint32_t k = uint32_t(std::min<ssize_t>(r, alen));
      a += k;
      alen -= k;
      b += uint32_t(r) - k;
      blen -= uint32_t(r) - k;
      continue;
    }
    if (errno == EINTR) continue;
    if (!would_block(errno) || !sb_wait(sb, POLLOUT)) return 0;
  }
  return 1;
}

int sb_send(sys_socketbuffer_rec *sb, const char *data, uint32_t len)
{
  return sb_sendv(sb, nullptr, 0, data, len, 0);
}

// Sends what waits in the buffer, then b; the buffer is empty afterwards.
int sb_flush_with(sys_socketbuffer_rec *sb, const char *b, uint32_t blen, int flags)
{
  uint32_t p = sb->p;
  // Whatever happens the bytes are gone: a retry must not send them twice.
  sb->p = 0;
  return sb_sendv(sb, sb->x, p, b, blen, flags);
}

}  // namespace

extern "C" {

void sys_socketbuffer_init(sys_socketbuffer_rec *sb, int sock, char *buf, uint32_t size,
                           uint32_t timeout_ms)
{
  sb->x = buf;
  sb->p = 0;
  sb->n = size;
  sb->fd = sock;
  sb->timeout_ms = timeout_ms;
  sb->timed_out = 0;
  cancel_flag(sb).store(0, std::memory_order_release);
}

void sys_socketbuffer_set_timeout(sys_socketbuffer_rec *sb, uint32_t ms) { sb->timeout_ms = ms; }
int sys_socketbuffer_is_timeout(const sys_socketbuffer_rec *sb) { return sb->timed_out != 0; }

void sys_socketbuffer_set_cancel(sys_socketbuffer_rec *sb, int flag)
{
  cancel_flag(sb).store(flag, std::memory_order_release);
}

int sys_socketbuffer_is_canceled(sys_socketbuffer_rec *sb) { return canceled(sb); }

int sys_socketbuffer_flush(sys_socketbuffer_rec *sb)
{
  return !sb->p || sb_flush_with(sb, nullptr, 0, 0);
}

int sys_socketbuffer_flush_more(sys_socketbuffer_rec *sb)
{
  return !sb->p || sb_flush_with(sb, nullptr, 0, MSG_MORE);
}

int sys_socketbuffer_put(sys_socketbuffer_rec *sb, const void *data, uint32_t len)
{
  auto *d = static_cast<const char *>(data);
  // What does not fit goes out at once, together with what waits.
  if (len > sb->n - sb->p) return sb_flush_with(sb, d, len, 0);
  std::memcpy(sb->x + sb->p, d, len);
  sb->p += len;
  return 1;
}

int sys_socketbuffer_putalign(sys_socketbuffer_rec *sb, const void *data, uint32_t len)
{
  return buffer_core::putalign(sb, static_cast<const char *>(data), len, sys_socketbuffer_flush,
                               [sb](const char *d, uint32_t n) { return sb_send(sb, d, n); });
}

int sys_socketbuffer_putflush(sys_socketbuffer_rec *sb, const void *data, uint32_t len)
{
  return sb_flush_with(sb, static_cast<const char *>(data), len, 0);
}

int sys_socketbuffer_puts(sys_socketbuffer_rec *sb, const char *s)
{
  return sys_socketbuffer_put(sb, s, uint32_t(std::strlen(s)));
}

int sys_socketbuffer_putsalign(sys_socketbuffer_rec *sb, const char *s)
{
  return sys_socketbuffer_putalign(sb, s, uint32_t(std::strlen(s)));
}

int sys_socketbuffer_putsflush(sys_socketbuffer_rec *sb, const char *s)
{
  return sys_socketbuffer_putflush(sb, s, uint32_t(std::strlen(s)));
}

int sys_socketbuffer_feed(sys_socketbuffer_rec *sb, uint32_t *avail)
{
  return buffer_core::feed(sb, avail,
                           [sb](char *dst, uint32_t len, uint32_t *got) { return sb_recv(sb, dst, len, got); });
}

char *sys_socketbuffer_peek(sys_socketbuffer_rec *sb) { return buffer_core::peek(sb); }

void sys_socketbuffer_seek(sys_socketbuffer_rec *sb, uint32_t k) { buffer_core::seek(sb, k); }

}  // extern "C"

namespace {

int sb_get(sys_socketbuffer_rec *sb, void *dst, uint32_t len, uint32_t *got, uint32_t direct_max)
{
  auto read = [sb](char *d, uint32_t n, uint32_t *k) { return sb_recv(sb, d, n, k); };
  return buffer_core::get(sb, dst, len, got, direct_max, read, sys_socketbuffer_feed);
}

}  // namespace

extern "C" {

int sys_socketbuffer_get(sys_socketbuffer_rec *sb, void *dst, uint32_t len, uint32_t *got)
{
  return sb_get(sb, dst, len, got, UINT32_MAX);
}

int sys_socketbuffer_bget(sys_socketbuffer_rec *sb, void *dst, uint32_t len, uint32_t *got)
{
  return sb_get(sb, dst, len, got, sb->n);
}

int sys_socketbuffer_copy(sys_socketbuffer_rec *in, sys_socketbuffer_rec *out)
{
  return buffer_core::copy(in, out, sys_socketbuffer_feed, sys_socketbuffer_put);
}

int sys_socketbuffer_getln(sys_socketbuffer_rec *sb, sys_stralloc_rec *sa, int *got_line,
                           int terminator)
{
  return buffer_core::getln(sb, sa, got_line, terminator, SYS_SOCKET_LINE_MAX, sys_socketbuffer_feed);
}

}  // extern "C"
