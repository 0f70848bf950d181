// Object and property records: copies, release, and the editing helpers of
// attributes, properties and comma-separated lists.
#include "didl_impl.h"

#include <vennard/vennard_limits.h>

#include <tarvo_util/sys_str.h>

#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

using didl::name_at;
using didl::value_at;

// --- values kept once ---

// The values most records repeat (flags, parent ids, classes, protocolInfo,
// genres, artists, albums) and their lists of attribute names are kept once
// for the life of the process, in an arena that the records point into and
// never free: a library of tens of thousands of items would otherwise hold
// each of them tens of thousands of times.  The arena is zero-filled
// storage that only takes memory as it is used; once it is full, records
// keep their own copies.
alignas(void *) char g_arena[DIDL_SHARED_VALUES_SIZE];
// "", "0" and "1" for every name: the commonest values of all.
constexpr char kSmall[] = "\0" "0\0" "1";

struct shared_store {
  std::mutex mutex;
  std::unordered_set<std::string_view> values;
  size_t used = 0;
  // Lists of attribute names, as the bytes of their pointers: every
  // reference item, and most items of a kind, name the same attributes.
  std::unordered_set<std::string_view> name_lists;
};

// Never destroyed: a thread may still make records while the process
// exits.
shared_store &store()
{
  static shared_store *s = new shared_store;
  return *s;
}

bool inside(const char *p, const char *begin, size_t size)
{
  return std::greater_equal<const char *>()(p, begin) && std::less<const char *>()(p, begin + size);
}

bool shared(const void *p)
{
  const char *c = static_cast<const char *>(p);
  return inside(c, g_arena, sizeof g_arena) || inside(c, kSmall, sizeof kSmall);
}

// --- packed objects ---

// The objects the index keeps are each packed into one block: the record,
// its arrays, its property records and the values it does not share.  A
// library of tens of thousands of objects would otherwise hold several
// small heap blocks for each, most of them smaller than the allocator's
// own overhead.  Blocks come from one reserved range of addresses, so that
// a value, an array or a property record is known to lie in a block by its
// address alone: the helpers then leave it to the block, which goes with
// its object.
constexpr size_t kBlockAlign = 16;
constexpr size_t kBlockHead = sizeof(uint64_t);  // the block's size, before the object

struct packed_range {
  char *base = nullptr;  // set once, before any block exists
  size_t size = 0;
  std::mutex mutex;
  size_t used = 0, usable = 0;
  void *free_lists[DIDL_PACKED_MAX / kBlockAlign + 1] = {};

