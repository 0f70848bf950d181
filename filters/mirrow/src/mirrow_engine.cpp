// The resample engine's staging, positions and windowed-sinc taps in two
// precisions, and the channel and sample-depth converters.
#include <mirrow/mirrow_engine.h>
#include <mirrow/mirrow_limits.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>
#include <numeric>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr uint32_t kNoKey = 0xFFFFFFFFu;  // a NaN's bits: no offset has them

// Four floats, added and multiplied lane by lane exactly as four scalars.
typedef float v4f __attribute__((vector_size(16)));

v4f load4(const float *p)
{
  v4f v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Floor and ceiling of stream positions (well inside the 64-bit range),
// without a library call per output frame.
int64_t floor64(double x)
{
  int64_t i = int64_t(x);
  return i - (double(i) > x);
}

int64_t ceil64(double x)
{
  int64_t i = int64_t(x);
  return i + (double(i) < x);
}

// Samples as the engine and the channel converter read them: 8-bit around
// 0 in the +-1 scale, 16 and 24-bit as their integer values, floats as
// they are.
double read_engine(const BYTE *p, int b)
{
  switch (b) {
    case 1: return (double(p[0]) - 128.0) / 127.0;
    case 2: return double(int16_t(uint16_t(p[0] | p[1] << 8)));
    case 3: return double(int32_t(uint32_t(p[0] << 8 | p[1] << 16 | p[2] << 24)) >> 8);
    default: {
      float f;
      std::memcpy(&f, p, 4);
      return f;
    }
  }
}

// Limits y to lo..hi (NaN to lo) and truncates toward zero.
int32_t limit(double y, double lo, double hi)
{
  if (!(y >= lo)) return int32_t(lo);
  if (y > hi) return int32_t(hi);
  return int32_t(y);
}

void put24(BYTE *p, int32_t v)
{
  p[0] = BYTE(v);
  p[1] = BYTE(v >> 8);
  p[2] = BYTE(v >> 16);
}

void store_engine(BYTE *p, int b, double y)
{
  switch (b) {
    case 1: p[0] = BYTE(limit(y * 127.0 + 128.0, 0, 255)); break;
    case 2: {
      int32_t v = limit(y, -32768, 32767);
      p[0] = BYTE(v);
      p[1] = BYTE(v >> 8);
      break;
    }
    case 3: put24(p, limit(y, -8388608, 8388607)); break;
    default: {
      float f = float(y);
      std::memcpy(p, &f, 4);
    }
  }
}

// The sample-depth converter's scale: every width in +-1.
double read_depth(const BYTE *p, int b)
{
  double x = read_engine(p, b);
  if (b == 2) return x / 32767.0;
  if (b == 3) return x / 8388607.0;
  return x;
}

void store_depth(BYTE *p, int b, double v)
{
  switch (b) {
    case 1: p[0] = BYTE(limit(v * 127.0 + 128.0, 0, 255)); break;
    case 2: store_engine(p, 2, v * 32767.0); break;
    case 3: store_engine(p, 3, v * 8388607.0); break;
    default: {
      float f = float(std::isnan(v) ? v : std::clamp(v, -1.0, 1.0));
      std::memcpy(p, &f, 4);
    }
  }
}

// One output frame of the windowed sinc, in the precision Real: the sines
// and cosines of the fractional offset once, each tap's by the angle-sum
// rules from the tables.
template <class Real>
void taps(Real d, Real s, Real c, Real threshold, int T, const float *sinT, const float *cosT, const float *wsinT,
          const float *wcosT, Real *w)
{
  const Real pi = Real(kPi), invS = Real(1) / s;
  const Real pd = pi * d * invS, wd = pd / Real(c);
  // The window's angle is the kernel's over c, a whole number: one sine
  // and cosine, then the kernel's by raising (cos + i sin) to the c-th power.
  const Real swd = std::sin(wd), cwd = std::cos(wd);
  Real sd = 0, cd = 1, bs = swd, bc = cwd;
  for (int n = int(c); n > 0; n >>= 1) {
    if (n & 1) {
      Real t = cd * bc - sd * bs;
      sd = sd * bc + cd * bs;
      cd = t;
    }
    Real t = bc * bc - bs * bs;
    bs = 2 * bs * bc;
    bc = t;
  }
  for (int k = 0; k < T; k++) {
    Real a = pd + pi * Real(k) * invS;  // pi x / s
    Real sinA = sd * Real(cosT[k]) + cd * Real(sinT[k]);
    Real series = (Real(1) - a * a / Real(6)) * invS;
    // Both forms, then a choice, with the divisor chosen first: the loop
    // vectorises without a branch, and never divides by zero.
    const Real small = Real(std::fabs(a) < threshold);
    Real quotient = sinA * invS / (a + small * (Real(1) - a));
    Real h = quotient + small * (series - quotient);
    Real win = Real(0.5) + cwd * Real(wcosT[k]) - swd * Real(wsinT[k]);
    w[k] = h * win;
  }
}

}  // namespace

