// The transport-stream reader: the packet grid, the packet loop and the
// properties of the item.
#include <tarvo_tag/tag_reader.h>
#include <tarvo_util/sys_owner.h>

#include "mpegts_parts.h"

namespace ts {

bool packet_source::open_at(int f, uint32_t packet_size, uint64_t offset)
{
  file = f;
  size = packet_size;
  int64_t at;
  if (offset > uint64_t(INT64_MAX) || !sys_file_seek_set(f, int64_t(offset), &at)) return false;
  sys_filebuffer_init(&fb, f, buf, sizeof buf);
  return true;
}

namespace {

// Hits of the grid of size L through the sync byte at i: the walk ends at
// the second miss.
uint32_t grid_hits(const unsigned char *p, uint32_t n, uint32_t i, uint32_t L)
{
  uint32_t hits = 1, misses = 0;
  for (uint64_t j = uint64_t(i) + L; j < n && misses < 2; j += L) {
    if (p[j] == kSync)
      hits++;
    else
      misses++;
  }
  return hits;
}

bool pid_wanted(const mpegts_demux *d, uint32_t pid)
{
  if (pid == kPidPat || pid == kPidSit) return true;
  if (d->pat && pid == d->pat->pmt_pid) return true;
  if (d->video.pid && pid == d->video.pid && known_video(d->video.stream_type)) return true;
  for (uint32_t i = 0; i < d->audio.len; i++) {
    auto *a = static_cast<const es_audio_info *>(d->audio.buf[i]);
    if (a->pid == pid && known_audio(a->stream_type)) return true;
  }
  return false;
}

bool all_complete(const mpegts_demux *d)
{
  if (!d->pat || !d->pmt) return false;
  if (d->pat->network_pid == kPidSit && !d->sit) return false;
  const es_header_parser_row *v = es_header_parser_find(es_header_parser_table.video, d->video.stream_type);
  if (!v || !v->complete(&d->video) || !d->audio.len) return false;
  for (uint32_t i = 0; i < d->audio.len; i++) {
    auto *a = static_cast<const es_audio_info *>(d->audio.buf[i]);
    const es_header_parser_row *r = es_header_parser_find(es_header_parser_table.audio, a->stream_type);
    if (!r || !r->complete(a)) return false;
  }
  return true;
}

// One 188-byte packet into the demultiplexer.
int packet_handle(mpegts_demux *d, const unsigned char *p)
{
  if (p[0] != kSync || (p[1] & 0x80)) return TS_RESULT_GO_ON;
  d->payload_unit_start_indicator = (p[1] & 0x40) ? 1 : 0;
  d->pid = (uint32_t(p[1]) & 0x1F) << 8 | p[2];
  d->adaptation_field_control = (p[3] >> 4) & 3;
  if (!pid_wanted(d, d->pid)) return TS_RESULT_GO_ON;
  uint32_t at;
  if (d->adaptation_field_control == 1)
    at = 4;
  else if (d->adaptation_field_control == 3)
    at = 5u + p[4];
  else
    return TS_RESULT_GO_ON;
  if (at > kPacket) return TS_RESULT_GO_ON;
  bool es = (d->video.pid && d->pid == d->video.pid);
  for (uint32_t i = 0; !es && i < d->audio.len; i++) es = static_cast<es_audio_info *>(d->audio.buf[i])->pid == d->pid;
  if (es) return pes_assemble(d, p + at, kPacket - at);
  if (d->payload_unit_start_indicator) {
    if (at >= kPacket) return TS_RESULT_GO_ON;
    d->pointer_field = p[at];
  }
  return section_assemble(d, p + at, kPacket - at);
}

int packet_loop(mpegts_info *info, mpegts_demux *d, int file, int quick, clock_facts *head)
{
  packet_source src;
  if (!src.open_at(file, info->packet_size, info->start_offset)) return 0;
  unsigned char unit[256];
  uint32_t max = quick ? TAG_TS_LOOP_PACKETS_QUICK : TAG_TS_LOOP_PACKETS;
  for (uint32_t i = 0; i < max; i++) {
    if (all_complete(d) || !src.next(unit)) break;
    clock_observe(head, unit, info->header_offset, i);
    int r = packet_handle(d, unit + info->header_offset);
    if (r == TS_RESULT_STOP || r == TS_RESULT_STOP_STUFFING) break;
    if (r != TS_RESULT_GO_ON && r != TS_RESULT_CRC_ERROR && r != TS_RESULT_MORE) return 0;
  }
  return 1;
}

// protocolInfo with the profile, when one was found.
int protocol_add(const mpegts_info *info, sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  if (!has(info, MPEGTS_BIT_MIME) || !info->mime) return 0;
  if (!has(info, MPEGTS_BIT_PROFILE) || !info->profile.len) return tag_protocol_info_no_profile(info->mime, names, values);
  own::stralloc head;
  return sys_stralloc_cats(&head.s, "DLNA.ORG_PN=") && sys_stralloc_cat(&head.s, &info->profile) &&
         sys_stralloc_cats(&head.s, ";DLNA.ORG_OP=01;DLNA.ORG_CI=0;DLNA.ORG_FLAGS=") && sys_stralloc_catb(&head.s, "", 1) &&
         tag_protocol_info_flags(info->mime, head.s.buf, names, values);
}

// The texts are UTF-8 already (ARIB text converted, genre names): added as
// they are, so that a failed allocation is a failure and not a lost text.
int arib_properties_add(const mpegts_info *info, sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  if (!has(info, MPEGTS_BIT_OBJECT_TYPE)) return 1;
  if (!tag_property_add(TAG_NAME(ARIB_OBJECT_TYPE), info->object_type, names, values)) return 0;
  if (has(info, MPEGTS_BIT_TITLE) && !tag_property_add(TAG_NAME(DC_TITLE), info->title, names, values)) return 0;
  for (uint32_t i = 0; has(info, MPEGTS_BIT_GENRES) && i < info->genres.len; i++)
    if (!tag_property_add(TAG_NAME(UPNP_GENRE), static_cast<const char *>(info->genres.buf[i]), names, values))
      return 0;
  if (has(info, MPEGTS_BIT_CHANNEL_NAME) &&
      !tag_property_add(TAG_NAME(UPNP_CHANNEL_NAME), info->channel_name, names, values))
    return 0;
  return !has(info, MPEGTS_BIT_CHANNEL_NUMBER) ||
         tag_uint_property_add(TAG_NAME(UPNP_CHANNEL_NR), info->channel_number, names, values);
}

int properties_add(const mpegts_info *info, const sys_file_stat_rec *st, sys_ptralloc_rec *names,
                   sys_ptralloc_rec *values)
{
  if (has(info, MPEGTS_BIT_BIT_RATE) && !tag_uint_property_add(TAG_NAME(RES_BITRATE), info->bit_rate / 8, names, values))
    return 0;
  if (has(info, MPEGTS_BIT_RESOLUTION) && !tag_resolution_format(info->width, info->height, names, values)) return 0;
  if (has(info, MPEGTS_BIT_DURATION) && !tag_duration_format(info->duration, names, values)) return 0;
  return arib_properties_add(info, names, values) && tag_date_property_add(st->mtime, names, values) &&
         protocol_add(info, names, values);
}

}  // namespace

}  // namespace ts

