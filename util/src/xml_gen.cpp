// XML text writers: escaping, elements, attributes, trimming and the
// character check for values that will be stored as XML.
#include <tarvo_util/xml.h>

#include "xml_internal.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

constexpr const char *entity_of(unsigned char c)
{
  switch (c) {
  case '"': return "&quot;";
  case '&': return "&amp;";
  case '\'': return "&apos;";
  case '<': return "&lt;";
  case '>': return "&gt;";
  default: return nullptr;
  }
}

bool is_trim_space(char c) { return c == ' ' || (c >= 9 && c <= 13); }

bool in(unsigned char c, unsigned lo, unsigned hi) { return c >= lo && c <= hi; }

// Length of the UTF-8 sequence that starts at s, or 0 when it is not one
// that an XML document may hold.
uint32_t legal_sequence(const unsigned char *s)
{
  unsigned char c = s[0];
  if (c < 0x20 || in(c, 0x80, 0xC1) || c >= 0xF5) return 0;
  if (c < 0x80) return 1;
  uint32_t n = c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
  // The string's NUL stops the walk here: it is not a continuation byte.
  for (uint32_t i = 1; i < n; i++)
    if (!in(s[i], 0x80, 0xBF)) return 0;
  unsigned char d = s[1];
  if (c == 0xE0 && d < 0xA0) return 0;  // overlong
  if (c == 0xED && d > 0x9F) return 0;  // surrogates
  if (c == 0xEF && d == 0xBF && s[2] >= 0xBE) return 0;  // U+FFFE, U+FFFF
  if (c == 0xF0 && d < 0x90) return 0;  // overlong
  if (c == 0xF4 && d > 0x8F) return 0;  // beyond U+10FFFF
  return n;
}

// How each byte is written, escaped once or twice (the escape of its
// escape: "&" as "&amp;amp;"), by table: the escape runs over every byte
// of a large Result.  Each byte is written as one store of Store bytes: a
// byte as itself, or its entity, with the rest overwritten by what
// follows.
template <uint32_t Store> struct written {
  char b[Store];
};

template <uint32_t Store> struct escape_table {
  std::array<uint8_t, 256> extra{};  // the bytes each byte adds
  std::array<written<Store>, 256> out{};
};

template <uint32_t Store, bool Twice> constexpr escape_table<Store> table_make()
{
  escape_table<Store> t{};
  for (unsigned c = 0; c < 256; c++) {
    const char *e = entity_of(static_cast<unsigned char>(c));
    if (!e) {
      t.out[c].b[0] = char(c);
      continue;
    }
    uint32_t n = 0;
    for (uint32_t i = 0; e[i]; i++) {
      // Every entity begins with the only byte of it that needs one.
      const char *again = Twice && i == 0 ? "&amp;" : nullptr;
      for (uint32_t j = 0; again && again[j]; j++) t.out[c].b[n++] = again[j];
      if (!again) t.out[c].b[n++] = e[i];
    }
    t.extra[c] = uint8_t(n - 1);
  }
  return t;
}

// "&quot;" and "&apos;" are the longest entities; escaped again, ten bytes.
constexpr uint32_t kOnceMax = 6, kTwiceMax = 10;
constexpr auto kOnce = table_make<8, false>();
constexpr auto kTwice = table_make<16, true>();

// Writes the n bytes at s escaped at w, which has room for Store - 1 bytes
// beyond the escaped text; the end of what was written.  No branch per
// byte: markup has an entity every few bytes.
template <uint32_t Store> char *escape_to(const escape_table<Store> &t, char *w, const char *s, uint32_t n)
{
  for (uint32_t i = 0; i < n; i++) {
    auto c = static_cast<unsigned char>(s[i]);
    std::memcpy(w, t.out[c].b, Store);
    w += t.extra[c] + 1u;
  }
  return w;
}

