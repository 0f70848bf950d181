// MIME-type matchers of the readers and the class a MIME type gives.
#include <tarvo_tag/tag_reader.h>
#include <tarvo_tag/tarvo_tag.h>
#include <tarvo_util/dlna.h>

#include <initializer_list>

namespace {

// Major type and one of the subtypes, both without regard to case.
int is(const char *mime, std::initializer_list<const char *> majors, std::initializer_list<const char *> subs)
{
  if (!mime) return 0;
  bool major = false, sub = false;
  for (const char *m : majors) major = major || mimetype_major_equal(mime, m);
  for (const char *s : subs) sub = sub || mimetype_sub_equal(mime, s);
  return major && sub;
}

}  // namespace

extern "C" {

int tag_m3u_match(const char *mime) { return is(mime, {"audio"}, {"x-mpegurl"}); }
int tag_mp3_match(const char *mime) { return is(mime, {"audio"}, {"mpeg", "mp1", "mp2"}); }
int tag_wav_match(const char *mime) { return is(mime, {"audio"}, {"wav"}); }
int tag_wma_match(const char *mime) { return is(mime, {"audio"}, {"x-ms-wma"}); }
int tag_lpcm_match(const char *mime) { return is(mime, {"audio"}, {"L16"}); }
int tag_mpeg_match(const char *mime) { return is(mime, {"video"}, {"mpeg"}); }
int tag_wmv_match(const char *mime) { return is(mime, {"video"}, {"x-ms-wmv", "x-ms-asf"}); }
int tag_avi_match(const char *mime) { return is(mime, {"video"}, {"avi"}); }
int tag_jpeg_match(const char *mime) { return is(mime, {"image"}, {"jpeg"}); }
int tag_bmp_match(const char *mime) { return is(mime, {"image"}, {"bmp"}); }
int tag_png_match(const char *mime) { return is(mime, {"image"}, {"png"}); }
int tag_ogg_match(const char *mime) { return is(mime, {"application"}, {"ogg"}); }
int tag_mp4_match(const char *mime) { return is(mime, {"audio", "video"}, {"mp4", "3gpp"}); }
int tag_dvr_match(const char *mime) { return is(mime, {"video"}, {"x-ms-dvr"}); }
int tag_tiff_match(const char *mime) { return is(mime, {"image"}, {"tiff"}); }
int tag_gif_match(const char *mime) { return is(mime, {"image"}, {"gif"}); }

const char *tag_class_from_mime(const char *mime)
{
  if (tag_m3u_match(mime)) return "object.container.playlistContainer";
  if (!mime) return "object.item";
  if (mimetype_major_equal(mime, "audio") || tag_ogg_match(mime)) return "object.item.audioItem.musicTrack";
  if (mimetype_major_equal(mime, "video") || is(mime, {"application"}, {"x-dtcp1"})) return "object.item.videoItem";
  if (mimetype_major_equal(mime, "image")) return "object.item.imageItem.photo";
  if (mimetype_major_equal(mime, "text")) return "object.item.textItem";
  return "object.item";
}

}  // extern "C"
