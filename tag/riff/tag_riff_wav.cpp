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

constexpr uint16_t kFormatPcm = 1, kFormatMsAdpcm = 2, kFormatFloat = 3, kFormatImaAdpcm = 17;
constexpr uint16_t kFormatExtensible = 0xFFFE;
constexpr uint16_t kExtensibleExtraMin = 22;  // cbSize of a full WAVEFORMATEXTENSIBLE

// The two bytes after cbSize: the valid bits of an extensible format, the
// samples per block of ADPCM.
bool fmt_extra_parse(riff::cursor &c, const riff::chunk &ch, uint16_t extra, wav_info *info, uint32_t *used)
{
  bool extensible = info->format_tag == kFormatExtensible && extra >= kExtensibleExtraMin;
  bool adpcm = (info->format_tag == kFormatMsAdpcm || info->format_tag == kFormatImaAdpcm) && extra >= 2;
  if (!extensible && !adpcm) return true;
  unsigned char v[2];
  // An ADPCM format cut short is timed by its byte rate.
  if (ch.size < 20 || !c.read(v, sizeof v)) return adpcm;
  *used += 2;
  if (adpcm) info->samples_per_block = le16(v);
  // With 0 bits per sample the field holds samples per block instead.
  else if (info->bits_per_sample) info->bits_per_sample = le16(v);
  return true;
}

// The "fmt " body: the 14 bytes every format has, bits per sample and cbSize
// where the chunk holds them, and what follows cbSize where it is known.
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
  info->block_align = le16(b + 12);
  if (n >= 16) info->bits_per_sample = le16(b + 14);
  uint32_t used = n;
  if (n >= 18 && !fmt_extra_parse(c, ch, le16(b + 16), info, &used)) return false;
  return c.skip(std::min(ch.padded() - used, c.left()));
}

bool fact_parse(riff::cursor &c, const riff::chunk &ch, wav_info *info)
{
  unsigned char b[4];
  if (ch.size < 4) return c.skip(std::min(ch.padded(), c.left()));
  if (!c.read(b, sizeof b)) return false;
  info->fact_samples = le32(b);
  return c.skip(std::min(ch.padded() - 4, c.left()));
}

// Formats whose data size gives the time exactly; the others say theirs in
// "fact".
bool uncompressed(uint16_t format_tag)
{
  return format_tag == kFormatPcm || format_tag == kFormatFloat || format_tag == kFormatExtensible;
}

// The chunk walk of wav_info_parse; *stopped tells a walk that ran out of
// read budget with the file going on.
int wav_parse(wav_info *info, int file, bool *stopped)
{
  *info = wav_info{};
  *stopped = false;
  riff::cursor c;
  riff::chunk ch;
  if (!c.start(file, TAG_RIFF_READ_MAX) || !riff::chunk_read(c, &ch) || !ch.is("RIFF") || !riff::id_read(c, "WAVE"))
    return 0;
  bool fmt = false, data = false;
  while (riff::chunk_read(c, &ch)) {
    if (ch.is("fmt ")) {
      if (!fmt_parse(c, ch, info)) return 0;
      fmt = true;
    } else if (ch.is("fact")) {
      if (!fact_parse(c, ch, info)) return 0;
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
  *stopped = c.budget < 8 && c.left() >= 8;
  return 0;
}

int wav_properties_add(const wav_info &w, const char *mime, sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  auto add = [&](const char *name, uint32_t v) { return !v || tag_uint_property_add(name, v, names, values); };
  if (!add(TAG_NAME(RES_NR_AUDIO_CHANNELS), w.channels) || !add(TAG_NAME(RES_SAMPLE_FREQUENCY), w.sample_rate) ||
      !add(TAG_NAME(RES_BITRATE), w.bytes_per_second) || !add(TAG_NAME(RES_BITS_PER_SAMPLE), w.bits_per_sample))
    return 0;
  uint64_t ms = wav_info_duration_ms(&w);
  if (ms && !riff::duration_add(ms, names, values)) return 0;
  return tag_protocol_info_no_profile(mime, names, values);
}

}  // namespace

extern "C" {

int wav_info_parse(wav_info *info, int file)
{
  bool stopped;
  return wav_parse(info, file, &stopped);
}

uint64_t wav_info_duration_ms(const wav_info *info)
{
  if (!uncompressed(info->format_tag) && info->fact_samples && info->sample_rate)
    return uint64_t(info->fact_samples) * 1000 / info->sample_rate;
  // ADPCM headers often state a byte rate that their blocks do not have:
  // the blocks' own rate is block_align bytes per samples_per_block.
  if (info->samples_per_block && info->block_align && info->sample_rate)
    return uint64_t(info->data_size) * 1000 * info->samples_per_block /
           (uint64_t(info->sample_rate) * info->block_align);
  return info->bytes_per_second ? uint64_t(info->data_size) * 1000 / info->bytes_per_second : 0;
}

// A walk stopped by the read budget keeps what it found, and the file its
// class.
int tag_wav_read(int file, const sys_file_stat_rec *, const char *mime, sys_ptralloc_rec *names,
                 sys_ptralloc_rec *values)
{
  wav_info w;
  bool stopped;
  if (!wav_parse(&w, file, &stopped) && !stopped) return 0;
  return wav_properties_add(w, mime, names, values);
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
