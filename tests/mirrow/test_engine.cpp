// The resample engine's derived sizes, its quality on a sine in both
// variants and both directions, and the channel and depth converters'
// rounding, limits and in-place order.
#include <gtest/gtest.h>

#include <mirrow/mirrow_engine.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace {

WAVEFORMATEX pcm(DWORD rate, WORD bits, WORD channels)
{
  WORD align = WORD(channels * ((bits + 7) / 8));
  return WAVEFORMATEX{WAVE_FORMAT_PCM, channels, rate, rate * align, align, bits, 0};
}

template <class Engine>
std::unique_ptr<ResampleEngine> engine(const WAVEFORMATEX &in, const WAVEFORMATEX &out, int half = 8)
{
  auto e = std::make_unique<Engine>(&in, &out, (in.wBitsPerSample + 7) / 8, (out.wBitsPerSample + 7) / 8);
  e->SetFilterHalfLength(half);
  EXPECT_EQ(e->Initialise(), S_OK);
  return e;
}

TEST(ResampleEngine, TapsSpanAndCapacityFollowTheRatesAndDoubleTheHalfLengthAboveTenfold)
{
  struct Case {
    DWORD ri, ro;
    int taps;
    double span;
    uint32_t capacity;
    int half;
  } cases[] = {
    {48000, 44100, 20, 2 * 8 * 1.2 * 48000 / 44100, 1034, 8},
    {44100, 48000, 19, 19.2, 1226, 8},
    {8000, 96000, 38, 38.4, 13516, 16},
  };
  for (const Case &c : cases) {
    WAVEFORMATEX in = pcm(c.ri, 16, 2), out = pcm(c.ro, 16, 2);
    auto e = engine<ResampleEngineSse2>(in, out);
    EXPECT_EQ(e->Taps(), c.taps) << c.ri;
    EXPECT_NEAR(e->Span(), c.span, 1e-9) << c.ri;
    EXPECT_EQ(e->Capacity(), c.capacity) << c.ri;
    EXPECT_EQ(e->HalfLength(), c.half) << c.ri;
  }
}

struct Fit {
  double amplitude, phase, thdn_db, frequency;
};

// Least squares of x against a sine of f Hz over [from, to), with the
// residual as THD+N, and the frequency from the interpolated upward zero
// crossings.
Fit fit_sine(const std::vector<int16_t> &x, double rate, double f, size_t from, size_t to)
{
  double cc = 0, ss = 0, cs = 0, xc = 0, xs = 0;
  for (size_t n = from; n < to; n++) {
    double w = 2 * M_PI * f * n / rate, c = std::cos(w), s = std::sin(w);
    cc += c * c, ss += s * s, cs += c * s, xc += x[n] * c, xs += x[n] * s;
  }
  double det = cc * ss - cs * cs, a = (xc * ss - xs * cs) / det, b = (xs * cc - xc * cs) / det;
  double err = 0, sig = 0;
  for (size_t n = from; n < to; n++) {
    double w = 2 * M_PI * f * n / rate, y = a * std::cos(w) + b * std::sin(w);
    err += (x[n] - y) * (x[n] - y), sig += y * y;
  }
  double first = -1, last = -1;
  int crossings = 0;
  for (size_t n = from + 1; n < to; n++)
    if (x[n - 1] < 0 && x[n] >= 0) {
      double at = double(n - 1) + double(-x[n - 1]) / double(x[n] - x[n - 1]);
      if (first < 0) first = at;
      last = at;
      crossings++;
    }
  return Fit{std::hypot(a, b), std::atan2(a, b), 10 * std::log10(err / sig), (crossings - 1) * rate / (last - first)};
}

template <class Engine>
void sine_keeps_its_shape(DWORD ri, DWORD ro)
{
  const double f = 1000, amp = 0.5 * 32767;  // -6 dBFS
  const size_t frames = ri;                  // one second
  std::vector<int16_t> in(frames * 2);
  for (size_t n = 0; n < frames; n++) in[2 * n] = in[2 * n + 1] = int16_t(amp * std::sin(2 * M_PI * f * n / ri));
  WAVEFORMATEX fin = pcm(ri, 16, 2), fout = pcm(ro, 16, 2);
  auto e = engine<Engine>(fin, fout);
  std::vector<int16_t> out(size_t(double(frames) * ro / ri * 1.2) * 2);
  size_t got = 0;
  const uint32_t chunk = 4410;  // samples as a decoder hands them over, not aligned to blocks
  for (size_t at = 0; at < frames; at += chunk) {
    uint32_t n = uint32_t(std::min<size_t>(chunk, frames - at)), w = 0;
    e->Process(reinterpret_cast<BYTE *>(&in[2 * at]), n, reinterpret_cast<BYTE *>(&out[2 * got]),
               uint32_t(out.size() / 2 - got), &w);
    got += w;
  }
  ASSERT_NEAR(double(got), double(frames) * ro / ri, 30.0);
  for (int ch = 0; ch < 2; ch++) {
    std::vector<int16_t> one(got);
    for (size_t n = 0; n < got; n++) one[n] = out[2 * n + ch];
    Fit fit = fit_sine(one, ro, f, got / 10, got - got / 10);
    EXPECT_NEAR(fit.frequency, f, 0.05) << ri << "->" << ro;
    EXPECT_NEAR(20 * std::log10(fit.amplitude / amp), 0.0, 0.1) << ri << "->" << ro;
    EXPECT_NEAR(fit.phase, 0.0, 0.01) << ri << "->" << ro;
    EXPECT_LE(fit.thdn_db, -55.0) << ri << "->" << ro;
  }
}

