// The checks and the RIFF walk that every wave format passes through.
#include "wave_format.h"

#include "sys_limits.h"

#include <cstring>

namespace {

uint32_t le32(const BYTE *p)
{
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool is_pcm(const WAVEFORMATEX &w, const BYTE *format, size_t size)
{
  if (w.wFormatTag == WAVE_FORMAT_PCM) return true;
  if (w.wFormatTag != WAVE_FORMAT_EXTENSIBLE || size < sizeof(WAVEFORMATEXTENSIBLE)) return false;
  WAVEFORMATEXTENSIBLE x;
  std::memcpy(&x, format, sizeof x);
  return x.SubFormat.Data1 == WAVE_FORMAT_PCM && x.SubFormat.Data2 == 0x0000 && x.SubFormat.Data3 == 0x0010;
}

}  // namespace

int wave_format_valid(const BYTE *format, size_t size)
{
  if (!format || size < 16) return 0;
  WAVEFORMATEX w{};
  std::memcpy(&w, format, size < sizeof w ? size : sizeof w);
  if (size < sizeof w) w.cbSize = 0;  // a 16-byte PCM format has no extra part
  if (w.nChannels < 1 || w.nChannels > SYS_WAVE_MAX_CHANNELS) return 0;
  if (w.nSamplesPerSec < 1 || w.nSamplesPerSec > SYS_WAVE_MAX_RATE) return 0;
  if (w.nBlockAlign == 0) return 0;
  if (size >= sizeof w && w.cbSize > size - sizeof w) return 0;
  if (w.wFormatTag == WAVE_FORMAT_EXTENSIBLE && (size < sizeof(WAVEFORMATEXTENSIBLE) || w.cbSize < 22)) return 0;
  if (is_pcm(w, format, size)) {
    if (w.wBitsPerSample == 0 || w.wBitsPerSample > 32) return 0;
    if (w.nBlockAlign != w.nChannels * ((w.wBitsPerSample + 7) / 8)) return 0;
  } else if (w.nAvgBytesPerSec == 0) {
    return 0;  // no way to give a compressed stream times
  }
  return 1;
}

uint32_t wave_bytes_per_second(const WAVEFORMATEX *wfx)
{
  if (wfx->wFormatTag == WAVE_FORMAT_PCM || wfx->wFormatTag == WAVE_FORMAT_EXTENSIBLE)
    return wfx->nSamplesPerSec * wfx->nBlockAlign;
  return wfx->nAvgBytesPerSec;
}

int wave_file_parse(wave_read_fn read, void *ctx, uint64_t file_size, WaveFile *out)
{
  BYTE head[12];
  if (file_size < 12 || read(ctx, 0, head, 12) != 12) return 0;
  if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0) return 0;
  bool have_format = false;
  uint64_t at = 12, fact_frames = 0;
  for (int n = 0; n < SYS_WAVE_MAX_CHUNKS && at + 8 <= file_size; n++) {
    BYTE ch[8];
    if (read(ctx, at, ch, 8) != 8) return 0;
    uint64_t size = le32(ch + 4), body = at + 8;
    if (std::memcmp(ch, "fmt ", 4) == 0) {
      if (size < 16 || size > SYS_WAVE_MAX_FORMAT_BYTES || body + size > file_size) return 0;
      try {
        out->format.assign(size_t(size), 0);
      } catch (...) {
        return 0;
      }
      if (read(ctx, body, out->format.data(), size_t(size)) != long(size)) return 0;
      if (size < sizeof(WAVEFORMATEX)) out->format.resize(sizeof(WAVEFORMATEX), 0);  // cbSize 0
      have_format = true;
    } else if (std::memcmp(ch, "fact", 4) == 0 && size >= 4 && body + 4 <= file_size) {
      BYTE f[4];
      if (read(ctx, body, f, 4) != 4) return 0;
      fact_frames = le32(f);
    } else if (std::memcmp(ch, "data", 4) == 0) {
      if (!have_format) return 0;
      WAVEFORMATEX w;
      std::memcpy(&w, out->format.data(), sizeof w);
      // A data size beyond the file is what the file holds.
      uint64_t bytes = size < file_size - body ? size : file_size - body;
      // A compressed stream of no stated byte rate has it from its length
      // in frames.
      // ADPCM's byte rate follows from its samples per block, whatever the
      // header says.
      if ((w.wFormatTag == 2 || w.wFormatTag == 17) && w.cbSize >= 2 && out->format.size() >= sizeof w + 2) {
        uint32_t per_block = out->format[sizeof w] | uint32_t(out->format[sizeof w + 1]) << 8;
        if (per_block > 0) w.nAvgBytesPerSec = uint32_t(uint64_t(w.nSamplesPerSec) * w.nBlockAlign / per_block);
        std::memcpy(out->format.data(), &w, sizeof w);
      }
      if (w.nAvgBytesPerSec == 0 && fact_frames > 0 && w.wFormatTag != WAVE_FORMAT_PCM) {
        uint64_t rate = bytes * w.nSamplesPerSec / fact_frames;
        w.nAvgBytesPerSec = rate > 0 && rate <= UINT32_MAX ? uint32_t(rate) : 0;
        std::memcpy(out->format.data(), &w, sizeof w);
      }
      if (!wave_format_valid(out->format.data(), out->format.size())) return 0;
      out->data_start = body;
      out->data_bytes = bytes / w.nBlockAlign * w.nBlockAlign;
      return 1;
    }
    at = body + size + (size & 1);
  }
  return 0;
}
