// The ASF item reader: a WMTag turned into item properties, the Windows
// Media audio and video profiles, and the lookups and stream summaries it
// draws them from.
#include <tarvo_tag/tag_limits.h>
#include <tarvo_tag/tag_reader.h>
#include <tarvo_tag/tarvo_tag.h>
#include <tarvo_util/charset.h>
#include <tarvo_util/dlna.h>
#include <tarvo_util/sys_str.h>

#include <algorithm>
#include <cstring>
#include <cstdio>

#include "tag_asf_impl.h"

namespace {

constexpr uint32_t kNone = 0xFFFFFFFF;
constexpr uint32_t kWmv3 = uint32_t('W') | uint32_t('M') << 8 | uint32_t('V') << 16 | uint32_t('3') << 24;

const asf::stream *stream_at(const WMTag *t, uint32_t i) { return static_cast<const asf::stream *>(t->streams.buf[i]); }

uint64_t le(const unsigned char *p, uint32_t n)
{
  uint64_t v = 0;
  while (n--) v = v << 8 | p[n];
  return v;
}

// Bytes a number of the type takes; 0 for the types without a number.
uint32_t number_width(uint16_t type)
{
  switch (type) {
  case asf::kBool:
  case asf::kDword: return 4;
  case asf::kQword: return 8;
  case asf::kWord: return 2;
  default: return 0;
  }
}

// Audio class of a format tag and a bitrate: 1 and 2 the two bitrate
// ranges of the standard codecs, 3 the professional one, 0 none.
int wma_class(uint32_t format_tag, uint32_t bitrate)
{
  if (format_tag == 0x161 || format_tag == 0x7A21 || format_tag == 0x7A22) return bitrate < 193000 ? 1 : 2;
  return format_tag == 0x162 ? 3 : 0;
}

const char *wma_profile(int cls)
{
  static const char *const kProfiles[] = {nullptr, "WMABASE", "WMAFULL", "WMAPRO"};
  return kProfiles[cls];
}

const char *wmv_profile(const asf::summary &video, uint32_t max_bitrate, int audio_class)
{
  uint32_t w = video.first, h = video.second;
  if (video.code != kWmv3 || (w <= 352 && h <= 288)) return nullptr;
  if (w <= 720 && h <= 576 && max_bitrate < 10000000) {
    static const char *const kMedium[] = {nullptr, "WMVMED_BASE", "WMVMED_FULL", "WMVMED_PRO"};
    return kMedium[audio_class];
  }
  if (w <= 1920 && h <= 1080 && max_bitrate < 20000000 && audio_class >= 1)
    return audio_class == 3 ? "WMVHIGH_PRO" : "WMVHIGH_FULL";
  return nullptr;
}

struct item {
  const WMTag *tag;
  const sys_file_stat_rec *st;
  const char *mime;
  sys_ptralloc_rec *names, *values;

