// PNG: the chunk walk (IHDR, tEXt, tIME; image data passed by seeking) and
// the reader that turns it into properties.
#include <tarvo_tag/tag_limits.h>
#include <tarvo_tag/tag_reader.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_str.h>

#include <cstring>
#include <string_view>

#include "image_impl.h"

namespace {

using tag_image::be16;
using tag_image::be32;
using tag_image::source;

// The tEXt keywords the item uses, in the order their properties are added.
constexpr const char *kKeywords[] = {"Title", "Author", "Description", "Copyright"};
constexpr int kKeywordCount = 4;

struct png_info {
  uint32_t width = 0, height = 0, depth = 0;
  char date[32] = "";
  // The first non-blank text of each keyword of kKeywords.
  own::str text[kKeywordCount];
};

// Room the walk keeps for a chunk header, IHDR or tIME and a keyword; with
// less budget left it ends as at IEND.
constexpr uint32_t kChunkRoom = 8 + 13 + TAG_PNG_KEYWORD_MAX;

bool header_read(source &src, uint32_t len, png_info *png)
{
  uint8_t h[10];  // width, height, bit depth, colour type
  if (len < sizeof h || !src.read(h, sizeof h)) return false;
  png->width = be32(h);
  png->height = be32(h + 4);
  switch (h[9]) {
  case 0:
  case 4: png->depth = h[8]; break;
  case 2:
  case 6: png->depth = h[8] * 3u; break;
  case 3: png->depth = 24; break;
  default: return false;
  }
  return true;
}

bool time_read(source &src, uint32_t len, png_info *png)
{
  uint8_t t[7];
  if (len < sizeof t || !src.read(t, sizeof t)) return false;
  char *p = png->date;
  p += sys_str_fmt_0uint32(p, be16(t), 4);
  const char seps[] = {'-', '-', 'T', ':', ':'};
  for (int i = 0; i < 5; i++) {
    *p++ = seps[i];
    p += sys_str_fmt_0uint32(p, t[2 + i], 2);
  }
  *p = '\0';
  return true;
}

// Each part reads what it needs from the start of the chunk's data; the walk
// then moves to the next chunk.

// A text chunk: the keyword first, and the text only when the item still
// wants one for that keyword and it is not too long.
bool text_read(source &src, uint32_t len, png_info *png)
{
  char key[TAG_PNG_KEYWORD_MAX];
  uint32_t n = len < sizeof key ? len : uint32_t(sizeof key);
  if (!src.read(key, n)) return false;
  auto end = static_cast<const char *>(std::memchr(key, 0, n));
  if (!end || end == key) return true;
  uint32_t key_len = uint32_t(end - key), text_len = len - key_len - 1;
  int slot = 0;
  while (slot < kKeywordCount && std::strcmp(key, kKeywords[slot]) != 0) slot++;
  if (slot == kKeywordCount || png->text[slot].s || text_len == 0 || text_len > TAG_PNG_TEXT_MAX) return true;
  char *text = static_cast<char *>(sys_alloc(text_len + 1));
  if (!text) return false;
  uint32_t have = n - key_len - 1;  // read with the keyword already
  std::memcpy(text, end + 1, have);
  uint32_t got;
  bool ok = tag_image::read_full(src.file, text + have, text_len - have, &got) && got == text_len - have;
  src.pos += got;
  text[text_len] = '\0';
  if (ok && !tag_is_blank(text))
    png->text[slot].reset(text);
  else
    sys_alloc_free(text);
  return ok;
}

bool chunks_walk(source &src, png_info *png)
{
  static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  uint8_t sig[8];
  if (!src.read(sig, 8) || std::memcmp(sig, kSignature, 8) != 0) return false;
  for (;;) {
    if (src.left < kChunkRoom) return true;
    uint8_t h[8];
    if (!src.read(h, 8)) return false;
    uint32_t len = be32(h);
    uint64_t end = src.pos + len + 4;  // the CRC is not checked
    if (end > src.size) return false;
    std::string_view type(reinterpret_cast<const char *>(h + 4), 4);
    if (type == "IEND") return true;
    bool ok = type == "IHDR"                     ? header_read(src, len, png)
              : type == "tEXt" && len > 0        ? text_read(src, len, png)
              : type == "tIME" && !png->date[0]  ? time_read(src, len, png)
                                                 : true;
    if (!ok || !src.skip(end - src.pos)) return false;
  }
}

}  // namespace

extern "C" int tag_png_read(int file, const sys_file_stat_rec *, const char *mime, sys_ptralloc_rec *names,
                            sys_ptralloc_rec *values)
{
  static constexpr int kProperties[] = {TAG_PROP_DC_TITLE, TAG_PROP_DC_CREATOR, TAG_PROP_DC_DESCRIPTION,
                                        TAG_PROP_DC_RIGHTS};
  source src;
  png_info png;
  if (!src.open(file) || !chunks_walk(src, &png)) return 0;
  if (!tag_resolution_format(png.width, png.height, names, values)) return 0;
  if ((png.depth & 0xFF) && !tag_uint_property_add(TAG_NAME(RES_COLOR_DEPTH), png.depth, names, values)) return 0;
  if (!tag_property_add(TAG_NAME(DC_DATE), png.date, names, values)) return 0;
  for (int i = 0; i < kKeywordCount; i++)
    if (!tag_text_property_add(tag_property_names[kProperties[i]], png.text[i].s, names, values)) return 0;
  return tag_protocol_info_no_profile(mime, names, values);
}