ResampleEngine::ResampleEngine(const WAVEFORMATEX *in, const WAVEFORMATEX *out, int inBytes, int)
  : m_in(in), m_out(out), m_b(inBytes)
{
}

ResampleEngine::~ResampleEngine() = default;

void ResampleEngine::FreeBuffers()
{
  for (auto *v : {&m_sin, &m_cos, &m_wsin, &m_wcos, &m_fin, &m_wf}) std::vector<float>().swap(*v);
  std::vector<long double>().swap(m_wl);
  std::vector<BYTE>().swap(m_rawOut);
  std::vector<float>().swap(m_cache);
  std::vector<uint32_t>().swap(m_cacheKey);
  std::vector<uint32_t>().swap(m_cacheAt);
  m_rawOutFrames = m_cacheUsed = m_stride = 0;
}

HRESULT ResampleEngine::Initialise()
{
  FreeBuffers();
  m_ch = m_in->nChannels;
  m_Ri = m_in->nSamplesPerSec;
  m_Ro = m_out->nSamplesPerSec;
  if (m_ch < 1 || m_ch > int(MIRROW_MAX_CHANNELS) || m_Ri <= 0 || m_Ro <= 0 || m_b < 1 || m_b > 4) return E_UNEXPECTED;
  m_ratio = m_Ro / m_Ri;
  m_c = std::clamp(m_half, 1, MIRROW_MAX_HALF_LENGTH);
  if (m_Ro > 10 * m_Ri) m_c *= 2;
  double e = m_ratio <= 1 ? m_Ri / m_Ro : 1.0;
  m_s = 1.2 * e;
  m_span = 2 * m_c * m_s;
  m_T = int(std::floor(m_span));
  m_U = uint32_t(m_Ro * 1024 / m_Ri * 1.1);
  size_t history = size_t(2 * (m_T / 2) + 1025);
  try {
    m_fin.assign(size_t(double(m_ch) * double(history) * 1.1), 0.0f);
    m_rawOut.assign(size_t(double(m_b) * m_U * m_ch * 1.1), 0);
    for (auto *v : {&m_sin, &m_cos, &m_wsin, &m_wcos}) v->resize(size_t(m_T));
    m_stride = uint32_t(m_T) * (m_ch == 2 ? 2 : 1);
    m_wf.resize(size_t(kBatch) * m_stride);
    m_wl.resize(size_t(m_T));
    // Room for twice the offsets one period holds: a long stream's positions
    // round to neighbouring offsets now and then.
    const uint64_t period = uint64_t(m_out->nSamplesPerSec) / std::gcd(m_in->nSamplesPerSec, m_out->nSamplesPerSec);
    if (2 * period * m_stride <= MIRROW_WEIGHT_CACHE_FLOATS) {
      m_cache.resize(size_t(2 * period * m_stride));
      m_cacheKey.assign(std::bit_ceil(size_t(4 * period)), kNoKey);
      m_cacheAt.resize(m_cacheKey.size());
    }
  } catch (const std::bad_alloc &) {
    FreeBuffers();
    return E_OUTOFMEMORY;
  }
  for (int k = 0; k < m_T; k++) {
    m_sin[k] = float(std::sin(kPi * k / m_s));
    m_cos[k] = float(std::cos(kPi * k / m_s));
    m_wsin[k] = float(0.5 * std::sin(kPi * k / (m_s * m_c)));
    m_wcos[k] = float(0.5 * std::cos(kPi * k / (m_s * m_c)));
  }
  m_rawOutFrames = uint32_t(m_rawOut.size() / size_t(m_b * m_ch));
  m_next = m_delivered = m_first = m_count = 0;
  m_started = false;
  return S_OK;
}

