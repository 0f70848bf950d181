// The MPEG audio reader: stream properties from the frames, then the
// ID3 tags.
#include <tarvo_tag/tag_reader.h>
#include <tarvo_util/sys_str.h>

#include <algorithm>

namespace {

int tags_add(int file, const sys_file_stat_rec *st, sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  id3_tags *t = id3_tags_read(file, st);
  if (!t) return 1;
  char track[16];
  track[sys_str_fmt_uint32(track, t->track)] = 0;
  int ok = tag_property_add(TAG_NAME(DC_TITLE), t->title, names, values) &&
           tag_property_add(TAG_NAME(DC_CREATOR), t->artist, names, values) &&
           tag_property_add(TAG_NAME(UPNP_ARTIST), t->artist, names, values) &&
           tag_property_add(TAG_NAME(UPNP_GENRE), t->genre, names, values) &&
           tag_property_add(TAG_NAME(UPNP_ALBUM), t->album, names, values) &&
           (!t->track || tag_property_add(TAG_NAME(UPNP_ORIGINAL_TRACK_NUMBER), track, names, values)) &&
           tag_property_add(TAG_NAME(DC_DESCRIPTION), t->comment, names, values);
  id3_tags_free(t);
  return ok;
}

}  // namespace

extern "C" int tag_mp3_read(int file, const sys_file_stat_rec *st, int count_off, const char *mime,
                            sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  mp3_info info;
  // A file whose audio lies beyond the search keeps its tags and its class.
  if (!mp3_info_read(file, st, count_off, &info)) return info.search_stopped && tags_add(file, st, names, values);
  const mp3_header &h = info.header;
  if (!tag_uint_property_add(TAG_NAME(RES_SAMPLE_FREQUENCY), h.sample_rate, names, values)) return 0;
  if (!count_off) {
    if (h.bitrate && !tag_uint_property_add(TAG_NAME(RES_BITRATE), h.bitrate / 8, names, values)) return 0;
    if (!tag_duration_format(uint32_t(std::min<uint64_t>(info.duration_ms, UINT32_MAX)), names, values)) return 0;
  }
  if (!tag_uint_property_add(TAG_NAME(RES_NR_AUDIO_CHANNELS), h.channel_mode == 3 ? 1 : 2, names, values)) return 0;
  // The DLNA profile MP3 is MPEG-1 Layer III only.
  const char *head = h.version == 3 && h.layer == 1 ? "DLNA.ORG_PN=MP3;DLNA.ORG_OP=01;DLNA.ORG_CI=0;DLNA.ORG_FLAGS="
                                                    : "DLNA.ORG_OP=01;DLNA.ORG_CI=0;DLNA.ORG_FLAGS=";
  if (!tag_protocol_info_flags(mime, head, names, values)) return 0;
  // Tag trouble leaves the stream properties standing.
  tags_add(file, st, names, values);
  return 1;
}
