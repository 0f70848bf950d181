// ARIB 8-bit broadcast text to UTF-8.
#include <tarvo_util/charset.h>
#include <tarvo_util/sys_str.h>

#include <iconv.h>

#include <array>
#include <cerrno>

namespace {

enum class dec : uint8_t { none, kanji, jis, alnum, hiragana, katakana, symbols };

struct code_set {
  uint8_t final;
  uint8_t bytes;
  uint8_t drcs;
  dec decoder;
};

// Entries 0-2: no set, unknown 1-byte set, unknown 2-byte set.
constexpr code_set kSets[] = {
  {0, 1, 0, dec::none},
  {0, 1, 0, dec::none},
  {0, 2, 0, dec::none},
  {0x42, 2, 0, dec::kanji},
  {0x4A, 1, 0, dec::alnum},
  {0x30, 1, 0, dec::hiragana},
  {0x31, 1, 0, dec::katakana},
  {0x32, 1, 0, dec::none}, {0x33, 1, 0, dec::none}, {0x34, 1, 0, dec::none}, {0x35, 1, 0, dec::none},
  {0x36, 1, 0, dec::alnum},
  {0x37, 1, 0, dec::hiragana},
  {0x38, 1, 0, dec::katakana},
  {0x39, 2, 0, dec::jis},
  {0x3A, 2, 0, dec::none},
  {0x3B, 2, 0, dec::symbols},
  {0x49, 1, 0, dec::none},
  {0x40, 2, 1, dec::none},
  {0x41, 1, 1, dec::none}, {0x42, 1, 1, dec::none}, {0x43, 1, 1, dec::none}, {0x44, 1, 1, dec::none},
  {0x45, 1, 1, dec::none}, {0x46, 1, 1, dec::none}, {0x47, 1, 1, dec::none}, {0x48, 1, 1, dec::none},
  {0x49, 1, 1, dec::none}, {0x4A, 1, 1, dec::none}, {0x4B, 1, 1, dec::none}, {0x4C, 1, 1, dec::none},
  {0x4D, 1, 1, dec::none}, {0x4E, 1, 1, dec::none}, {0x4F, 1, 1, dec::none},
  {0x70, 1, 1, dec::none},
};
static_assert(sizeof kSets / sizeof kSets[0] == 35);

constexpr uint8_t kUnknown1 = 1, kUnknown2 = 2;
constexpr uint8_t kAlnumSet = 4, kHiraganaSet = 5, kKatakanaSet = 6, kJisSet = 14;

uint8_t find_set(uint8_t final, uint8_t bytes, uint8_t drcs)
{
  for (uint8_t i = 3; i < sizeof kSets / sizeof kSets[0]; i++)
    if (kSets[i].final == final && kSets[i].bytes == bytes && kSets[i].drcs == drcs) return i;
  return bytes == 2 ? kUnknown2 : kUnknown1;
}

// Cells 0x77-0x7E of the kana sets: iteration marks, the prolonged sound
// mark and punctuation.
constexpr uint16_t kHiraganaTail[8] = {0x309D, 0x309E, 0x30FC, 0x3002, 0x300C, 0x300D, 0x3001, 0x30FB};
constexpr uint16_t kKatakanaTail[8] = {0x30FD, 0x30FE, 0x30FC, 0x3002, 0x300C, 0x300D, 0x3001, 0x30FB};

uint16_t hiragana(uint8_t b)
{
  if (b <= 0x73) return uint16_t(0x3041 + (b - 0x21));
  if (b <= 0x76) return 0;
  return kHiraganaTail[b - 0x77];
}

uint16_t katakana(uint8_t b)
{
  if (b <= 0x76) return uint16_t(0x30A1 + (b - 0x21));
  return kKatakanaTail[b - 0x77];
}

// Additional symbols: rows 85, 86 and 90-94, every cell 1-94.  Cells with a
// standard code point are listed as runs; the others get private-use code
// points in row and cell order.
struct sym_run {
  uint8_t row, first, last;
  uint16_t code;
};

constexpr sym_run kStandard[] = {
  {85, 3, 3, 0x4EFD}, {85, 4, 4, 0x4EFF}, {85, 5, 5, 0x4F9A}, {85, 6, 6, 0x4FC9}, {85, 7, 7, 0x509C},
  {85, 8, 8, 0x511E}, {85, 9, 9, 0x51BC}, {85, 11, 11, 0x5307}, {85, 12, 12, 0x5361}, {85, 13, 13, 0x536C},
  {85, 16, 16, 0x544D}, {85, 17, 17, 0x5496}, {85, 18, 18, 0x549C}, {85, 19, 19, 0x54A9},
  {85, 20, 20, 0x550E}, {85, 21, 21, 0x554A}, {85, 22, 22, 0x5672}, {85, 23, 23, 0x56E4},
  {85, 24, 25, 0x5733}, {85, 26, 26, 0x585A}, {85, 27, 27, 0x5880}, {85, 28, 28, 0x59E4},
  {85, 29, 29, 0x5A23}, {85, 30, 30, 0x5A55}, {85, 31, 31, 0x5BEC}, {85, 34, 34, 0x5EAC},
  {85, 35, 35, 0x5F34}, {85, 36, 36, 0x5F45}, {85, 37, 37, 0x5FB7}, {85, 38, 38, 0x6017},
  {85, 40, 40, 0x6130}, {85, 41, 41, 0x6624}, {85, 42, 42, 0x66C8}, {85, 43, 43, 0x66D9},
  {85, 44, 45, 0x66FA}, {85, 48, 48, 0x6911}, {85, 49, 49, 0x693B}, {85, 50, 50, 0x6A45},
  {85, 51, 51, 0x6A91}, {85, 52, 52, 0x6ADB}, {85, 56, 56, 0x6BF1}, {85, 57, 57, 0x6CE0},
  {85, 58, 58, 0x6D2E}, {85, 59, 59, 0x6D77}, {85, 60, 60, 0x6DBF}, {85, 61, 61, 0x6DCA},
  {85, 62, 62, 0x6DF8}, {85, 63, 63, 0x6E1A}, {85, 64, 64, 0x6F5E}, {85, 65, 65, 0x6FF9},
  {85, 66, 66, 0x7064}, {85, 69, 69, 0x7147}, {85, 70, 70, 0x71C1}, {85, 71, 71, 0x7200},
  {85, 72, 72, 0x739F}, {85, 73, 73, 0x73A8}, {85, 74, 74, 0x73C9}, {85, 75, 75, 0x73D6},
  {85, 76, 76, 0x741B}, {85, 77, 78, 0x7421}, {85, 79, 79, 0x7426}, {85, 80, 80, 0x742A},
  {85, 81, 81, 0x742C}, {85, 82, 82, 0x7439}, {85, 83, 83, 0x744B}, {85, 85, 85, 0x7575},
  {85, 86, 86, 0x7581}, {85, 87, 87, 0x7772}, {85, 89, 89, 0x78C8}, {85, 90, 90, 0x78E0},
  {85, 91, 91, 0x7947}, {85, 92, 92, 0x79AE},
  {86, 2, 2, 0x79DA}, {86, 3, 3, 0x7A1E}, {86, 4, 4, 0x7B7F}, {86, 5, 5, 0x7C31}, {86, 7, 7, 0x7D8B},
  {86, 8, 8, 0x7FA1}, {86, 9, 9, 0x8118}, {86, 10, 10, 0x813A}, {86, 12, 12, 0x82AE},
  {86, 13, 13, 0x845B}, {86, 14, 14, 0x84DC}, {86, 15, 15, 0x84EC}, {86, 16, 16, 0x8559},
  {86, 17, 17, 0x85CE}, {86, 18, 18, 0x8755}, {86, 19, 19, 0x87EC}, {86, 20, 20, 0x880B},
  {86, 21, 21, 0x88F5}, {86, 22, 22, 0x89D2}, {86, 23, 23, 0x8AF6}, {86, 24, 24, 0x8DCE},
  {86, 25, 25, 0x8FBB}, {86, 26, 26, 0x8FF6}, {86, 27, 27, 0x90DD}, {86, 28, 28, 0x9127},
  {86, 29, 29, 0x912D}, {86, 30, 30, 0x91B2}, {86, 31, 31, 0x9233}, {86, 32, 32, 0x9288},
  {86, 33, 33, 0x9321}, {86, 34, 34, 0x9348}, {86, 35, 35, 0x9592}, {86, 36, 36, 0x96DE},
  {86, 37, 37, 0x9903}, {86, 38, 38, 0x9940}, {86, 39, 39, 0x9AD9}, {86, 40, 40, 0x9BD6},
  {86, 41, 41, 0x9DD7}, {86, 42, 43, 0x9EB4},
  {92, 11, 11, 0x33A1}, {92, 12, 12, 0x33A5}, {92, 13, 13, 0x339D}, {92, 14, 14, 0x33A0},
  {92, 15, 15, 0x33A4}, {92, 17, 25, 0x2488}, {92, 42, 42, 0x3233}, {92, 43, 43, 0x3236},
  {92, 44, 44, 0x3232}, {92, 45, 45, 0x3231}, {92, 46, 46, 0x3239}, {92, 48, 48, 0x25B6},
  {92, 49, 49, 0x25C0}, {92, 50, 51, 0x3016}, {92, 86, 86, 0x00AE}, {92, 87, 87, 0x00A9},
  {93, 1, 7, 0x322A}, {93, 8, 8, 0x3237}, {93, 9, 9, 0x337E}, {93, 10, 10, 0x337D}, {93, 11, 11, 0x337C},
  {93, 12, 12, 0x337B}, {93, 15, 15, 0x3036}, {93, 39, 39, 0x2113}, {93, 40, 41, 0x338F},
  {93, 42, 42, 0x33CA}, {93, 43, 43, 0x339E}, {93, 44, 44, 0x33A2}, {93, 45, 45, 0x3371},
  {93, 48, 48, 0x00BD}, {93, 50, 51, 0x2153}, {93, 52, 52, 0x00BC}, {93, 53, 53, 0x00BE},
  {93, 54, 59, 0x2155}, {93, 61, 61, 0x215B}, {93, 64, 66, 0x2600}, {93, 72, 72, 0x2666},
  {93, 73, 73, 0x2665}, {93, 74, 74, 0x2663}, {93, 75, 75, 0x2660}, {93, 78, 78, 0x203C},
  {93, 90, 90, 0x266C},
  {94, 1, 12, 0x2160}, {94, 13, 28, 0x2470}, {94, 65, 80, 0x2460}, {94, 81, 90, 0x2776},
};

constexpr uint8_t kSymbolRows[7] = {85, 86, 90, 91, 92, 93, 94};

constexpr int symbol_row_index(uint8_t row)
{
  for (int i = 0; i < 7; i++)
    if (kSymbolRows[i] == row) return i;
  return -1;
}

constexpr std::array<uint16_t, 7 * 94> kSymbols = [] {
  std::array<uint16_t, 7 * 94> t{};
  for (const sym_run &r : kStandard)
    for (int c = r.first; c <= r.last; c++) t[symbol_row_index(r.row) * 94 + c - 1] = uint16_t(r.code + c - r.first);
  uint32_t k = 0;
  for (auto &v : t)
    if (!v) {
      v = uint16_t(0xE080 + 256 * (k / 128) + k % 128);
      k++;
    }
  return t;
}();

uint16_t symbol(uint8_t b1, uint8_t b2)
{
  int r = symbol_row_index(uint8_t(b1 - 0x20));
  int cell = b2 - 0x20;
  if (r < 0 || cell < 1 || cell > 94) return 0;
  return kSymbols[r * 94 + cell - 1];
}

struct decoder {
  uint8_t g[4] = {kJisSet, kAlnumSet, kHiraganaSet, kKatakanaSet};
  int gl = 0, gr = 2;
  iconv_t kanji = iconv_t(-1);
  unsigned char *out = nullptr;  // UTF-16BE units
  size_t pos = 0, cap = 0;       // cap leaves room for a zero unit
  bool full = false;

