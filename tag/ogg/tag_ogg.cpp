// Ogg Vorbis files through vorbisfile: duration, stream format and the
// comments that name title, artist, album and the like.
#include <tarvo_tag/tag_limits.h>
#include <tarvo_tag/tag_reader.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_str.h>

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include "ogg_impl.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <initializer_list>

namespace {

// What the callbacks read from: the bytes [begin, end) of the file, which
// vorbisfile sees as the whole of it, and the bytes it may still read.
struct source {
  int file;
  uint64_t budget;
  int64_t begin, end;
};

uint64_t read_budget(uint64_t file_size)
{
  uint64_t scaled;
  if (__builtin_mul_overflow(file_size, uint64_t(TAG_OGG_READ_PER_FILE_BYTE), &scaled)) return UINT64_MAX;
  return scaled > UINT64_MAX - TAG_OGG_READ_BASE ? UINT64_MAX : scaled + TAG_OGG_READ_BASE;
}

size_t ogg_read(void *buf, size_t size, size_t count, void *data)
{
  auto *s = static_cast<source *>(data);
  if (!size || !count) return 0;
  if (s->budget == 0) {
    // vorbisfile takes a 0 with errno set as a read error, not as the end.
    errno = EFBIG;
    return 0;
  }
  int64_t pos;
  if (!sys_file_seek_pos(s->file, &pos) || pos < s->begin) return 0;
  uint64_t want = count > UINT32_MAX / size ? UINT32_MAX : uint64_t(size) * count;
  want = std::min({want, s->budget, uint64_t(std::max<int64_t>(s->end - pos, 0))});
  uint32_t got = 0;
  if (want && !sys_file_read(s->file, buf, uint32_t(want), &got)) return 0;
  s->budget -= got;
  return got / size;
}

int ogg_seek(void *data, ogg_int64_t offset, int whence)
{
  auto *s = static_cast<source *>(data);
  int64_t base = s->begin, at;
  if (whence == SEEK_CUR && !sys_file_seek_pos(s->file, &base)) return -1;
  if (whence == SEEK_END) base = s->end;
  if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) offset = 0;
  // Offsets come from the file's own page data: no overflow, no target
  // outside the bytes read.
  int64_t target;
  if (__builtin_add_overflow(base, offset, &target) || target < s->begin || target > s->end) return -1;
  return sys_file_seek_set(s->file, target, &at) ? 0 : -1;
}

// The file belongs to the dispatcher.
int ogg_close(void *) { return 0; }

long ogg_tell(void *data)
{
  auto *s = static_cast<source *>(data);
  int64_t pos;
  return sys_file_seek_pos(s->file, &pos) ? long(pos - s->begin) : -1;
}

const ov_callbacks kCallbacks = {ogg_read, ogg_seek, ogg_close, ogg_tell};

// How a comment joins what is there already.
enum class joins { append, artist, replace, if_none };

struct comment_key {
  const char *prefix;
  int name;
  joins how;
};

const comment_key kComments[] = {
    {"title=", TAG_PROP_DC_TITLE, joins::append},
    {"artist=", TAG_PROP_UPNP_ARTIST, joins::artist},
    {"album=", TAG_PROP_UPNP_ALBUM, joins::append},
    {"description=", TAG_PROP_DC_DESCRIPTION, joins::replace},
    {"comment=", TAG_PROP_DC_DESCRIPTION, joins::if_none},
    {"genre=", TAG_PROP_UPNP_GENRE, joins::append},
    {"tracknumber=", TAG_PROP_UPNP_ORIGINAL_TRACK_NUMBER, joins::append},
    {"copyright=", TAG_PROP_DC_RIGHTS, joins::append},
};

// The value replaces the first of that name where it stands.
int property_replace(const char *name, const char *value, sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  uint32_t i = tag_property_index(names, name);
  if (i == names->len || tag_is_blank(value)) return tag_property_add(name, value, names, values);
  size_t n = std::strlen(value) + 1;
  auto *copy = static_cast<char *>(sys_alloc(n));
  if (!copy) return 0;
  std::memcpy(copy, value, n);
  sys_alloc_free(values->buf[i]);
  values->buf[i] = copy;
  return 1;
}

int comment_add(const comment_key &k, const char *value, sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  const char *name = tag_property_names[k.name];
  switch (k.how) {
    case joins::replace:
      return property_replace(name, value, names, values);
    case joins::if_none:
      return tag_property_exists(names, name) || tag_property_add(name, value, names, values);
    case joins::artist:
      // The first artist is also the creator, just before it.
      if (!tag_property_exists(names, TAG_NAME(DC_CREATOR)) &&
          !tag_property_add(TAG_NAME(DC_CREATOR), value, names, values))
        return 0;
      break;
    case joins::append:
      break;
  }
  return tag_property_add(name, value, names, values);
}

int ogg_comments_add(const vorbis_comment *vc, sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  for (int i = 0; i < vc->comments; i++) {
    const char *c = vc->user_comments[i];
    for (const comment_key &k : kComments) {
      if (!sys_str_case_start(c, k.prefix)) continue;
      const char *value = c + std::strlen(k.prefix);
      if (*value && !comment_add(k, value, names, values)) return 0;
      break;
    }
  }
  return 1;
}