// Keeps the buffered frames from the next output frame's first tap on, and
// appends the chunk; the stream's first chunk comes after silence.
void ResampleEngine::Stage(const BYTE *chunk, uint32_t frames)
{
  const int64_t f = ceil64(Position(m_next) - m_span / 2);
  const int64_t capacity = int64_t(m_fin.size()) / m_ch;
  if (!m_started) {
    m_started = true;
    m_first = std::min<int64_t>(f, 0);
    m_count = std::min(-m_first, capacity - int64_t(frames));
    std::fill_n(m_fin.begin(), size_t(m_count * m_ch), 0.0f);
  } else if (f > m_first) {
    int64_t drop = std::min(f - m_first, m_count);
    std::copy(m_fin.begin() + drop * m_ch, m_fin.begin() + m_count * m_ch, m_fin.begin());
    m_first += drop;
    m_count -= drop;
  }
  // The history never outgrows its room; should it, the oldest frames go.
  int64_t over = m_count + int64_t(frames) - capacity;
  if (over > 0) {
    std::copy(m_fin.begin() + over * m_ch, m_fin.begin() + m_count * m_ch, m_fin.begin());
    m_first += over;
    m_count -= over;
  }
  float *dst = m_fin.data() + m_count * m_ch;
  const uint32_t samples = frames * uint32_t(m_ch);
  if (m_b == 2)  // the common width, without the choice per sample
    for (uint32_t i = 0; i < samples; i++) dst[i] = float(int16_t(uint16_t(chunk[2 * i] | chunk[2 * i + 1] << 8)));
  else
    for (uint32_t i = 0; i < samples; i++) dst[i] = float(read_engine(chunk + size_t(i) * m_b, m_b));
  m_count += frames;
}

bool ResampleEngine::NextReady(double t) const
{
  if (floor64(t + m_span / 2) <= m_first + m_count - 1) return true;
  return ceil64(t - m_span / 2) < 0;  // before the stream: silence stands in
}

inline void ResampleEngine::StoreFrame(const double *acc)
{
  BYTE *p = m_rawOut.data() + size_t(m_staged) * m_b * m_ch;
  if (m_b == 2)
    for (int ch = 0; ch < m_ch; ch++) {
      const int32_t v = limit(acc[ch], -32768, 32767);
      p[2 * ch] = BYTE(v);
      p[2 * ch + 1] = BYTE(v >> 8);
    }
  else
    for (int ch = 0; ch < m_ch; ch++) store_engine(p + ch * m_b, m_b, acc[ch]);
  m_staged++;
}

void ResampleEngine::Process(const BYTE *input, uint32_t frames, BYTE *output, uint32_t maxOut, uint32_t *written)
{
  *written = 0;
  if (m_rawOut.empty()) return;
  const size_t frameBytes = size_t(m_b) * m_ch;
  while (frames > 0) {
    uint32_t n = std::min(frames, BlockSize());
    Stage(input, n);
    uint32_t got = 0;
    ProcessBlock(&got);
    uint32_t keep = std::min(got, maxOut - *written);
    std::memcpy(output + size_t(*written) * frameBytes, m_rawOut.data(), keep * frameBytes);
    *written += keep;
    m_delivered += keep;
    input += n * frameBytes;
    frames -= n;
  }
}

// Output frames while the next one's taps have arrived, n rising by one
// each; frames beyond the staging room are dropped uncounted.
template <class Batch>
void ResampleEngine::Walk(uint32_t *written, Batch batch)
{
  m_staged = 0;
  TapRun runs[kBatch];
  double acc[kBatch][MIRROW_MAX_CHANNELS];
  int n = 0;
  auto flush = [&] {
    batch(runs, n, acc);
    for (int i = 0; i < n; i++) StoreFrame(acc[i]);
    n = 0;
  };
  for (double t = Position(m_next); NextReady(t); t = Position(m_next)) {
    const int64_t J = ceil64(t - m_span / 2);
    m_next++;
    if (m_staged + uint32_t(n) >= m_rawOutFrames) continue;
    const int64_t base = J - m_first;
    // Only frames before the stream's input arrives can reach past it.
    runs[n++] = TapRun{double(J) - t, m_fin.data() + base * m_ch, int(std::clamp<int64_t>(-base, 0, m_T)),
                       int(std::clamp<int64_t>(m_count - base, 0, m_T))};
    if (n == kBatch) flush();
  }
  if (n > 0) flush();
  *written = m_staged;
}