  decoder() = default;
  decoder(const decoder &) = delete;
  decoder &operator=(const decoder &) = delete;
  ~decoder()
  {
    if (kanji != iconv_t(-1)) iconv_close(kanji);
    sys_alloc_free(out);
  }

  void emit(uint16_t u)
  {
    if (pos + 2 > cap) {
      full = true;
      return;
    }
    sys_uint16_pack_big(out + pos, u);
    pos += 2;
  }

  void via_iconv(uint8_t b1, uint8_t b2)
  {
    // Bytes outside 0x21-0x7E would make the converter leave its
    // two-byte mode.
    if (b1 < 0x21 || b1 > 0x7E || b2 < 0x21 || b2 > 0x7E) return;
    char in[2] = {char(b1), char(b2)};
    char *ip = in, *op = reinterpret_cast<char *>(out + pos);
    size_t il = 2, ol = cap - pos;
    if (iconv(kanji, &ip, &il, &op, &ol) == size_t(-1) && errno == E2BIG) full = true;
    pos = size_t(reinterpret_cast<unsigned char *>(op) - out);
  }

  void character(uint8_t set, uint8_t b1, uint8_t b2)
  {
    switch (kSets[set].decoder) {
    case dec::kanji:
      if (uint16_t s = symbol(b1, b2)) emit(s);
      else via_iconv(b1, b2);
      break;
    case dec::jis: via_iconv(b1, b2); break;
    // In its initial state the ISO-2022-JP decoder maps 0x21-0x7E to
    // themselves.
    case dec::alnum: emit(b1); break;
    case dec::hiragana:
      if (uint16_t u = hiragana(b1)) emit(u);
      break;
    case dec::katakana: emit(katakana(b1)); break;
    case dec::symbols:
      if (uint16_t s = symbol(b1, b2)) emit(s);
      break;
    case dec::none: break;
    }
  }
};

bool graphic(uint8_t b) { return (b >= 0x21 && b <= 0x7E) || (b >= 0xA1 && b <= 0xFE); }

// The control sequence at d[i]: updates the state and returns the bytes it
// spans, 0 when it is a single shift (set *shift to 2 or 3), or 1 for an
// unmatched byte.  Longer sequences are tried first.
size_t control(decoder &st, const unsigned char *d, size_t avail, int *shift)
{
  uint8_t b = d[0];
  *shift = 0;
  if (b == 0x0F) st.gl = 0;
  else if (b == 0x0E) st.gl = 1;
  else if (b == 0x19) *shift = 2;
  else if (b == 0x1D) *shift = 3;
  if (b != 0x1B) return *shift ? 0 : 1;
  auto g_of = [](uint8_t x) { return x >= 0x28 && x <= 0x2B ? x - 0x28 : -1; };
  if (avail >= 5 && d[1] == 0x24 && g_of(d[2]) >= 0 && d[3] == 0x20) {
    st.g[g_of(d[2])] = find_set(d[4], 2, 1);
    return 5;
  }
  if (avail >= 4 && d[1] == 0x24 && g_of(d[2]) >= 1) {
    st.g[g_of(d[2])] = find_set(d[3], 2, 0);
    return 4;
  }
  if (avail >= 4 && g_of(d[1]) >= 0 && d[2] == 0x20) {
    st.g[g_of(d[1])] = find_set(d[3], 1, 1);
    return 4;
  }
  if (avail >= 3 && d[1] == 0x24) {
    st.g[0] = find_set(d[2], 2, 0);
    return 3;
  }
  if (avail >= 3 && g_of(d[1]) >= 0) {
    st.g[g_of(d[1])] = find_set(d[2], 1, 0);
    return 3;
  }
  if (avail >= 2) {
    switch (d[1]) {
    case 0x6E: st.gl = 2; return 2;
    case 0x6F: st.gl = 3; return 2;
    case 0x7E: st.gr = 1; return 2;
    case 0x7D: st.gr = 2; return 2;
    case 0x7C: st.gr = 3; return 2;
    }
  }
  return 1;
}

// Decodes the character at d[i] from set, or from GR's set for a GR byte.
// Returns the bytes taken; sets the full flag when the input ends inside a
// character.
size_t take_char(decoder &st, const unsigned char *d, size_t avail, uint8_t gl_set)
{
  bool gr = d[0] >= 0xA1;
  uint8_t set = gr ? st.g[st.gr] : gl_set;
  size_t bytes = kSets[set].bytes;
  if (avail < bytes) {
    st.full = true;
    return avail;
  }
  uint8_t b1 = d[0] & 0x7F, b2 = 0;
  if (bytes == 2) {
    if (gr && (d[1] < 0xA1 || d[1] > 0xFE)) return 2;
    b2 = d[1] & 0x7F;
  }
  st.character(set, b1, b2);
  return bytes;
}

// Decodes into st.out; false only for a single shift that is followed by
// no character.
bool decode(decoder &st, const unsigned char *d, size_t len)
{
  size_t i = 0;
  while (i < len && !st.full) {
    uint8_t b = d[i];
    if (b == 0x20 || b == 0x7F) {
      st.emit(b);
      i++;
    } else if (b == 0xA0 || b == 0xFF || b == 0x89 || b == 0x8A || b == 0x0D) {
      i++;
    } else if (graphic(b)) {
      i += take_char(st, d + i, len - i, st.g[st.gl]);
    } else if (b == 0x9B) {
      // CSI: drops '0' or '1', ' ' and 'f' as far as they follow; the byte
      // that breaks the run goes too.
      static const char *const kRun[3] = {"01", " ", "f"};
      i++;
      for (const char *want : kRun) {
        if (i == len) break;
        uint8_t c = d[i++];
        if (!want[sys_str_chr(want, c)]) break;
      }
    } else {
      int shift;
      size_t k = control(st, d + i, len - i, &shift);
      if (!shift) {
        i += k;
        continue;
      }
      i++;
      if (i == len || !graphic(d[i])) {
        st.emit(0x20);
        return false;
      }
      i += take_char(st, d + i, len - i, st.g[shift]);
    }
  }
  return true;
}

}  // namespace

