// Header lines from a socket buffer, a file buffer or memory; header
// normalisation and header values.
#include <tarvo_util/dlna.h>
#include <tarvo_util/http_message.h>

#include "http_impl.h"
#include "text_build.h"

#include <cstring>

using tarvo_impl::hdr;
using tarvo_impl::http_clock;
using tarvo_impl::http_ws;

namespace {

const char *value_at(const char *line, uint32_t offset)
{
  return line + offset;
}

uint32_t trimmed_len(const char *s)
{
  uint32_t n = uint32_t(std::strlen(s));
  while (n && http_ws(s[n - 1])) n--;
  return n;
}

// Appends the buffered bytes up to and including the next LF (all of them
// when there is none) to sa; found tells whether the LF came.
template <class Buffer, class Peek, class Seek>
hdr take_to(Buffer *b, uint32_t avail, Peek peek, Seek seek, sys_stralloc_rec *sa, uint32_t max_bytes,
            uint32_t *consumed, bool *found)
{
  const char *s = peek(b);
  const void *t = std::memchr(s, '\n', avail);
  uint32_t k = t ? uint32_t(static_cast<const char *>(t) - s) + 1 : avail;
  if (uint64_t(*consumed) + k > max_bytes) return hdr::too_large;
  if (!sys_stralloc_catb(sa, s, k)) return hdr::failed;
  seek(b, k);
  *consumed += k;
  *found = t != nullptr;
  return hdr::ok;
}

template <class NextLine> int read_list(NextLine next, sys_str_list *lines)
{
  tarvo::list_build list;
  hdr r = tarvo_impl::read_block(next, [&](char *line, uint32_t len) {
    return list.add(std::string_view(line, len));
  });
  return r == hdr::ok && list.release(lines);
}

template <class Eq>
int value_equal(const char *line, uint32_t offset, const char *word, Eq eq)
{
  const char *v = value_at(line, offset);
  v += http_header_skipspace(v);
  if (!eq(v, word)) return 0;
  char next = v[std::strlen(word)];
  return next == 0 || http_ws(next);
}

int get_trimmed(const char *v, sys_stralloc_rec *sa)
{
  return sys_stralloc_copyb(sa, v, trimmed_len(v));
}

// sec[.frac] or h:mm:ss[.frac]; the characters consumed, 0 when neither.
uint32_t npt_time(const char *s, int64_t *ms)
{
  uint32_t k = npt_scan_sec(s, ms);
  return k ? k : npt_scan_hhmmss(s, ms);
}

int time_seek_range(const char *line, uint32_t offset, int64_t *start_ms, int64_t *end_ms,
                    int *has_end)
{
  const char *p = value_at(line, offset);
  if (!sys_str_case_start(p, "npt")) return 0;
  p += 3;
  p += http_header_skipspace(p);
  if (*p++ != '=') return 0;
  p += http_header_skipspace(p);
  uint32_t k = npt_time(p, start_ms);
  if (!k) return 0;
  p += k;
  p += http_header_skipspace(p);
  if (*p++ != '-') return 0;
  p += http_header_skipspace(p);
  *end_ms = 0;
  *has_end = 0;
  if (!*p) return 1;
  if (*p >= '0' && *p <= '9') {
    if (!(k = npt_time(p, end_ms))) return 0;
    *has_end = 1;
    p += k;
    p += http_header_skipspace(p);
    if (!*p) return 1;
  }
  if (*p++ != '/') return 0;
  p += http_header_skipspace(p);
  int64_t duration;
  return *p == '*' || npt_time(p, &duration) != 0;
}

}  // namespace

namespace tarvo_impl {

hdr sb_line(sys_socketbuffer_rec *sb, sys_stralloc_rec *sa, http_clock::time_point end,
            uint32_t max_bytes, uint32_t *consumed)
{
  sa->len = 0;
  *consumed = 0;
  const uint32_t timeout = sb->timeout_ms;
  for (;;) {
    if (!sb->p) {
      // Waits may not outlast the deadline, however slowly bytes trickle.
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - http_clock::now()).count();
      sb->timeout_ms = uint32_t(std::clamp<long long>(left, 0, timeout));
    }
    uint32_t avail;
    int fed = sys_socketbuffer_feed(sb, &avail);
    sb->timeout_ms = timeout;
    if (!fed || !avail) return hdr::failed;
    bool found;
    hdr r = take_to(sb, avail, sys_socketbuffer_peek, sys_socketbuffer_seek, sa, max_bytes, consumed, &found);
    if (r != hdr::ok) return r;
    if (!found) continue;
    if (sa->len >= 2 && sa->buf[sa->len - 2] == '\r') {
      sa->len -= 2;
      return hdr::ok;
    }
    sa->len = 0;
  }
}

hdr fb_line(sys_filebuffer_rec *fb, sys_stralloc_rec *sa, uint32_t max_bytes, uint32_t *consumed)
{
  sa->len = 0;
  *consumed = 0;
  for (;;) {
    uint32_t avail;
    if (!sys_filebuffer_feed(fb, &avail) || !avail) return hdr::failed;
    bool found;
    hdr r = take_to(fb, avail, sys_filebuffer_peek, sys_filebuffer_seek, sa, max_bytes, consumed, &found);
    if (r != hdr::ok) return r;
    if (!found) continue;
    sa->len--;
    if (sa->len && sa->buf[sa->len - 1] == '\r') sa->len--;
    return hdr::ok;
  }
}

