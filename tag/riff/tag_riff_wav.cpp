// WAV files: the format and data size from the RIFF WAVE chunks, and the
// readers of WAV and of raw 16-bit stereo PCM (audio/L16).
#include <tarvo_tag/tag_limits.h>
#include <tarvo_tag/tag_reader.h>
#include <tarvo_tag/tag_riff.h>
#include <tarvo_util/sys_alloc.h>

#include <algorithm>

#include "tag_riff_impl.h"

namespace {

using riff::le16;
using riff::le32;

constexpr uint16_t kFormatExtensible = 0xFFFE;
constexpr uint16_t kExtensibleExtraMin = 22;  // cbSize of a full WAVEFORMATEXTENSIBLE

// The "fmt " body: the 14 bytes every format has, bits per sample and cbSize
// where the chunk holds them, and the valid bits of an extensible format.
bool fmt_parse(riff::cursor &c, const riff::chunk &ch, wav_info *info)
{
  if (ch.size < 14) return false;
  unsigned char b[18];
  uint32_t n = std::min<uint32_t>(ch.size, sizeof b);
  if (!c.read(b, n)) return false;
  info->format_tag = le16(b);
  info->channels = le16(b + 2);
  info->sample_rate = le32(b + 4);
  info->bytes_per_second = le32(b + 8);
  if (n >= 16) info->bits_per_sample = le16(b + 14);
  uint32_t used = n;
  if (n >= 18 && info->format_tag == kFormatExtensible && le16(b + 16) >= kExtensibleExtraMin) {
    unsigned char v[2];
    if (ch.size < 20 || !c.read(v, sizeof v)) return false;
    used += 2;
    // With 0 bits per sample the field holds samples per block instead.
    if (info->bits_per_sample) info->bits_per_sample = le16(v);
  }
  return c.skip(std::min(ch.padded() - used, c.left()));
}

}  // namespace

extern "C" {

int wav_info_parse(wav_info *info, int file)
{
  *info = wav_info{};
  riff::cursor c;
  riff::chunk ch;
  if (!c.start(file, TAG_RIFF_READ_MAX) || !riff::chunk_read(c, &ch) || !ch.is("RIFF") || !riff::id_read(c, "WAVE"))
    return 0;
  bool fmt = false, data = false;
  while (riff::chunk_read(c, &ch)) {
    if (ch.is("fmt ")) {
      if (!fmt_parse(c, ch, info)) return 0;
      fmt = true;
    } else if (ch.is("data")) {
      // A file cut short (or written as a stream, with a size it never
      // reached) holds less audio than its header says.
      info->data_size = uint32_t(std::min<uint64_t>(ch.size, c.left()));
      data = true;
      if (fmt) return c.skip(std::min(ch.padded(), c.left()));
      if (!c.skip(ch.padded())) return 0;
    } else if (!c.skip(ch.padded())) {
      return 0;
    }
    if (fmt && data) return 1;
  }
  return 0;
}

int tag_wav_read(int file, const sys_file_stat_rec *, const char *mime, sys_ptralloc_rec *names,
                 sys_ptralloc_rec *values)
{
  wav_info w;
  if (!wav_info_parse(&w, file)) return 0;
  auto add = [&](const char *name, uint32_t v) { return !v || tag_uint_property_add(name, v, names, values); };
  if (!add(TAG_NAME(RES_NR_AUDIO_CHANNELS), w.channels) || !add(TAG_NAME(RES_SAMPLE_FREQUENCY), w.sample_rate) ||
      !add(TAG_NAME(RES_BITRATE), w.bytes_per_second) || !add(TAG_NAME(RES_BITS_PER_SAMPLE), w.bits_per_sample))
    return 0;
  if (w.data_size && w.bytes_per_second &&
      !riff::duration_add(uint64_t(w.data_size) * 1000 / w.bytes_per_second, names, values))
    return 0;
  return tag_protocol_info_no_profile(mime, names, values);
}

int tag_lpcm_read(int, const sys_file_stat_rec *st, const char *, sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  constexpr uint32_t kBytesPerSecond = 44100 * 2 * 2;
  return tag_uint_property_add(TAG_NAME(RES_NR_AUDIO_CHANNELS), 2, names, values) &&
         tag_uint_property_add(TAG_NAME(RES_SAMPLE_FREQUENCY), 44100, names, values) &&
         tag_uint_property_add(TAG_NAME(RES_BITS_PER_SAMPLE), 16, names, values) &&
         tag_uint_property_add(TAG_NAME(RES_BITRATE), kBytesPerSecond, names, values) &&
         riff::duration_add(st->size / kBytesPerSecond * 1000 + st->size % kBytesPerSecond * 1000 / kBytesPerSecond,
                            names, values) &&
         tag_protocol_info_flags("audio/L16;rate=44100;channels=2",
                                 "DLNA.ORG_PN=LPCM;DLNA.ORG_OP=11;DLNA.ORG_CI=0;DLNA.ORG_FLAGS=", names, values);
}

}  // extern "C"