// A DIDL-Lite Result is mostly markup, and a copy per run between two
// entities cost more than the text itself.  Where the buffer has room for
// the worst case, one pass writes the bytes; else a first pass counts them,
// so that the buffer grows no more than the text needs.
template <uint32_t Store>
int encode_appendb(const escape_table<Store> &t, uint32_t most, sys_stralloc_rec *sa, const char *s, uint32_t n)
{
  // A source inside the buffer itself moves along with it, and lies
  // before the end that is written.
  uintptr_t b0 = reinterpret_cast<uintptr_t>(sa->buf), at = reinterpret_cast<uintptr_t>(s);
  bool inside = sa->buf && at >= b0 && at < b0 + sa->a;
  if (sa->buf && !inside && uint64_t(n) * most + Store < uint64_t(sa->a - sa->len)) {
    char *w = escape_to(t, sa->buf + sa->len, s, n);
    sa->len = uint32_t(w - sa->buf);
    return 1;
  }
  uint64_t out = n;
  for (uint32_t i = 0; i < n; i++) out += t.extra[static_cast<unsigned char>(s[i])];
  if (out + Store > UINT32_MAX || !sys_stralloc_readyplus(sa, uint32_t(out + Store))) return 0;
  if (inside) s = sa->buf + (at - b0);
  char *w = sa->buf + sa->len;
  if (out == n) std::memcpy(w, s, n);
  else escape_to(t, w, s, n);
  sa->len += uint32_t(out);
  return 1;
}

}  // namespace

int xml_gen_encode_appendb(sys_stralloc_rec *sa, const char *s, uint32_t n)
{
  return encode_appendb(kOnce, kOnceMax, sa, s, n);
}

int xml_gen_encode_twice_appendb(sys_stralloc_rec *sa, const char *s, uint32_t n)
{
  return encode_appendb(kTwice, kTwiceMax, sa, s, n);
}

extern "C" {

int xml_gen_encode_append(sys_stralloc_rec *sa, const char *s)
{
  return xml_gen_encode_appendb(sa, s, sys_str_len(s));
}

int xml_gen_element_append(sys_stralloc_rec *sa, const char *name, const char *text)
{
  return sys_stralloc_cats(sa, "<") && sys_stralloc_cats(sa, name) && sys_stralloc_cats(sa, ">") &&
         (!text || xml_gen_encode_append(sa, text)) && sys_stralloc_cats(sa, "</") &&
         sys_stralloc_cats(sa, name) && sys_stralloc_cats(sa, ">\r\n");
}

int xml_gen_attribute_append(sys_stralloc_rec *sa, const char *name, const char *value)
{
  return sys_stralloc_cats(sa, " ") && sys_stralloc_cats(sa, name) && sys_stralloc_cats(sa, "=\"") &&
         xml_gen_encode_append(sa, value) && sys_stralloc_cats(sa, "\"");
}

void xml_gen_text_trim(sys_stralloc_rec *sa)
{
  char *b = sa->buf;
  uint32_t n = sa->len;
  for (uint32_t i = 0; i < n; i++)
    if (b[i] == '\r' || b[i] == '\n') b[i] = ' ';
  while (n && is_trim_space(b[n - 1])) n--;
  uint32_t start = 0;
  while (start < n && is_trim_space(b[start])) start++;
  if (start) sys_byte_copy(b, n - start, b + start);
  sa->len = n - start;
}

int xml_gen_is_legal_value(const char *s)
{
  const auto *p = reinterpret_cast<const unsigned char *>(s);
  while (*p) {
    // Most values are printable ASCII: those bytes need no sequence check.
    while (*p >= 0x20 && *p < 0x80) p++;
    if (!*p) break;
    uint32_t n = legal_sequence(p);
    if (!n) return 0;
    p += n;
  }
  return 1;
}

int xml_gen_legal_copy(const char *s, char **out)
{
  sys_stralloc_rec sa{};
  const auto *p = reinterpret_cast<const unsigned char *>(s);
  bool ok = true;
  while (ok && *p) {
    uint32_t n = legal_sequence(p);
    ok = n ? sys_stralloc_catb(&sa, reinterpret_cast<const char *>(p), n) != 0
           : sys_stralloc_cats(&sa, "\xEF\xBF\xBD") != 0;
    p += n ? n : 1;
  }
  ok = ok && sys_stralloc_append(&sa, "");
  if (!ok) {
    sys_stralloc_free(&sa);
    return 0;
  }
  *out = sa.buf;
  return 1;
}

int xml_gen_is_legal_text(const char *s)
{
  const auto *p = reinterpret_cast<const unsigned char *>(s);
  while (*p) {
    uint32_t n = *p == '\t' || *p == '\n' || *p == '\r' ? 1 : legal_sequence(p);
    if (!n) return 0;
    p += n;
  }
  return 1;
}

}  // extern "C"
