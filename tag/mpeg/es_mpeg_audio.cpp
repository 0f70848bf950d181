// MPEG audio: the header lock on three of five equal sync candidates and,
// for MPEG-2 audio, the multichannel header after the first Layer II frame.
#include "es_impl.h"

namespace es {

bool mpeg_audio_header_read(const unsigned char *p, mpeg_audio_header *h)
{
  bits b(p, 4);
  mpeg_audio_header r{};
  for (int k = 0; k < 4; k++) r.raw[k] = p[k];
  r.syncword = uint16_t(b.get(12));
  r.id = uint8_t(b.get(1));
  r.layer = uint8_t(b.get(2));
  r.protection_bit = uint8_t(b.get(1));
  r.bitrate_index = uint8_t(b.get(4));
  r.sampling_frequency = uint8_t(b.get(2));
  b.skip(2);
  r.mode = uint8_t(b.get(2));
  r.mode_extension = uint8_t(b.get(2));
  b.skip(2);
  r.emphasis = uint8_t(b.get(2));
  if (r.syncword != 0xFFF || r.layer == 0 || r.bitrate_index == 15 || r.sampling_frequency == 3 || r.emphasis == 2)
    return false;
  *h = r;
  return true;
}

namespace {

bool valid_candidate(const unsigned char *p)
{
  mpeg_audio_header h;
  return mpeg_audio_header_read(p, &h);
}

// Locks *h from the payload; *at is where the search stopped with a lock.
bool lock(mpeg_audio_header *h, es_lock_ring *ring, const sys_memalloc_rec *payload, uint32_t *at, uint32_t *consumed)
{
  unsigned char locked[4];
  if (!lock_search(ring, payload->buf, payload->len, 0, valid_candidate, bytes4_equal, locked, at, consumed))
    return false;
  mpeg_audio_header_read(locked, h);
  return true;
}

}  // namespace

int mpeg1_audio_complete(const void *record)
{
  return static_cast<const es_audio_info *>(record)->mpeg1.syncword != 0;
}

int mpeg1_audio_parse(void *record, const sys_memalloc_rec *payload, uint32_t *consumed)
{
  auto *a = static_cast<es_audio_info *>(record);
  if (already_complete(mpeg1_audio_complete, a, payload, consumed)) return ES_RESULT_COMPLETE;
  uint32_t at;
  if (!lock(&a->mpeg1, &a->mpeg1_ring, payload, &at, consumed)) return ES_RESULT_MORE;
  *consumed = 0;
  return ES_RESULT_COMPLETE;
}

int mpeg2_audio_complete(const void *record)
{
  auto *a = static_cast<const es_audio_info *>(record);
  return a->mpeg2.syncword != 0 && a->mc_read;
}

int mpeg2_audio_parse(void *record, const sys_memalloc_rec *payload, uint32_t *consumed)
{
  auto *a = static_cast<es_audio_info *>(record);
  if (already_complete(mpeg2_audio_complete, a, payload, consumed)) return ES_RESULT_COMPLETE;
  const unsigned char *p = payload->buf;
  uint32_t len = payload->len, from = 0;
  if (!a->mpeg2.syncword && !lock(&a->mpeg2, &a->mpeg2_ring, payload, &from, consumed)) return ES_RESULT_MORE;
  if (a->mpeg2.layer != 2) return ES_RESULT_UNSUPPORTED;
  const unsigned char *raw = a->mpeg2.raw;
  uint32_t at = find_sync(p, len, from, consumed, [raw](const unsigned char *c) { return bytes4_equal(c, raw); });
  if (at == UINT32_MAX) return ES_RESULT_MORE;
  mpeg_audio_mc_header mc{};
  int r = layer2_mc_header_read(a->mpeg2, p + at, len - at, &mc);
  if (r == ES_RESULT_MORE) *consumed = at;
  if (r != ES_RESULT_COMPLETE) return r;
  a->mc = mc;
  a->mc_read = 1;
  return ES_RESULT_COMPLETE;
}

}  // namespace es
