// Time seek in an MPEG-2 program stream without an index: estimate a byte
// position from the rate, read the video PTS found there, correct the
// estimate and repeat; then align the start on a pack header.
#include <vennard/mpeg_ps.h>
#include <vennard/vennard_limits.h>

#include <tarvo_tag/mpeg_pes.h>
#include <tarvo_util/sys_alloc.h>

#include <algorithm>

namespace {

constexpr uint64_t NONE = UINT64_MAX;
constexpr uint32_t PACK_HEADER = 0xBA;
constexpr uint32_t VIDEO_0 = 0xE0;
constexpr uint64_t TICKS_PER_MS = 90;
constexpr uint64_t TICKS_PER_S = 90000;

uint64_t mul_sat(uint64_t a, uint64_t b)
{
  unsigned __int128 r = (unsigned __int128)a * b;
  return r > UINT64_MAX ? UINT64_MAX : uint64_t(r);
}

// The file read through a buffer, with the logical position of the next
// byte kept alongside so that start codes know their offsets.
struct reader {
  int fd;
  sys_filebuffer_rec fb;
  uint64_t pos = 0;
  bool failed = false;
  char buf[MPEG_SEEK_FILE_BUFFER];

  explicit reader(int f) : fd(f) { sys_filebuffer_init(&fb, fd, buf, sizeof buf); }

  // Drops what was read ahead: reading goes on at the file's own position.
  void restart()
  {
    pos += fb.p;
    sys_filebuffer_init(&fb, fd, buf, sizeof buf);
  }

  bool seek(uint64_t off)
  {
    int64_t got = -1;
    if (!sys_file_seek_set(fd, int64_t(off), &got) || uint64_t(got) != off) return false;
    pos = off;
    sys_filebuffer_init(&fb, fd, buf, sizeof buf);
    return true;
  }

  // The byte after the next 00 00 01, and the offset of those three bytes;
  // false at the end of the file or on a read error (failed set).
  bool start_code(uint32_t *code, uint64_t *off)
  {
    uint32_t window = 0xFFFFFF;
    bool armed = false;
    for (;;) {
      uint32_t avail = 0;
      if (!sys_filebuffer_feed(&fb, &avail)) {
        failed = true;
        return false;
      }
      if (!avail) return false;
      const unsigned char *p = reinterpret_cast<const unsigned char *>(sys_filebuffer_peek(&fb));
      for (uint32_t i = 0; i < avail; i++) {
        if (armed) {
          sys_filebuffer_seek(&fb, i + 1);
          pos += i + 1;
          *code = p[i];
          *off = pos - 4;
          return true;
        }
        window = ((window << 8) | p[i]) & 0xFFFFFF;
        armed = window == 0x000001;
      }
      sys_filebuffer_seek(&fb, avail);
      pos += avail;
    }
  }

  bool fill(void *dst, uint32_t n)
  {
    if (!sys_filebuffer_fill(&fb, static_cast<char *>(dst), n)) return false;
    pos += n;
    return true;
  }
};

enum class mode { start, end };

struct seeker {
  reader r;
  sys_memalloc_rec packet{};
  uint64_t size;
  uint64_t total_ms;
  uint64_t rate;
  uint64_t first = 0;

  seeker(int fd, uint64_t sz, uint64_t total, uint64_t bitrate) : r(fd), size(sz), total_ms(total), rate(bitrate) {}
  ~seeker() { sys_memalloc_free(&packet); }

  // Reads the length and the data of the PES packet whose stream id was
  // just read; false when it is truncated or cannot be read.
  bool read_packet()
  {
    unsigned char len[2];
    if (!r.fill(len, 2)) return false;
    uint32_t n = (uint32_t(len[0]) << 8) | len[1];
    if (!sys_memalloc_ready(&packet, std::max<uint32_t>(n, MPEG_SEEK_PACKET_RESERVE))) return false;
    if (!r.fill(packet.buf, n)) return false;
    packet.len = n;
    return true;
  }

  uint64_t packet_pts() const
  {
    uint64_t pts;
    if (!mpeg_pes_header_pts(packet.buf, packet.len, &pts)) return MPEG_PTS_NONE;
    return pts;
  }

  bool packet_has_gop() const
  {
    static const unsigned char gop[4] = {0, 0, 1, 0xB8};
    const unsigned char *begin = packet.buf, *end = begin + packet.len;
    return std::search(begin, end, gop, gop + 4) != end;
  }

  bool first_pts()
  {
    uint32_t code;
    uint64_t off;
    while (r.start_code(&code, &off)) {
      if (!mpeg_is_pes_stream_id(code)) continue;
      if (!read_packet()) return false;
      if (code != VIDEO_0) continue;
      first = packet_pts();
      if (first != MPEG_PTS_NONE) return true;
    }
    return false;
  }

  // A time on the stream's clock as milliseconds of play, within the
  // resource: a PTS before the first one is the start, not a wrapped time.
  uint64_t ms_of(uint64_t pts) const
  {
    if (pts < first) return 0;
    return std::min((pts - first) / TICKS_PER_MS, total_ms);
  }

  struct search_state {
    uint64_t target;
    uint64_t jump_pos = 0;
    uint64_t found = 0;
    bool have_found = false;
  };

