// The Layer II audio data of one frame, walked to reach the multichannel
// header that follows it.  The allocation tables are those of the MPEG-1
// audio standard and its extension to lower sampling frequencies.
#include "es_impl.h"

namespace es {
namespace {

// Quantisation levels by allocation index for one class of sub-bands; 0
// means no allocation.
struct alloc_class {
  uint8_t nbal; /* bits of the allocation index */
  uint16_t levels[16];
};

const alloc_class class_a0 = {4, {0, 3, 7, 15, 31, 63, 127, 255, 511, 1023, 2047, 4095, 8191, 16383, 32767, 65535}};
const alloc_class class_a1 = {4, {0, 3, 5, 7, 9, 15, 31, 63, 127, 255, 511, 1023, 2047, 4095, 8191, 65535}};
const alloc_class class_a2 = {3, {0, 3, 5, 7, 9, 15, 31, 65535}};
const alloc_class class_a3 = {2, {0, 3, 5, 65535}};
const alloc_class class_c0 = {4, {0, 3, 5, 9, 15, 31, 63, 127, 255, 511, 1023, 2047, 4095, 8191, 16383, 32767}};
const alloc_class class_c1 = {3, {0, 3, 5, 9, 15, 31, 63, 127}};
const alloc_class class_l2 = {2, {0, 3, 5, 9}};

struct alloc_table {
  uint32_t sblimit;
  // The sub-band where each class ends, classes in order.
  struct span {
    uint32_t end;
    const alloc_class *cls;
  } spans[4];
  const alloc_class *of(uint32_t sb) const
  {
    for (const span &s : spans)
      if (sb < s.end) return s.cls;
    return spans[3].cls;
  }
};

const alloc_table table_b2a = {27, {{3, &class_a0}, {11, &class_a1}, {23, &class_a2}, {27, &class_a3}}};
const alloc_table table_b2b = {30, {{3, &class_a0}, {11, &class_a1}, {23, &class_a2}, {30, &class_a3}}};
const alloc_table table_b2c = {8, {{2, &class_c0}, {8, &class_c1}, {8, &class_c1}, {8, &class_c1}}};
const alloc_table table_b2d = {12, {{2, &class_c0}, {12, &class_c1}, {12, &class_c1}, {12, &class_c1}}};
const alloc_table table_lsf = {30, {{4, &class_c0}, {11, &class_c1}, {30, &class_l2}, {30, &class_l2}}};

constexpr uint32_t kSubbands = 32;

const alloc_table *layer2_alloc_table_select(const mpeg_audio_header &h)
{
  uint32_t rate = mpeg_audio_sample_rate(h.id, h.sampling_frequency);
  if (rate == 16000 || rate == 22050 || rate == 24000) return &table_lsf;
  uint32_t per_channel = mpeg_audio_bitrate(h.id, h.layer, h.bitrate_index);
  if (h.mode != 3) per_channel /= 2;
  bool low = per_channel == 32 || per_channel == 48;
  bool mid = per_channel == 56 || per_channel == 64 || per_channel == 80;
  bool high = per_channel == 96 || per_channel == 112 || per_channel == 128 || per_channel == 160 || per_channel == 192;
  if (!low && !mid && !high) return nullptr;
  if (rate == 48000) return low ? &table_b2c : &table_b2a;
  if (rate == 44100 || rate == 32000) {
    if (low) return rate == 44100 ? &table_b2c : &table_b2d;
    return mid ? &table_b2a : &table_b2b;
  }
  return nullptr;
}

// Bits of one granule of a sub-band with that many levels: one grouped code
// for 3, 5 and 9 levels, else three samples.
uint32_t granule_bits(uint32_t levels)
{
  switch (levels) {
    case 3: return 5;
    case 5: return 7;
    case 9: return 10;
  }
  uint32_t n = 0;
  while ((1u << n) < levels + 1) n++;
  return 3 * n;
}

void audio_data_skip(bits &b, const alloc_table &t, uint32_t channels, uint32_t bound)
{
  uint8_t alloc[2][kSubbands] = {};
  for (uint32_t sb = 0; sb < t.sblimit; sb++) {
    uint32_t nbal = t.of(sb)->nbal;
    if (sb < bound) {
      for (uint32_t ch = 0; ch < channels; ch++) alloc[ch][sb] = uint8_t(b.get(nbal));
    } else {
      alloc[0][sb] = alloc[1][sb] = uint8_t(b.get(nbal));
    }
  }
  uint8_t scfsi[2][kSubbands] = {};
  for (uint32_t sb = 0; sb < t.sblimit; sb++)
    for (uint32_t ch = 0; ch < channels; ch++)
      if (alloc[ch][sb]) scfsi[ch][sb] = uint8_t(b.get(2));
  static const uint32_t scale_factors[4] = {3, 2, 1, 2};
  for (uint32_t sb = 0; sb < t.sblimit; sb++)
    for (uint32_t ch = 0; ch < channels; ch++)
      if (alloc[ch][sb]) b.skip(6 * scale_factors[scfsi[ch][sb] & 3]);
  uint32_t granule = 0;
  for (uint32_t sb = 0; sb < t.sblimit; sb++) {
    // An index is below 2^nbal, the size of its row.
    const uint16_t *levels = t.of(sb)->levels;
    for (uint32_t ch = 0; ch < (sb < bound ? channels : 1); ch++)
      if (alloc[ch][sb]) granule += granule_bits(levels[alloc[ch][sb] & 15]);
  }
  for (int gr = 0; gr < 12; gr++) b.skip(granule);
}

}  // namespace

int layer2_mc_header_read(const mpeg_audio_header &h, const unsigned char *p, uint32_t len, mpeg_audio_mc_header *mc)
{
  const alloc_table *t = layer2_alloc_table_select(h);
  if (!t) return ES_RESULT_INVALID;
  uint32_t channels = h.mode == 3 ? 1 : 2;
  uint32_t bound = h.mode == 1 ? 4 * (uint32_t(h.mode_extension) + 1) : t->sblimit;
  if (bound > t->sblimit) bound = t->sblimit;
  bits b(p, len);
  b.skip(32);
  if (h.protection_bit == 0) b.skip(16);
  audio_data_skip(b, *t, channels, bound);
  mpeg_audio_mc_header m{};
  if (b.flag()) b.skip(8);
  m.center = uint8_t(b.get(2));
  m.surround = uint8_t(b.get(2));
  m.lfe = uint8_t(b.get(1));
  b.skip(1);
  m.dematrix_procedure = uint8_t(b.get(2));
  m.no_of_multi_lingual_ch = uint8_t(b.get(3));
  b.skip(4 + 16 + 2);
  m.mc_prediction_on = uint8_t(b.get(1));
  if (!b.ok()) return ES_RESULT_MORE;
  *mc = m;
  return ES_RESULT_COMPLETE;
}

}  // namespace es