TEST(ResampleEngine, SineKeepsFrequencyAmplitudeAndPhaseBothWaysInBothVariants)
{
  sine_keeps_its_shape<ResampleEngineSse2>(44100, 48000);
  sine_keeps_its_shape<ResampleEngineSse2>(48000, 44100);
  sine_keeps_its_shape<ResampleEngineFpu>(44100, 48000);
  sine_keeps_its_shape<ResampleEngineFpu>(48000, 44100);
}

// The bytes both variants produce on a fixed mix of signal, noise and
// clipping in several widths, layouts and ratios, chunked unevenly; a
// change of the engine's arithmetic shows here before it reaches a player.
template <class Engine>
uint64_t output_digest(DWORD ri, DWORD ro, WORD bits, WORD channels, int half, uint32_t chunk)
{
  WAVEFORMATEX in = pcm(ri, bits, channels), out = pcm(ro, bits, channels);
  if (bits == 32) in.wFormatTag = out.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
  auto e = engine<Engine>(in, out, half);
  const int b = (bits + 7) / 8;
  const uint32_t frames = 3 * 4096 + 123;
  std::vector<BYTE> src(size_t(frames) * channels * b), dst(size_t(double(frames) * ro / ri * 1.2 + 64) * channels * b);
  uint32_t lcg = 12345;
  for (size_t i = 0; i < size_t(frames) * channels; i++) {
    lcg = lcg * 1664525u + 1013904223u;
    double v = 1.1 * std::sin(double(i) * 0.0371) + double(int32_t(lcg) >> 8) / 16777216.0;  // clips now and then
    BYTE *p = &src[i * b];
    if (b == 1) p[0] = BYTE(std::clamp(v * 127 + 128, 0.0, 255.0));
    if (b == 2) {
      int16_t s = int16_t(std::clamp(v * 32767, -32768.0, 32767.0));
      std::memcpy(p, &s, 2);
    }
    if (b == 3) {
      int32_t s = int32_t(std::clamp(v * 8388607, -8388608.0, 8388607.0));
      p[0] = BYTE(s), p[1] = BYTE(s >> 8), p[2] = BYTE(s >> 16);
    }
    if (b == 4) {
      float f = float(v);
      std::memcpy(p, &f, 4);
    }
  }
  uint32_t got = 0;
  for (uint32_t at = 0; at < frames; at += chunk) {
    uint32_t n = std::min(chunk, frames - at), w = 0;
    e->Process(&src[size_t(at) * channels * b], n, &dst[size_t(got) * channels * b],
               uint32_t(dst.size() / (size_t(channels) * b)) - got, &w);
    got += w;
  }
  uint64_t h = 1469598103934665603ull;  // FNV-1a over the frames written, then their count
  for (size_t i = 0; i < size_t(got) * channels * b; i++) h = (h ^ dst[i]) * 1099511628211ull;
  return (h ^ got) * 1099511628211ull;
}

struct DigestCase {
  DWORD ri, ro;
  WORD bits, channels;
  int half;
  uint32_t chunk;
  uint64_t sse2, fpu;
};