  packed_range()
  {
    for (size_t n = size_t(std::min<uint64_t>(DIDL_PACKED_RANGE, SIZE_MAX / 4)); n >= DIDL_PACKED_RANGE_MIN; n /= 2) {
      void *p = mmap(nullptr, n, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
      if (p == MAP_FAILED) continue;
      base = static_cast<char *>(p);
      size = n;
      DIDL_ROOT_REGION(p, n);
      return;
    }
  }
};

// Never unmapped: a thread may still free a record while the process
// exits.
packed_range &range()
{
  static packed_range *r = new packed_range;
  return *r;
}

bool packed(const void *p) { return inside(static_cast<const char *>(p), range().base, range().size); }

// A block of at least n bytes (its size in *size), or nullptr.
char *block_new(size_t n, size_t *size)
{
  n = (n + kBlockAlign - 1) & ~(kBlockAlign - 1);
  packed_range &r = range();
  if (n > DIDL_PACKED_MAX || !r.base) return nullptr;
  std::lock_guard<std::mutex> lock(r.mutex);
  void *&head = r.free_lists[n / kBlockAlign];
  char *b = static_cast<char *>(head);
  if (b) {
    DIDL_UNPOISON(b, n);
    head = *reinterpret_cast<void **>(b);
  } else {
    if (r.size - r.used < n) return nullptr;
    if (r.used + n > r.usable) {
      size_t grow = std::min<size_t>(r.size - r.usable, (r.used + n - r.usable + DIDL_PACKED_COMMIT - 1) /
                                                            DIDL_PACKED_COMMIT * DIDL_PACKED_COMMIT);
      if (mprotect(r.base + r.usable, grow, PROT_READ | PROT_WRITE) != 0) return nullptr;
      r.usable += grow;
    }
    b = r.base + r.used;
    r.used += n;
  }
  *size = n;
  return b;
}

// Frees the block whose room begins at p.
void block_free(void *p)
{
  char *b = static_cast<char *>(p) - kBlockHead;
  uint64_t n;
  std::memcpy(&n, b, sizeof n);
  packed_range &r = range();
  std::lock_guard<std::mutex> lock(r.mutex);
  void *&head = r.free_lists[n / kBlockAlign];
  *reinterpret_cast<void **>(b) = head;
  head = b;
  DIDL_POISON(b, n);
}

// Names whose values repeat across records.  Values edited in place (URIs,
// whose server prefix is cut from the front) are never among them.
bool shared_name(const char *name)
{
  for (int i : {DIDL_AT_PARENT_ID, DIDL_AT_RESTRICTED, DIDL_AT_SEARCHABLE, DIDL_AT_PROTOCOL_INFO,
                DIDL_AT_INCLUDE_DERIVED, DIDL_AT_DLNA_PROFILE_ID, DIDL_AT_TARVO_FILTER, DIDL_EL_UPNP_CLASS,
                DIDL_EL_UPNP_CREATE_CLASS, DIDL_EL_UPNP_SEARCH_CLASS, DIDL_EL_UPNP_GENRE, DIDL_EL_UPNP_ARTIST,
                DIDL_EL_UPNP_ALBUM, DIDL_EL_DC_CREATOR, DIDL_EL_UPNP_WRITE_STATUS, DIDL_EL_UPNP_STORAGE_MEDIUM})
    if (name == didl::name_of(i)) return true;
  return false;
}

// The shared copy of text, or nullptr when it is not kept (too long, a
// control byte that the load would mend in place, or the arena is full).
const char *shared_copy(std::string_view text)
{
  if (text.empty() || text.size() > DIDL_SHARED_VALUE_MAX) return nullptr;
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20) return nullptr;
  // The copies found last, by a few of their bytes: a load or a scan asks
  // for the same few values (parent ids, classes, protocolInfo) over and
  // over.  Copies are never freed, so one remembered stays good.
  static thread_local std::array<std::string_view, 256> recent;
  auto byte = [&text](size_t i) { return size_t(static_cast<unsigned char>(text[i])); };
  std::string_view &seen = recent[(text.size() * 131 + byte(0) * 31 + byte(text.size() - 1) * 7 + byte(text.size() / 2)) & 255];
  if (seen == text) return seen.data();
  shared_store &st = store();
  std::lock_guard<std::mutex> lock(st.mutex);
  auto it = st.values.find(text);
  if (it != st.values.end()) {
    seen = *it;
    return it->data();
  }
  if (sizeof g_arena - st.used < text.size() + 1) return nullptr;
  char *copy = g_arena + st.used;
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = 0;
  try {
    st.values.insert(std::string_view(copy, text.size()));
  } catch (...) {
    return nullptr;
  }
  st.used += text.size() + 1;
  seen = std::string_view(copy, text.size());
  return copy;
}

// A value for a record: the shared copy where there is one, else a heap
// copy.  name: the attribute or element whose value it is, or nullptr.
bool value_new(const char *name, const char *text, char **out)
{
  std::string_view t(text ? text : "");
  const char *copy = nullptr;
  if (t.empty()) copy = kSmall;
  else if (t == "0") copy = kSmall + 1;
  else if (t == "1") copy = kSmall + 3;
  else if (name && shared_name(name)) copy = shared_copy(t);
  if (copy) {
    *out = const_cast<char *>(copy);
    return true;
  }
  return sys_str_clone(text ? text : "", out) != 0;
}

// A copy of a record's value: shared ones are shared again.
bool value_copy(const char *name, const char *value, char **out)
{
  if (value && shared(value)) {
    *out = const_cast<char *>(value);
    return true;
  }
  return value_new(name, value, out);
}

// A shared list of names, and the arrays of a packed object, have no room
// of their own (capacity 0): the record copies one before it grows it.
bool borrowed(const sys_ptralloc_rec *pa) { return pa->buf && !pa->a; }

// Array room for n pointers.  Records hold a handful each, and there are
// many records: the array grows by a quarter, not by the general slack.
bool room_for(sys_ptralloc_rec *pa, uint32_t n)
{
  if (!n || (pa->buf && pa->a >= n)) return true;
  uint32_t cap = n + n / 4;
  if (borrowed(pa)) {
    auto *own = static_cast<void **>(sys_alloc(size_t(cap) * sizeof(void *)));
    if (!own) return false;
    std::memcpy(own, pa->buf, size_t(pa->len) * sizeof(void *));
    pa->buf = own;
    pa->a = cap;
    return true;
  }
  void *buf = pa->buf;
  if (!sys_alloc_re(&buf, size_t(pa->buf ? pa->a : 0) * sizeof(void *), size_t(cap) * sizeof(void *))) return false;
  if (!pa->buf) pa->len = 0;
  pa->buf = static_cast<void **>(buf);
  pa->a = cap;
  return true;
}