  bool add(const char *name, const char *value) { return tag_property_add(name, value, names, values); }
  bool number(const char *name, uint32_t v) { return tag_uint_property_add(name, v, names, values); }
  // The attribute's text under a property name; nothing when absent.
  bool attribute(const char *attribute, const char *property)
  {
    char *text = asf::attribute_text(tag, attribute);
    bool ok = !text || add(property, text);
    sys_alloc_free(text);
    return ok;
  }
};

bool timing_add(item &it)
{
  uint64_t ms = it.tag->duration / 10000;
  // A duration past the format's range (49 days) only a damaged header gives.
  if (ms && ms <= UINT32_MAX && !tag_duration_format(uint32_t(ms), it.names, it.values)) return false;
  uint64_t secs = it.tag->duration / 10000000;
  if (secs && !it.number(TAG_NAME(RES_BITRATE), uint32_t(std::min<uint64_t>(it.st->size / secs, UINT32_MAX))))
    return false;
  uint32_t ch = asf::channels(it.tag);
  return !ch || it.number(TAG_NAME(RES_NR_AUDIO_CHANNELS), ch);
}

bool attributes_add(item &it)
{
  static const struct {
    const char *attribute, *property;
  } kMap[] = {
      {"Title", "dc:title"},
      {"Copyright", "dc:rights"},
      {"Description", "dc:description"},
      {"WM/AlbumTitle", "upnp:album"},
      {"WM/AuthorURL", "upnp:artistDiscographyURI"},
      {"WM/Director", "upnp:director"},
      {"WM/Genre", "upnp:genre"},
      {"WM/ParentalRating", "upnp:rating"},
      {"WM/Producer", "upnp:producer"},
      {"WM/ProtectionType", "res@protection"},
      {"WM/Publisher", "dc:publisher"},
  };
  if (!it.attribute("Author", TAG_NAME(DC_CREATOR))) return false;
  if (mimetype_major_equal(it.mime, "audio") && !it.attribute("Author", TAG_NAME(UPNP_ARTIST))) return false;
  for (const auto &m : kMap)
    if (!it.attribute(m.attribute, m.property)) return false;
  return true;
}

// "WM/TrackNumber" counts from 1, the older "WM/Track" from 0.
bool track_add(item &it)
{
  bool from_zero = false;
  char *text = asf::attribute_text(it.tag, "WM/TrackNumber");
  if (!text) {
    text = asf::attribute_text(it.tag, "WM/Track");
    from_zero = text != nullptr;
  }
  uint32_t n;
  bool ok = true;
  if (text && sys_str_scan_uint(text, &n) > 0) ok = it.number(TAG_NAME(UPNP_ORIGINAL_TRACK_NUMBER), n + from_zero);
  else if (text && !from_zero) ok = it.add(TAG_NAME(UPNP_ORIGINAL_TRACK_NUMBER), text);
  sys_alloc_free(text);
  return ok;
}

// The streams' part of the item and the DLNA profile; NULL profile: none.
bool streams_add(item &it, const char **profile)
{
  if (mimetype_major_equal(it.mime, "video")) {
    asf::summary video = asf::video_summary(it.tag);
    if (!video.count) return false;
    if (video.code != kNone && !tag_resolution_format(video.first, video.second, it.names, it.values)) return false;
    if (!it.tag->max_bitrate) return false;
    asf::summary audio = asf::audio_summary(it.tag);
    *profile = wmv_profile(video, it.tag->max_bitrate, wma_class(audio.code, audio.first));
    return true;
  }
  asf::summary audio = asf::audio_summary(it.tag);
  if (!audio.count || !it.tag->max_bitrate) return false;
  if (audio.code != kNone && !it.number(TAG_NAME(RES_SAMPLE_FREQUENCY), audio.second)) return false;
  *profile = wma_profile(wma_class(audio.code, it.tag->max_bitrate));
  return true;
}

bool item_add(item &it)
{
  if (!(timing_add(it) && attributes_add(it) && track_add(it))) return false;
  // An ASF file without video is served as audio.
  if (tag_wmv_match(it.mime) && mimetype_sub_equal(it.mime, "x-ms-asf")) {
    if (!asf::video_summary(it.tag).count) it.mime = "audio/x-ms-asf";
    if (!it.add(TAG_NAME(UPNP_CLASS), tag_class_from_mime(it.mime))) return false;
  }
  const char *profile = nullptr;
  if (!streams_add(it, &profile)) return false;
  char head[96] = "";
  if (profile) std::snprintf(head, sizeof head, "DLNA.ORG_PN=%s;", profile);
  std::strcat(head, "DLNA.ORG_OP=01;DLNA.ORG_CI=0;DLNA.ORG_FLAGS=");
  return tag_protocol_info_flags(it.mime, head, it.names, it.values);
}

}  // namespace

namespace asf {

char *attribute_text(const WMTag *t, const char *name)
{
  for (uint32_t i = t->attributes.len; i-- > 0;) {
    auto *a = static_cast<const attribute *>(t->attributes.buf[i]);
    if (!a->name || std::strcmp(a->name, name) != 0) continue;
    char *text = nullptr;
    if (a->type == kUnicode) {
      if (a->len < 2 || (a->bytes[0] == 0 && a->bytes[1] == 0)) return nullptr;
      return tag_utf16_decode(a->bytes, a->len, UTF8_ORDER_LITTLE, &text) ? text : nullptr;
    }
    // A number shorter than its type is no value.
    uint32_t width = number_width(a->type);
    if (!width || a->len < width) continue;
    char buf[24];
    buf[sys_str_fmt_uint64(buf, le(a->bytes, width))] = '\0';
    return sys_str_clone(buf, &text) ? text : nullptr;
  }
  return nullptr;
}

summary video_summary(const WMTag *t)
{
  summary s{0, kNone, 0, 0};
  const stream *only = nullptr;
  for (uint32_t i = 0; i < t->streams.len; i++)
    if (stream_at(t, i)->kind == kVideo) s.count++, only = stream_at(t, i);
  if (s.count == 1) s = {1, only->compression, only->width, only->height};
  return s;
}

// The best bitrate of the audio streams, which must share one format tag.
summary audio_summary(const WMTag *t)
{
  summary s{0, kNone, 0, 0};
  bool mixed = false;
  for (uint32_t i = 0; i < t->streams.len; i++) {
    const stream *a = stream_at(t, i);
    if (a->kind != kAudio) continue;
    uint32_t bitrate = uint32_t(std::min<uint64_t>(uint64_t(a->bytes_per_second) * 8, UINT32_MAX));
    if (!s.count++ || (a->format_tag == s.code && bitrate > s.first)) {
      s.code = a->format_tag, s.first = bitrate, s.second = a->samples_per_second;
    } else if (a->format_tag != s.code) {
      mixed = true;
    }
  }
  if (mixed) s = {s.count, kNone, 0, 0};
  return s;
}

uint32_t channels(const WMTag *t)
{
  for (uint32_t i = 0; i < t->streams.len; i++)
    if (stream_at(t, i)->kind == kAudio) return stream_at(t, i)->channels;
  return 0;
}

}  // namespace asf

extern "C" int tag_asf_read(int file, const sys_file_stat_rec *st, const char *mime, sys_ptralloc_rec *names,
                            sys_ptralloc_rec *values)
{
  WMTag *tag = WMTag_New(file);
  if (!tag) return 0;
  item it{tag, st, mime, names, values};
  bool ok = item_add(it);
  WMTag_Delete(tag);
  return ok;
}