inline const float *ResampleEngine::SingleWeights(float d, float *scratch)
{
  uint32_t key;
  std::memcpy(&key, &d, sizeof key);
  uint32_t slot = 0;
  if (!m_cacheKey.empty()) {
    // Neighbouring offsets differ in their low bits: the product's top bits
    // spread them over the slots.
    const uint32_t mask = uint32_t(m_cacheKey.size()) - 1;
    for (slot = (key * 0x9E3779B1u) >> std::countl_zero(mask); m_cacheKey[slot] != kNoKey; slot = (slot + 1) & mask)
      if (m_cacheKey[slot] == key) return m_cache.data() + m_cacheAt[slot];
  }
  const bool keep = !m_cacheKey.empty() && (m_cacheUsed + 1) * size_t(m_stride) <= m_cache.size();
  float *w = keep ? m_cache.data() + size_t(m_cacheUsed) * m_stride : scratch;
  taps<float>(d, float(m_s), float(m_c), 0.01f, m_T, m_sin.data(), m_cos.data(), m_wsin.data(), m_wcos.data(), w);
  if (m_ch == 2)  // each weight twice, for the left and the right sample of a frame
    for (int k = m_T; k-- > 0;) w[2 * k] = w[2 * k + 1] = w[k];
  if (keep) {
    m_cacheKey[slot] = key;
    m_cacheAt[slot] = m_cacheUsed * m_stride;
    m_cacheUsed++;
  }
  return w;
}

namespace {

// Stereo sums in single precision. Lanes: left and right of the even taps,
// then of the odd ones; the two halves are added at the end.
void stereo_sum(const float *w, const float *x, int k0, int k1, double *acc)
{
  v4f sum = {0, 0, 0, 0};
  int k = k0;
  for (; k + 1 < k1; k += 2) sum += load4(w + 2 * k) * load4(x + 2 * k);
  float l0 = sum[0], r0 = sum[1];
  if (k < k1) {
    l0 += w[2 * k] * x[2 * k];
    r0 += w[2 * k + 1] * x[2 * k + 1];
  }
  acc[0] = double(l0 + sum[2]);
  acc[1] = double(r0 + sum[3]);
}

// Four frames of full taps at once: each frame's sum is the one
// stereo_sum makes, in the same order, but the four run side by side
// instead of each waiting on its own previous add.
void stereo_sum4(const float *const *w, const float *const *x, int T, double (*acc)[MIRROW_MAX_CHANNELS])
{
  v4f s0 = {0, 0, 0, 0}, s1 = s0, s2 = s0, s3 = s0;
  int k = 0;
  for (; k + 1 < T; k += 2) {
    s0 += load4(w[0] + 2 * k) * load4(x[0] + 2 * k);
    s1 += load4(w[1] + 2 * k) * load4(x[1] + 2 * k);
    s2 += load4(w[2] + 2 * k) * load4(x[2] + 2 * k);
    s3 += load4(w[3] + 2 * k) * load4(x[3] + 2 * k);
  }
  const v4f sums[4] = {s0, s1, s2, s3};
  for (int i = 0; i < 4; i++) {
    float l0 = sums[i][0], r0 = sums[i][1];
    if (k < T) {
      l0 += w[i][2 * k] * x[i][2 * k];
      r0 += w[i][2 * k + 1] * x[i][2 * k + 1];
    }
    acc[i][0] = double(l0 + sums[i][2]);
    acc[i][1] = double(r0 + sums[i][3]);
  }
}

}  // namespace

