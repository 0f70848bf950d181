// The MP4 and 3GPP reader: what the box walk found as item properties,
// with the item's own MIME type, class and protocolInfo.
#include <tarvo_tag/tag_mp4.h>
#include <tarvo_tag/tag_reader.h>
#include <tarvo_util/dlna.h>

#include <utility>

namespace {

// A file without video is served as audio of its container.
const char *item_mime(const mp4_info &i, const char *mime)
{
  if (i.video_codec) return mime;
  return mimetype_sub_equal(mime, "3gpp") ? "audio/3gpp" : "audio/mp4";
}

// Bits per second: the tracks' own, capped by the file size over the
// duration.
uint32_t bitrate_of(const mp4_info &i, uint64_t size)
{
  uint64_t rate = i.audio_bitrate;
  if (i.video_codec) rate = i.audio_bitrate && i.video_bitrate ? rate + i.video_bitrate : 0;
  if (rate > UINT32_MAX) rate = UINT32_MAX;
  if (i.duration_ms) {
    uint64_t q = size / i.duration_ms;
    uint64_t r = q > UINT32_MAX / 8000 ? UINT32_MAX : q * 8000;
    if (!rate || r < rate) rate = r;
  }
  return uint32_t(rate);
}

int texts_add(const mp4_info &i, sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  const std::pair<const char *, const char *> texts[] = {
      {TAG_NAME(DC_TITLE), i.title},   {TAG_NAME(DC_CREATOR), i.artist},     {TAG_NAME(UPNP_ARTIST), i.artist},
      {TAG_NAME(UPNP_ALBUM), i.album}, {TAG_NAME(DC_DESCRIPTION), i.comment}, {TAG_NAME(UPNP_GENRE), i.genre},
  };
  for (auto [name, value] : texts)
    if (!tag_property_add(name, value, names, values)) return 0;
  return (!i.track || tag_uint_property_add(TAG_NAME(UPNP_ORIGINAL_TRACK_NUMBER), i.track, names, values)) &&
         tag_property_add(TAG_NAME(DC_RIGHTS), i.rights, names, values);
}

int properties_add(const mp4_info &i, const sys_file_stat_rec *st, const char *mime, sys_ptralloc_rec *names,
                   sys_ptralloc_rec *values)
{
  if (!texts_add(i, names, values)) return 0;
  const std::pair<const char *, uint32_t> audio[] = {{TAG_NAME(RES_SAMPLE_FREQUENCY), i.audio_sample_rate},
                                                     {TAG_NAME(RES_NR_AUDIO_CHANNELS), i.audio_channels}};
  for (auto [name, n] : audio)
    if (n && !tag_uint_property_add(name, n, names, values)) return 0;
  if (i.video_codec && !tag_resolution_format(i.video_width, i.video_height, names, values)) return 0;
  // Durations past the 32-bit millisecond range are shown at the longest.
  uint32_t ms = i.duration_ms > UINT32_MAX ? UINT32_MAX : uint32_t(i.duration_ms);
  if (ms && !tag_duration_format(ms, names, values)) return 0;
  uint32_t bitrate = bitrate_of(i, st->size);
  if (bitrate && !tag_uint_property_add(TAG_NAME(RES_BITRATE), bitrate / 8, names, values)) return 0;
  const char *item = item_mime(i, mime);
  return tag_protocol_info_no_profile(item, names, values) &&
         tag_property_add(TAG_NAME(UPNP_CLASS), tag_class_from_mime(item), names, values);
}

}  // namespace

extern "C" int mp4_read(int file, const sys_file_stat_rec *st, const char *mime, sys_ptralloc_rec *names,
                        sys_ptralloc_rec *values)
{
  mp4_info info;
  if (!mp4_parse(&info, file, st)) return 0;
  int ok = properties_add(info, st, mime, names, values);
  mp4_info_free(&info);
  return ok;
}