void fit(sys_ptralloc_rec *pa)
{
  if (!pa->buf || pa->a == pa->len || !pa->len || borrowed(pa)) return;
  void *buf = pa->buf;
  if (!sys_alloc_re(&buf, size_t(pa->len) * sizeof(void *), size_t(pa->len) * sizeof(void *))) return;
  pa->buf = static_cast<void **>(buf);
  pa->a = pa->len;
}

// The record's list of attribute names becomes the shared copy of it.
void names_share(sys_ptralloc_rec *names)
{
  if (!names->len || shared(names->buf)) return;
  std::string_view bytes(reinterpret_cast<const char *>(names->buf), size_t(names->len) * sizeof(void *));
  shared_store &st = store();
  std::lock_guard<std::mutex> lock(st.mutex);
  auto it = st.name_lists.find(bytes);
  if (it == st.name_lists.end()) {
    // In the arena too, aligned for pointers.
    size_t at = (st.used + alignof(void *) - 1) & ~(alignof(void *) - 1);
    if (st.name_lists.size() >= DIDL_SHARED_NAME_LISTS_MAX || sizeof g_arena - at < bytes.size()) return;
    char *copy = g_arena + at;
    std::memcpy(copy, bytes.data(), bytes.size());
    try {
      it = st.name_lists.insert(std::string_view(copy, bytes.size())).first;
    } catch (...) {
      return;
    }
    st.used = at + bytes.size();
  }
  if (names->a) sys_ptralloc_free(names);
  names->buf = reinterpret_cast<void **>(const_cast<char *>(it->data()));
  names->a = 0;
}

void attributes_free(didl_attributes *a)
{
  for (uint32_t i = 0; i < a->values.len; i++) didl_value_free(static_cast<char *>(a->values.buf[i]));
  if (!borrowed(&a->names)) sys_ptralloc_free(&a->names);
  if (!borrowed(&a->values)) sys_ptralloc_free(&a->values);
  *a = didl_attributes{};
}

// Appends a name and a value that is the record's already.
bool attribute_push(didl_attributes *a, const char *name, char *value)
{
  uint32_t n = a->names.len + 1;
  if (!room_for(&a->names, n) || !room_for(&a->values, n)) return false;
  a->names.buf[a->names.len++] = const_cast<char *>(name);
  a->values.buf[a->values.len++] = value;
  return true;
}

bool attributes_clone(const didl_attributes *from, didl_attributes *to)
{
  if (!room_for(&to->names, from->names.len) || !room_for(&to->values, from->names.len)) return false;
  for (uint32_t i = 0; i < from->names.len; i++) {
    char *v;
    if (!value_copy(name_at(from, i), value_at(from, i), &v)) return false;
    if (!attribute_push(to, name_at(from, i), v)) {
      didl_value_free(v);
      return false;
    }
  }
  return true;
}

// A heap string of a and b joined by sep (none when a is empty).
bool joined(std::string_view a, char sep, std::string_view b, char **out)
{
  size_t n = a.size() + (a.empty() ? 0 : 1) + b.size();
  char *s = static_cast<char *>(sys_alloc(n + 1));
  if (!s) return false;
  char *p = s;
  if (!a.empty()) {
    std::memcpy(p, a.data(), a.size());
    p += a.size();
    *p++ = sep;
  }
  if (!b.empty()) std::memcpy(p, b.data(), b.size());
  s[n] = 0;
  *out = s;
  return true;
}

bool class_allowed(const didl_object *container, int list_element, const char *class_text)
{
  const char *element = didl::name_of(list_element);
  bool listed = false;
  for (uint32_t i = 0; i < container->properties.len; i++) {
    const didl_property *p = property_at(container, i);
    if (p->element != element) continue;
    listed = true;
    bool derived = avcp_didl_boolean_value(didl_attribute_get(&p->attributes, DIDL_NAME(AT_INCLUDE_DERIVED)));
    if (derived ? avcp_didl_derived_from(class_text, p->text) : !std::strcmp(class_text, p->text)) return true;
  }
  return !listed;
}