// What the first stream's headers say: format, protocol and comments.
int ogg_stream_add(OggVorbis_File *vf, const char *mime, sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  vorbis_info *vi = ov_info(vf, -1);
  vorbis_comment *vc = ov_comment(vf, -1);
  if (!vi || !vc) return 0;
  auto add = [&](const char *name, long v) {
    return v <= 0 || v > long(UINT32_MAX) || tag_uint_property_add(name, uint32_t(v), names, values);
  };
  if (!add(TAG_NAME(RES_NR_AUDIO_CHANNELS), vi->channels) || !add(TAG_NAME(RES_SAMPLE_FREQUENCY), vi->rate) ||
      !add(TAG_NAME(RES_BITRATE), vi->bitrate_nominal / 8))
    return 0;
  const char *head = vi->channels ? "DLNA.ORG_OP=01;DLNA.ORG_CI=0;DLNA.ORG_FLAGS=" : "DLNA.ORG_CI=0;DLNA.ORG_FLAGS=";
  return tag_protocol_info_flags(mime, head, names, values) && ogg_comments_add(vc, names, values);
}

// The total time of all streams, placed at `at`, before the stream's facts.
int ogg_duration_insert(double seconds, uint32_t at, sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  if (seconds < 0) return 0;
  // A time the format cannot show comes only from a damaged granule position.
  if (seconds * 1000 >= 4294967296.0) return 1;
  uint32_t end = names->len;
  if (!tag_duration_format(uint32_t(seconds * 1000), names, values)) return 0;
  // Moved in place: nothing to allocate, nothing that can fail.
  for (sys_ptralloc_rec *a : {names, values}) std::rotate(a->buf + at, a->buf + end, a->buf + a->len);
  return 1;
}

// One of the streams that the first link opens with: vorbisfile then takes
// the file for one link and searches no further.
bool first_link_serial(const OggVorbis_File *vf, uint32_t serial)
{
  if (!vf->serialnos) return false;
  for (long i = 0; i < vf->serialnos[1]; i++)
    if (uint32_t(vf->serialnos[2 + i]) == serial) return true;
  return false;
}

// The total time: vorbisfile's where the last page belongs to the first
// link, our own page walk for a chained file, since vorbisfile loses the
// streams it has opened when a read fails amid its search of the links.
int ogg_time_add(OggVorbis_File *vf, const source &s, uint64_t size, uint32_t at, sys_ptralloc_rec *names,
                 sys_ptralloc_rec *values)
{
  mp3::file_window w(s.file);
  uint32_t last;
  if (ogg::last_serial(w, 0, size, &last) && first_link_serial(vf, last)) {
    // ov_test_open begins with a seek of its own: the window's reads do
    // not mislead it.  Past the budget the stream's facts stand alone.
    if (ov_test_open(vf) < 0) return s.budget == 0;
    return ogg_duration_insert(ov_time_total(vf, -1), at, names, values);
  }
  return ogg_duration_insert(ogg::chain_seconds(w, size), at, names, values);
}

// Whether the bytes [begin, end) of the file end in their first link.
bool span_one_link(int file, int64_t begin, int64_t end)
{
  int64_t at;
  if (begin < 0 || end < begin || !sys_file_seek_set(file, begin, &at)) return false;
  source s{file, read_budget(uint64_t(end - begin)), begin, end};
  OggVorbis_File vf;
  if (ov_test_callbacks(&s, &vf, nullptr, 0, kCallbacks) < 0) return false;
  mp3::file_window w(file);
  uint32_t last;
  bool one = ogg::last_serial(w, uint64_t(begin), uint64_t(end), &last) && first_link_serial(&vf, last);
  ov_clear(&vf);
  return one;
}

}  // namespace

extern "C" int tag_ogg_one_link(int file)
{
  sys_file_stat_rec st;
  return sys_file_fstat(file, &st) && st.size <= uint64_t(INT64_MAX) && span_one_link(file, 0, int64_t(st.size));
}

extern "C" int tag_ogg_link_at(int file, double at, tag_ogg_link *link)
{
  sys_file_stat_rec st;
  if (!sys_file_fstat(file, &st) || st.size > uint64_t(INT64_MAX)) return 0;
  mp3::file_window w(file);
  ogg::link_span l;
  if (!ogg::chain_link_at(w, st.size, at, &l) || !span_one_link(file, int64_t(l.begin), int64_t(l.end))) return 0;
  *link = tag_ogg_link{l.begin, l.end, l.start, l.seconds};
  return 1;
}

// The first stream's headers through vorbisfile, then the total time.
extern "C" int tag_ogg_read(int file, const sys_file_stat_rec *st, const char *mime, sys_ptralloc_rec *names,
                            sys_ptralloc_rec *values)
{
  source s{file, read_budget(st->size), 0, int64_t(std::min<uint64_t>(st->size, INT64_MAX))};
  OggVorbis_File vf;
  if (ov_test_callbacks(&s, &vf, nullptr, 0, kCallbacks) < 0) return 0;
  uint32_t start = names->len;
  int ok = ogg_stream_add(&vf, mime, names, values) && ogg_time_add(&vf, s, st->size, start, names, values);
  // A failed ov_test_open has cleared vf already; clearing it again is harmless.
  ov_clear(&vf);
  return ok;
}
