// The downmix engine's numbers: the preset Lo/Ro mix, Lt/Rt surround
// phase, custom gains, channel masks, and each sample format's reading,
// clipping and silence.
#include "downmix_engine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

// The preset record: Lo/Ro, centre and surround at -3 dB, LFE muted.
DownmixSettings preset()
{
  DownmixSettings s{};
  s.method = DM_METHOD_LORO;
  s.loro_center = s.loro_surround = s.ltrt_center = s.ltrt_surround = 2;
  const int32_t l[6] = {1, 0, 16, 0, 16, 0}, r[6] = {0, 1, 16, 0, 0, 16};
  std::memcpy(s.left_gain, l, sizeof l);
  std::memcpy(s.right_gain, r, sizeof r);
  return s;
}

WAVEFORMATEX format(int channels, int bits)
{
  WAVEFORMATEX w{};
  w.wFormatTag = bits == 32 ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM;
  w.nChannels = WORD(channels);
  w.wBitsPerSample = WORD(bits);
  w.nBlockAlign = WORD(channels * bits / 8);
  return w;
}

// Mixes one block of 16-bit frames with the record and mask given.
std::vector<int16_t> mix16(const DownmixSettings &s, uint32_t mask, int channels, const std::vector<int16_t> &in)
{
  DownmixMatrix m{};
  DownmixMixer mixer(format(channels, 16), format(2, 16));
  downmix_build_matrix(&s, &m);
  downmix_present_from_mask(mask, channels, &m);
  mixer.SetMatrix(m);
  size_t frames = in.size() / size_t(channels);
  std::vector<int16_t> out(frames * 2);
  mixer.Mix(reinterpret_cast<const BYTE *>(in.data()), frames, reinterpret_cast<BYTE *>(out.data()));
  return out;
}

TEST(DownmixEngine, PresetLoRoAndLtRt)
{
  DownmixSettings s = preset();
  // Six channels: FL FR FC LFE BL BR.
  std::vector<int16_t> in = {0, 0, 32767, 0, 0, 0,   // centre only
                             0, 0, 0, 32767, 0, 0,   // LFE only
                             30000, 0, 0, 0, 30000, 0};  // left and back left: clips
  std::vector<int16_t> out = mix16(s, 0x3F, 6, in);
  EXPECT_EQ(out[0], 23197);
  EXPECT_EQ(out[1], 23197);
  EXPECT_EQ(out[2], 0);  // LFE muted in the preset
  EXPECT_EQ(out[4], 32767);
  EXPECT_EQ(out[5], 0);
  s.loro_lfe = 1;
  out = mix16(s, 0x3F, 6, in);
  EXPECT_EQ(out[2], 32767);
  EXPECT_EQ(out[3], 32767);

  s.method = DM_METHOD_LTRT;
  s.ltrt_surround = 1;
  out = mix16(s, 0x3F, 6, {0, 0, 0, 0, 1234, 0, 0, 0, 0, 0, 0, -777});
  EXPECT_EQ(out[0], 1234);
  EXPECT_EQ(out[1], -1234);
  EXPECT_EQ(out[2], -777);
  EXPECT_EQ(out[3], 777);
}

TEST(DownmixEngine, CustomGainsPhasesAndMasks)
{
  EXPECT_DOUBLE_EQ(downmix_index_gain(1), 1.0);
  EXPECT_NEAR(20 * std::log10(downmix_index_gain(16)), -3.0, 0.02);
  EXPECT_NEAR(20 * std::log10(downmix_index_gain(255)), -61.8, 0.05);
  EXPECT_EQ(downmix_index_gain(0), 0.0);

  DownmixSettings s{};
  s.method = DM_METHOD_CUSTOM;
  std::vector<int16_t> in = {1000, 2000, 3000, 4000, 5000, 6000};
  std::vector<int16_t> out = mix16(s, 0x3F, 6, in);
  EXPECT_EQ(out[0], 0);  // all gains muted: silence
  EXPECT_EQ(out[1], 0);
  // Left takes LFE at 0 dB inverted (its flag is the sixth), right takes
  // back right.
  s.left_gain[DM_LFE] = 1;
  s.left_phase[5] = 1;
  s.right_gain[DM_BR] = 1;
  out = mix16(s, 0x3F, 6, in);
  EXPECT_EQ(out[0], -4000);
  EXPECT_EQ(out[1], 6000);

  // Four channels FL FR BL BR: the third and fourth samples are the backs.
  DownmixSettings p = preset();
  p.loro_surround = 1;
  out = mix16(p, 0x33, 4, {0, 0, 111, 222});
  EXPECT_EQ(out[0], 111);
  EXPECT_EQ(out[1], 222);
  // No mask: the channel count's default, the same layout.
  out = mix16(p, 0, 4, {0, 0, 111, 222});
  EXPECT_EQ(out[0], 111);
  // A mask naming six channels over two-channel frames reads no further
  // than each frame.
  out = mix16(p, 0x3F, 2, {100, 200, 300, 400});
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0], 100);
  EXPECT_EQ(out[3], 400);

  // Method None keeps the last matrix.
  DownmixMatrix m{};
  downmix_build_matrix(&p, &m);
  DownmixSettings none{};
  none.method = DM_METHOD_NONE;
  DownmixMatrix kept = m;
  downmix_build_matrix(&none, &m);
  EXPECT_EQ(std::memcmp(&m, &kept, sizeof m), 0);
}

TEST(DownmixEngine, SampleFormats)
{
  DownmixSettings s = preset();
  DownmixMatrix m{};
  downmix_build_matrix(&s, &m);
  downmix_present_from_mask(0x3, 2, &m);

  DownmixMixer m8(format(2, 8), format(2, 8));
  m8.SetMatrix(m);
  BYTE in8[4] = {128, 128, 255, 0}, out8[4];
  m8.Mix(in8, 2, out8);
  EXPECT_EQ(out8[0], 128);
  EXPECT_EQ(out8[1], 128);
  EXPECT_EQ(out8[2], 255);
  EXPECT_EQ(out8[3], 0);  // -128/127 scaled back clamps at 0

  DownmixMixer m24(format(2, 24), format(2, 24));
  m24.SetMatrix(m);
  BYTE in24[6] = {0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F}, out24[6];  // -8388608, 8388607
  m24.Mix(in24, 1, out24);
  EXPECT_EQ(std::memcmp(in24, out24, 6), 0);

  DownmixMixer mf(format(2, 32), format(2, 32));
  DownmixMatrix mm = m;
  mm.left_gain[DM_FR] = 1;  // left = FL + FR
  mf.SetMatrix(mm);
  float inf[2] = {0.75f, 0.75f}, outf[2];
  mf.Mix(reinterpret_cast<const BYTE *>(inf), 1, reinterpret_cast<BYTE *>(outf));
  EXPECT_FLOAT_EQ(outf[0], 1.5f);  // float is not clipped
  EXPECT_FLOAT_EQ(outf[1], 0.75f);

  // Gains above 1 and NaN are clamped, stray signs count as +1.
  mm.left_gain[DM_FL] = 7;
  mm.left_gain[DM_FR] = std::nanf("");
  mm.left_sign[DM_FL] = 5;
  mf.SetMatrix(mm);
  mf.Mix(reinterpret_cast<const BYTE *>(inf), 1, reinterpret_cast<BYTE *>(outf));
  EXPECT_FLOAT_EQ(outf[0], 0.75f);
}

}  // namespace