  bool jump(search_state &s)
  {
    uint64_t average = mul_sat(size / total_ms, 1000);
    if (average < rate) rate = average;
    if (s.have_found && s.found) {
      unsigned __int128 r128 = (unsigned __int128)rate * s.target / s.found;
      rate = r128 > UINT64_MAX ? UINT64_MAX : uint64_t(r128);
    }
    uint64_t est = std::min(mul_sat((s.target - first) / TICKS_PER_S, rate), size);
    if (est < s.jump_pos && s.jump_pos - est < MPEG_SEEK_RATE_NEAR && rate > MPEG_SEEK_RATE_STEP)
      rate -= MPEG_SEEK_RATE_STEP;
    // Jumps go only toward the target, so the search cannot swing.
    bool stay = (s.jump_pos && est == s.jump_pos) || (est <= s.jump_pos && s.found < s.target) ||
                (est > s.jump_pos && s.found > s.target);
    if (stay) {
      r.restart();
      return true;
    }
    if (!r.seek(est)) return false;
    s.jump_pos = est;
    return true;
  }

  // The first pack header at most MPEG_SEEK_BACK_BYTES before the read
  // position or after it; the file size when there is none.
  bool pack_near(uint64_t *off)
  {
    uint64_t back = r.pos > MPEG_SEEK_BACK_BYTES ? r.pos - MPEG_SEEK_BACK_BYTES : 0;
    if (!r.seek(back)) return false;
    uint32_t code;
    while (r.start_code(&code, off))
      if (code == PACK_HEADER) return true;
    if (r.failed) return false;
    *off = size;
    return true;
  }

  // Searches for the packet nearest the target PTS: in start mode a GOP at
  // or a little before it, in end mode a video packet at or a little after
  // it.  Gives the PTS found and the offset of its pack header.
  bool search(uint64_t target, mode m, uint64_t *found_pts, uint64_t *found_off)
  {
    search_state s{target};
    uint64_t pack = NONE, remembered = NONE;
    bool passed = false;
    uint32_t jumps = 0;
    if (!jump(s)) return false;
    for (;;) {
      uint32_t code;
      uint64_t off;
      if (!r.start_code(&code, &off)) {
        if (r.failed) return false;
        s.found = target;
        s.have_found = true;
        pack = NONE;
        break;
      }
      if (code == PACK_HEADER) {
        pack = off;
        continue;
      }
      if (!mpeg_is_pes_stream_id(code)) continue;
      if (off == remembered) break;
      if (remembered == NONE) remembered = off;
      if (!read_packet()) return false;
      if (code != VIDEO_0 || (m == mode::start && !packet_has_gop())) continue;
      uint64_t v = packet_pts();
      if (v == MPEG_PTS_NONE) continue;
      remembered = off;
      s.found = v;
      s.have_found = true;
      bool done = false, leap = false;
      if (v == target) {
        done = true;
      } else if (v > target) {
        if (m == mode::start) {
          done = passed;
        } else {
          done = v - target < MPEG_SEEK_NEAR_TICKS;
          passed = passed || !done;
        }
        leap = !done;
      } else {
        if (m == mode::start) {
          done = target - v < MPEG_SEEK_NEAR_TICKS;
          passed = passed || !done;
        } else {
          done = passed;
        }
        leap = !done && target - v > MPEG_SEEK_SCAN_TICKS;
      }
      if (done) break;
      if (!leap) continue;
      if (++jumps > MPEG_SEEK_MAX_JUMPS) break;
      if (!jump(s)) return false;
      pack = NONE;
    }
    uint64_t f = s.have_found ? s.found : target;
    if ((m == mode::start && f > target) || (m == mode::end && f < target)) f = target;
    *found_pts = f;
    if (pack != NONE) {
      *found_off = pack;
      return true;
    }
    return pack_near(found_off);
  }
};

}  // namespace

extern "C" int mpeg_ps_time_seek(http_server_range_rec *range, http_server_npt_rec *times,
                                 uint32_t bitrate, int file, const sys_file_stat_rec *st)
{
  if (!times->total_ms) return 0;
  seeker k(file, st->size, times->total_ms, bitrate);
  if (!k.r.seek(0) || !k.first_pts()) return 0;

  uint64_t start_off = 0, start_ms = 0;
  uint64_t pts, off;
  if (times->start_ms) {
    if (!k.search(k.first + times->start_ms * TICKS_PER_MS, mode::start, &pts, &off)) return 0;
    start_off = off;
    start_ms = k.ms_of(pts);
  }

  uint64_t end_off = k.size, end_ms = times->end_ms;
  if (times->end_ms != times->total_ms &&
      k.search(k.first + times->end_ms * TICKS_PER_MS, mode::end, &pts, &off)) {
    end_ms = k.ms_of(pts);
    end_off = off;
    uint64_t span = times->end_ms - std::min(times->start_ms, times->end_ms);
    uint64_t span_bytes = mul_sat(span / 1000, k.rate);
    if (end_ms < start_ms) {
      end_ms = std::min(start_ms + span, k.total_ms);
      end_off = std::min(start_off + std::min(span_bytes, k.size), k.size);
    }
    if (end_off < start_off) end_off = std::min(start_off + std::min(span_bytes, k.size), k.size);
  }
  start_off = std::min(start_off, k.size);
  end_off = std::max(end_off, start_off);

  if (!k.r.seek(0)) return 0;
  range->offset = start_off;
  range->length = end_off - start_off;
  range->size = k.size;
  times->start_ms = uint32_t(start_ms);
  times->end_ms = uint32_t(end_ms);
  return 1;
}
