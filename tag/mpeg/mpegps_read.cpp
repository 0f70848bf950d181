// The video/mpeg reader: transport streams go to their own reader, program
// streams become bit rate, duration, resolution, audio channels and a
// protocolInfo with the DLNA profile of the streams found.
#include <tarvo_tag/tag_reader.h>

#include <cstdio>

#include "mpegps_impl.h"

namespace {

constexpr uint32_t VCD_PACK_RATE = 3528;  // 1,411,200 bit/s in units of 50 bytes/s
constexpr uint32_t VCD_PACK_SIZE = 2324;
constexpr uint32_t VCD_VIDEO_RATE = 1152000;
constexpr uint32_t VCD_AUDIO_RATE = 224000;
constexpr uint32_t DVD_RATE_MAX = 10080000;
constexpr uint32_t AC3_RATE_ABOVE = 448000;  // the extended AC-3 profiles need more
constexpr uint64_t BITS_PER_BYTE_MS = 8000;  // bytes per ms to bit/s

bool vcd_video(const mpegps_video_slot &v)
{
  if (v.bit_rate != VCD_VIDEO_RATE || v.width != 352) return false;
  return (v.height == 288 && v.frame_rate == 25000) ||
         (v.height == 240 && (v.frame_rate == 29970 || v.frame_rate == 23976));
}

bool vcd_audio(const mpegps_audio_slot &a)
{
  return a.kind == MPEGPS_AUDIO_MPEG && a.layer == 2 && a.channels == 2 && a.sample_rate == 44100 &&
         a.bit_rate == VCD_AUDIO_RATE;
}

bool mpeg1_profile(const mpegps_info *info)
{
  if (info->variable_rate || info->pack_rate != VCD_PACK_RATE || info->pack_size != VCD_PACK_SIZE) return false;
  for (uint32_t i = 0; i < info->video_count; i++)
    if (!vcd_video(info->video[i])) return false;
  for (uint32_t i = 0; i < info->audio_count; i++)
    if (!vcd_audio(info->audio[i])) return false;
  return true;
}

bool extended_ac3(const mpegps_info *info)
{
  for (uint32_t i = 0; i < info->audio_count; i++)
    if (info->audio[i].kind != MPEGPS_AUDIO_AC3 || info->audio[i].bit_rate <= AC3_RATE_ABOVE) return false;
  return info->audio_count > 0;
}

// The sum of the declared rates, or the file's own rate where the video
// declares none or the sum is more than the file can hold.
uint32_t total_bit_rate(const mpegps_info *info, uint64_t size)
{
  uint64_t sum = 0;
  for (uint32_t i = 0; i < info->video_count; i++) sum += info->video[i].bit_rate;
  for (uint32_t i = 0; i < info->audio_count; i++) sum += info->audio[i].bit_rate;
  uint64_t per_ms = size / (info->duration ? info->duration : 1);
  uint64_t file_rate = per_ms > UINT64_MAX / BITS_PER_BYTE_MS ? UINT64_MAX : per_ms * BITS_PER_BYTE_MS;
  uint64_t total = !info->video[0].bit_rate || file_rate < sum ? file_rate : sum;
  return total > UINT32_MAX ? UINT32_MAX : uint32_t(total);
}

// "res@protocolInfo": the profile, time seek and the flags.
int mpegps_protocol_params(const mpegps_info *info, const char *mime, sys_ptralloc_rec *names,
                           sys_ptralloc_rec *values)
{
  char head[96];
  std::snprintf(head, sizeof head, "%sDLNA.ORG_OP=11;DLNA.ORG_CI=0;DLNA.ORG_FLAGS=", mpegps_profile(info));
  return tag_protocol_info_flags(mime, head, names, values);
}

int program_stream_read(int file, const sys_file_stat_rec *st, int quick, const char *mime, sys_ptralloc_rec *names,
                        sys_ptralloc_rec *values)
{
  mpegps_info info{};
  if (!mpegps_reader(&info, file, st, quick)) return 0;
  if (!quick) {
    info.total_bit_rate = total_bit_rate(&info, st->size);
    if (!tag_uint_property_add(TAG_NAME(RES_BITRATE), info.total_bit_rate / 8, names, values) ||
        !tag_duration_format(info.duration, names, values))
      return 0;
  }
  if (!mpegps_protocol_params(&info, mime, names, values) ||
      !tag_resolution_format(info.video[0].width, info.video[0].height, names, values))
    return 0;
  if (info.audio_count && info.audio[0].channels)
    return tag_uint_property_add(TAG_NAME(RES_NR_AUDIO_CHANNELS), info.audio[0].channels, names, values);
  return 1;
}

}  // namespace

extern "C" {

const char *mpegps_profile(const mpegps_info *info)
{
  if (info->system_kind == MPEGPS_KIND_MPEG1) return mpeg1_profile(info) ? "DLNA.ORG_PN=MPEG1;" : "";
  if (info->system_kind != MPEGPS_KIND_MPEG2 || info->video_count != 1 || info->total_bit_rate > DVD_RATE_MAX)
    return "";
  bool xac3 = extended_ac3(info);
  if (info->video[0].frame_rate == 29970) return xac3 ? "DLNA.ORG_PN=MPEG_PS_NTSC_XAC3;" : "DLNA.ORG_PN=MPEG_PS_NTSC;";
  if (info->video[0].frame_rate == 25000) return xac3 ? "DLNA.ORG_PN=MPEG_PS_PAL_XAC3;" : "DLNA.ORG_PN=MPEG_PS_PAL;";
  return "";
}

int mpegps_tag_read(int file, const sys_file_stat_rec *st, int quick, const char *mime, sys_ptralloc_rec *names,
                    sys_ptralloc_rec *values)
{
  uint32_t kind = 0;
  if (!mpeg_container_probe(file, st, &kind)) return 0;
  if (kind == MPEGTS_KIND_188 || kind == MPEGTS_KIND_192)
    return mpegts_tag_read(kind, file, st, quick, mime, names, values);
  if (kind != MPEGPS_KIND_MPEG1 && kind != MPEGPS_KIND_MPEG2) return 0;
  return program_stream_read(file, st, quick, mime, names, values);
}

}  // extern "C"