// The kept lists of ids, which the loader takes out of an object at once,
// stay apart from its block rather than leave dead room in it.
bool kept_apart(const char *name)
{
  return name == DIDL_NAME(AT_TARVO_CHILDREN) || name == DIDL_NAME(AT_TARVO_REFERENCED);
}

// The room of a packed copy: records and arrays first, then texts.
struct pack_plan {
  size_t words = 0, texts = 0;

  void text(const char *v)
  {
    if (v && !shared(v)) texts += std::strlen(v) + 1;
  }
  void attributes(const didl_attributes &a)
  {
    words += size_t(a.values.len) * sizeof(void *);
    if (a.values.len && !shared(a.names.buf)) words += size_t(a.values.len) * sizeof(void *);
    for (uint32_t i = 0; i < a.values.len; i++)
      if (!kept_apart(name_at(&a, i))) text(value_at(&a, i));
  }
};

// Fills a block laid out by a pack_plan.
struct pack_writer {
  char *words, *texts;

  void *take(size_t n)
  {
    void *p = words;
    words += n;
    return p;
  }
  char *text(char *v)
  {
    if (!v || shared(v)) return v;
    size_t n = std::strlen(v) + 1;
    char *copy = static_cast<char *>(std::memcpy(texts, v, n));
    texts += n;
    return copy;
  }
  sys_ptralloc_rec array(void *const *from, uint32_t n)
  {
    if (!n) return {};
    auto *buf = static_cast<void **>(std::memcpy(take(size_t(n) * sizeof(void *)), from, size_t(n) * sizeof(void *)));
    return {buf, n, 0};
  }
  // A kept-apart value moves to the copy as it is.
  void attributes(didl_attributes *from, didl_attributes *to)
  {
    uint32_t n = from->values.len;
    to->names = n && shared(from->names.buf) ? sys_ptralloc_rec{from->names.buf, n, 0} : array(from->names.buf, n);
    to->values = array(from->values.buf, n);
    for (uint32_t i = 0; i < n; i++) {
      auto *v = static_cast<char *>(from->values.buf[i]);
      if (kept_apart(name_at(from, i))) from->values.buf[i] = const_cast<char *>(kSmall);
      else v = text(v);
      to->values.buf[i] = v;
    }
  }
};

// The packed copy of o in a new block, or nullptr.
didl_object *packed_copy(didl_object *o)
{
  pack_plan plan;
  plan.attributes(o->attributes);
  plan.words += size_t(o->properties.len) * (sizeof(void *) + sizeof(didl_property));
  for (uint32_t i = 0; i < o->properties.len; i++) {
    plan.attributes(property_at(o, i)->attributes);
    plan.text(property_at(o, i)->text);
  }
  size_t head = kBlockHead + sizeof(didl_object), size;
  char *b = block_new(head + plan.words + plan.texts, &size);
  if (!b) return nullptr;
  uint64_t n = size;
  std::memcpy(b, &n, sizeof n);
  auto *c = new (b + kBlockHead) didl_object{{}, o->element, {}};
  pack_writer w{b + head, b + head + plan.words};
  w.attributes(&o->attributes, &c->attributes);
  c->properties = w.array(o->properties.buf, o->properties.len);
  for (uint32_t i = 0; i < o->properties.len; i++) {
    didl_property *from = property_at(o, i);
    auto *p = new (w.take(sizeof(didl_property))) didl_property{{}, from->element, nullptr};
    w.attributes(&from->attributes, &p->attributes);
    p->text = w.text(from->text);
    c->properties.buf[i] = p;
  }
  return c;
}

// Property records an emptied object keeps for the next ones, at most.
constexpr size_t kSpareProperties = 64;

// --- encoded objects ---

// An item that readers only look at is held as a short encoding, made
// into records again for each reader: its shared values and lists of
// attribute names are named by their place in the arena, its names by
// their place in the table, and its own values are its bytes.  Encoding,
// after the block head:
//   varint   the room its records take when made
//   varint   element
//   list     attributes: varint name list (0: none, else its place / 8 + 1),
//            varint count, count values
//   varint   count of properties, then each: varint element, list, value
// A value is a varint v: 0, 1 and 2 are "", "0" and "1"; an even v - 3
// is a shared value at (v - 3) / 2; an odd one is (v - 3) / 2 bytes that
// follow, then a NUL.

