// Encoded objects: an item that readers only look at held as a short
// encoding, made into records again for each reader.
#include "didl_impl.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace {

using didl::g_arena;
using didl::inside;
using didl::names_share;
using didl::kSmall;
using didl::name_at;
using didl::value_at;

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
  char *b = block_new(head.size() + e.out.size());
  if (!b) return nullptr;
  std::memcpy(b, head.data(), head.size());
  std::memcpy(b + head.size(), e.out.data(), e.out.size());
  return b;
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

const char *encoded_attribute(const char *encoding, const char *name)
{
  decoder d{reinterpret_cast<const unsigned char *>(encoding), nullptr};
  varint_get(d.p);  // the room
  varint_get(d.p);  // the element
  uint64_t list = varint_get(d.p);
  if (!list) return nullptr;
  uint32_t n = uint32_t(varint_get(d.p));
  void *const *names = reinterpret_cast<void **>(g_arena + (list - 1) * alignof(void *));
  for (uint32_t i = 0; i < n; i++) {
    const char *value = d.value();
    if (names[i] == name) return value;
  }
  return nullptr;
}

void encoding_free(char *encoding)
{
  if (encoding) block_free(encoding);
}

}  // namespace didl