extern "C" int utf8_from_arib(const unsigned char *data, uint32_t len, char *buf, uint32_t size, uint32_t *n)
{
  decoder st;
  st.cap = 4 * size_t(len);
  st.out = static_cast<unsigned char *>(sys_alloc_zero(st.cap + 2));
  if (!st.out) return 0;
  st.kanji = iconv_open("UTF-16BE", "ISO-2022-JP");
  if (st.kanji == iconv_t(-1)) return 0;
  // Priming leaves the kanji converter in its JIS X 0208 mode.
  char prime[3] = {0x1B, '$', 'B'};
  char *ip = prime, *op = reinterpret_cast<char *>(st.out);
  size_t il = 3, ol = st.cap;
  if (iconv(st.kanji, &ip, &il, &op, &ol) == size_t(-1)) return 0;
  if (!decode(st, data, len)) return 0;
  st.out[st.pos] = st.out[st.pos + 1] = 0;
  const char *u16 = reinterpret_cast<const char *>(st.out);
  if (!buf) return utf8_from("UTF-16BE", u16, nullptr, 0, n);
  // utf8_from ends the text with a NUL; this call writes none, so convert
  // into a buffer one byte larger and copy.
  uint32_t tmp_size = size == UINT32_MAX ? size : size + 1;
  char *tmp = static_cast<char *>(sys_alloc(tmp_size));
  if (!tmp) return 0;
  uint32_t got;
  int ok = utf8_from("UTF-16BE", u16, tmp, tmp_size, &got);
  if (ok) {
    sys_byte_copy(buf, got, tmp);
    *n = got;
  }
  sys_alloc_free(tmp);
  return ok;
}
