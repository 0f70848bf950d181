// The content database file's own reader: the XML that the saver writes,
// and what a hand-edited file is likely to hold, read without expat and
// handed to the parser as the expat wrapper would hand it.  What it does
// not read (comments, processing instructions, CDATA, a DOCTYPE, another
// encoding, namespaces declared below the root or not the model's,
// anything malformed) it leaves to expat by saying it cannot.
#include "content_db_impl.h"

#include <tarvo_util/charset.h>
#include <tarvo_util/xml.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <string_view>
#include <strings.h>
#include <vector>

namespace {

using std::string_view;

// Byte classes.  A byte of kStop ends a run of plain text; within a tag,
// kSpace is the blank between its parts; kHigh bytes are those of UTF-8
// sequences, checked once a value is whole.
constexpr uint8_t kNameStart = 1, kName = 2, kSpace = 4, kStop = 8, kHigh = 16;

constexpr std::array<uint8_t, 256> kClasses = [] {
  std::array<uint8_t, 256> t{};
  for (int c = 0; c < 256; c++) {
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    bool digit = (c >= '0' && c <= '9') || c == '.' || c == '-';
    if (letter) t[c] |= kNameStart | kName;
    if (digit) t[c] |= kName;
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') t[c] |= kSpace;
    if (c < 0x20 || c == '<' || c == '&' || c == '"' || c == '\'' || c == ']') t[c] |= kStop;
    if (c >= 0x80) t[c] |= kHigh;
  }
  return t;
}();

// Up to this many attributes a tag's names are compared pair by pair,
// quicker than sorting them: the saver writes at most a dozen.
constexpr size_t kPairwiseAttributes = 16;

uint8_t class_of(char c) { return kClasses[static_cast<unsigned char>(c)]; }

// An XML character as a character reference may give it.
bool char_allowed(uint32_t c)
{
  return c == 9 || c == 10 || c == 13 || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

void utf8_append(std::string *out, uint32_t c)
{
  const uint32_t units[] = {c, 0};
  char b[5];
  uint32_t n = 0;
  utf8_from_ucs(4, UTF8_ORDER_MACHINE, units, b, sizeof b, &n);
  out->append(b, n);
}

// A qualified name as written, and its namespace once resolved.
struct qname {
  string_view prefix, local;
  const char *ns = nullptr;
};

struct attribute {
  qname name;
  uint32_t value;  // offset of the decoded value in the scratch text
};

class reader {
 public:
  reader(const didl::parse_events &events, const char *text, size_t len) : ev_(events), p_(text), end_(text + len) {}
  bool read();

 private:
  const didl::parse_events &ev_;
  const char *p_, *end_;
  struct binding {
    string_view prefix;
    const char *uri;
  };
  std::vector<binding> bindings_;  // the root's, for the whole file
  const char *default_ns_ = nullptr;
  std::vector<string_view> open_;  // elements as written, outermost first
  // Decoded values and NUL-terminated names of one tag; the reader's
  // memory failures are exceptions, caught where it is called.
  std::string scratch_;
  std::vector<attribute> attributes_;
  std::vector<xml_name_rec> recs_;
  std::vector<xml_name_rec *> names_;
  std::vector<const char *> values_;
  std::vector<uint32_t> locals_;  // offsets of the local names
  std::vector<const qname *> sorted_;

  bool at(string_view s) const { return size_t(end_ - p_) >= s.size() && !std::memcmp(p_, s.data(), s.size()); }
  bool spaces();
  bool plain();
  bool declaration();
  bool name(string_view *out);
  bool qualified(qname *out);
  bool reference();
  bool value(uint32_t *offset);
  bool text();
  bool bind(const qname &n, uint32_t value);
  bool resolve(qname *n, bool element) const;
  bool start_tag();
  bool duplicated();
  bool start_emit(const qname &element, bool empty);
  bool end_tag();
  bool failed() const { return *ev_.failed; }
};

// Blanks; true when there was one.
bool reader::spaces()
{
  const char *from = p_;
  while (p_ < end_ && (class_of(*p_) & kSpace)) p_++;
  return p_ != from;
}

// <?xml version="1.0" encoding="UTF-8" standalone="yes"?>, the version
// first, the rest optional, in either quotes; no reference in a value.
bool reader::declaration()
{
  p_ += 5;
  const string_view parts[] = {"version", "encoding", "standalone"};
  size_t next = 0;
  for (;;) {
    bool blank = spaces();
    if (at("?>")) {
      p_ += 2;
      return next > 0;
    }
    string_view n;
    size_t from = next;
    if (!blank || !name(&n)) return false;
    while (next < std::size(parts) && parts[next] != n) next++;
    if (next == std::size(parts) || (from == 0 && next != 0)) return false;
    spaces();
    if (p_ == end_ || *p_++ != '=') return false;
    spaces();
    if (p_ == end_ || (*p_ != '"' && *p_ != '\'')) return false;
    const char *close = static_cast<const char *>(std::memchr(p_ + 1, *p_, size_t(end_ - p_ - 1)));
    if (!close) return false;
    string_view v(p_ + 1, size_t(close - p_ - 1));
    p_ = close + 1;
    bool ok = next == 0   ? v == "1.0"
              : next == 1 ? v.size() == 5 && !strncasecmp(v.data(), "UTF-8", 5)
                          : v == "yes" || v == "no";
    if (!ok) return false;
    next++;
  }
}

// Moves over plain bytes; true when there was a non-ASCII one.
bool reader::plain()
{
  uint8_t seen = 0;
  while (p_ < end_ && !(class_of(*p_) & kStop)) seen |= class_of(*p_++);
  return (seen & kHigh) != 0;
}

bool reader::name(string_view *out)
{
  const char *from = p_;
  if (p_ == end_ || !(class_of(*p_) & kNameStart)) return false;
  while (p_ < end_ && (class_of(*p_) & kName)) p_++;
  *out = string_view(from, size_t(p_ - from));
  return true;
}

bool reader::qualified(qname *out)
{
  *out = qname{};
  if (!name(&out->local)) return false;
  if (p_ == end_ || *p_ != ':') return true;
  p_++;
  out->prefix = out->local;
  return name(&out->local);
}

// The entity or character reference at p_, decoded onto the scratch text.
bool reader::reference()
{
  p_++;
  if (at("#")) {
    p_++;
    bool hex = at("x");
    p_ += hex;
    uint32_t c = 0;
    const char *digits = p_;
    for (; p_ < end_ && *p_ != ';'; p_++) {
      int d = *p_ >= '0' && *p_ <= '9'          ? *p_ - '0'
              : hex && *p_ >= 'a' && *p_ <= 'f' ? *p_ - 'a' + 10
              : hex && *p_ >= 'A' && *p_ <= 'F' ? *p_ - 'A' + 10
                                                : -1;
      if (d < 0) return false;
      c = c * (hex ? 16 : 10) + uint32_t(d);
      if (c > 0x10FFFF) return false;
    }
    if (p_ == end_ || p_ == digits || !char_allowed(c)) return false;
    p_++;
    utf8_append(&scratch_, c);
    return true;
  }
  static const struct {
    string_view name;
    char c;
  } entities[] = {{"lt;", '<'}, {"gt;", '>'}, {"amp;", '&'}, {"quot;", '"'}, {"apos;", '\''}};
  for (const auto &e : entities)
    if (at(e.name)) {
      p_ += e.name.size();
      scratch_ += e.c;
      return true;
    }
  return false;
}

// A quoted value at p_, decoded onto the scratch text with its NUL, blanks
// and line ends as single spaces.
bool reader::value(uint32_t *offset)
{
  if (p_ == end_ || (*p_ != '"' && *p_ != '\'')) return false;
  char quote = *p_++;
  *offset = uint32_t(scratch_.size());
  bool high = false;
  for (;;) {
    const char *run = p_;
    high |= plain();
    scratch_.append(run, size_t(p_ - run));
    if (p_ == end_) return false;
    char c = *p_;
    if (c == quote) break;
    if (c == '&') {
      if (!reference()) return false;
      continue;
    }
    if (c == '<' || (static_cast<unsigned char>(c) < 0x20 && !(class_of(c) & kSpace))) return false;
    scratch_ += class_of(c) & kSpace ? ' ' : c;
    p_ += c == '\r' && p_ + 1 < end_ && p_[1] == '\n' ? 2 : 1;
  }
  p_++;
  scratch_ += '\0';
  return !high || xml_gen_is_legal_text(scratch_.data() + *offset);
}

// The text up to the next tag, decoded, to the text handler; line ends as
// single line feeds.  Plain text goes as it stands in the file.
bool reader::text()
{
  const char *run = p_;
  bool high = plain();
  if (!high && p_ < end_ && *p_ == '<') {
    ev_.text(run, uint32_t(p_ - run), ev_.user);
    return !failed();
  }
  scratch_.assign(run, size_t(p_ - run));
  while (p_ < end_ && *p_ != '<') {
    char c = *p_;
    if (c == '&') {
      if (!reference()) return false;
    } else {
      if ((c == ']' && at("]]>")) || (static_cast<unsigned char>(c) < 0x20 && !(class_of(c) & kSpace))) return false;
      scratch_ += c == '\r' ? '\n' : c;
      p_ += c == '\r' && p_ + 1 < end_ && p_[1] == '\n' ? 2 : 1;
    }
    run = p_;
    high |= plain();
    scratch_.append(run, size_t(p_ - run));
  }
  if (p_ == end_ || (high && !xml_gen_is_legal_text(scratch_.c_str()))) return false;
  ev_.text(scratch_.data(), uint32_t(scratch_.size()), ev_.user);
  return !failed();
}

// A declaration of the root: one of the model's namespaces, each prefix
// once.
bool reader::bind(const qname &n, uint32_t value)
{
  if (!open_.empty()) return false;
  bool is_default = n.prefix.empty();
  string_view prefix = is_default ? string_view() : n.local;
  const char *uri = didl::namespace_known(string_view(scratch_.data() + value));
  if (!uri || prefix == "xml" || prefix == "xmlns" || (is_default && default_ns_)) return false;
  for (const binding &b : bindings_)
    if (b.prefix == prefix) return false;
  if (is_default)
    default_ns_ = uri;
  else
    bindings_.push_back({prefix, uri});
  return true;
}

bool reader::resolve(qname *n, bool element) const
{
  if (n->prefix.empty()) {
    n->ns = element ? default_ns_ : nullptr;
    return true;
  }
  for (const binding &b : bindings_)
    if (b.prefix == n->prefix) {
      n->ns = b.uri;
      return true;
    }
  return false;
}

bool reader::start_tag()
{
  p_++;
  qname element;
  if (!qualified(&element)) return false;
  scratch_.clear();
  attributes_.clear();
  bool empty = false;
  for (;;) {
    bool blank = spaces();
    if (at(">") || at("/>")) {
      empty = *p_ == '/';
      p_ += empty ? 2 : 1;
      break;
    }
    attribute a;
    if (!blank || !qualified(&a.name)) return false;
    spaces();
    if (p_ == end_ || *p_++ != '=') return false;
    spaces();
    if (!value(&a.value)) return false;
    bool declares = a.name.prefix == "xmlns" || (a.name.prefix.empty() && a.name.local == "xmlns");
    if (declares ? !bind(a.name, a.value) : (attributes_.push_back(a), false)) return false;
  }
  if (!resolve(&element, true)) return false;
  for (attribute &a : attributes_)
    if (!resolve(&a.name, false)) return false;
  return !duplicated() && start_emit(element, empty);
}

// Two attributes of one name make the document malformed.  A tag of many
// attributes is checked over a sorted copy of their names: pair by pair,
// a hand-made tag of 200,000 would take minutes.
bool reader::duplicated()
{
  auto same = [](const qname &a, const qname &b) { return a.ns == b.ns && a.local == b.local; };
  size_t n = attributes_.size();
  if (n <= kPairwiseAttributes) {
    for (size_t i = 1; i < n; i++)
      for (size_t k = 0; k < i; k++)
        if (same(attributes_[k].name, attributes_[i].name)) return true;
    return false;
  }
  sorted_.clear();
  for (const attribute &a : attributes_) sorted_.push_back(&a.name);
  auto before = [](const qname *a, const qname *b) { return a->ns != b->ns ? std::less<>()(a->ns, b->ns) : a->local < b->local; };
  std::sort(sorted_.begin(), sorted_.end(), before);
  return std::adjacent_find(sorted_.begin(), sorted_.end(),
                            [&](const qname *a, const qname *b) { return same(*a, *b); }) != sorted_.end();
}

// The handlers' names: local names NUL-terminated on the scratch text.
bool reader::start_emit(const qname &element, bool empty)
{
  size_t n = attributes_.size();
  recs_.resize(n + 1);
  names_.resize(n + 1);
  values_.resize(n + 1);
  locals_.resize(n + 1);
  for (size_t i = 0; i <= n; i++) {
    const qname &q = i < n ? attributes_[i].name : element;
    locals_[i] = uint32_t(scratch_.size());
    scratch_.append(q.local);
    scratch_ += '\0';
  }
  char *base = scratch_.data();
  for (size_t i = 0; i <= n; i++) {
    const qname &q = i < n ? attributes_[i].name : element;
    recs_[i] = {const_cast<char *>(q.ns), base + locals_[i]};
    names_[i] = i < n ? &recs_[i] : nullptr;
    values_[i] = i < n ? base + attributes_[i].value : nullptr;
  }
  ev_.start(&recs_[n], names_.data(), values_.data(), ev_.user);
  if (empty) {
    ev_.end(&recs_[n], ev_.user);
  } else {
    open_.push_back(element.prefix.empty()
                        ? element.local
                        : string_view(element.prefix.data(), size_t(element.local.end() - element.prefix.begin())));
  }
  return !failed();
}

bool reader::end_tag()
{
  p_ += 2;
  const char *from = p_;
  qname element;
  if (!qualified(&element)) return false;
  string_view written(from, size_t(p_ - from));
  spaces();
  if (p_ == end_ || *p_++ != '>' || open_.empty() || open_.back() != written || !resolve(&element, true)) return false;
  open_.pop_back();
  scratch_.assign(element.local);
  xml_name_rec rec{const_cast<char *>(element.ns), scratch_.data()};
  ev_.end(&rec, ev_.user);
  return !failed();
}

bool reader::read()
{
  if (at("\xEF\xBB\xBF")) p_ += 3;
  if (at("<?xml") && p_ + 5 < end_ && (class_of(p_[5]) & kSpace) && !declaration()) return false;
  spaces();
  if (!at("<") || !start_tag()) return false;
  while (!open_.empty()) {
    if (p_ == end_) return false;
    bool ok = *p_ != '<' ? text() : p_ + 1 < end_ && p_[1] == '/' ? end_tag() : start_tag();
    if (!ok) return false;
  }
  spaces();
  return p_ == end_;
}

}  // namespace

namespace cdb {

bool file_text_read(const didl::parse_events &events, const char *text, size_t len)
{
  try {
    reader r(events, text, len);
    return r.read();
  } catch (const std::bad_alloc &) {
    return false;
  }
}

}  // namespace cdb
