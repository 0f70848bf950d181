// Bit-level decoder configurations of MP4 tracks: the AAC
// AudioSpecificConfig and the MPEG-4 visual object layer header.
#include <tarvo_tag/tag_mp4.h>

#include <initializer_list>

#include "mp4_impl.h"

namespace mp4 {

bool bitreader::read(uint32_t n, uint32_t *v)
{
  uint32_t r = 0;
  while (n) {
    if (byte >= len) return false;
    uint32_t k = n < bits_left ? n : bits_left;  // at most 8
    uint32_t bits = (data[byte] >> (bits_left - k)) & ((1u << k) - 1);
    r = r << k | bits;
    bits_left -= k;
    n -= k;
    if (!bits_left) {
      byte++;
      bits_left = 8;
    }
  }
  *v = r;
  return true;
}

bool bitreader::skip(uint32_t n)
{
  uint32_t unused;
  for (; n > 32; n -= 32)
    if (!read(32, &unused)) return false;
  return read(n, &unused);
}

void bitreader::align()
{
  if (bits_left != 8) {
    byte++;
    bits_left = 8;
  }
}

bool bitreader::start_code(uint32_t *code, int64_t limit)
{
  align();
  for (int64_t slides = 0; byte + 4 <= len; byte++, slides++) {
    if (limit >= 0 && slides > limit) return false;
    if (data[byte] == 0 && data[byte + 1] == 0 && data[byte + 2] == 1) {
      *code = data[byte + 3];
      byte += 4;
      return true;
    }
  }
  return false;
}

namespace {

const uint32_t kSampleRates[16] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050,
                                   16000, 12000, 11025, 8000,  7350,  0,     0,     0};
const uint32_t kChannels[16] = {0, 1, 2, 3, 4, 5, 6, 8, 0, 0, 0, 0, 0, 0, 0, 0};

bool rate_read(bitreader &b, uint32_t *rate)
{
  uint32_t index;
  if (!b.read(4, &index)) return false;
  if (index != 15) {
    *rate = kSampleRates[index];
    return true;
  }
  return b.read(24, rate);
}

// The channels of a program_config_element.
bool program_config_read(bitreader &b, uint32_t *channels)
{
  uint32_t front, side, back, lfe, flag, cpe;
  if (!b.skip(10) || !b.read(4, &front) || !b.read(4, &side) || !b.read(4, &back) || !b.read(2, &lfe) ||
      !b.skip(7))
    return false;
  // Mono, stereo and matrix mixdown, each with its fields when present.
  for (uint32_t fields : {4u, 4u, 3u})
    if (!b.read(1, &flag) || (flag && !b.skip(fields))) return false;
  uint32_t n = 0;
  for (uint32_t i = 0; i < front + side + back; i++) {
    if (!b.read(1, &cpe) || !b.skip(4)) return false;
    n += cpe ? 2 : 1;
  }
  for (uint32_t i = 0; i < lfe; i++) {
    if (!b.skip(4)) return false;
    n++;
  }
  *channels = n;
  return true;
}

bool ga_specific_config_read(bitreader &b, mp4_audio_config *c)
{
  uint32_t core;
  if (!b.skip(1) || !b.read(1, &core) || (core && !b.skip(14)) || !b.skip(1)) return false;
  return c->channels || program_config_read(b, &c->channels);
}

// From the video signal type to the object layer, which may be absent.
bool visual_object_read(bitreader &b)
{
  uint32_t v, type, code;
  if (!b.read(1, &v) || (v && !b.skip(7)) || !b.read(4, &type)) return false;
  if (type != 1) return true;
  if (!b.read(1, &v)) return false;
  if (v && (!b.skip(4) || !b.read(1, &v) || (v && !b.skip(24)))) return false;
  do {
    if (!b.start_code(&code)) return false;
  } while (code >= 0x20);
  if (!b.start_code(&code, 0)) return false;
  if (code < 0x20 || code > 0x2F) return true;
  uint32_t verid = 1, aspect, shape, resolution, fixed;
  if (!b.skip(9) || !b.read(1, &v) || (v && (!b.read(4, &verid) || !b.skip(3)))) return false;
  if (!b.read(4, &aspect) || (aspect == 15 && !b.skip(16))) return false;
  if (!b.read(1, &v) || (v && (!b.skip(3) || !b.read(1, &v) || (v && !b.skip(79))))) return false;
  if (!b.read(2, &shape) || (shape == 3 && verid != 1 && !b.skip(4))) return false;
  if (!b.skip(1) || !b.read(16, &resolution) || !b.skip(1) || !b.read(1, &fixed)) return false;
  // The increment takes the bits of the values 0 to resolution - 1.
  uint32_t bits = 1;
  while (bits < 16 && (1u << bits) < resolution) bits++;
  return !fixed || b.skip(bits);
}

}  // namespace

bool visual_config(const unsigned char *data, uint32_t len)
{
  bitreader b{data, len};
  uint32_t code, level;
  for (;;) {
    if (!b.start_code(&code) || code == 0xB1) return true;
    if (code != 0xB0) continue;
    if (!b.read(8, &level)) return false;
    if (level >= 0xE1 && level <= 0xE8) continue;
    do {
      if (!b.start_code(&code)) return true;
    } while (code != 0xB5);
    return visual_object_read(b);
  }
}

}  // namespace mp4

extern "C" int mp4_audio_specific_config(const unsigned char *data, uint32_t len, mp4_audio_config *out)
{
  mp4::bitreader b{data, len};
  mp4_audio_config c{};
  uint32_t config, rate;
  if (!b.read(5, &c.object_type) || !mp4::rate_read(b, &c.sample_rate) || !b.read(4, &config)) return 0;
  c.channels = mp4::kChannels[config];
  if (c.object_type == 5) {
    uint32_t index;
    if (!b.read(4, &index) || (index == 15 && !b.read(24, &rate))) return 0;
    if (index == 15) c.sample_rate = rate;
    if (!b.read(5, &c.object_type)) return 0;
  }
  switch (c.object_type) {
    case 1: case 2: case 3: case 4: case 6: case 7:
      if (!mp4::ga_specific_config_read(b, &c)) return 0;
  }
  *out = c;
  return 1;
}
