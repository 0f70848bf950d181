// UTF-8 to and from named charsets through iconv, and the native charset.
#include <tarvo_util/charset.h>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/sys_str.h>

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "heap_result.h"
#include "utf8_seq.h"

using tarvo::is_surrogate;
using tarvo::measure_and_fill;

namespace {

// Room after measured text for the widest terminator.
constexpr uint32_t kTerminatorRoom = 4;

struct alias_row {
  const char *names[6];
  uint32_t width;  // zero bytes that end text in this charset
};

#define ISO8859(d) {{"ISO-8859-" #d, "8859_" #d, "ISO8859-" #d, "ISO8859" #d, "ISO_8859-" #d, nullptr}, 1}

const alias_row kRows[] = {
  {{"UTF-8", "UTF8"}, 1},
  {{"UTF-16", "UTF16"}, 2},
  {{"UTF-16LE", "UTF16LE"}, 2},
  {{"UTF-16BE", "UTF16BE"}, 2},
  {{"UCS-4", "UCS4"}, 4},
  {{"UCS-4LE", "UCS4LE"}, 4},
  {{"UCS-4BE", "UCS4BE"}, 4},
  {{"UCS-2", "UCS2"}, 2},
  {{"UCS-2LE", "UCS2LE"}, 2},
  {{"UCS-2BE", "UCS2BE"}, 2},
  ISO8859(1), ISO8859(2), ISO8859(3), ISO8859(4), ISO8859(5),
  ISO8859(6), ISO8859(7), ISO8859(8), ISO8859(9),
  {{"ISO-2022-JP", "CSISO2022JP", "ISO2022JP"}, 1},
  {{"SHIFT-JIS", "CSSHIFTJIS", "SHIFT_JIS", "SJIS", "MS_KANJI"}, 1},
  {{"EUC-JP", "EUCJP", "EXTENDED_UNIX_CODE_PACKED_FORMAT_FOR_JAPANESE", "CSEUCPKDFMTJAPANESE"}, 1},
  {{"ASCII"}, 1},
  {{"CP932"}, 1},
};
#undef ISO8859

constexpr int kUtf8Row = 0;
constexpr int kAsciiRow = 22;
static_assert(sizeof kRows / sizeof kRows[0] == 24);

int find_row(const char *name)
{
  for (int r = 0; r < int(sizeof kRows / sizeof kRows[0]); r++)
    for (const char *const *a = kRows[r].names; *a; a++)
      if (sys_str_case_diff(*a, name) == 0) return r;
  return -1;
}

// The first name of the charset's row that iconv knows; the name itself
// when it is in no row or iconv knows none.
const char *resolve(const char *name)
{
  int r = find_row(name);
  if (r < 0) return name;
  for (const char *const *a = kRows[r].names; *a; a++) {
    iconv_t t = iconv_open("ASCII", *a);
    if (t != iconv_t(-1)) {
      iconv_close(t);
      return *a;
    }
  }
  return name;
}

struct converter {
  iconv_t cd = iconv_t(-1);
  converter() = default;
  converter(const converter &) = delete;
  converter &operator=(const converter &) = delete;
  ~converter()
  {
    if (ok()) iconv_close(cd);
  }
  bool ok() const { return cd != iconv_t(-1); }
  bool open(const char *to, const char *from)
  {
    cd = iconv_open(to, from);
    if (!ok()) cd = iconv_open(resolve(to), resolve(from));
    return ok();
  }
};

struct run_result {
  size_t bytes = 0;
  bool full = false;  // the output buffer ran out
  bool bad = false;   // strict run met input it cannot convert
};

// Converts len bytes into out (room bytes), or only counts when out is
// NULL.  Input that cannot be converted is skipped skip bytes at a time, or
// ends a strict run.  A full buffer keeps the whole characters written.
run_result run(iconv_t cd, const char *in, size_t len, char *out, size_t room, size_t skip, bool strict)
{
  run_result res;
  char scratch[4096];
  char *ip = const_cast<char *>(in);
  size_t il = len;
  bool flushing = false;
  for (;;) {
    char *base = out ? out + res.bytes : scratch;
    size_t cap = out ? room - res.bytes : sizeof scratch;
    char *op = base;
    size_t ol = cap;
    // A last call without input writes the shift back to the initial state
    // that stateful charsets need.
    size_t r = flushing ? iconv(cd, nullptr, nullptr, &op, &ol) : iconv(cd, &ip, &il, &op, &ol);
    res.bytes += size_t(op - base);
    if (r != size_t(-1)) {
      if (flushing) return res;
      flushing = true;
      continue;
    }
    if (errno == E2BIG) {
      if (out) {
        res.full = true;
        return res;
      }
      continue;
    }
    if (flushing) return res;
    if (strict && errno == EILSEQ) {
      res.bad = true;
      return res;
    }
    size_t k = skip < il ? skip : il;
    ip += k;
    il -= k;
  }
}

// The input as UCS-4BE in a heap buffer.
bool to_ucs4(iconv_t cd, const char *in, size_t len, size_t skip, own::str &u, size_t *ulen)
{
  // Four bytes per input byte hold every charset but those that give
  // several code points for one byte; for those, measure first.
  size_t cap = 4 * len + 16;
  for (int pass = 0; pass < 2; pass++) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    u.reset(static_cast<char *>(sys_alloc(cap)));
    if (!u.s) return false;
    run_result r = run(cd, in, len, u.s, cap, skip, false);
    if (!r.full) {
      *ulen = r.bytes;
      return true;
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    cap = run(cd, in, len, nullptr, 0, skip, false).bytes + 16;
  }
  return false;
}

// Code points that the Japanese charsets' tables and Unicode text disagree
// on: side A is what text in the system holds, side B what iconv maps.
const uint32_t kRemap[7][2] = {
  {0xFF5E, 0x301C}, {0xFF0D, 0x2212}, {0x2225, 0x2016}, {0xFFE0, 0x00A2},
  {0xFFE1, 0x00A3}, {0xFFE2, 0x00AC}, {0xFFE4, 0x00A6},
};

enum class remap_dir { none, a_to_b, b_to_a };

bool remapped(const char *charset)
{
  return std::strcmp(charset, "EUC-JP") == 0 || std::strcmp(charset, "CP932") == 0;
}

// Drops what is no code point from the UCS-4BE intermediate (iconv's UCS-4
// decoders pass values up to 0x7FFFFFFF, which no charset should receive),
// and applies the Japanese remap.  Returns the new length.
size_t clean(char *u, size_t len, remap_dir dir)
{
  int from = dir == remap_dir::a_to_b ? 0 : 1;
  size_t w = 0;
  for (size_t i = 0; i + 4 <= len; i += 4) {
    auto *p = reinterpret_cast<unsigned char *>(u + i);
    uint32_t v;
    sys_uint32_unpack_big(p, &v);
    if (v > 0x10FFFF || is_surrogate(v)) continue;
    if (dir != remap_dir::none)
      for (const auto &pair : kRemap)
        if (v == pair[from]) v = pair[1 - from];
    sys_uint32_pack_big(reinterpret_cast<unsigned char *>(u + w), v);
    w += 4;
  }
  return w;
}

// from -> UCS-4BE -> to.  Input that cannot be converted is skipped: skip
// bytes at a time in the source, a whole code point in the intermediate.
bool two_step(const char *from, const char *to, const char *in, size_t len, size_t skip, remap_dir dir,
              char *buf, size_t room, size_t *got)
{
  converter c1, c2;
  if (!c1.open("UCS-4BE", from) || !c2.open(to, "UCS-4BE")) return false;
  own::str u;
  size_t ulen;
  if (!to_ucs4(c1.cd, in, len, skip, u, &ulen)) return false;
  ulen = clean(u.s, ulen, dir);
  *got = run(c2.cd, u.s, ulen, buf, room, 4, false).bytes;
  return true;
}

size_t copy(const char *src, size_t len, char *buf, size_t room)
{
  size_t k = buf && len > room ? room : len;
  if (buf) std::memcpy(buf, src, k);
  return k;
}

int set_n(uint32_t *n, size_t got)
{
  if (got > UINT32_MAX - 4) return 0;
  *n = uint32_t(got);
  return 1;
}

// Text length up to the first zero unit of the charset's width.
size_t unit_len(const char *text, uint32_t w)
{
  if (w == 1) return std::strlen(text);
  size_t i = 0;
  for (;;) {
    uint32_t k = 0;
    while (k < w && text[i + k] == 0) k++;
    if (k == w) return i;
    i += w;
  }
}

struct native_info {
  std::string charset;  // what iconv is asked for
  bool from_env = false;
};

// Worked out once: CHARACTER_ENCODING, else the codeset of the user's
// locale, without touching the process's own locale.
const native_info &native()
{
  static const native_info ni = [] {
    native_info r;
    r.charset = "UTF-8";
    const char *e = std::getenv("CHARACTER_ENCODING");
    if (e && *e) {
      r.charset = e;
      r.from_env = true;
      return r;
    }
    locale_t l = newlocale(LC_CTYPE_MASK, "", locale_t(0));
    if (l) {
      const char *cs = nl_langinfo_l(CODESET, l);
      // The C and POSIX locales report ASCII; their bytes are taken as UTF-8.
      if (cs && *cs && std::strcmp(cs, "ANSI_X3.4-1968") != 0) r.charset = cs;
      freelocale(l);
    }
    return r;
  }();
  return ni;
}

bool is_native_name(const char *charset)
{
  const native_info &ni = native();
  return ni.from_env && ni.charset == charset;
}

// Into the native charset: the UTF-8 text up to its first illegal sequence;
// a character the charset cannot represent fails the call.
int native_to(const char *utf8, char *buf, uint32_t size, uint32_t *n)
{
  if (buf && size == 0) return 0;
  uint32_t units;
  if (!utf8_to_ucs(4, UTF8_ORDER_BIG, utf8, nullptr, 0, &units)) return 0;
  own::str u;
  u.reset(static_cast<char *>(sys_alloc((size_t(units) + 1) * 4)));
  if (!u.s) return 0;
  if (!utf8_to_ucs(4, UTF8_ORDER_BIG, utf8, u.s, units + 1, &units)) return 0;
  converter c;
  if (!c.open(native().charset.c_str(), "UCS-4BE")) return 0;
  run_result r = run(c.cd, u.s, size_t(units) * 4, buf, buf ? size - 1 : 0, 4, true);
  if (r.bad) return 0;
  if (buf) buf[r.bytes] = 0;
  return set_n(n, r.bytes);
}

// From the native charset: bytes that start no character are skipped.
int native_from(const char *text, char *buf, uint32_t size, uint32_t *n)
{
  if (buf && size == 0) return 0;
  size_t got;
  if (!two_step(native().charset.c_str(), "UTF-8", text, std::strlen(text), 1, remap_dir::none, buf,
                buf ? size - 1 : 0, &got))
    return 0;
  if (buf) buf[got] = 0;
  return set_n(n, got);
}

}  // namespace