// The table's names by address, for their places.
struct name_places {
  std::vector<std::pair<const char *, uint32_t>> sorted;
  name_places()
  {
    for (uint32_t i = 0; i < DIDL_NAME_COUNT; i++) sorted.emplace_back(didl_name_table[i], i);
    std::sort(sorted.begin(), sorted.end(), [](const auto &a, const auto &b) { return std::less<const char *>()(a.first, b.first); });
  }
  bool find(const char *name, uint32_t *place) const
  {
    auto it = std::lower_bound(sorted.begin(), sorted.end(), name,
                               [](const auto &a, const char *n) { return std::less<const char *>()(a.first, n); });
    if (it == sorted.end() || it->first != name) return false;
    *place = it->second;
    return true;
  }
};

const name_places &places()
{
  static const name_places *p = new name_places;
  return *p;
}

void varint_put(std::string &out, uint64_t v)
{
  while (v >= 0x80) {
    out += char(uint8_t(v) | 0x80);
    v >>= 7;
  }
  out += char(v);
}

uint64_t varint_get(const unsigned char *&p)
{
  uint64_t v = 0;
  for (int shift = 0;; shift += 7) {
    unsigned char c = *p++;
    v |= uint64_t(c & 0x7f) << shift;
    if (!(c & 0x80)) return v;
  }
}

struct encoder {
  std::string out;
  size_t room = 0;

  bool name(const char *n)
  {
    uint32_t place;
    if (!places().find(n, &place)) return false;
    varint_put(out, place);
    return true;
  }
  bool ok = true;  // no value missing

  void value(const char *v)
  {
    if (!v) {
      ok = false;
      return;
    }
    if (v == kSmall) return varint_put(out, 0);
    if (v == kSmall + 1) return varint_put(out, 1);
    if (v == kSmall + 3) return varint_put(out, 2);
    if (inside(v, g_arena, sizeof g_arena)) return varint_put(out, 3 + 2 * uint64_t(v - g_arena));
    size_t n = std::strlen(v);
    varint_put(out, 4 + 2 * uint64_t(n));
    out.append(v, n + 1);
  }
  std::vector<void *> kept;

  // skip: an attribute left out, or nullptr.
  bool attributes(const didl_attributes &a, const char *skip = nullptr)
  {
    if (a.names.len != a.values.len) return false;
    sys_ptralloc_rec names = {a.names.buf, a.names.len, 0};
    if (skip && didl_attribute_index(&a, skip) < a.names.len) {
      kept.clear();
      for (uint32_t i = 0; i < a.names.len; i++)
        if (name_at(&a, i) != skip) kept.push_back(a.names.buf[i]);
      names = {kept.data(), uint32_t(kept.size()), 0};
    }
    if (!names.len) {
      varint_put(out, 0);
      return true;
    }
    names_share(&names);
    const char *list = reinterpret_cast<const char *>(names.buf);
    if (!inside(list, g_arena, sizeof g_arena)) return false;
    varint_put(out, uint64_t(list - g_arena) / alignof(void *) + 1);
    varint_put(out, names.len);
    for (uint32_t i = 0; i < a.names.len; i++)
      if (name_at(&a, i) != skip) value(value_at(&a, i));
    room += size_t(names.len) * sizeof(void *);
    return true;
  }
};

struct decoder {
  const unsigned char *p;
  char *room;

  void **take(size_t n)
  {
    auto **r = reinterpret_cast<void **>(room);
    room += n * sizeof(void *);
    return r;
  }
  char *value()
  {
    uint64_t v = varint_get(p);
    if (v < 3) return const_cast<char *>(kSmall + (v == 0 ? 0 : v == 1 ? 1 : 3));
    v -= 3;
    if (!(v & 1)) return g_arena + (v >> 1);
    auto *text = reinterpret_cast<char *>(const_cast<unsigned char *>(p));
    p += (v >> 1) + 1;
    return text;
  }
  void attributes(didl_attributes *a)
  {
    uint64_t list = varint_get(p);
    if (!list) return;
    uint32_t n = uint32_t(varint_get(p));
    a->names = {reinterpret_cast<void **>(g_arena + (list - 1) * alignof(void *)), n, 0};
    a->values = {take(n), n, 0};
    for (uint32_t i = 0; i < n; i++) a->values.buf[i] = value();
  }
};

}  // namespace

