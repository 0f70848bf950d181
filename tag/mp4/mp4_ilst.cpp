// The tags of an MP4 movie: the items of udta/meta/ilst that the reader
// takes, each with its value in a first child "data" box.
#include <tarvo_tag/tag_limits.h>
#include <tarvo_tag/tag_mp4.h>
#include <tarvo_util/charset.h>
#include <tarvo_util/sys_alloc.h>

#include "../core/tag_impl.h"
#include "mp4_impl.h"

namespace mp4 {
namespace {

struct text_item {
  const char *type;
  char *mp4_info::*field;
};

const text_item kTexts[] = {
    {"\xA9nam", &mp4_info::title},   {"\xA9" "ART", &mp4_info::artist}, {"\xA9wrt", &mp4_info::composer},
    {"\xA9" "cmt", &mp4_info::comment}, {"\xA9" "alb", &mp4_info::album}, {"\xA9gen", &mp4_info::genre},
    {"\xA9" "cpy", &mp4_info::rights},
};

// The data type of UTF-16 text; other values are taken as they stand.
constexpr uint32_t kDataUtf16 = 2;

char **text_field(const box &item, mp4_info *info)
{
  for (const text_item &t : kTexts)
    if (item.is(t.type)) return &(info->*t.field);
  return nullptr;
}

void replace(char **field, char *value)
{
  sys_alloc_free(*field);
  *field = value;
}

// A text value of n bytes at the position, as a heap string.
bool text_read(in_box &r, uint32_t type, uint32_t n, char **out)
{
  auto *raw = static_cast<char *>(sys_alloc(n + 1));
  if (!raw || !r.get(raw, n)) {
    sys_alloc_free(raw);
    return false;
  }
  raw[n] = '\0';
  if (type != kDataUtf16) {
    *out = raw;
    return true;
  }
  int ok = tag_utf16_decode(reinterpret_cast<const unsigned char *>(raw), n, UTF8_ORDER_BIG, out);
  sys_alloc_free(raw);
  return ok;
}

bool item_read(source &s, const box &item, mp4_info *info)
{
  char **text = text_field(item, info);
  bool gnre = item.is("gnre"), trkn = item.is("trkn");
  // Items not taken, freeform "----" ones among them, are passed unread.
  if (!text && !gnre && !trkn) return true;
  box data;
  uint32_t type, v;
  if (!box_read(s, &data, item.end) || !data.is("data") || data.size - data.header < 8) return false;
  in_box r = data.body(s);
  if (!r.u32(&type) || !r.skip(4)) return false;
  uint64_t n = r.left();
  if (gnre) {
    if (n != 2 || !r.u16(&v)) return false;
    if (v < 1 || v > ID3_GENRE_COUNT) return true;
    char *name = tag::copy_of(id3_genre_names[v - 1]);
    if (!name) return false;
    replace(&info->genre, name);
    return true;
  }
  if (trkn) return n == 8 && r.u32(&info->track);
  if (n > TAG_MP4_TEXT_MAX) return true;
  char *value;
  if (!text_read(r, type, uint32_t(n), &value)) return false;
  replace(text, value);
  return true;
}

}  // namespace

bool udta_read(source &s, const box &udta, mp4_info *info)
{
  return children(s, udta.end, [&](box &meta) {
    if (!meta.is("meta")) return true;
    in_box r = meta.body(s);
    if (r.left() && !r.skip(4)) return false;
    return children(s, meta.end, [&](box &ilst) {
      // An item claiming more than the list holds (a cover picture whose
      // size was written wrong) cannot be passed: the tags before it stand
      // and the movie goes on after the list.
      return !ilst.is("ilst") ||
             children(s, ilst.end, [&](box &item) { return item_read(s, item, info); }, misfit::ends);
    });
  });
}

}  // namespace mp4
