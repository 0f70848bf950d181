// ID3 tags: the ID3v2.2, 2.3 or 2.4 tag at the start of the file, then the
// ID3v1 tag at its end; the first value of each kind wins.
#include <tarvo_tag/tag_limits.h>
#include <tarvo_tag/tag_reader.h>
#include <tarvo_util/charset.h>
#include <tarvo_util/sys_str.h>

#include <cstring>
#include <initializer_list>

#include "mp3_impl.h"

namespace {

using mp3::file_window;

enum field { kTitle, kArtist, kAlbum, kGenre, kTrack, kComment, kOther };

struct v2_tag {
  file_window &w;
  uint64_t file_size;
  uint32_t version;   // 2, 3 or 4
  uint64_t end;       // offset just past the tag
  uint32_t head_size; // of a frame header
};

struct frame_kind {
  const char *id22, *id23;
  field f;
  uint32_t min_size;
};

const frame_kind kFrames[] = {
    {"TT2", "TIT2", kTitle, 1}, {"TP1", "TPE1", kArtist, 1}, {"TAL", "TALB", kAlbum, 1},
    {"TCO", "TCON", kGenre, 1}, {"TRK", "TRCK", kTrack, 1},  {"COM", "COMM", kComment, 4},
};

const frame_kind *kind_of(const v2_tag &t, const unsigned char *id)
{
  for (const frame_kind &k : kFrames)
    if (std::memcmp(id, t.version == 2 ? k.id22 : k.id23, t.version == 2 ? 3 : 4) == 0) return &k;
  return nullptr;
}

// Takes value into an unset field; an empty value leaves it unset.
void field_set(char **slot, char *value)
{
  if (!*slot && value && *value) *slot = value;
  else sys_alloc_free(value);
}

char **slot_of(id3_tags *tags, field f)
{
  switch (f) {
  case kTitle: return &tags->title;
  case kArtist: return &tags->artist;
  case kAlbum: return &tags->album;
  case kGenre: return &tags->genre;
  case kComment: return &tags->comment;
  default: return nullptr;
  }
}

bool wide(const v2_tag &t, uint32_t enc) { return enc == 1 || (t.version == 4 && enc == 2); }

// Text of len bytes (the frame body NUL-terminates it) as UTF-8; NULL when
// it does not convert.  raw keeps single-byte text as it is.
char *text_decode(const v2_tag &t, uint32_t enc, const unsigned char *text, uint32_t len, bool raw)
{
  char *out = nullptr;
  if (wide(t, enc)) {
    tag_utf16_decode(text, len, enc == 2 ? UTF8_ORDER_BIG : UTF8_ORDER_LITTLE, &out);
    return out;
  }
  auto *s = reinterpret_cast<const char *>(text);
  bool ok = raw || (t.version == 4 && enc >= 3) ? sys_str_clone(s, &out)
                                                 : utf8_from2(charencoding_autodetect(s, sys_str_len(s)), s, &out);
  return ok ? out : nullptr;
}

// Bytes of a comment's content description with its terminator: a zero
// unit aligned to the start for UTF-16, else a zero byte.  len when the
// terminator is missing.
uint32_t description_length(bool wide_text, const unsigned char *d, uint32_t len)
{
  if (!wide_text) {
    auto *z = static_cast<const unsigned char *>(std::memchr(d, 0, len));
    return z ? uint32_t(z - d) + 1 : len;
  }
  for (uint32_t i = 0; i + 1 < len; i += 2)
    if (d[i] == 0 && d[i + 1] == 0) return i + 2;
  return len;
}

void frame_handle(const v2_tag &t, const frame_kind &k, const unsigned char *body, uint32_t size, id3_tags *tags)
{
  uint32_t enc = body[0];
  if (k.f == kTrack) {
    char *text = text_decode(t, enc, body + 1, size - 1, true);
    uint32_t n;
    if (text && !tags->track && sys_str_scan_uint(text, &n)) tags->track = n;
    sys_alloc_free(text);
  } else if (k.f == kComment) {
    uint32_t skip = description_length(enc == 1 || enc == 2, body + 4, size - 4);
    if (skip < size - 4) field_set(&tags->comment, text_decode(t, enc, body + 4 + skip, size - 4 - skip, false));
  } else if (k.f == kGenre) {
    char *text = text_decode(t, enc, body + 1, size - 1, false), *genre = nullptr;
    if (text && id3_genre_resolve(text, &genre)) field_set(&tags->genre, genre);
    sys_alloc_free(text);
  } else {
    field_set(slot_of(tags, k.f), text_decode(t, enc, body + 1, size - 1, false));
  }
}

bool is_frame_id(const unsigned char *b, uint32_t n)
{
  for (uint32_t i = 0; i < n; i++)
    if (!((b[i] >= 'A' && b[i] <= 'Z') || (b[i] >= '0' && b[i] <= '9'))) return false;
  return true;
}

// A frame may end at the tag's end, at padding or at the next frame.
bool lands_well(const v2_tag &t, uint64_t at)
{
  if (at == t.end) return true;
  if (at > t.end) return false;
  uint32_t got;
  const unsigned char *b = t.w.at(at, 4, &got);
  if (!b || got == 0) return false;
  return b[0] == 0 || (got >= 4 && t.end - at >= 4 && is_frame_id(b, 4));
}

// ID3v2.4 sizes are syncsafe, but some writers put plain numbers there:
// the plain reading is taken only when the syncsafe one leads nowhere and
// it leads somewhere.
uint32_t v24_size(const v2_tag &t, const unsigned char *b, uint64_t body)
{
  uint32_t plain = mp3::big32(b), safe = mp3::syncsafe(b);
  if ((b[0] | b[1] | b[2] | b[3]) & 0x80) return plain;
  if (plain == safe || lands_well(t, body + safe)) return safe;
  return lands_well(t, body + plain) ? plain : safe;
}

uint32_t frame_size(const v2_tag &t, const unsigned char *h, uint64_t body)
{
  if (t.version == 2) return uint32_t(h[3]) << 16 | uint32_t(h[4]) << 8 | h[5];
  if (t.version == 3) return mp3::big32(h + 4);
  return v24_size(t, h + 4, body);
}

// The body of a frame that is kept, read whole and NUL-terminated.
bool frame_read(const v2_tag &t, const frame_kind &k, uint64_t body, uint32_t size, id3_tags *tags)
{
  auto *b = static_cast<unsigned char *>(sys_alloc(size_t(size) + 1));
  if (!b) return false;
  bool ok = t.w.read(body, b, size);
  if (ok) {
    b[size] = 0;
    frame_handle(t, k, b, size, tags);
  }
  sys_alloc_free(b);
  return ok;
}

// Frames up to padding, the tag's end or a frame that would run past it.
// Frames not kept are passed without reading them, but must lie in the
// file.
bool frames_read(const v2_tag &t, uint64_t pos, id3_tags *tags)
{
  while (t.end - pos >= t.head_size) {
    unsigned char h[10];
    if (!t.w.read(pos, h, t.head_size)) return false;
    uint64_t body = pos + t.head_size;
    uint32_t size = frame_size(t, h, body);
    if (h[0] == 0 || size == 0 || size > t.end - body) break;
    const frame_kind *k = kind_of(t, h);
    bool keep = k && size >= k->min_size && size <= TAG_ID3_FRAME_BODY_MAX;
    if (keep ? !frame_read(t, *k, body, size, tags) : body + size > t.file_size) return false;
    pos = body + size;
  }
  return t.end <= t.file_size;
}

// The ID3v2 header: version, flags this reader can follow, and the
// extended header passed over.
bool v2_read(file_window &w, const sys_file_stat_rec *st, id3_tags *tags)
{
  uint32_t got;
  const unsigned char *b = w.at(0, 10, &got);
  if (!b) return false;
  if (got < 4 || std::memcmp(b, "ID3", 3) != 0 || b[3] < 2 || b[3] > 4) return true;
  if (got < 10) return false;
  v2_tag t{w, st->size, b[3], 10 + uint64_t(mp3::syncsafe(b + 6)), b[3] == 2 ? 6u : 10u};
  uint32_t flags = b[5];
  uint32_t refused = t.version == 2 ? 0xFF : t.version == 3 ? 0x9F : 0x8F;
  if (flags & refused) return false;
  uint64_t pos = 10;
  if (flags & 0x40) {
    unsigned char e[4];
    if (!w.read(10, e, 4)) return false;
    uint32_t n = mp3::syncsafe(e);
    // ID3v2.3 counts the bytes after the size, ID3v2.4 the whole header.
    if (t.version == 3 ? n != 6 && n != 10 : n < 6) return false;
    pos = t.version == 3 ? 14 + uint64_t(n) : 10 + uint64_t(n);
    if (pos > t.end) return false;
  }
  return frames_read(t, pos, tags);
}

// One text field of ID3v1: up to its first zero byte, charset guessed.
void v1_field(char **slot, const unsigned char *b, uint32_t len)
{
  if (*slot || b[0] == 0) return;
  char text[31] = {};
  std::memcpy(text, b, len);
  char *out = nullptr;
  if (utf8_from2(charencoding_autodetect(text, sys_str_len(text)), text, &out)) field_set(slot, out);
}

bool v1_read(file_window &w, const sys_file_stat_rec *st, id3_tags *tags)
{
  if (st->size < 128) return false;
  unsigned char b[128];
  if (!w.read(st->size - 128, b, 128)) return false;
  if (std::memcmp(b, "TAG", 3) != 0) return true;
  v1_field(&tags->title, b + 3, 30);
  v1_field(&tags->artist, b + 33, 30);
  v1_field(&tags->album, b + 63, 30);
  v1_field(&tags->comment, b + 97, 28);
  if (!tags->track && b[125] == 0 && b[126] < 100) tags->track = b[126];
  return tags->genre || b[127] >= ID3_GENRE_COUNT || sys_str_clone(id3_genre_names[b[127]], &tags->genre);
}

}  // namespace

extern "C" {

void id3_tags_free(id3_tags *tags)
{
  if (!tags) return;
  for (char *s : {tags->title, tags->artist, tags->genre, tags->album, tags->comment}) sys_alloc_free(s);
  sys_alloc_free(tags);
}

id3_tags *id3_tags_read(int file, const sys_file_stat_rec *st)
{
  int64_t saved, back;
  if (!sys_file_seek_pos(file, &saved)) return nullptr;
  auto *tags = static_cast<id3_tags *>(sys_alloc_zero(sizeof(id3_tags)));
  bool ok = false;
  if (tags) {
    file_window w(file, st->size);
    ok = v2_read(w, st, tags) && v1_read(w, st, tags);
  }
  sys_file_seek_set(file, saved, &back);
  if (ok) return tags;
  id3_tags_free(tags);
  return nullptr;
}

}  // extern "C"
