// AAC in ADTS frames: the header lock, then ten frames inspected for their
// raw data blocks, buffer fullness and SBR fill data.
#include "es_impl.h"

namespace es {
namespace {

constexpr uint32_t kFramesWanted = 10;
constexpr uint32_t kHeaderBytes = 7;
enum { ID_FIL = 6, ID_END = 7, EXT_FILL_DATA = 1, EXT_DATA_ELEMENT = 2, EXT_DYNAMIC_RANGE = 11, EXT_SBR = 13, EXT_SBR_CRC = 14 };

// The fixed header; the ID must fit the stream type: 0x11 carries only ID
// 0, 0x0F either (encoders commonly write ID 0 there).
bool candidate_read(const unsigned char *p, uint16_t stream_type, adts_header *h)
{
  bits b(p, 4);
  adts_header r{};
  for (int k = 0; k < 4; k++) r.raw[k] = p[k];
  r.syncword = uint16_t(b.get(12));
  r.id = uint8_t(b.get(1));
  uint32_t layer = b.get(2);
  r.protection_absent = uint8_t(b.get(1));
  r.profile = uint8_t(b.get(2));
  r.sampling_frequency_index = uint8_t(b.get(4));
  b.skip(1);
  r.channel_configuration = uint8_t(b.get(3));
  if (r.syncword != 0xFFF || layer != 0 || r.sampling_frequency_index > 11) return false;
  if (stream_type == ES_TYPE_AAC_MPEG4 && r.id != 0) return false;
  if (r.id == 1 && r.profile == 3) return false;
  *h = r;
  return true;
}

bool loose_equal(const unsigned char *a, const unsigned char *b)
{
  return a[0] == b[0] && a[1] == b[1] && a[2] == b[2] && (a[3] & 0xF0) == (b[3] & 0xF0);
}

// The bytes of a dynamic range element, its first byte included.
uint32_t dynamic_range_skip(bits &b)
{
  uint32_t n = 1, bands = 1;
  if (b.flag()) {
    b.skip(8);
    n++;
  }
  if (b.flag()) {
    do {
      b.skip(7);
      n++;
    } while (b.ok() && b.flag());
  }
  if (b.flag()) {
    uint32_t incr = b.get(4);
    b.skip(4);
    n++;
    bands += incr;
    b.skip(8 * bands);
    n += bands;
  }
  if (b.flag()) {
    b.skip(8);
    n++;
  }
  b.skip(8 * bands);
  return n + bands;
}

// One extension payload of a fill element with count bytes left; returns
// the bytes it took, or 0 once SBR data ended the examination.
uint32_t extension_payload(bits &b, uint32_t count, adts_frame_stats *st)
{
  uint32_t type = b.get(4);
  if (type == EXT_SBR || type == EXT_SBR_CRC) {
    st->sbr = 1;
    return 0;
  }
  if (type == EXT_DATA_ELEMENT) {
    if (b.get(4) == 0) {
      uint32_t length = 0, part, n = 1;
      do {
        part = b.get(8);
        length += part;
        n++;
      } while (b.ok() && part == 255);
      b.skip(8 * length);
      return n + length;
    }
    b.skip(8 * (count - 1));
    return count;
  }
  if (type == EXT_DYNAMIC_RANGE) {
    return dynamic_range_skip(b);
  }
  b.skip(4 + 8 * (count - 1));
  return count;
}

void fill_element_read(bits &b, adts_frame_stats *st)
{
  uint32_t count = b.get(4);
  if (count == 15) count += b.get(8) - 1;
  while (count > 0 && b.ok()) {
    uint32_t used = extension_payload(b, count, st);
    if (used == 0 || used >= count) break;
    count -= used;
  }
}

// The frame at p of exactly frame_length bytes; false when it holds no frame.
// *counts says whether it counts towards the ten.
bool frame_read(const adts_header &h, const unsigned char *p, uint32_t frame_length, uint32_t raw_blocks,
                adts_frame_stats *st, bool *counts)
{
  bits b(p, frame_length);
  b.skip(8 * kHeaderBytes);
  *counts = true;
  if (raw_blocks == 0) {
    if (h.protection_absent == 0) b.skip(16);
    if (b.get(3) == ID_FIL) fill_element_read(b, st);
    return b.ok();
  }
  if (h.protection_absent) {
    *counts = false;
    return true;
  }
  uint32_t position[4] = {0, 0, 0, 0};
  for (uint32_t i = 1; i <= raw_blocks; i++) position[i] = b.get(16);
  b.skip(16);
  uint32_t first = b.bytes_taken();
  for (uint32_t i = 0; i <= raw_blocks && b.ok(); i++) {
    if (uint64_t(first) + position[i] >= frame_length) return false;
    bits block(p + first + position[i], frame_length - first - position[i]);
    uint32_t id = block.get(3);
    if (id == ID_END) break;
    if (id == ID_FIL) fill_element_read(block, st);
    if (!block.ok()) return false;
  }
  return b.ok();
}

// Inspects the frames from pos until ten counted, or the data runs out.
int frames_inspect(es_audio_info *a, const unsigned char *p, uint32_t len, uint32_t pos, uint32_t *consumed)
{
  const unsigned char *raw = a->adts.raw;
  while (a->adts_stats.frames < kFramesWanted) {
    uint32_t at = find_sync(p, len, pos, consumed, [raw](const unsigned char *c) { return loose_equal(c, raw); });
    if (at == UINT32_MAX) return ES_RESULT_MORE;
    if (len - at < kHeaderBytes) {
      *consumed = at;
      return ES_RESULT_MORE;
    }
    bits b(p + at, len - at);
    b.skip(30);
    uint32_t frame_length = b.get(13);
    uint32_t fullness = b.get(11);
    uint32_t raw_blocks = b.get(2);
    if (frame_length < kHeaderBytes) return ES_RESULT_INVALID;
    if (frame_length > len - at) {
      *consumed = at;
      return ES_RESULT_MORE;
    }
    adts_frame_stats st = a->adts_stats;
    if (fullness == 0x7FF) st.variable_rate = 1;
    if (raw_blocks > st.max_raw_blocks) st.max_raw_blocks = uint8_t(raw_blocks);
    bool counts;
    if (!frame_read(a->adts, p + at, frame_length, raw_blocks, &st, &counts)) return ES_RESULT_INVALID;
    if (counts) st.frames++;
    a->adts_stats = st;
    pos = at + frame_length;
  }
  *consumed = 0;
  return ES_RESULT_COMPLETE;
}

}  // namespace

int adts_complete(const void *record)
{
  auto *a = static_cast<const es_audio_info *>(record);
  return a->adts.syncword != 0 && a->adts_stats.frames >= kFramesWanted;
}

int adts_parse(void *record, const sys_memalloc_rec *payload, uint32_t *consumed)
{
  auto *a = static_cast<es_audio_info *>(record);
  if (already_complete(adts_complete, a, payload, consumed)) return ES_RESULT_COMPLETE;
  const unsigned char *p = payload->buf;
  uint32_t len = payload->len, from = 0;
  if (!a->adts.syncword) {
    uint16_t type = a->stream_type;
    auto valid = [type](const unsigned char *c) {
      adts_header h;
      return candidate_read(c, type, &h);
    };
    unsigned char locked[4];
    if (!lock_search(&a->adts_ring, p, len, 0, valid, loose_equal, locked, &from, consumed)) return ES_RESULT_MORE;
    candidate_read(locked, type, &a->adts);
  }
  return frames_inspect(a, p, len, from, consumed);
}

}  // namespace es
