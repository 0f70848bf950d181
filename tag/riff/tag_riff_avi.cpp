// AVI files: frame size, duration and audio channels from the header list
// (avih and each stream's strh and strf); the movie data is never read.
#include <tarvo_tag/tag_limits.h>
#include <tarvo_tag/tag_reader.h>

#include <algorithm>

#include "tag_riff_impl.h"

namespace {

using riff::le16;
using riff::le32;

constexpr uint32_t kAvihSize = 40;  // the ten 32-bit fields of the main header
constexpr uint32_t kStrhSize = 56;  // through the frame rectangle

struct avi_info {
  uint32_t us_per_frame, max_bytes_per_second, flags, total_frames, initial_frames, streams, buffer_size, width,
      height;
  uint16_t channels;
};

struct stream_rec {
  char type[4], handler[4];
  uint32_t flags, priority_language, initial_frames, scale, rate, start, length, buffer_size, quality, sample_size;
  uint16_t left, top, right, bottom;
  uint16_t channels;
  bool is(const char *four) const { return std::memcmp(type, four, 4) == 0; }
};

// A chunk or list inside a list with `left` bytes to go: its header must fit
// and its body lie within the list.  On success left drops by the whole
// (padded) chunk; the caller reads or skips its body.
bool child_read(riff::cursor &c, uint64_t &left, const char *id, riff::chunk *ch)
{
  if (left < 8 || !riff::chunk_read(c, ch) || !ch->is(id) || ch->size > left - 8) return false;
  left -= std::min(left, 8 + ch->padded());
  return true;
}

// Reads the first `want` bytes of a body of `size` bytes and skips the rest.
bool body_read(riff::cursor &c, const riff::chunk &ch, unsigned char *buf, uint32_t want)
{
  return ch.size >= want && c.read(buf, want) && c.skip(std::min(ch.padded() - want, c.left()));
}

bool avih_read(riff::cursor &c, uint64_t &left, avi_info *a)
{
  riff::chunk ch;
  unsigned char b[kAvihSize];
  if (!child_read(c, left, "avih", &ch) || !body_read(c, ch, b, sizeof b)) return false;
  // The granularity field at offset 8 is not used.
  a->us_per_frame = le32(b);
  a->max_bytes_per_second = le32(b + 4);
  a->flags = le32(b + 12);
  a->total_frames = le32(b + 16);
  a->initial_frames = le32(b + 20);
  a->streams = le32(b + 24);
  a->buffer_size = le32(b + 28);
  a->width = le32(b + 32);
  a->height = le32(b + 36);
  return true;
}

void strh_decode(const unsigned char *b, stream_rec *s)
{
  std::memcpy(s->type, b, 4);
  std::memcpy(s->handler, b + 4, 4);
  uint32_t *fields[] = {&s->flags, &s->priority_language, &s->initial_frames, &s->scale, &s->rate, &s->start,
                        &s->length, &s->buffer_size, &s->quality, &s->sample_size};
  for (size_t i = 0; i < sizeof fields / sizeof *fields; i++) *fields[i] = le32(b + 8 + 4 * i);
  s->left = le16(b + 48);
  s->top = le16(b + 50);
  s->right = le16(b + 52);
  s->bottom = le16(b + 54);
}

// One "LIST strl": strh, then strf (its channel count for audio), then
// whatever else the list holds, skipped.
bool stream_read(riff::cursor &c, uint64_t &left, stream_rec *s)
{
  riff::chunk list, ch;
  if (!child_read(c, left, "LIST", &list) || list.size < 4 || !riff::id_read(c, "strl")) return false;
  uint64_t end = c.pos - 4 + list.padded(), in = list.size - 4;
  unsigned char b[kStrhSize];
  if (!child_read(c, in, "strh", &ch) || !body_read(c, ch, b, sizeof b)) return false;
  strh_decode(b, s);
  s->channels = 0;
  if (!child_read(c, in, "strf", &ch)) return false;
  if (s->is("auds")) {
    if (!body_read(c, ch, b, 4)) return false;
    s->channels = le16(b + 2);
  } else if (!c.skip(std::min(ch.padded(), c.left()))) {
    return false;
  }
  return c.skip(std::min(end, c.size) - std::min(c.pos, end));
}

// The stream of one kind: the first wins, unless a later one has a greater
// priority.
struct choice {
  const char *kind;
  stream_rec s{};
  bool have = false;
  void offer(const stream_rec &x)
  {
    if (!x.is(kind) || (have && x.priority_language <= s.priority_language)) return;
    s = x;
    have = true;
  }
};

bool header_read(riff::cursor &c, avi_info *a)
{
  riff::chunk ch;
  if (!riff::chunk_read(c, &ch) || !ch.is("RIFF") || !riff::id_read(c, "AVI ")) return false;
  uint64_t left = c.left();
  if (!child_read(c, left, "LIST", &ch) || ch.size < 4 || !riff::id_read(c, "hdrl")) return false;
  uint64_t in = ch.size - 4;
  if (!avih_read(c, in, a)) return false;
  choice audio{"auds"}, video{"vids"};
  stream_rec s{};
  // Every stream takes at least a list header of the header list, and
  // reads count against the budget, so a huge stream count ends early.
  for (uint32_t i = 0; i < a->streams; i++) {
    if (!stream_read(c, in, &s)) return false;
    audio.offer(s);
    video.offer(s);
  }
  a->channels = audio.have ? audio.s.channels : 0;
  const stream_rec &v = video.s;
  if (video.have && v.left < v.right && v.top < v.bottom) {
    a->width = v.right - v.left;
    a->height = v.bottom - v.top;
  }
  return true;
}

}  // namespace

extern "C" int tag_avi_read(int file, const sys_file_stat_rec *, const char *mime, sys_ptralloc_rec *names,
                            sys_ptralloc_rec *values)
{
  riff::cursor c;
  avi_info a{};
  if (!c.start(file, TAG_RIFF_READ_MAX) || !header_read(c, &a)) return 0;
  if (!tag_resolution_format(a.width, a.height, names, values)) return 0;
  if (a.us_per_frame && a.total_frames &&
      !riff::duration_add(uint64_t(a.total_frames) * a.us_per_frame / 1000, names, values))
    return 0;
  if (a.channels && !tag_uint_property_add(TAG_NAME(RES_NR_AUDIO_CHANNELS), a.channels, names, values)) return 0;
  return tag_protocol_info_no_profile(mime, names, values);
}
