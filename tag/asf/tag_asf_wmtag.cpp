// The WMTag reader: one forward walk over the ASF header objects up to the
// Data object, every field bounded by the object that holds it, into the
// attribute, stream, codec and bitrate lists and the file's timing.
#include <tarvo_tag/tag_limits.h>
#include <tarvo_tag/tag_reader.h>
#include <tarvo_util/charset.h>
#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_str.h>

#include <algorithm>
#include <cstring>
#include <iterator>

#include "tag_asf_impl.h"

namespace {

uint16_t le16(const unsigned char *p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t le32(const unsigned char *p) { return uint32_t(le16(p)) | uint32_t(le16(p + 2)) << 16; }
uint64_t le64(const unsigned char *p) { return uint64_t(le32(p)) | uint64_t(le32(p + 4)) << 32; }

// Forward reading through one buffer.  Reads and skips stop at the limit
// (the end of the object being read, else of the file); what is taken from
// the file counts against the budget, and large skips seek instead of
// reading.
struct reader {
  int file = -1;
  uint64_t pos = 0;    // of the next byte handed out
  uint64_t size = 0;   // of the file
  uint64_t limit = 0;  // no read or skip goes past it
  uint64_t budget = TAG_ASF_READ_SLACK;
  uint32_t at = 0, len = 0;  // buf[at, len) holds the bytes from pos on
  unsigned char buf[TAG_ASF_BUFFER_SIZE];

  bool fill()
  {
    uint32_t want = uint32_t(std::min<uint64_t>(sizeof buf, budget)), got = 0;
    if (!want || !sys_file_read(file, buf, want, &got) || !got) return false;
    budget -= got;
    at = 0;
    len = got;
    return true;
  }
  bool read(void *dst, uint32_t n)
  {
    if (n > limit - pos) return false;
    auto *d = static_cast<unsigned char *>(dst);
    while (n) {
      if (at == len && !fill()) return false;
      uint32_t k = std::min(n, len - at);
      std::memcpy(d, buf + at, k);
      d += k, at += k, pos += k, n -= k;
    }
    return true;
  }
  bool skip(uint64_t n)
  {
    if (n > limit - pos) return false;
    if (n <= len - at) {
      at += uint32_t(n);
    } else {
      int64_t now;
      if (!sys_file_seek_set(file, int64_t(pos + n), &now) || uint64_t(now) != pos + n) return false;
      at = len = 0;
    }
    pos += n;
    return true;
  }
  bool u16(uint16_t *v)
  {
    unsigned char b[2];
    return read(b, 2) && (*v = le16(b), true);
  }
  bool u32(uint32_t *v)
  {
    unsigned char b[4];
    return read(b, 4) && (*v = le32(b), true);
  }
  bool u64(uint64_t *v)
  {
    unsigned char b[8];
    return read(b, 8) && (*v = le64(b), true);
  }
};

// A heap block of n bytes read from the file (n may be 0); NULL when the
// read or the allocation fails.
unsigned char *read_block(reader &r, uint32_t n)
{
  auto *p = static_cast<unsigned char *>(sys_alloc(n ? n : 1));
  if (p && r.read(p, n)) return p;
  sys_alloc_free(p);
  return nullptr;
}

// UTF-16LE text of n bytes from the file as heap UTF-8.
char *read_text(reader &r, uint32_t n)
{
  unsigned char *raw = read_block(r, n);
  char *text = nullptr;
  if (raw && !tag_utf16_decode(raw, n, UTF8_ORDER_LITTLE, &text)) text = nullptr;
  sys_alloc_free(raw);
  return text;
}

// Takes the record into the list; past the cap it is dropped, which is no
// failure.  false when memory runs out (the record is then freed).
template <typename T, typename Free>
bool keep(sys_ptralloc_rec *list, T *item, Free release)
{
  if (!item) return false;
  if (list->len < TAG_ASF_LIST_MAX && !sys_ptralloc_append(list, item)) {
    release(item);
    return false;
  }
  if (list->len == 0 || list->buf[list->len - 1] != item) release(item);
  return true;
}

void attribute_free(asf::attribute *a)
{
  if (!a) return;
  sys_alloc_free(a->name);
  sys_alloc_free(a->bytes);
  sys_alloc_free(a);
}

void codec_free(asf::codec *c)
{
  if (!c) return;
  sys_alloc_free(c->name);
  sys_alloc_free(c->description);
  sys_alloc_free(c);
}

// Appends an attribute of an owned name and value.  A value of length 0
// can match no lookup and is not kept.
bool attribute_add(WMTag *t, char *name, uint16_t type, unsigned char *bytes, uint16_t len)
{
  if (!name || !bytes) {
    sys_alloc_free(name);
    sys_alloc_free(bytes);
    return false;
  }
  auto *a = static_cast<asf::attribute *>(sys_alloc_zero(sizeof(asf::attribute)));
  if (!a || !len) {
    sys_alloc_free(name);
    sys_alloc_free(bytes);
    sys_alloc_free(a);
    return a != nullptr;
  }
  *a = {name, type, len, bytes};
  return keep(&t->attributes, a, attribute_free);
}

char *name_copy(const char *s)
{
  char *c = nullptr;
  return sys_str_clone(s, &c) ? c : nullptr;
}

bool file_properties(reader &r, WMTag *t)
{
  uint64_t play, preroll;
  uint32_t flags, max_bitrate;
  if (!(r.skip(40) && r.u64(&play) && r.skip(8) && r.u64(&preroll) && r.u32(&flags) && r.skip(8) &&
        r.u32(&max_bitrate)))
    return false;
  // A preroll as long as the play duration or longer leaves no duration:
  // the subtraction would wrap to thousands of hours.
  bool timed = !(flags & 1) && preroll < play / 10000 + (play % 10000 != 0);
  t->duration = timed ? play - preroll * 10000 : 0;
  t->max_bitrate = max_bitrate;
  return true;
}

void waveformatex(const unsigned char *w, asf::stream *s)
{
  s->kind = asf::kAudio;
  s->format_tag = le16(w);
  s->channels = le16(w + 2);
  s->samples_per_second = le32(w + 4);
  s->bytes_per_second = le32(w + 8);
  s->block_align = le16(w + 12);
  s->bits_per_sample = le16(w + 14);
}

bool video_format(reader &r, asf::stream *s)
{
  uint16_t format_size;
  if (!(r.u32(&s->width) && r.u32(&s->height) && r.skip(1) && r.u16(&format_size)) || format_size < 40) return false;
  if (!(r.skip(16) && r.u32(&s->compression) && r.skip(20))) return false;
  s->kind = asf::kVideo;
  return format_size - 40 < 4 || r.read(s->codec_data, 4);
}

// The first 18 and the last 48 bytes of a binary-media format block are all
// that is looked at: a WAVEFORMATEX at its start, wrapped media types at
// its end.
struct format_block {
  unsigned char b[66];
  uint32_t size, kept;
  const unsigned char *tail(uint32_t back) const { return b + kept - back; }
};

bool format_block_read(reader &r, format_block *f)
{
  if (!r.u32(&f->size)) return false;
  f->kept = std::min<uint32_t>(f->size, sizeof f->b);
  if (f->size <= sizeof f->b) return r.read(f->b, f->size);
  return r.read(f->b, 18) && r.skip(f->size - sizeof f->b) && r.read(f->b + 18, 48);
}

// 1 audio, 0 nothing recorded, -1 the header is refused.
int binary_format(reader &r, asf::stream *s)
{
  asf::guid major, subtype, format;
  format_block f;
  if (!(r.read(major, 16) && r.read(subtype, 16) && r.skip(12) && r.read(format, 16) && format_block_read(r, &f)))
    return -1;
  // A wrapped type stands for the next 16 bytes from the end of the block.
  uint32_t taken = 0;
  for (unsigned char *type : {format, subtype, major}) {
    if (!asf::is_wrapped_type(type)) continue;
    if (f.size < taken + 16) return -1;
    taken += 16;
    std::memcpy(type, f.tail(taken), 16);
  }
  switch (asf::binary_format(asf::media_position(major), asf::media_position(subtype), asf::media_position(format))) {
  case asf::kBinaryAudio:
    if (f.size < 18) return -1;
    waveformatex(f.b, s);
    return 1;
  case asf::kBinaryIgnored: return 0;
  default: return -1;
  }
}

bool stream_properties(reader &r, WMTag *t)
{
  asf::guid type;
  uint32_t specific_len, correction_len;
  uint16_t flags;
  if (!(r.read(type, 16) && r.skip(24) && r.u32(&specific_len) && r.u32(&correction_len) && r.u16(&flags) &&
        r.skip(4)))
    return false;
  if (!specific_len) return true;
  // The format record is read within its own length.
  r.limit = std::min(r.limit, r.pos + specific_len);
  auto *s = static_cast<asf::stream *>(sys_alloc_zero(sizeof(asf::stream)));
  if (!s) return false;
  s->number = flags & 0x7F;
  unsigned char w[18];
  int got = 0;
  switch (asf::object_position(type)) {
  case asf::kAudio:
    got = r.read(w, 18) ? 1 : -1;
    if (got > 0) waveformatex(w, s);
    break;
  case asf::kVideo: got = video_format(r, s) ? 1 : -1; break;
  case 43: got = binary_format(r, s); break;
  default: break;
  }
  if (got <= 0) sys_alloc_free(s);
  return got == 0 || (got == 1 && keep(&t->streams, s, sys_alloc_free));
}

bool codec_list(reader &r, WMTag *t)
{
  uint32_t count;
  if (!(r.skip(16) && r.u32(&count))) return false;
  for (uint32_t i = 0; i < count; i++) {
    auto *c = static_cast<asf::codec *>(sys_alloc_zero(sizeof(asf::codec)));
    uint16_t name_len, description_len, info_len;
    bool ok = c && r.u16(&c->type) && r.u16(&name_len) && (c->name = read_text(r, 2u * name_len)) &&
              r.u16(&description_len) && (c->description = read_text(r, 2u * description_len)) &&
              r.u16(&info_len) && r.skip(info_len);
    if (!ok || !keep(&t->codecs, c, codec_free)) {
      if (!ok) codec_free(c);
      return false;
    }
  }
  return true;
}

bool content_description(reader &r, WMTag *t)
{
  static const char *const kNames[] = {"Title", "Author", "Copyright", "Description", "Rating"};
  uint16_t lens[5];
  for (uint16_t &len : lens)
    if (!r.u16(&len)) return false;
  for (int i = 0; i < 5; i++)
    if (lens[i] && !attribute_add(t, name_copy(kNames[i]), asf::kUnicode, read_block(r, lens[i]), lens[i]))
      return false;
  return true;
}

bool extended_content_description(reader &r, WMTag *t)
{
  uint16_t count;
  if (!r.u16(&count)) return false;
  for (uint16_t i = 0; i < count; i++) {
    uint16_t name_len, type, value_len;
    char *name = nullptr;
    if (!(r.u16(&name_len) && (name = read_text(r, name_len)) && r.u16(&type) && r.u16(&value_len))) {
      sys_alloc_free(name);
      return false;
    }
    if (!attribute_add(t, name, type, read_block(r, value_len), value_len)) return false;
  }
  return true;
}

bool stream_bitrates(reader &r, WMTag *t)
{
  uint16_t count;
  if (!r.u16(&count)) return false;
  for (uint16_t i = 0; i < count; i++) {
    uint16_t flags;
    uint32_t average;
    if (!(r.u16(&flags) && r.u32(&average))) return false;
    auto *b = static_cast<asf::bitrate *>(sys_alloc(sizeof(asf::bitrate)));
    if (b) *b = {uint32_t(flags & 0x7F), average};
    if (!keep(&t->bitrates, b, sys_alloc_free)) return false;
  }
  return true;
}

// Its fixed fields, stream names and payload extension systems; a stream
// properties object after them is met by the walk.
bool extended_stream_properties(reader &r, WMTag *)
{
  uint16_t names, systems;
  if (!(r.skip(60) && r.u16(&names) && r.u16(&systems))) return false;
  for (uint16_t i = 0; i < names; i++) {
    uint16_t len;
    if (!(r.skip(2) && r.u16(&len) && r.skip(len))) return false;
  }
  for (uint16_t i = 0; i < systems; i++) {
    uint32_t len;
    if (!(r.skip(18) && r.u32(&len) && r.skip(len))) return false;
  }
  return true;
}

void collection_id_format(const unsigned char *g, char *out)
{
  static const int kOrder[] = {3, 2, 1, 0, -1, 5, 4, -1, 7, 6, -1, 8, 9, -1, 10, 11, 12, 13, 14, 15};
  for (int i : kOrder) {
    if (i < 0) *out++ = '-';
    else out += sys_str_fmt_0xint(out, g[i], 2);
  }
  *out = '\0';
}

bool metadata_library(reader &r, WMTag *t)
{
  static const char kName[] = "WM/WMCollectionID";
  uint16_t count;
  if (!r.u16(&count)) return false;
  for (uint16_t i = 0; i < count; i++) {
    uint16_t name_len, type;
    uint32_t data_len;
    if (!(r.skip(4) && r.u16(&name_len) && r.u16(&type) && r.u32(&data_len))) return false;
    if (type != asf::kGuid || name_len != 2 * sizeof kName || data_len != 16) {
      if (!(r.skip(name_len) && r.skip(data_len))) return false;
      continue;
    }
    char *name = read_text(r, name_len);
    bool wanted = name && std::strcmp(name, kName) == 0;
    sys_alloc_free(name);
    if (!name) return false;
    unsigned char g[16];
    if (!r.read(g, 16)) return false;
    if (wanted) {
      collection_id_format(g, t->collection_id);
      return true;
    }
  }
  return true;
}

struct object_handler {
  int position;
  bool (*handle)(reader &r, WMTag *t);
  // The walk goes on inside the object after its fields, instead of at its
  // end.
  bool container;
};

bool header(reader &r, WMTag *) { return r.skip(6); }
bool header_extension(reader &r, WMTag *) { return r.skip(22); }

const object_handler kHandlers[] = {
    {0, header, true},
    {6, file_properties, false},
    {7, stream_properties, false},
    {8, header_extension, true},
    {9, codec_list, false},
    {14, content_description, false},
    {15, extended_content_description, false},
    {17, stream_bitrates, false},
    {22, extended_stream_properties, true},
    {29, metadata_library, false},
};

// One object from its GUID on; 1 read, 0 the walk ends with success (the
// Data object), -1 it fails.
int object_next(reader &r, WMTag *t, bool *header_seen)
{
  r.limit = r.size;
  uint64_t start = r.pos, size;
  asf::guid id;
  if (!r.read(id, 16)) return -1;
  int position = asf::object_position(id);
  if (position == 1) return 0;
  if (position >= 2 && position <= 5) return -1;
  if (!r.u64(&size) || size < 24 || size > r.size - start) return -1;
  if (position == 0 && !*header_seen) {
    *header_seen = true;
    r.budget += std::min<uint64_t>(size, TAG_ASF_HEADER_READ_MAX);
  }
  r.limit = start + size;
  const object_handler *h = std::find_if(std::begin(kHandlers), std::end(kHandlers),
                                         [&](const object_handler &e) { return e.position == position; });
  if (h == std::end(kHandlers)) return r.skip(r.limit - r.pos) ? 1 : -1;
  if (!h->handle(r, t)) return -1;
  r.limit = start + size;
  return h->container || r.skip(r.limit - r.pos) ? 1 : -1;
}

bool walk(reader &r, WMTag *t)
{
  int64_t start;
  sys_file_stat_rec st;
  if (!sys_file_seek_pos(r.file, &start) || !sys_file_fstat(r.file, &st) || uint64_t(start) > st.size) return false;
  r.pos = uint64_t(start);
  r.size = st.size;
  bool header_seen = false;
  for (;;) {
    int next = object_next(r, t, &header_seen);
    if (next <= 0) return next == 0;
  }
}

}  // namespace

extern "C" {

WMTag *WMTag_New(int file)
{
  auto *t = static_cast<WMTag *>(sys_alloc_zero(sizeof(WMTag)));
  if (!t) return nullptr;
  reader r;
  r.file = file;
  if (walk(r, t)) return t;
  WMTag_Delete(t);
  return nullptr;
}

char *WMTag_GetWMCollectionID(WMTag *tag) { return tag && tag->collection_id[0] ? tag->collection_id : nullptr; }

void WMTag_Delete(WMTag *tag)
{
  if (!tag) return;
  for (uint32_t i = 0; i < tag->attributes.len; i++) attribute_free(static_cast<asf::attribute *>(tag->attributes.buf[i]));
  for (uint32_t i = 0; i < tag->codecs.len; i++) codec_free(static_cast<asf::codec *>(tag->codecs.buf[i]));
  for (sys_ptralloc_rec *list : {&tag->bitrates, &tag->streams})
    for (uint32_t i = 0; i < list->len; i++) sys_alloc_free(list->buf[i]);
  for (sys_ptralloc_rec *list : {&tag->attributes, &tag->bitrates, &tag->streams, &tag->codecs})
    sys_ptralloc_free(list);
  sys_alloc_free(tag);
}

}  // extern "C"