extern "C" {

int mpegts_sync_probe(mpegts_info *info, int file)
{
  int64_t at;
  if (!sys_file_seek_set(file, 0, &at)) return 0;
  unsigned char buf[TAG_TS_PROBE_BYTES];
  uint32_t n = 0, got;
  while (n < sizeof buf && sys_file_read(file, buf + n, uint32_t(sizeof buf) - n, &got) && got) n += got;
  if (n == 0) return 0;
  for (uint32_t i = 0; i < n; i++) {
    if (buf[i] != ts::kSync) continue;
    for (uint32_t L = 188; L <= 250; L++) {
      if (ts::grid_hits(buf, n, i, L) <= 7) continue;
      uint32_t lead = L - ts::kPacket, phase = i % L;
      info->packet_size = L;
      info->header_offset = lead;
      // A prefix cut off by the start of the file: the next whole packet.
      info->start_offset = phase >= lead ? phase - lead : phase + L - lead;
      return 1;
    }
  }
  return 0;
}

void mpegts_info_free(mpegts_info *info)
{
  for (uint32_t i = 0; i < info->genres.len; i++) sys_alloc_free(info->genres.buf[i]);
  sys_ptralloc_free(&info->genres);
  sys_stralloc_free(&info->profile);
}

int mpegts_reader(mpegts_info *info, int file, const sys_file_stat_rec *st, int quick)
{
  mpegts_demux d{};
  ts::clock_facts head;
  int ok = ts::packet_loop(info, &d, file, quick, &head) && ts::derive(info, &d, file, st, quick, &head);
  ts::demux_free(&d);
  return ok;
}

int mpegts_tag_read(uint32_t container_kind, int file, const sys_file_stat_rec *st, int quick, const char *,
                    sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  mpegts_info info{};
  if (!mpegts_sync_probe(&info, file)) return 0;
  bool fits = (container_kind == MPEGTS_KIND_188 && info.packet_size == 188 && info.header_offset == 0) ||
              (container_kind == MPEGTS_KIND_192 && info.packet_size == 192 && info.header_offset == 4);
  int ok = fits && mpegts_reader(&info, file, st, quick) && ts::properties_add(&info, st, names, values);
  mpegts_info_free(&info);
  return ok;
}

}  // extern "C"
