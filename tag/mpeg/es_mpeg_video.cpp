// MPEG-1 and MPEG-2 video: the sequence header and, for MPEG-2, the
// sequence extension and the extensions that follow it.
#include "es_impl.h"

namespace es {
namespace {

// The sequence header at p (its start code included); false when it ran out.
bool sequence_header_read(bits &b, mpeg_video_sequence_header *h)
{
  h->start_code = b.get(32);
  h->horizontal_size = uint16_t(b.get(12));
  h->vertical_size = uint16_t(b.get(12));
  h->aspect_ratio_information = uint8_t(b.get(4));
  h->frame_rate_code = uint8_t(b.get(4));
  h->bit_rate_value = b.get(18);
  b.skip(12);  // marker, vbv_buffer_size, constrained_parameters_flag
  if (b.flag()) b.skip(512);
  if (b.flag()) b.skip(512);
  return b.ok();
}

void sequence_extension_read(bits &b, mpeg_video_sequence_extension *e)
{
  e->start_code = b.get(32);
  b.skip(4);
  e->profile_and_level_indication = uint8_t(b.get(8));
  e->progressive_sequence = uint8_t(b.get(1));
  e->chroma_format = uint8_t(b.get(2));
  e->horizontal_size_extension = uint8_t(b.get(2));
  e->vertical_size_extension = uint8_t(b.get(2));
  e->bit_rate_extension = uint16_t(b.get(12));
  b.skip(17);
}

enum class walk { done, scalable, more, bad, unsupported };

// The extensions after the sequence extension, each after zero stuffing.
walk extensions_walk(const unsigned char *p, uint32_t len, uint32_t pos)
{
  for (;;) {
    bool more;
    uint32_t at = next_start_code_after_zeros(p, len, pos, &more);
    if (at == UINT32_MAX) return more ? walk::more : walk::bad;
    if (p[at + 3] != 0xB5) return walk::done;
    bits b(p + at + 4, len - at - 4);
    uint32_t id = b.get(4);
    if (id == 5) return b.ok() ? walk::scalable : walk::more;
    if (id != 2) return b.ok() ? walk::unsupported : walk::more;
    b.skip(3);
    if (b.flag()) b.skip(24);
    b.skip(29);
    if (!b.ok()) return walk::more;
    pos = uint32_t(b.position() - p);
  }
}

}  // namespace

int mpeg1_video_complete(const void *record)
{
  return static_cast<const es_video_info *>(record)->mpeg1_sequence.start_code != 0;
}

int mpeg1_video_parse(void *record, const sys_memalloc_rec *payload, uint32_t *consumed)
{
  auto *v = static_cast<es_video_info *>(record);
  if (already_complete(mpeg1_video_complete, v, payload, consumed)) return ES_RESULT_COMPLETE;
  uint32_t at = find_code(payload->buf, payload->len, 0, consumed, 0xB3);
  if (at == UINT32_MAX) return ES_RESULT_MORE;
  bits b(payload->buf + at, payload->len - at);
  mpeg_video_sequence_header h{};
  if (!sequence_header_read(b, &h)) {
    *consumed = at;
    return ES_RESULT_MORE;
  }
  v->mpeg1_sequence = h;
  return ES_RESULT_COMPLETE;
}

int mpeg2_video_complete(const void *record)
{
  auto *v = static_cast<const es_video_info *>(record);
  return v->mpeg2_sequence.start_code != 0 && v->mpeg2_extension.start_code != 0;
}

int mpeg2_video_parse(void *record, const sys_memalloc_rec *payload, uint32_t *consumed)
{
  auto *v = static_cast<es_video_info *>(record);
  if (already_complete(mpeg2_video_complete, v, payload, consumed)) return ES_RESULT_COMPLETE;
  const unsigned char *p = payload->buf;
  uint32_t len = payload->len, from = 0;
  for (;;) {
    uint32_t at = find_code(p, len, from, consumed, 0xB3);
    if (at == UINT32_MAX) return ES_RESULT_MORE;
    *consumed = at;  // what any wait for more data keeps
    bits b(p + at, len - at);
    mpeg_video_sequence_header h{};
    if (!sequence_header_read(b, &h)) return ES_RESULT_MORE;
    bool more;
    uint32_t ext = next_start_code_after_zeros(p, len, uint32_t(b.position() - p), &more);
    if (ext == UINT32_MAX) return more ? ES_RESULT_MORE : ES_RESULT_STUFFING;
    if (p[ext + 3] != 0xB5) return ES_RESULT_INVALID;
    bits eb(p + ext, len - ext);
    mpeg_video_sequence_extension e{};
    sequence_extension_read(eb, &e);
    if (!eb.ok()) return ES_RESULT_MORE;
    switch (extensions_walk(p, len, uint32_t(eb.position() - p))) {
      case walk::more: return ES_RESULT_MORE;
      case walk::bad: return ES_RESULT_INVALID;
      case walk::unsupported: return ES_RESULT_UNSUPPORTED;
      case walk::scalable: from = at + 4; continue;
      case walk::done: break;
    }
    v->mpeg2_sequence = h;
    v->mpeg2_extension = e;
    *consumed = 0;
    return ES_RESULT_COMPLETE;
  }
}

}  // namespace es
