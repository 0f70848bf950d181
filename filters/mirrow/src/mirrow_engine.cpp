// The resample engine's staging, positions and windowed-sinc taps in two
// precisions, and the channel and sample-depth converters.
#include <mirrow/mirrow_engine.h>
#include <mirrow/mirrow_limits.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace {

constexpr double kPi = 3.14159265358979323846;

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
  m_rawOutFrames = 0;
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
    for (auto *v : {&m_sin, &m_cos, &m_wsin, &m_wcos, &m_wf}) v->resize(size_t(m_T));
    m_wl.resize(size_t(m_T));
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
  for (uint32_t i = 0; i < frames * uint32_t(m_ch); i++) dst[i] = float(read_engine(chunk + size_t(i) * m_b, m_b));
  m_count += frames;
}

bool ResampleEngine::NextReady(double t) const
{
  if (floor64(t + m_span / 2) <= m_first + m_count - 1) return true;
  return ceil64(t - m_span / 2) < 0;  // before the stream: silence stands in
}

void ResampleEngine::StoreFrame(const double *acc)
{
  BYTE *p = m_rawOut.data() + size_t(m_staged) * m_b * m_ch;
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

template <>
std::vector<float> &ResampleEngine::Weights<float>()
{
  return m_wf;
}

template <>
std::vector<long double> &ResampleEngine::Weights<long double>()
{
  return m_wl;
}

// Output frames while the next one's taps have arrived, n rising by one
// each; frames beyond the staging room are dropped uncounted.
template <class Real>
void ResampleEngine::Produce(Real threshold, uint32_t *written)
{
  *written = 0;
  m_staged = 0;
  std::vector<Real> &w = Weights<Real>();
  double acc[MIRROW_MAX_CHANNELS];
  for (double t = Position(m_next); NextReady(t); t = Position(m_next)) {
    const int64_t J = ceil64(t - m_span / 2);
    m_next++;
    if (m_staged >= m_rawOutFrames) continue;
    taps<Real>(Real(double(J) - t), Real(m_s), Real(m_c), threshold, m_T, m_sin.data(), m_cos.data(), m_wsin.data(),
               m_wcos.data(), w.data());
    const int64_t base = J - m_first;
    // Only frames before the stream's input arrives can reach past it.
    const int k0 = int(std::clamp<int64_t>(-base, 0, m_T));
    const int k1 = int(std::clamp<int64_t>(m_count - base, 0, m_T));
    const float *x = m_fin.data() + base * m_ch;
    if (m_ch == 2) {
      // Two sums a channel, so that the adds do not wait on each other.
      Real l0 = 0, r0 = 0, l1 = 0, r1 = 0;
      int k = k0;
      for (; k + 1 < k1; k += 2) {
        l0 += w[k] * Real(x[2 * k]);
        r0 += w[k] * Real(x[2 * k + 1]);
        l1 += w[k + 1] * Real(x[2 * k + 2]);
        r1 += w[k + 1] * Real(x[2 * k + 3]);
      }
      if (k < k1) {
        l0 += w[k] * Real(x[2 * k]);
        r0 += w[k] * Real(x[2 * k + 1]);
      }
      acc[0] = double(l0 + l1);
      acc[1] = double(r0 + r1);
    } else {
      for (int ch = 0; ch < m_ch; ch++) {
        Real sum = 0;
        for (int k = k0; k < k1; k++) sum += w[k] * Real(x[k * m_ch + ch]);
        acc[ch] = double(sum);
      }
    }
    StoreFrame(acc);
  }
  *written = m_staged;
}

void ResampleEngineSse2::ProcessBlock(uint32_t *written)
{
  Produce<float>(0.01f, written);
}

void ResampleEngineFpu::ProcessBlock(uint32_t *written)
{
  Produce<long double>(0.001L, written);
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
