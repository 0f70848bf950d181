// What the elementary-stream parsers share: start-code and sync searches,
// the lock ring and a bit reader whose first failure sticks, so that a
// header is read as straight-line code and judged once at its end.
#pragma once

#include "es_headers.h"

namespace es {

// Why a read stopped: the data ran out (the caller may wait for more) or
// the bits cannot be a header.
enum class state { ok, out, bad };

class bits {
 public:
  bits(const unsigned char *data, uint32_t length) { es_bitreader_init(&r_, data, length); }
  uint32_t get(uint32_t n)
  {
    uint32_t v = 0;
    if (st_ == state::ok && !es_bitreader_read32(&r_, n, &v)) st_ = state::out;
    return st_ == state::ok ? v : 0;
  }
  bool flag() { return get(1) != 0; }
  void skip(uint32_t n)
  {
    if (st_ == state::ok && !es_bitreader_skip(&r_, n)) st_ = state::out;
  }
  // Exp-Golomb codes; more than 31 leading zeros is no code.
  uint32_t ue();
  void se() { ue(); }
  void fail() { st_ = state::bad; }
  // A stored field that does not fit: the header is not valid.
  void require(bool cond)
  {
    if (!cond && st_ == state::ok) st_ = state::bad;
  }
  state status() const { return st_; }
  bool ok() const { return st_ == state::ok; }
  uint32_t bytes_taken() const { return r_.loaded; }
  const unsigned char *position() const { return es_bitreader_position(&r_); }

 private:
  es_bitreader r_;
  state st_ = state::ok;
};

// The result of a header read that stopped: more data wanted when it ran
// out, not a header when its bits were bad.
inline int failed_result(const bits &b) { return b.status() == state::out ? ES_RESULT_MORE : ES_RESULT_INVALID; }

// The first start code 00 00 01 at or after from whose code byte passes
// match.  Returns its offset (*end untouched), or UINT32_MAX with *end set
// to where the search stopped (3 bytes before the end, so a start code split
// across two deliveries is found next time): parsers pass their consumed
// count as end.
template <class Match>
uint32_t find_start_code(const unsigned char *p, uint32_t len, uint32_t from, uint32_t *end, Match match)
{
  for (uint32_t i = from; len >= 4 && i <= len - 4; i++)
    if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && match(p[i + 3])) return i;
  *end = len >= 3 ? (from > len - 3 ? from : len - 3) : from;
  return UINT32_MAX;
}

inline uint32_t find_code(const unsigned char *p, uint32_t len, uint32_t from, uint32_t *end, uint8_t code)
{
  return find_start_code(p, len, from, end, [code](uint8_t c) { return c == code; });
}

// After zero stuffing from pos: the offset of the next start code, or
// UINT32_MAX with *more set when the data ran out first (0 when a non-zero
// byte stood in the way).
uint32_t next_start_code_after_zeros(const unsigned char *p, uint32_t len, uint32_t pos, bool *more);

// Audio sync positions: 0xFF and a byte whose top four bits are set, with
// 3 bytes after the position.  Same contract as find_start_code.
template <class Match>
uint32_t find_sync(const unsigned char *p, uint32_t len, uint32_t from, uint32_t *end, Match match)
{
  for (uint32_t i = from; len >= 4 && i <= len - 4; i++)
    if (p[i] == 0xFF && (p[i + 1] & 0xF0) == 0xF0 && match(p + i)) return i;
  *end = len >= 3 ? (from > len - 3 ? from : len - 3) : from;
  return UINT32_MAX;
}

// Stores a candidate's 4 bytes in the ring; once 5 are stored, the index of
// the first slot that equals at least 3 of the slots from it on, else -1.
int lock_ring_add(es_lock_ring *ring, const unsigned char *candidate, bool (*equal)(const unsigned char *, const unsigned char *));

// The lock search from `from`: every sync candidate that valid accepts goes
// into the ring.  On a lock, returns true with the locked bytes in locked
// and *at the position of the candidate that made it; otherwise false with
// *consumed where the search stopped.
template <class Valid>
bool lock_search(es_lock_ring *ring, const unsigned char *p, uint32_t len, uint32_t from, Valid valid,
                 bool (*equal)(const unsigned char *, const unsigned char *), unsigned char *locked, uint32_t *at,
                 uint32_t *consumed)
{
  for (;;) {
    uint32_t end;
    uint32_t i = find_sync(p, len, from, &end, valid);
    if (i == UINT32_MAX) {
      *consumed = end;
      return false;
    }
    int slot = lock_ring_add(ring, p + i, equal);
    if (slot >= 0) {
      for (int k = 0; k < 4; k++) locked[k] = ring->slot[slot][k];
      *at = i;
      return true;
    }
    from = i + 1;
  }
}

inline bool bytes4_equal(const unsigned char *a, const unsigned char *b)
{
  return a[0] == b[0] && a[1] == b[1] && a[2] == b[2] && a[3] == b[3];
}

}  // namespace es

namespace es {

// The parsers and completeness tests of the table's rows.
int mpeg1_video_parse(void *record, const sys_memalloc_rec *payload, uint32_t *consumed);
int mpeg1_video_complete(const void *record);
int mpeg2_video_parse(void *record, const sys_memalloc_rec *payload, uint32_t *consumed);
int mpeg2_video_complete(const void *record);
int mp4v_parse(void *record, const sys_memalloc_rec *payload, uint32_t *consumed);
int mp4v_complete(const void *record);
int avc_parse(void *record, const sys_memalloc_rec *payload, uint32_t *consumed);
int avc_complete(const void *record);
int mpeg1_audio_parse(void *record, const sys_memalloc_rec *payload, uint32_t *consumed);
int mpeg1_audio_complete(const void *record);
int mpeg2_audio_parse(void *record, const sys_memalloc_rec *payload, uint32_t *consumed);
int mpeg2_audio_complete(const void *record);
int adts_parse(void *record, const sys_memalloc_rec *payload, uint32_t *consumed);
int adts_complete(const void *record);
int ac3_parse(void *record, const sys_memalloc_rec *payload, uint32_t *consumed);
int ac3_complete(const void *record);

// Every parser's first step: *consumed is 0, or the whole payload when the
// record was already complete (then true: the answer is 1).
inline bool already_complete(es_complete_fn complete, const void *record, const sys_memalloc_rec *payload,
                             uint32_t *consumed)
{
  bool done = complete(record) != 0;
  *consumed = done ? payload->len : 0;
  return done;
}

// The MPEG audio header of 4 bytes; false when a field breaks a rule.
bool mpeg_audio_header_read(const unsigned char *p, mpeg_audio_header *h);
// The Layer II audio data and multichannel header after a frame's header
// (and CRC) of h; the result of the reading.
int layer2_mc_header_read(const mpeg_audio_header &h, const unsigned char *p, uint32_t len, mpeg_audio_mc_header *mc);

}  // namespace es