void ResampleEngineSse2::ProcessBlock(uint32_t *written)
{
  Walk(written, [this](const TapRun *runs, int n, double (*acc)[MIRROW_MAX_CHANNELS]) {
    const float *w[kBatch], *x[kBatch];
    bool full = n == kBatch && m_ch == 2;
    for (int i = 0; i < n; i++) {
      w[i] = SingleWeights(float(runs[i].d), m_wf.data() + size_t(i) * m_stride);
      x[i] = runs[i].x;
      full = full && runs[i].k0 == 0 && runs[i].k1 == m_T;
    }
    if (full) return stereo_sum4(w, x, m_T, acc);
    for (int i = 0; i < n; i++) {
      if (m_ch == 2) {
        stereo_sum(w[i], x[i], runs[i].k0, runs[i].k1, acc[i]);
        continue;
      }
      for (int ch = 0; ch < m_ch; ch++) {
        float sum = 0;
        for (int k = runs[i].k0; k < runs[i].k1; k++) sum += w[i][k] * x[i][k * m_ch + ch];
        acc[i][ch] = double(sum);
      }
    }
  });
}

void ResampleEngineFpu::ProcessBlock(uint32_t *written)
{
  Walk(written, [this](const TapRun *runs, int n, double (*acc)[MIRROW_MAX_CHANNELS]) {
    for (int i = 0; i < n; i++) Extended(runs[i], acc[i]);
  });
}

// One frame in extended precision.
void ResampleEngineFpu::Extended(const TapRun &run, double *acc)
{
  long double *w = m_wl.data();
  const float *x = run.x;
  taps<long double>((long double)run.d, (long double)m_s, (long double)m_c, 0.001L, m_T, m_sin.data(), m_cos.data(),
                    m_wsin.data(), m_wcos.data(), w);
  if (m_ch == 2) {
    // Two sums a channel, so that the adds do not wait on each other.
    long double l0 = 0, r0 = 0, l1 = 0, r1 = 0;
    int k = run.k0;
    for (; k + 1 < run.k1; k += 2) {
      l0 += w[k] * (long double)x[2 * k];
      r0 += w[k] * (long double)x[2 * k + 1];
      l1 += w[k + 1] * (long double)x[2 * k + 2];
      r1 += w[k + 1] * (long double)x[2 * k + 3];
    }
    if (k < run.k1) {
      l0 += w[k] * (long double)x[2 * k];
      r0 += w[k] * (long double)x[2 * k + 1];
    }
    acc[0] = double(l0 + l1);
    acc[1] = double(r0 + r1);
    return;
  }
  for (int ch = 0; ch < m_ch; ch++) {
    long double sum = 0;
    for (int k = run.k0; k < run.k1; k++) sum += w[k] * (long double)x[k * m_ch + ch];
    acc[ch] = double(sum);
  }
}

ResampleEngine *resample_engine_new(const WAVEFORMATEX *in, const WAVEFORMATEX *out, int inBytes, int outBytes)
{
  if (__builtin_cpu_supports("sse2")) return new (std::nothrow) ResampleEngineSse2(in, out, inBytes, outBytes);
  return new (std::nothrow) ResampleEngineFpu(in, out, inBytes, outBytes);
}

void mirrow_mix_to_mono(const BYTE *input, uint32_t frames, BYTE *output, int b)
{
  for (uint32_t i = 0; i < frames; i++) {
    const BYTE *p = input + size_t(i) * 2 * b;
    store_engine(output + size_t(i) * b, b, 0.5 * read_engine(p, b) + 0.5 * read_engine(p + b, b));
  }
}

void mirrow_duplicate_to_stereo(BYTE *buffer, uint32_t frames, int b)
{
  for (uint32_t i = frames; i-- > 0;) {
    BYTE sample[4];
    std::memcpy(sample, buffer + size_t(i) * b, size_t(b));
    std::memcpy(buffer + (2 * size_t(i) + 1) * b, sample, size_t(b));
    std::memcpy(buffer + 2 * size_t(i) * b, sample, size_t(b));
  }
}

void mirrow_convert_depth(BYTE *buffer, uint32_t samples, int inBytes, int outBytes)
{
  if (inBytes == outBytes) return;
  auto one = [&](uint32_t i) {
    double v = read_depth(buffer + size_t(i) * inBytes, inBytes);
    store_depth(buffer + size_t(i) * outBytes, outBytes, v);
  };
  if (outBytes < inBytes)
    for (uint32_t i = 0; i < samples; i++) one(i);
  else
    for (uint32_t i = samples; i-- > 0;) one(i);
}