uint32_t scan_dec(const char *s, uint64_t max, uint64_t *out)
{
  uint64_t v = 0;
  uint32_t i = 0;
  for (; s[i] >= '0' && s[i] <= '9'; i++) {
    unsigned d = unsigned(s[i] - '0');
    if (v > (max - d) / 10) return 0;
    v = v * 10 + d;
  }
  if (i) *out = v;
  return i;
}

}  // namespace tarvo_impl

extern "C" {

int http_header_readline(sys_socketbuffer_rec *sb, sys_stralloc_rec *sa)
{
  uint32_t consumed;
  auto end = http_clock::now() + std::chrono::milliseconds(sb->timeout_ms);
  return tarvo_impl::sb_line(sb, sa, end, HTTP_HEADER_LINE_MAX + 2, &consumed) == hdr::ok;
}

int http_header_readlinef(sys_filebuffer_rec *fb, sys_stralloc_rec *sa)
{
  uint32_t consumed;
  return tarvo_impl::fb_line(fb, sa, HTTP_HEADER_LINE_MAX + 2, &consumed) == hdr::ok;
}

int http_header_readline2(const char *data, uint32_t length, uint32_t *pos, sys_stralloc_rec *sa)
{
  uint32_t limit = std::min<uint64_t>(length, uint64_t(*pos) + HTTP_HEADER_LINE_MAX + 2);
  for (uint32_t i = *pos; i + 1 < limit; i++) {
    if (data[i] != '\r' || data[i + 1] != '\n') continue;
    if (!sys_stralloc_copyb(sa, data + *pos, i - *pos)) return 0;
    *pos = i + 2;
    return 1;
  }
  return 0;
}

int http_header_read(sys_socketbuffer_rec *sb, sys_str_list *lines)
{
  // The whole block, not only each wait, must arrive within the timeout.
  auto end = http_clock::now() + std::chrono::milliseconds(sb->timeout_ms);
  return read_list([&](sys_stralloc_rec *sa, uint32_t max, uint32_t *consumed) {
    return tarvo_impl::sb_line(sb, sa, end, max, consumed);
  }, lines);
}

int http_header_readf(sys_filebuffer_rec *fb, sys_str_list *lines)
{
  return read_list([&](sys_stralloc_rec *sa, uint32_t max, uint32_t *consumed) {
    return tarvo_impl::fb_line(fb, sa, max, consumed);
  }, lines);
}

uint32_t http_header_normalize(char *line, uint32_t length)
{
  const void *c = std::memchr(line, ':', length);
  if (!c) return length;
  uint32_t colon = uint32_t(static_cast<const char *>(c) - line);
  uint32_t b = colon;
  while (b && http_ws(line[b - 1])) b--;
  if (!b) return length;
  uint32_t a = colon + 1;
  while (a < length && http_ws(line[a])) a++;
  line[b] = ':';
  std::memmove(line + b + 1, line + a, length - a);
  return b + 1 + (length - a);
}

uint32_t http_header_skipspace(const char *s)
{
  uint32_t i = 0;
  while (http_ws(s[i])) i++;
  return i;
}

int http_header_value_equal(const char *line, uint32_t offset, const char *word)
{
  return value_equal(line, offset, word, sys_str_start);
}

int http_header_value_case_equal(const char *line, uint32_t offset, const char *word)
{
  return value_equal(line, offset, word, sys_str_case_start);
}

int http_header_value_get(const char *line, uint32_t offset, sys_stralloc_rec *sa)
{
  return get_trimmed(value_at(line, offset), sa);
}

uint32_t http_header_value_scan_uint(const char *line, uint32_t offset, uint32_t *n)
{
  uint64_t v;
  uint32_t k = tarvo_impl::scan_dec(value_at(line, offset), UINT32_MAX, &v);
  if (k) *n = uint32_t(v);
  return k;
}

uint32_t http_header_value_scan_uint64(const char *line, uint32_t offset, uint64_t *n)
{
  return tarvo_impl::scan_dec(value_at(line, offset), UINT64_MAX, n);
}

int http_header_value_get_timeout(const char *line, uint32_t offset, sys_stralloc_rec *sa)
{
  const char *v = value_at(line, offset);
  if (!sys_str_case_start(v, "second-")) return 0;
  return get_trimmed(v + 7, sa);
}

int http_header_value_get_cache_control_max_age(const char *line, uint32_t offset, uint32_t *n)
{
  const char *v = value_at(line, offset);
  v += http_header_skipspace(v);
  if (!sys_str_case_start(v, "max-age")) return 0;
  v += 7;
  v += http_header_skipspace(v);
  if (*v++ != '=') return 0;
  v += http_header_skipspace(v);
  uint64_t age;
  if (!tarvo_impl::scan_dec(v, UINT64_MAX, &age)) return *v < '0' || *v > '9';
  // A longer life than the counter holds is as good as the longest.
  *n = uint32_t(std::min<uint64_t>(age, UINT32_MAX));
  return 1;
}

int http_header_value_get_time_seek_range_dlna_request(const char *line, uint32_t offset,
                                                       int64_t *start_ms, int64_t *end_ms,
                                                       int *has_end)
{
  return time_seek_range(line, offset, start_ms, end_ms, has_end);
}

int http_header_value_get_time_seek_range_dlna_response(const char *line, uint32_t offset,
                                                        int64_t *start_ms, int64_t *end_ms,
                                                        int *has_end)
{
  return time_seek_range(line, offset, start_ms, end_ms, has_end);
}

}  // extern "C"