namespace didl {

bool names_object(const avcp_didl_name_pair &pair)
{
  return !pair.element || pair.element == DIDL_NAME(EL_CONTAINER) || pair.element == DIDL_NAME(EL_ITEM);
}

bool property_push(didl_object *object, didl_property *property)
{
  if (!room_for(&object->properties, object->properties.len + 1)) return false;
  object->properties.buf[object->properties.len++] = property;
  return true;
}

bool text_new(const char *element, const char *text, char **out) { return value_new(element, text, out); }

bool attributes_ready(didl_attributes *attributes, uint32_t n)
{
  return room_for(&attributes->names, n) && room_for(&attributes->values, n);
}

const char *object_attribute(const didl_object *object, const avcp_didl_name_pair &pair)
{
  if (!pair.attribute || (pair.element && pair.element != object->element)) return nullptr;
  return didl_attribute_get(&object->attributes, pair.attribute);
}

char *object_encode(const didl_object *object, const char *skip)
{
  static thread_local encoder e;
  e.out.clear();
  e.ok = true;
  e.room = sizeof(didl_object) + size_t(object->properties.len) * (sizeof(void *) + sizeof(didl_property));
  if (!e.name(object->element) || !e.attributes(object->attributes, skip)) return nullptr;
  varint_put(e.out, object->properties.len);
  for (uint32_t i = 0; i < object->properties.len; i++) {
    const didl_property *p = property_at(object, i);
    if (!e.name(p->element) || !e.attributes(p->attributes)) return nullptr;
    e.value(p->text);
  }
  if (!e.ok) return nullptr;
  std::string head;
  varint_put(head, e.room);
  size_t size;
  char *b = block_new(kBlockHead + head.size() + e.out.size(), &size);
  if (!b) return nullptr;
  uint64_t n = size;
  std::memcpy(b, &n, sizeof n);
  std::memcpy(b + kBlockHead, head.data(), head.size());
  std::memcpy(b + kBlockHead + head.size(), e.out.data(), e.out.size());
  return b + kBlockHead;
}

didl_object *object_decode(const char *encoding, void *(*room)(void *user, size_t n), void *user)
{
  decoder d{reinterpret_cast<const unsigned char *>(encoding), nullptr};
  size_t size = varint_get(d.p);
  d.room = static_cast<char *>(room(user, size));
  if (!d.room) return nullptr;
  auto *o = new (d.room) didl_object{};
  d.room += sizeof(didl_object);
  o->element = didl::name_of(int(varint_get(d.p)));
  d.attributes(&o->attributes);
  uint32_t n = uint32_t(varint_get(d.p));
  if (n) o->properties = {d.take(n), n, 0};
  auto *records = reinterpret_cast<didl_property *>(d.room);
  d.room += size_t(n) * sizeof(didl_property);
  for (uint32_t i = 0; i < n; i++) {
    didl_property *p = new (records + i) didl_property{};
    p->element = didl::name_of(int(varint_get(d.p)));
    d.attributes(&p->attributes);
    p->text = d.value();
    o->properties.buf[i] = p;
  }
  return o;
}

void object_empty(didl_object *object, std::vector<didl_property *> *spares)
{
  auto empty = [](didl_attributes &a) {
    for (uint32_t i = 0; i < a.values.len; i++) didl_value_free(static_cast<char *>(a.values.buf[i]));
    // A shared list of names is not the record's own.
    if (borrowed(&a.names)) a.names = {};
    a.names.len = a.values.len = 0;
  };
  empty(object->attributes);
  for (uint32_t i = 0; i < object->properties.len; i++) {
    didl_property *p = property_at(object, i);
    if (spares->size() >= kSpareProperties) {
      didl_property_free(p);
      continue;
    }
    empty(p->attributes);
    didl_value_free(p->text);
    p->text = nullptr;
    try {
      spares->push_back(p);
    } catch (...) {
      didl_property_free(p);
    }
  }
  object->properties.len = 0;
}

void encoding_free(char *encoding)
{
  if (encoding) block_free(encoding);
}

}  // namespace didl

