// MPEG-4 visual: the visual object sequence header, the (studio) video
// object layer and, when the layer has no fixed rate, a VOP header.
#include "es_impl.h"

namespace es {
namespace {

bool is_vol_code(uint8_t c) { return c >= 0x20 && c <= 0x2F; }

// Bits that hold the values 0 .. resolution - 1 (at least one).
uint32_t increment_bits(uint32_t resolution)
{
  uint32_t n = 1;
  while (n < 16 && (1u << n) < resolution) n++;
  return n;
}

// Auxiliary components by video_object_layer_shape_extension; 0 reserved.
const uint8_t aux_comp_count[16] = {1, 1, 2, 2, 3, 1, 2, 1, 1, 2, 2, 3, 0, 0, 0, 0};

void studio_vol_read(bits &b, mp4v_studio_vol_header *s)
{
  s->start_code = b.get(32);
  b.skip(13);
  uint32_t shape = b.get(2);
  b.skip(5);
  if (shape != 2) {
    b.skip(1);
    s->chroma_format = uint8_t(b.get(2));
    b.skip(4);
  }
  if (shape == 0) {
    b.skip(1);
    s->width = uint16_t(b.get(14));
    b.skip(1);
    s->height = uint16_t(b.get(14));
    b.skip(1);
  }
  s->aspect_ratio_info = uint8_t(b.get(4));
  if (s->aspect_ratio_info == 15) {
    s->par_width = uint8_t(b.get(8));
    s->par_height = uint8_t(b.get(8));
  }
  s->frame_rate_code = uint8_t(b.get(4));
  s->first_half_bit_rate = uint16_t(b.get(15));
  b.skip(1);
  s->latter_half_bit_rate = uint16_t(b.get(15));
}

// Up to 64 values ending at the first 0, which may not come first.
void quant_matrix_skip(bits &b)
{
  if (!b.flag()) return;
  for (int i = 0; i < 64 && b.ok(); i++) {
    uint32_t v = b.get(8);
    if (v != 0) continue;
    b.require(i != 0);
    break;
  }
}

void complexity_estimation_skip(bits &b)
{
  uint32_t method = b.get(2);
  if (method > 1) return;
  if (!b.flag()) b.skip(6);
  if (!b.flag()) b.skip(4);
  b.skip(1);
  if (!b.flag()) b.skip(4);
  if (!b.flag()) b.skip(6);
  b.skip(1);
  if (method == 1 && !b.flag()) b.skip(2);
}

// The layer after the shape, for shapes other than binary-only.
void vol_picture_read(bits &b, mp4v_vol_header *v, uint32_t shape, uint32_t verid, uint32_t shape_ext)
{
  if (shape == 0) {
    b.skip(1);
    v->video_object_layer_width = uint16_t(b.get(13));
    b.skip(1);
    v->video_object_layer_height = uint16_t(b.get(13));
    b.skip(1);
  }
  v->interlaced = uint8_t(b.get(1));
  b.skip(1);  // obmc_disable
  uint32_t sprite = b.get(verid == 1 ? 1 : 2);
  if (sprite == 1) b.skip(56);
  if (sprite == 1 || sprite == 2) b.skip(sprite == 1 ? 10 : 9);
  if (verid != 1 && shape != 0) b.skip(1);
  if (b.flag()) b.skip(8);  // not_8_bit
  if (shape == 3) b.skip(3);
  if (b.flag()) {  // quant_type
    quant_matrix_skip(b);
    quant_matrix_skip(b);
    if (shape == 3) {
      uint32_t aux = aux_comp_count[shape_ext & 15];
      b.require(aux != 0);
      for (uint32_t i = 0; i < aux && b.ok(); i++) {
        quant_matrix_skip(b);
        quant_matrix_skip(b);
      }
    }
  }
  if (verid != 1) b.skip(1);
  if (!b.flag()) complexity_estimation_skip(b);
  b.skip(1);
  if (b.flag()) b.skip(1);
  if (verid != 1) {
    if (b.flag()) b.skip(3);
    b.skip(1);
  }
  v->scalability = uint8_t(b.get(1));
}

// A VOL; ES_RESULT_UNSUPPORTED for fine granularity scalable layers.
int vol_read(bits &b, mp4v_vol_header *v)
{
  v->start_code = b.get(32);
  b.skip(1);
  if (b.get(8) == 0x12 && b.ok()) return ES_RESULT_UNSUPPORTED;
  uint32_t verid = 1;
  if (b.flag()) {
    verid = b.get(4);
    b.skip(3);
  }
  v->aspect_ratio_info = uint8_t(b.get(4));
  if (v->aspect_ratio_info == 15) {
    v->par_width = uint8_t(b.get(8));
    v->par_height = uint8_t(b.get(8));
  }
  if (b.flag()) {
    v->chroma_format = uint8_t(b.get(2));
    b.skip(1);
    if (b.flag()) {
      v->first_half_bit_rate = uint16_t(b.get(15));
      b.skip(1);
      v->latter_half_bit_rate = uint16_t(b.get(15));
      b.skip(48);
    }
  }
  uint32_t shape = b.get(2), shape_ext = 0;
  if (shape == 3 && verid != 1) shape_ext = b.get(4);
  b.skip(1);
  v->vop_time_increment_resolution = uint16_t(b.get(16));
  b.require(v->vop_time_increment_resolution != 0);
  b.skip(1);
  v->fixed_vop_rate = uint8_t(b.get(1));
  if (v->fixed_vop_rate) {
    b.require(v->vop_time_increment_resolution != 1);
    v->fixed_vop_time_increment = uint16_t(b.get(increment_bits(v->vop_time_increment_resolution)));
    b.require(v->fixed_vop_time_increment != 0);
  }
  if (shape == 2) {
    if (verid == 1) {
      b.skip(1);
    } else {
      v->scalability = uint8_t(b.get(1));
      if (!v->scalability) b.skip(1);
    }
  } else {
    vol_picture_read(b, v, shape, verid, shape_ext);
  }
  return b.ok() ? ES_RESULT_COMPLETE : failed_result(b);
}

// Step 1: the VOS header; *pos moves past it.
int vos_step(es_video_info *v, const unsigned char *p, uint32_t len, uint32_t *pos, uint32_t *consumed)
{
  uint32_t at = find_code(p, len, 0, consumed, 0xB0);
  if (at == UINT32_MAX) return ES_RESULT_MORE;
  if (len - at < 5) {
    *consumed = at;
    return ES_RESULT_MORE;
  }
  v->vos.start_code = 0x1B0;
  v->vos.profile_and_level_indication = p[at + 4];
  *pos = at + 5;
  return ES_RESULT_COMPLETE;
}

int studio_step(es_video_info *v, const unsigned char *p, uint32_t len, uint32_t pos, uint32_t *consumed)
{
  uint32_t at = find_start_code(p, len, pos, consumed, is_vol_code);
  if (at == UINT32_MAX) return ES_RESULT_MORE;
  bits b(p + at, len - at);
  mp4v_studio_vol_header s{};
  studio_vol_read(b, &s);
  if (!b.ok()) {
    *consumed = at;
    return ES_RESULT_MORE;
  }
  v->studio_vol = s;
  *consumed = 0;
  return ES_RESULT_COMPLETE;
}

// Step 3: the first VOL without scalability; *pos moves past it.
int vol_step(es_video_info *v, const unsigned char *p, uint32_t len, uint32_t *pos, uint32_t *consumed)
{
  for (;;) {
    uint32_t at = find_start_code(p, len, *pos, consumed, is_vol_code);
    if (at == UINT32_MAX) return ES_RESULT_MORE;
    bits b(p + at, len - at);
    mp4v_vol_header vol{};
    int r = vol_read(b, &vol);
    if (r != ES_RESULT_COMPLETE) {
      *consumed = at;
      return r;
    }
    *pos = at + 4;
    if (vol.scalability) continue;
    v->vol = vol;
    *pos = uint32_t(b.position() - p);
    return ES_RESULT_COMPLETE;
  }
}

int vop_step(es_video_info *v, const unsigned char *p, uint32_t len, uint32_t pos, uint32_t *consumed)
{
  uint32_t at = find_code(p, len, pos, consumed, 0xB6);
  if (at == UINT32_MAX) return ES_RESULT_MORE;
  *consumed = at;
  bits b(p + at + 4, len - at - 4);
  b.skip(2);
  while (b.ok() && b.flag()) {
  }
  b.skip(1);
  uint32_t resolution = v->vol.vop_time_increment_resolution;
  uint32_t increment = b.get(increment_bits(resolution));
  b.require(resolution != 1 || increment == 0);
  if (!b.ok()) return failed_result(b);
  v->vop.start_code = 0x1B6;
  v->vop.vop_time_increment = increment;
  *consumed = 0;
  return ES_RESULT_COMPLETE;
}

}  // namespace

int mp4v_complete(const void *record)
{
  auto *v = static_cast<const es_video_info *>(record);
  if (!v->vos.start_code) return 0;
  if (v->studio_vol.start_code) return 1;
  return v->vol.start_code && (v->vol.fixed_vop_rate || v->vop.start_code);
}

int mp4v_parse(void *record, const sys_memalloc_rec *payload, uint32_t *consumed)
{
  auto *v = static_cast<es_video_info *>(record);
  if (already_complete(mp4v_complete, v, payload, consumed)) return ES_RESULT_COMPLETE;
  const unsigned char *p = payload->buf;
  uint32_t len = payload->len, pos = 0;
  if (!v->vos.start_code) {
    int r = vos_step(v, p, len, &pos, consumed);
    if (r != ES_RESULT_COMPLETE) return r;
  }
  uint8_t pl = v->vos.profile_and_level_indication;
  if (pl >= 0xE1 && pl <= 0xE8) return studio_step(v, p, len, pos, consumed);
  if (!v->vol.start_code) {
    int r = vol_step(v, p, len, &pos, consumed);
    if (r != ES_RESULT_COMPLETE) return r;
  }
  if (v->vol.fixed_vop_rate) {
    *consumed = 0;
    return ES_RESULT_COMPLETE;
  }
  return vop_step(v, p, len, pos, consumed);
}

}  // namespace es
