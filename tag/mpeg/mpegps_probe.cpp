// The container probe of video/mpeg files: a transport stream on a grid of
// 188- or 192-byte packets, else a program stream told by its pack headers.
// The head of the file is read once and every test runs over it.
#include <tarvo_util/sys_owner.h>

#include "mpegps_impl.h"

namespace {

constexpr uint8_t TS_SYNC = 0x47;
constexpr uint8_t FILL = 0xFF;

// Whether packets of len bytes stand on a grid of sync bytes in w[0, n):
// up to tries misplaced bytes are forgiven, a 0xFF where a sync byte
// should be (stuffing before the grid starts) costs nothing.
bool mpegts_grid_test(const unsigned char *w, uint32_t n, uint32_t len, uint32_t tries)
{
  uint32_t pos = 0, failures = 0;
  bool seen = false;
  for (;;) {
    for (uint32_t run = 0; pos < n && w[pos] != TS_SYNC; pos++) {
      run = w[pos] == FILL ? 0 : run + 1;
      if (run >= len) return false;
    }
    if (pos >= n) return seen;
    bool in_sync = false;
    for (;;) {
      uint64_t next = uint64_t(pos) + len;
      if (next >= n) {
        if (in_sync) return true;
        return seen;
      }
      pos = uint32_t(next);
      if (w[pos] != TS_SYNC) break;
      in_sync = seen = true;
    }
    if (w[pos] != FILL && ++failures > tries) return false;
  }
}

// Offset of the next 00 00 01 at or after from with its code byte inside
// w[0, n); n when there is none.
uint32_t next_start_code(const unsigned char *w, uint32_t n, uint32_t from)
{
  for (uint32_t i = from; n >= 4 && i <= n - 4; i++)
    if (w[i] == 0 && w[i + 1] == 0 && w[i + 2] == 1) return i;
  return n;
}

// Walks the start codes of w[0, n), passing packets by their lengths:
// MPEG-1 when any pack header was of the MPEG-1 form, MPEG-2 when all
// were of the MPEG-2 form, 0 without one or with a pack of neither form.
uint32_t program_stream_kind(const unsigned char *w, uint32_t n)
{
  bool pack = false, mpeg1 = false;
  for (uint64_t pos = 0; n >= 4 && pos <= n - 4;) {
    uint32_t at = next_start_code(w, n, uint32_t(pos));
    if (at == n) break;
    uint8_t code = w[at + 3];
    pos = uint64_t(at) + 4;
    if (code == mpegps::PACK_START) {
      if (pos >= n) break;
      uint32_t top = w[pos] >> 6;
      if (top == 0) {
        mpeg1 = true;
        pos += 8;
      } else if (top == 1) {
        if (pos + 9 >= n) break;
        pos += 10 + (w[pos + 9] & 7u);  // the stuffing length's three bits count bytes
      } else {
        return 0;
      }
      pack = true;
    } else if (code == mpegps::SYSTEM_HEADER || mpeg_is_pes_stream_id(code)) {
      if (pos + 2 > n) break;
      pos += 2 + ((uint32_t(w[pos]) << 8) | w[pos + 1]);
    }
  }
  if (!pack) return 0;
  return mpeg1 ? MPEGPS_KIND_MPEG1 : MPEGPS_KIND_MPEG2;
}

}  // namespace

extern "C" int mpeg_container_probe(int file, const sys_file_stat_rec *st, uint32_t *kind)
{
  *kind = 0;
  uint32_t n = st->size > TAG_MPEG_PROBE_WINDOW ? TAG_MPEG_PROBE_WINDOW : uint32_t(st->size);
  own::memalloc head;
  mpegps::stream s(file);
  if (!sys_memalloc_ready(&head, n ? n : 1) || !s.seek(0)) return 0;
  if (!s.fill(head.buf, n)) return 0;
  uint32_t tries = n / TAG_MPEG_BUFFER_SIZE;
  if (mpegts_grid_test(head.buf, n, 188, tries)) {
    *kind = MPEGTS_KIND_188;
  } else if (mpegts_grid_test(head.buf, n, 192, tries)) {
    *kind = MPEGTS_KIND_192;
  } else {
    *kind = program_stream_kind(head.buf, n);
  }
  return 1;
}