// The last two ratios repeat too seldom for the weight cache.
TEST(ResampleEngine, OutputBytesOfBothVariantsStayAsTheyWere)
{
  const DigestCase cases[] = {
    {44100, 48000, 16, 2, 8, 4410, 0x7f010c5a557eb652ull, 0xff95fa835f8f5e86ull},
    {48000, 44100, 16, 2, 8, 4410, 0x6882afa8ee950da3ull, 0x1f3f0e7e84683badull},
    {44100, 48000, 16, 2, 8, 777, 0x7f010c5a557eb652ull, 0xff95fa835f8f5e86ull},
    {22050, 48000, 8, 1, 8, 1000, 0x627b9794f4e2fc57ull, 0x627b9794f4e2fc57ull},
    {96000, 44100, 24, 3, 13, 2048, 0x9b03db2861462e32ull, 0xa6263089b25ed1d1ull},
    {8000, 96000, 32, 2, 8, 333, 0xd4117ff335d40c9eull, 0x27e317a1b456ada9ull},
    {48000, 32000, 16, 6, 5, 1024, 0xfdcdaec863fa8a15ull, 0x36d7c8a721459f05ull},
    {44056, 48000, 16, 2, 8, 4410, 0x62e7c77e498cb52aull, 0x0ab7bb98e49e4ef4ull},
    {47999, 44100, 16, 1, 8, 1000, 0xd7e96428dc2fe3d3ull, 0xcee1716fb3628732ull},
  };
  for (const DigestCase &c : cases) {
    uint64_t s = output_digest<ResampleEngineSse2>(c.ri, c.ro, c.bits, c.channels, c.half, c.chunk);
    uint64_t f = output_digest<ResampleEngineFpu>(c.ri, c.ro, c.bits, c.channels, c.half, c.chunk);
    EXPECT_EQ(s, c.sse2) << c.ri << "->" << c.ro << " " << c.bits << "-bit x" << c.channels;
    EXPECT_EQ(f, c.fpu) << c.ri << "->" << c.ro << " " << c.bits << "-bit x" << c.channels;
  }
}

TEST(ResampleEngine, EightBitSilenceStaysAtItsMidpointAndOutputStopsAtTheCallersRoom)
{
  WAVEFORMATEX in = pcm(22050, 8, 1), out = pcm(48000, 8, 1);
  auto e = engine<ResampleEngineFpu>(in, out);
  std::vector<BYTE> silence(3000, 128), got(8000, 0);
  uint32_t w = 0;
  e->Process(silence.data(), 3000, got.data(), 100, &w);
  EXPECT_EQ(w, 100u);
  for (uint32_t i = 0; i < w; i++) ASSERT_EQ(got[i], 128) << i;
  EXPECT_EQ(got[100], 0);
}

TEST(ChannelAndDepthConverters, MixTruncatesDuplicateAndWidenWorkInPlaceAndLimitsHold)
{
  const int16_t stereo[] = {3, 4, -3, -4, 32767, 32767, -32768, -32767};
  int16_t mono[4];
  mirrow_mix_to_mono(reinterpret_cast<const BYTE *>(stereo), 4, reinterpret_cast<BYTE *>(mono), 2);
  EXPECT_EQ(mono[0], 3);
  EXPECT_EQ(mono[1], -3);
  EXPECT_EQ(mono[2], 32767);
  EXPECT_EQ(mono[3], -32767);

  int16_t dup[8] = {1, 2, 3, 4};
  mirrow_duplicate_to_stereo(reinterpret_cast<BYTE *>(dup), 4, 2);
  EXPECT_EQ(std::vector<int16_t>(dup, dup + 8), (std::vector<int16_t>{1, 1, 2, 2, 3, 3, 4, 4}));

  // 16 to 24 bits in place, last sample first; full-scale negative limits
  // instead of wrapping.
  BYTE wide[9] = {};
  const int16_t narrow[] = {-32768, 32767, 1};
  std::memcpy(wide, narrow, sizeof narrow);
  mirrow_convert_depth(wide, 3, 2, 3);
  auto s24 = [&](int i) { return int32_t(uint32_t(wide[3 * i] << 8 | wide[3 * i + 1] << 16 | wide[3 * i + 2] << 24)) >> 8; };
  EXPECT_EQ(s24(0), -8388608);
  EXPECT_EQ(s24(1), 8388607);
  EXPECT_EQ(s24(2), int32_t(1.0 / 32767 * 8388607));
  // And back, first sample first.
  mirrow_convert_depth(wide, 3, 3, 2);
  int16_t back[3];
  std::memcpy(back, wide, sizeof back);
  EXPECT_EQ(back[0], -32767);  // -8388608 / 8388607 * 32767, truncated toward zero
  EXPECT_EQ(back[1], 32767);

  const float floats[] = {1.0f, std::nextafter(1.0f, 0.0f), -2.0f, NAN};
  BYTE buf[16];
  std::memcpy(buf, floats, sizeof floats);
  mirrow_convert_depth(buf, 4, 4, 2);
  int16_t s16[4];
  std::memcpy(s16, buf, 8);
  EXPECT_EQ(s16[0], 32767);
  EXPECT_EQ(s16[1], int16_t(double(std::nextafter(1.0f, 0.0f)) * 32767));
  EXPECT_EQ(s16[2], -32768);
  EXPECT_EQ(s16[3], -32768);  // a NaN sample stores as the lower limit, never undefined
}

}  // namespace
