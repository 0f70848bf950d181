// H.264: the sequence parameter set with its VUI, read from an unescaped
// copy of the NAL unit.
#include "es_impl.h"

#include <tarvo_tag/tag_limits.h>

#include <array>

namespace es {
namespace {

// Profiles whose SPS carries chroma and bit-depth fields this reader does
// not follow.
bool high_profile(uint32_t profile)
{
  for (uint32_t p : {100u, 110u, 122u, 144u, 244u, 44u, 83u, 86u, 118u, 128u, 134u, 135u, 138u, 139u})
    if (profile == p) return true;
  return false;
}

// Drops the 03 of every 00 00 03; returns the bytes written.
uint32_t unescape(const unsigned char *p, uint32_t len, unsigned char *out, uint32_t cap)
{
  uint32_t n = 0, zeros = 0;
  for (uint32_t i = 0; i < len && n < cap; i++) {
    if (zeros >= 2 && p[i] == 3) {
      zeros = 0;
      continue;
    }
    zeros = p[i] == 0 ? zeros + 1 : 0;
    out[n++] = p[i];
  }
  return n;
}

void hrd_skip(bits &b)
{
  uint32_t count = b.ue();
  b.require(count <= 31);
  b.skip(8);
  for (uint32_t i = 0; i <= count && b.ok(); i++) {
    b.ue();
    b.ue();
    b.skip(1);
  }
  b.skip(20);
}

uint8_t stored_ue(bits &b)
{
  uint32_t v = b.ue();
  b.require(v <= 255);
  return uint8_t(v);
}

void vui_read(bits &b, avc_sps_info *s)
{
  s->aspect_ratio_info_present_flag = uint8_t(b.get(1));
  if (s->aspect_ratio_info_present_flag) {
    s->aspect_ratio_idc = uint8_t(b.get(8));
    if (s->aspect_ratio_idc == 255) {
      s->sar_width = uint16_t(b.get(16));
      s->sar_height = uint16_t(b.get(16));
    }
  }
  if (b.flag()) b.skip(1);  // overscan
  if (b.flag()) {           // video signal type
    b.skip(4);
    if (b.flag()) b.skip(24);
  }
  if (b.flag()) {  // chroma location
    b.ue();
    b.ue();
  }
  s->timing_info_present_flag = uint8_t(b.get(1));
  if (s->timing_info_present_flag) {
    s->num_units_in_tick = b.get(32);
    s->time_scale = b.get(32);
    b.require(s->num_units_in_tick != 0 && s->time_scale != 0);
    s->fixed_frame_rate_flag = uint8_t(b.get(1));
  }
  bool nal = b.flag();
  if (nal) hrd_skip(b);
  bool vcl = b.flag();
  if (vcl) hrd_skip(b);
  if (nal || vcl) b.skip(1);
  b.skip(1);       // pic_struct_present_flag
  if (b.flag()) {  // bitstream restriction
    b.skip(1);
    for (int i = 0; i < 6; i++) b.ue();
  }
}

void pic_order_skip(bits &b)
{
  uint32_t type = b.ue();
  b.require(type <= 2);
  if (type == 0) {
    b.ue();
  } else if (type == 1) {
    b.skip(1);
    b.se();
    b.se();
    uint32_t cycle = b.ue();
    for (uint32_t i = 0; i < cycle && b.ok(); i++) b.se();
  }
}

int sps_read(bits &b, avc_sps_info *s)
{
  s->profile_idc = uint8_t(b.get(8));
  s->constraint_set0_flag = uint8_t(b.get(1));
  s->constraint_set1_flag = uint8_t(b.get(1));
  s->constraint_set2_flag = uint8_t(b.get(1));
  s->constraint_set3_flag = uint8_t(b.get(1));
  b.skip(4);
  s->level_idc = uint8_t(b.get(8));
  b.require(b.ue() < 32);
  if (!b.ok()) return failed_result(b);
  if (high_profile(s->profile_idc)) return ES_RESULT_UNSUPPORTED;
  b.ue();  // log2_max_frame_num_minus4
  pic_order_skip(b);
  b.ue();  // num_ref_frames
  b.skip(1);
  s->pic_width_in_mbs_minus1 = stored_ue(b);
  s->pic_height_in_map_units_minus1 = stored_ue(b);
  s->frame_mbs_only_flag = uint8_t(b.get(1));
  if (!s->frame_mbs_only_flag) b.skip(1);
  b.skip(1);
  if (b.flag()) {  // frame cropping
    for (int i = 0; i < 4; i++) b.ue();
  }
  s->vui_parameters_present_flag = uint8_t(b.get(1));
  if (s->vui_parameters_present_flag) vui_read(b, s);
  if (!b.ok()) return failed_result(b);
  s->present = 7;
  return ES_RESULT_COMPLETE;
}

// The SPS whose NAL header byte is at p[0].
int sps_parse(avc_sps_info *out, const unsigned char *p, uint32_t len)
{
  std::array<unsigned char, TAG_AVC_SPS_MAX> copy;
  uint32_t rest = len - 1;
  uint32_t n = unescape(p + 1, rest, copy.data(), copy.size());
  bits b(copy.data(), n);
  avc_sps_info s{};
  int r = sps_read(b, &s);
  // Running out of the copy's room is an SPS too long to be one.
  if (r == ES_RESULT_MORE && n == copy.size()) r = ES_RESULT_INVALID;
  if (r == ES_RESULT_COMPLETE) *out = s;
  return r;
}

}  // namespace

int avc_complete(const void *record)
{
  return static_cast<const es_video_info *>(record)->sps.present != 0;
}

int avc_parse(void *record, const sys_memalloc_rec *payload, uint32_t *consumed)
{
  auto *v = static_cast<es_video_info *>(record);
  if (already_complete(avc_complete, v, payload, consumed)) return ES_RESULT_COMPLETE;
  const unsigned char *p = payload->buf;
  uint32_t len = payload->len;
  uint32_t at = find_start_code(p, len, 0, consumed, [](uint8_t c) { return (c & 0x1F) == 7; });
  if (at == UINT32_MAX) return ES_RESULT_MORE;
  int r = sps_parse(&v->sps, p + at + 3, len - at - 3);
  // An SPS cut by the end of the payload is read again whole: the copy
  // holds the rest of the payload, so running out there means more is due.
  if (r == ES_RESULT_MORE) *consumed = at;
  return r;
}

}  // namespace es
