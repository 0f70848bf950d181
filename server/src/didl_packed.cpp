// Packed objects: each object the index keeps in one block of a reserved
// range of addresses, with its arrays, property records and own values.
#include "didl_impl.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

namespace {

using didl::block_new;
using didl::kSmall;
using didl::name_at;
using didl::names_share;
using didl::shared;
using didl::value_at;

// The objects the index keeps are each packed into one block: the record,
// its arrays, its property records and the values it does not share.  A
// library of tens of thousands of objects would otherwise hold several
// small heap blocks for each, most of them smaller than the allocator's
// own overhead.  Blocks come from one reserved range of addresses, so that
// a value, an array or a property record is known to lie in a block by its
// address alone: the helpers then leave it to the block, which goes with
// its object.
constexpr size_t kBlockAlign = 16;
constexpr size_t kBlockHead = sizeof(uint64_t);  // the block's size, before its room

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

}  // namespace

namespace didl {

bool packed(const void *p) { return inside(p, range().base, range().size); }

char *block_new(size_t room)
{
  size_t n = (kBlockHead + room + kBlockAlign - 1) & ~(kBlockAlign - 1);
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
  uint64_t size = n;
  std::memcpy(b, &size, sizeof size);
  return b + kBlockHead;
}

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

}  // namespace didl

namespace {

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
  char *b = block_new(sizeof(didl_object) + plan.words + plan.texts);
  if (!b) return nullptr;
  auto *c = new (b) didl_object{{}, o->element, {}};
  pack_writer w{b + sizeof(didl_object), b + sizeof(didl_object) + plan.words};
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

}  // namespace

extern "C" {

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

}  // extern "C"
