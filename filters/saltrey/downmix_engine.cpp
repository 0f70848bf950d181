// The downmix matrix and the two-pass mixer.
#include "downmix_engine.h"

#include <cmath>
#include <cstring>

namespace {

// -100 dB stands for muted.
float db_gain(double db)
{
  return db == -100 ? 0.0f : float(std::pow(10.0, db / 20));
}

}  // namespace

double downmix_level_gain(int code)
{
  switch (code) {
    case 1: return 1.0;
    case 2: return std::pow(10.0, -3.0 / 20);
    case 3: return std::pow(10.0, -4.4 / 20);
    case 4: return std::pow(10.0, -6.0 / 20);
    default: return 0.0;
  }
}

double downmix_index_gain(int index)
{
  if (index < 1 || index > 255) return 0.0;
  int i = index - 1;
  return i < 200 ? std::pow(2.0, -i / 30.0) : std::pow(2.0, -(i - 100) / 15.0);
}

uint32_t downmix_default_mask(int channels)
{
  switch (channels) {
    case 1: return 0x4;
    case 2: return 0x3;
    case 3: return 0x7;
    case 4: return 0x33;
    case 5: return 0x37;
    default: return channels > 5 ? 0x3F : 0;
  }
}

void downmix_present_from_mask(uint32_t mask, int channels, DownmixMatrix *m)
{
  if (mask == 0) mask = downmix_default_mask(channels);
  for (int k = 0; k < DM_CHANNELS; k++) m->present[k] = (mask >> k) & 1;
}

void downmix_build_matrix(const DownmixSettings *s, DownmixMatrix *m)
{
  auto rows = [m](const float (&l)[DM_CHANNELS], const float (&r)[DM_CHANNELS], bool ltrt) {
    for (int k = 0; k < DM_CHANNELS; k++) {
      m->left_gain[k] = l[k];
      m->right_gain[k] = r[k];
      m->left_sign[k] = 1;
      m->right_sign[k] = ltrt && (k == DM_BL || k == DM_BR) ? -1 : 1;
    }
  };
  switch (s->method) {
    case DM_METHOD_LORO: {
      float c = float(downmix_level_gain(s->loro_center)), su = float(downmix_level_gain(s->loro_surround)),
            l = float(downmix_level_gain(s->loro_lfe));
      rows({1, 0, c, l, su, 0}, {0, 1, c, l, 0, su}, false);
      break;
    }
    case DM_METHOD_LTRT: {
      float c = float(downmix_level_gain(s->ltrt_center)), su = float(downmix_level_gain(s->ltrt_surround)),
            l = float(downmix_level_gain(s->ltrt_lfe));
      rows({1, 0, c, l, su, su}, {0, 1, c, l, su, su}, true);
      break;
    }
    case DM_METHOD_CUSTOM: {
      // Phase flags run L, R, C, SL, SR, LFE; columns FL, FR, FC, LFE, BL, BR.
      static const int phase_of[DM_CHANNELS] = {0, 1, 2, 5, 3, 4};
      for (int k = 0; k < DM_CHANNELS; k++) {
        m->left_gain[k] = float(downmix_index_gain(s->left_gain[k]));
        m->right_gain[k] = float(downmix_index_gain(s->right_gain[k]));
        m->left_sign[k] = s->left_phase[phase_of[k]] ? -1 : 1;
        m->right_sign[k] = s->right_phase[phase_of[k]] ? -1 : 1;
      }
      break;
    }
    default:
      break;  // None: the last matrix stays
  }
}

DownmixMixer::DownmixMixer(const WAVEFORMATEX &in, const WAVEFORMATEX &)
  : m_inChannels(in.nChannels), m_bytes((in.wBitsPerSample + 7) / 8)
{
  const float l[DM_CHANNELS] = {1, 0, db_gain(-3), db_gain(-100), db_gain(-3), db_gain(-100)};
  const float r[DM_CHANNELS] = {0, 1, db_gain(-3), db_gain(-100), db_gain(-100), db_gain(-3)};
  for (int k = 0; k < DM_CHANNELS; k++) {
    m_m.left_gain[k] = l[k];
    m_m.right_gain[k] = r[k];
    m_m.left_sign[k] = m_m.right_sign[k] = 1;
    m_m.present[k] = 0;
  }
}

void DownmixMixer::SetMatrix(const DownmixMatrix &m)
{
  auto gain = [](float g) { return g >= 0 ? (g > 1 ? 1.0f : g) : 0.0f; };  // NaN fails >= 0
  auto sign = [](int s) { return s == -1 ? -1 : 1; };
  for (int k = 0; k < DM_CHANNELS; k++) {
    m_m.left_gain[k] = gain(m.left_gain[k]);
    m_m.right_gain[k] = gain(m.right_gain[k]);
    m_m.left_sign[k] = sign(m.left_sign[k]);
    m_m.right_sign[k] = sign(m.right_sign[k]);
    m_m.present[k] = m.present[k] == 1 ? 1 : 0;
  }
}

long double DownmixMixer::Read(const BYTE *p) const
{
  switch (m_bytes) {
    case 1: return (static_cast<long double>(p[0]) - 128) * (1.0L / 127);
    case 2: return int16_t(uint16_t(p[0] | p[1] << 8));
    case 3: {
      int32_t v = int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24) >> 8;
      return v;
    }
    default: {
      float f;
      std::memcpy(&f, p, sizeof f);
      return f;
    }
  }
}

void DownmixMixer::Write(BYTE *p, long double v) const
{
  auto clamp = [](long double x, long double lo, long double hi) { return x < lo ? lo : x > hi ? hi : x; };
  switch (m_bytes) {
    case 1: p[0] = BYTE(int(clamp(v * 127 + 128, 0, 255))); break;
    case 2: {
      auto x = int16_t(clamp(v, -32768, 32767));
      p[0] = BYTE(x);
      p[1] = BYTE(uint16_t(x) >> 8);
      break;
    }
    case 3: {
      auto x = int32_t(clamp(v, -8388608, 8388607));
      p[0] = BYTE(x);
      p[1] = BYTE(x >> 8);
      p[2] = BYTE(x >> 16);
      break;
    }
    default: {
      float f = float(v);
      std::memcpy(p, &f, sizeof f);
      break;
    }
  }
}

void DownmixMixer::Pass(const BYTE *in, size_t frames, BYTE *out, const float *gain, const int *sign) const
{
  size_t stride = size_t(m_inChannels) * size_t(m_bytes);
  for (size_t f = 0; f < frames; f++, in += stride, out += 2 * size_t(m_bytes)) {
    long double sum = 0;
    int taken = 0;
    // Present channels take the frame's samples in mask order; a mask with
    // more channels than the frame has reads no further than the frame.
    for (int k = 0; k < DM_CHANNELS && taken < m_inChannels; k++) {
      if (!m_m.present[k]) continue;
      sum += Read(in + size_t(taken) * size_t(m_bytes)) * sign[k] * gain[k];
      taken++;
    }
    Write(out, sum);
  }
}

void DownmixMixer::Mix(const BYTE *in, size_t frames, BYTE *out) const
{
  if (m_inChannels <= 0 || m_bytes < 1 || m_bytes > 4) return;
  Pass(in, frames, out, m_m.left_gain, m_m.left_sign);
  Pass(in, frames, out + m_bytes, m_m.right_gain, m_m.right_sign);
}