extern "C" {

void didl_property_free(didl_property *property)
{
  if (!property) return;
  attributes_free(&property->attributes);
  didl_value_free(property->text);
  if (!packed(property)) sys_alloc_free(property);
}

void didl_object_free(didl_object *object)
{
  if (!object) return;
  attributes_free(&object->attributes);
  for (uint32_t i = 0; i < object->properties.len; i++) didl_property_free(property_at(object, i));
  if (!borrowed(&object->properties)) sys_ptralloc_free(&object->properties);
  if (packed(object)) block_free(object);
  else sys_alloc_free(object);
}

void didl_object_array_free(sys_ptralloc_rec *objects)
{
  if (!objects) return;
  for (uint32_t i = objects->len; i > 0; i--) didl_object_free(static_cast<didl_object *>(objects->buf[i - 1]));
  sys_ptralloc_free(objects);
  *objects = sys_ptralloc_rec{};
}

int didl_property_clone(const didl_property *property, didl_property **out)
{
  auto *p = static_cast<didl_property *>(sys_alloc_zero(sizeof(didl_property)));
  if (!p) return 0;
  p->element = property->element;
  if (!value_copy(property->element, property->text, &p->text) ||
      !attributes_clone(&property->attributes, &p->attributes)) {
    didl_property_free(p);
    return 0;
  }
  *out = p;
  return 1;
}

int didl_object_clone(const didl_object *object, didl_object **out)
{
  auto *o = static_cast<didl_object *>(sys_alloc_zero(sizeof(didl_object)));
  if (!o) return 0;
  o->element = object->element;
  bool ok = attributes_clone(&object->attributes, &o->attributes) &&
            (!object->properties.len || sys_ptralloc_ready(&o->properties, object->properties.len));
  for (uint32_t i = 0; ok && i < object->properties.len; i++) {
    didl_property *p;
    ok = didl_property_clone(property_at(object, i), &p);
    if (ok) o->properties.buf[o->properties.len++] = p;
  }
  if (!ok) {
    didl_object_free(o);
    return 0;
  }
  *out = o;
  return 1;
}

uint32_t didl_attribute_index(const didl_attributes *attributes, const char *name)
{
  uint32_t i = 0;
  while (i < attributes->names.len && name_at(attributes, i) != name) i++;
  return i;
}

const char *didl_attribute_get(const didl_attributes *attributes, const char *name)
{
  uint32_t i = didl_attribute_index(attributes, name);
  return i < attributes->names.len ? value_at(attributes, i) : nullptr;
}

int didl_attribute_add(didl_attributes *attributes, const char *name, const char *value)
{
  char *v;
  if (!value_new(name, value, &v)) return 0;
  if (attribute_push(attributes, name, v)) return 1;
  didl_value_free(v);
  return 0;
}

int didl_attribute_set(didl_attributes *attributes, const char *name, const char *value)
{
  uint32_t i = didl_attribute_index(attributes, name);
  if (i == attributes->names.len) return didl_attribute_add(attributes, name, value);
  char *v;
  if (!value_new(name, value, &v)) return 0;
  didl_value_free(static_cast<char *>(attributes->values.buf[i]));
  attributes->values.buf[i] = v;
  return 1;
}

int didl_attribute_remove(didl_attributes *attributes, const char *name)
{
  uint32_t i = didl_attribute_index(attributes, name);
  if (i == attributes->names.len) return 0;
  if (!room_for(&attributes->names, attributes->names.len)) return 0;
  didl_value_free(static_cast<char *>(attributes->values.buf[i]));
  sys_ptralloc_remove(&attributes->names, i);
  sys_ptralloc_remove(&attributes->values, i);
  return 1;
}

int didl_attribute_list_append(didl_attributes *attributes, const char *name, const char *text)
{
  uint32_t i = didl_attribute_index(attributes, name);
  if (i == attributes->names.len) return didl_attribute_add(attributes, name, text);
  char *v;
  if (!joined(value_at(attributes, i), ',', text ? text : "", &v)) return 0;
  didl_value_free(static_cast<char *>(attributes->values.buf[i]));
  attributes->values.buf[i] = v;
  return 1;
}

int didl_list_remove(char *list, const char *entry)
{
  std::string_view want(entry ? entry : "");
  size_t len = std::strlen(list);
  for (size_t start = 0;;) {
    size_t end = start;
    while (end < len && list[end] != ',') end++;
    if (std::string_view(list + start, end - start) == want) {
      // The entry leaves with the comma behind it, or the one before it
      // when it is the last.
      size_t from = start, to = end;
      if (to < len) to++;
      else if (from > 0) from--;
      std::memmove(list + from, list + to, len - to + 1);
      return 1;
    }
    if (end == len) return 0;
    start = end + 1;
  }
}

int didl_counter_add(didl_attributes *attributes, const char *name, int64_t amount)
{
  uint64_t v = 0;
  const char *old = didl_attribute_get(attributes, name);
  if (old) sys_str_scan_uint64(old, &v);
  if (amount < 0) {
    uint64_t m = uint64_t(0) - uint64_t(amount);
    v = v > m ? v - m : 0;
  } else {
    v = UINT64_MAX - v < uint64_t(amount) ? UINT64_MAX : v + uint64_t(amount);
  }
  char buf[24];
  buf[sys_str_fmt_uint64(buf, v)] = 0;
  return didl_attribute_set(attributes, name, buf);
}

uint32_t didl_property_index(const didl_object *object, const char *element)
{
  uint32_t i = 0;
  while (i < object->properties.len && property_at(object, i)->element != element) i++;
  return i;
}

didl_property *didl_property_first(const didl_object *object, const char *element)
{
  uint32_t i = didl_property_index(object, element);
  return i < object->properties.len ? property_at(object, i) : nullptr;
}

int didl_property_add(didl_object *object, const char *element, const char *text, didl_property **out)
{
  auto *p = static_cast<didl_property *>(sys_alloc_zero(sizeof(didl_property)));
  if (!p) return 0;
  p->element = element;
  if (!value_new(element, text, &p->text) || !didl::property_push(object, p)) {
    didl_property_free(p);
    return 0;
  }
  if (out) *out = p;
  return 1;
}

int didl_property_equal(const didl_property *a, const didl_property *b)
{
  if (a->element != b->element || std::strcmp(a->text, b->text) ||
      a->attributes.names.len != b->attributes.names.len)
    return 0;
  for (uint32_t i = 0; i < a->attributes.names.len; i++) {
    const char *v = didl_attribute_get(&b->attributes, name_at(&a->attributes, i));
    if (!v || std::strcmp(v, value_at(&a->attributes, i))) return 0;
  }
  return 1;
}

uint32_t didl_property_find_equal(const sys_ptralloc_rec *properties, const didl_property *property)
{
  uint32_t i = 0;
  while (i < properties->len && !didl_property_equal(static_cast<didl_property *>(properties->buf[i]), property)) i++;
  return i;
}

int didl_string_replace(char **s, const char *text)
{
  char *copy;
  if (!value_new(nullptr, text, &copy)) return 0;
  didl_value_free(*s);
  *s = copy;
  return 1;
}

void didl_value_free(char *value)
{
  if (!shared(value) && !packed(value)) sys_alloc_free(value);
}

int didl_value_shared(const void *value) { return shared(value); }

void didl_object_fit(didl_object *object)
{
  names_share(&object->attributes.names);
  fit(&object->attributes.values);
  fit(&object->properties);
  for (uint32_t i = 0; i < object->properties.len; i++) {
    didl_property *p = property_at(object, i);
    names_share(&p->attributes.names);
    fit(&p->attributes.values);
  }
}

void didl_object_pack(didl_object **object)
{
  didl_object *o = *object;
  if (!o) return;
  names_share(&o->attributes.names);
  for (uint32_t i = 0; i < o->properties.len; i++) names_share(&property_at(o, i)->attributes.names);
  didl_object *c = packed_copy(o);
  if (!c) {
    didl_object_fit(o);
    return;
  }
  didl_object_free(o);
  *object = c;
}

int didl_csv_next(const char *text, uint32_t *position, char *buffer, uint32_t size)
{
  const char *start = text + *position;
  if (!*start) return 0;
  uint32_t n = sys_str_chr(start, ',');
  if (n >= size) return 0;
  std::memcpy(buffer, start, n);
  buffer[n] = 0;
  *position += n + (start[n] == ',');
  return 1;
}

int didl_class_allowed_create(const didl_object *container, const char *class_text)
{
  return class_allowed(container, DIDL_EL_UPNP_CREATE_CLASS, class_text);
}

int didl_class_allowed_search(const didl_object *container, const char *class_text)
{
  return class_allowed(container, DIDL_EL_UPNP_SEARCH_CLASS, class_text);
}

int didl_required_property(const char *element)
{
  for (int i : {DIDL_EL_DC_TITLE, DIDL_EL_UPNP_CLASS, DIDL_EL_UPNP_STORAGE_TOTAL, DIDL_EL_UPNP_STORAGE_USED,
                DIDL_EL_UPNP_STORAGE_FREE, DIDL_EL_UPNP_STORAGE_MAX_PARTITION, DIDL_EL_UPNP_STORAGE_MEDIUM})
    if (element == didl::name_of(i)) return 1;
  return 0;
}

int didl_fixed_property(const char *element, int is_search)
{
  return element == DIDL_NAME(EL_UPNP_CLASS) || element == DIDL_NAME(EL_UPNP_CREATE_CLASS) ||
         (!is_search && element == DIDL_NAME(EL_UPNP_SEARCH_CLASS));
}

}  // extern "C"