extern "C" {

int utf8_to(const char *charset, const char *utf8, char *buf, uint32_t size, uint32_t *n)
{
  int row = find_row(charset);
  if (row < 0) return 0;
  if (is_native_name(charset)) return native_to(utf8, buf, size, n);
  uint32_t w = kRows[row].width;
  if (buf && size < w) return 0;
  size_t len = std::strlen(utf8);
  size_t room = buf ? size - w : 0;
  size_t got;
  if ((row == kUtf8Row && (!buf || len <= room)) || row == kAsciiRow)
    got = copy(utf8, len, buf, room);
  else if (!two_step("UTF-8", charset, utf8, len, 1, remapped(charset) ? remap_dir::a_to_b : remap_dir::none,
                     buf, room, &got))
    return 0;
  if (buf) std::memset(buf + got, 0, w);
  return set_n(n, got);
}

int utf8_to2(const char *charset, const char *utf8, char **out)
{
  auto convert = [&](char *b, uint32_t s, uint32_t *n) { return utf8_to(charset, utf8, b, s, n); };
  return measure_and_fill(convert, 1, kTerminatorRoom, out);
}

int utf8_from(const char *charset, const char *text, char *buf, uint32_t size, uint32_t *n)
{
  if (is_native_name(charset)) return native_from(text, buf, size, n);
  if (buf && size == 0) return 0;
  int row = find_row(charset);
  uint32_t w = row < 0 ? 1 : kRows[row].width;
  size_t len = unit_len(text, w);
  size_t room = buf ? size - 1 : 0;
  size_t got;
  if ((row == kUtf8Row && (!buf || len <= room)) || row == kAsciiRow)
    got = copy(text, len, buf, room);
  else if (!two_step(charset, "UTF-8", text, len, w, remapped(charset) ? remap_dir::b_to_a : remap_dir::none,
                     buf, room, &got))
    return 0;
  if (buf) buf[got] = 0;
  return set_n(n, got);
}

int utf8_from2(const char *charset, const char *text, char **out)
{
  auto convert = [&](char *b, uint32_t s, uint32_t *n) { return utf8_from(charset, text, b, s, n); };
  return measure_and_fill(convert, 1, kTerminatorRoom, out);
}

int utf8_to_native(const char *utf8, char *buf, uint32_t size, uint32_t *n)
{
  return native_to(utf8, buf, size, n);
}

int utf8_to_native2(const char *utf8, char **out)
{
  auto convert = [&](char *b, uint32_t s, uint32_t *n) { return native_to(utf8, b, s, n); };
  return measure_and_fill(convert, 1, kTerminatorRoom, out);
}

int utf8_from_native(const char *text, char *buf, uint32_t size, uint32_t *n)
{
  return native_from(text, buf, size, n);
}

int utf8_from_native2(const char *text, char **out)
{
  auto convert = [&](char *b, uint32_t s, uint32_t *n) { return native_from(text, b, s, n); };
  return measure_and_fill(convert, 1, kTerminatorRoom, out);
}

}  // extern "C"
