// Internals of the HTTP sources: bounded line and header-block reading,
// shared by the header readers and the server's request reader.
#pragma once

#include <tarvo_util/http_message.h>
#include <tarvo_util/util_limits.h>

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace tarvo_impl {

using http_clock = std::chrono::steady_clock;

enum class hdr { ok, failed, too_large, stopped, rejected };

inline bool http_ws(char c) { return c == ' ' || c == '\t'; }

// The next CR LF line of a socket buffer into sa (without the CR LF);
// lines that end in a bare LF are dropped.  At most max_bytes are taken
// (consumed counts them, dropped lines too); waits end at the deadline.
hdr sb_line(sys_socketbuffer_rec *sb, sys_stralloc_rec *sa, http_clock::time_point end,
            uint32_t max_bytes, uint32_t *consumed);
// The next LF line of a file buffer, without the LF and then a CR.
hdr fb_line(sys_filebuffer_rec *fb, sys_stralloc_rec *sa, uint32_t max_bytes, uint32_t *consumed);

// Overflow-checked decimal scan of the digits at s; 0 when there are none
// or the number exceeds max.
uint32_t scan_dec(const char *s, uint64_t max, uint64_t *out);

// Reads header lines up to the empty line.  A line beginning with a blank
// or tab continues the one before; each finished line is normalised,
// NUL-terminated and handed to on_line(line, length), which returns false
// to stop the read (rejected).  stop, when given, is read atomically
// before each line.  next(sa, max_bytes, &consumed) reads one line.
template <class NextLine, class OnLine>
hdr read_block(NextLine next, OnLine on_line, const int *stop = nullptr)
{
  sys_stralloc_rec line{}, acc{};
  uint32_t used = 0, lines = 0;
  hdr r;
  for (;;) {
    if (stop && __atomic_load_n(stop, __ATOMIC_ACQUIRE)) {
      r = hdr::stopped;
      break;
    }
    uint32_t consumed = 0;
    r = next(&line, std::min<uint32_t>(HTTP_HEADER_LINE_MAX + 2, HTTP_HEADER_BLOCK_MAX - used), &consumed);
    if (r != hdr::ok) break;
    used += consumed;
    bool continued = line.len && http_ws(line.buf[0]);
    if (!continued && acc.len) {
      acc.len = http_header_normalize(acc.buf, acc.len);
      if (!sys_stralloc_catb(&acc, "", 1)) {
        r = hdr::failed;
        break;
      }
      acc.len--;
      if (!on_line(acc.buf, acc.len)) {
        r = hdr::rejected;
        break;
      }
      acc.len = 0;
    }
    if (!line.len) break;
    if (++lines > HTTP_HEADER_LINES_MAX || uint64_t(acc.len) + line.len > HTTP_HEADER_LINE_MAX) {
      r = hdr::too_large;
      break;
    }
    if (!sys_stralloc_catb(&acc, line.buf, line.len)) {
      r = hdr::failed;
      break;
    }
  }
  sys_stralloc_free(&line);
  sys_stralloc_free(&acc);
  return r;
}

}  // namespace tarvo_impl
