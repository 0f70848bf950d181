// The values derived after the packet loop, in their fixed order; each
// step sets its presence bit and is done at most once.
#include <tarvo_util/sys_owner.h>

#include "mpegts_parts.h"

namespace ts {
namespace {

int stream_kind_step(mpegts_info *info, const mpegts_demux *d)
{
  if (has(info, MPEGTS_BIT_STREAM_KIND)) return 1;
  uint32_t pid = d->pat ? d->pat->network_pid : 0;
  info->stream_kind = pid == 0x0010 ? MPEGTS_STREAM_NIT : pid == kPidSit ? MPEGTS_STREAM_PARTIAL : MPEGTS_STREAM_PLAIN;
  set(info, MPEGTS_BIT_STREAM_KIND);
  return 1;
}

uint32_t be32(const unsigned char *p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

// The AVC timing and HRD descriptor of the video's PMT entry.
void avc_timing_step(mpegts_demux *d)
{
  if (!d->pmt || !d->video.pid || d->video.stream_type != ES_TYPE_H264) return;
  const pmt_es_entry *e = pmt_entry(d->pmt, d->video.pid);
  const unsigned char *p;
  uint32_t len;
  if (!e || !descriptor_find(&e->es_info, 0x2A, &p, &len) || len < 3) return;
  avc_timing_info t{};
  t.present = 0x2A;
  t.picture_and_timing_info_present = p[2] & 1;
  uint32_t at = 3;
  if (t.picture_and_timing_info_present) {
    if (len < at + 1) return;
    t.flag_90khz = p[at++] >> 7;
    if (!t.flag_90khz) {
      if (len < at + 8) return;
      t.n = be32(p + at);
      t.k = be32(p + at + 4);
      at += 8;
    }
    if (len < at + 4) return;
    t.num_units_in_tick = be32(p + at);
    at += 4;
  }
  if (len != at + 1) return;
  t.fixed_frame_rate_flag = p[at] >> 7;
  d->video.avc_timing = t;
}

void size_set(mpegts_info *info, uint32_t w, uint32_t h)
{
  info->width = w;
  info->height = h;
  set(info, MPEGTS_BIT_RESOLUTION);
}

void resolution_step(mpegts_info *info, const mpegts_demux *d)
{
  if (has(info, MPEGTS_BIT_RESOLUTION)) return;
  const es_video_info &v = d->video;
  switch (v.stream_type) {
    case ES_TYPE_MPEG1_VIDEO:
      if (v.mpeg1_sequence.start_code) size_set(info, v.mpeg1_sequence.horizontal_size, v.mpeg1_sequence.vertical_size);
      break;
    case ES_TYPE_MPEG2_VIDEO:
      size_set(info, v.mpeg2_sequence.horizontal_size + v.mpeg2_extension.horizontal_size_extension * 4096u,
               v.mpeg2_sequence.vertical_size + v.mpeg2_extension.vertical_size_extension * 4096u);
      break;
    case ES_TYPE_MPEG4_VISUAL:
      if (v.studio_vol.start_code)
        size_set(info, v.studio_vol.width, v.studio_vol.height);
      else if (v.vol.start_code)
        size_set(info, v.vol.video_object_layer_width, v.vol.video_object_layer_height);
      break;
    case ES_TYPE_H264: {
      uint32_t w, h;
      if (v.sps.present && avc_frame_size(&v.sps, &w, &h)) size_set(info, w, h);
      break;
    }
    default: break;
  }
}

// The 4-byte prefix of the packet unit at index; false when it cannot be read.
bool prefix_zero(const mpegts_info *info, int file, uint32_t index, bool *zero)
{
  packet_source src;
  unsigned char unit[256];
  if (!src.open_at(file, info->packet_size, info->start_offset + uint64_t(index) * info->packet_size)) return false;
  if (!src.next(unit)) return false;
  *zero = !(unit[0] | unit[1] | unit[2] | unit[3]);
  return true;
}

int timestamp_kind_step(mpegts_info *info, int file)
{
  if (has(info, MPEGTS_BIT_TIMESTAMP_KIND)) return 1;
  if (info->packet_size == 188) {
    info->timestamp_kind = MPEGTS_STAMPS_188;
  } else {
    bool zero;
    if (!prefix_zero(info, file, 0, &zero)) return 0;
    if (zero && !prefix_zero(info, file, 1, &zero)) return 0;
    info->timestamp_kind = zero ? MPEGTS_STAMPS_ZERO : MPEGTS_STAMPS_192;
  }
  set(info, MPEGTS_BIT_TIMESTAMP_KIND);
  return 1;
}

void bit_rate_step(mpegts_info *info, const sys_file_stat_rec *st)
{
  if (has(info, MPEGTS_BIT_BIT_RATE) || !has(info, MPEGTS_BIT_DURATION) || info->duration == 0) return;
  unsigned __int128 rate = (unsigned __int128)st->size * 8000 / info->duration;
  info->bit_rate = rate > UINT32_MAX ? UINT32_MAX : uint32_t(rate);
  set(info, MPEGTS_BIT_BIT_RATE);
}

int mime_step(mpegts_info *info)
{
  if (has(info, MPEGTS_BIT_MIME)) return 1;
  if (info->timestamp_kind == MPEGTS_STAMPS_ZERO || info->timestamp_kind == MPEGTS_STAMPS_192)
    info->mime = "video/vnd.dlna.mpeg-tts";
  else if (info->timestamp_kind == MPEGTS_STAMPS_188)
    info->mime = "video/mpeg";
  else
    return 0;
  set(info, MPEGTS_BIT_MIME);
  return 1;
}

void object_type_flag_step(mpegts_info *info)
{
  if (has(info, MPEGTS_BIT_OBJECT_TYPE_FLAG)) return;
  info->object_type_flag = has(info, MPEGTS_BIT_OBJECT_TYPE) && info->object_type[0] ? 1 : 0;
  set(info, MPEGTS_BIT_OBJECT_TYPE_FLAG);
}

int profile_step(mpegts_info *info, const mpegts_demux *d)
{
  if (has(info, MPEGTS_BIT_PROFILE)) return 1;
  static const char *const suffix[] = {nullptr, "", "_T", "_ISO"};
  if (info->timestamp_kind < 1 || info->timestamp_kind > 3) return 0;
  own::stralloc name;
  // Room for every name and suffix first: the lookup's 0 then means no row.
  if (!sys_stralloc_ready(&name.s, 64)) return 0;
  if (!dlna_ts_profile_find(d, info, &name.s)) return 1;
  if (!sys_stralloc_cats(&name.s, suffix[info->timestamp_kind]) || !sys_stralloc_copy(&info->profile, &name.s)) return 0;
  set(info, MPEGTS_BIT_PROFILE);
  return 1;
}

}  // namespace

int derive(mpegts_info *info, mpegts_demux *d, int file, const sys_file_stat_rec *st, int quick,
           const clock_facts *head)
{
  if (!stream_kind_step(info, d) || !arib_system_step(info, d) || !program_number_step(info, d) ||
      !arib_si_step(info, d))
    return 0;
  avc_timing_step(d);
  resolution_step(info, d);
  if (!timestamp_kind_step(info, file) || !duration_step(info, d, file, st, quick, head)) return 0;
  bit_rate_step(info, st);
  if (!mime_step(info)) return 0;
  object_type_flag_step(info);
  return profile_step(info, d);
}

}  // namespace ts
