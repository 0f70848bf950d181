// Wave-format records: plain and extensible, PCM and float.
#include "mirrow_wave.h"

#include <algorithm>
#include <cstring>

namespace {

bool on_base_guid(const GUID &g, uint16_t tag)
{
  GUID base = KSDATAFORMAT_SUBTYPE_PCM;
  base.Data1 = tag;
  return g == base;
}

}  // namespace

DWORD wave_default_mask(int channels)
{
  static const DWORD masks[] = {0x1, 0x3, 0x7, 0x33, 0x37, 0x3F, 0x13F, 0x63F};
  return channels >= 1 && channels <= 8 ? masks[channels - 1] : 0x80000000u;
}

void wave_set_pcm(WaveFormat &w, DWORD rate, int bits, int channels)
{
  w.Format.wFormatTag = WAVE_FORMAT_PCM;
  w.Format.nChannels = WORD(channels);
  w.Format.nSamplesPerSec = rate;
  w.Format.wBitsPerSample = WORD(bits);
  w.Format.nBlockAlign = WORD(channels * ((bits + 7) / 8));
  w.Format.nAvgBytesPerSec = rate * w.Format.nBlockAlign;
  w.Format.cbSize = 0;
}

void wave_set_float(WaveFormat &w, DWORD rate, int bits, int channels)
{
  wave_set_pcm(w, rate, bits, channels);
  w.Format.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
}

bool wave_set_extensible(WaveFormat &w, DWORD rate, int bits, int channels, int valid, DWORD mask, bool isFloat)
{
  if (valid == 0) {
    valid = bits;
    if (!isFloat) bits = (bits + 7) / 8 * 8;
  }
  if (bits < valid) return false;
  wave_set_pcm(w, rate, bits, channels);
  w.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  w.Format.cbSize = 22;
  w.Samples.wValidBitsPerSample = WORD(valid);
  w.dwChannelMask = mask ? mask : wave_default_mask(channels);
  w.SubFormat = isFloat ? KSDATAFORMAT_SUBTYPE_IEEE_FLOAT : KSDATAFORMAT_SUBTYPE_PCM;
  return true;
}

bool wave_is_pcm(const WaveFormat &w)
{
  return w.Format.wFormatTag == WAVE_FORMAT_PCM ||
         (w.Format.wFormatTag == WAVE_FORMAT_EXTENSIBLE && on_base_guid(w.SubFormat, WAVE_FORMAT_PCM));
}

bool wave_is_float(const WaveFormat &w)
{
  return w.Format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT ||
         (w.Format.wFormatTag == WAVE_FORMAT_EXTENSIBLE && on_base_guid(w.SubFormat, WAVE_FORMAT_IEEE_FLOAT));
}

bool wave_set(WaveFormat &w, DWORD rate, int bits, int channels)
{
  if (!rate) rate = w.Format.nSamplesPerSec;
  if (!bits) bits = w.Format.wBitsPerSample;
  if (!channels) channels = w.Format.nChannels;
  if (w.Format.wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
    DWORD mask = channels == w.Format.nChannels ? w.dwChannelMask : 0;
    return wave_set_extensible(w, rate, bits, channels, 0, mask, wave_is_float(w));
  }
  if (w.Format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT) {
    if (bits != 32 && bits != 64) return false;
    wave_set_float(w, rate, bits, channels);
    return true;
  }
  wave_set_pcm(w, rate, bits, channels);
  return true;
}

bool wave_set_width(WaveFormat &w, DWORD rate, int bits, int channels)
{
  const bool want_float = (bits ? bits : w.Format.wBitsPerSample) >= 32;
  if (want_float != wave_is_float(w)) {
    if (w.Format.wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
      w.SubFormat = want_float ? KSDATAFORMAT_SUBTYPE_IEEE_FLOAT : KSDATAFORMAT_SUBTYPE_PCM;
    } else {
      w.Format.wFormatTag = want_float ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM;
      if (want_float && bits != 64) bits = 32;
    }
  }
  return wave_set(w, rate, bits, channels);
}

void wave_copy(WaveFormat &w, const BYTE *block, ULONG length)
{
  std::memset(&w, 0, sizeof w);
  if (length < 2) return;
  uint16_t tag = uint16_t(block[0] | block[1] << 8);
  size_t n = 18;
  if (tag == WAVE_FORMAT_PCM || tag == 0) n = 16;
  if (tag == WAVE_FORMAT_EXTENSIBLE && length >= 18 && (block[16] | block[17] << 8) == 22) n = 40;
  std::memcpy(&w, block, std::min<size_t>(n, length));
}
