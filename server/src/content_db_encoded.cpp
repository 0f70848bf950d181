// Items kept encoded between readers: an item with a plain number for its
// id held as a short encoding, its object made for each reader.
#include "content_db_impl.h"

#include <cstring>

namespace cdb {

bool object_mended(const didl_object *o)
{
  // Eight bytes at a time: a byte below 0x20 borrows from its top bit.
  auto control = [](const char *v) {
    size_t n = std::strlen(v), i = 0;
    for (; i + 8 <= n; i += 8) {
      uint64_t x;
      std::memcpy(&x, v + i, 8);
      if ((x - 0x2020202020202020ull) & ~x & 0x8080808080808080ull) return true;
    }
    for (; i < n; i++)
      if (static_cast<unsigned char>(v[i]) < 0x20) return true;
    return false;
  };
  auto any = [&](const didl_attributes &a) {
    for (uint32_t i = 0; i < a.values.len; i++)
      if (control(static_cast<const char *>(a.values.buf[i]))) return true;
    return false;
  };
  if (any(o->attributes)) return true;
  for (uint32_t i = 0; i < o->properties.len; i++)
    if (any(property_at(o, i)->attributes) || control(property_at(o, i)->text)) return true;
  return false;
}

void entry_encode(content_entry *e)
{
  const didl_object *o = e->object;
  uint64_t own = 0;
  if (o->element != DIDL_NAME(EL_ITEM) || (e->flags & CONTENT_ENTRY_HAS_CHILDREN) || content_id_list_len(&e->children) ||
      !canonical_number(id_of(o) ? id_of(o) : "", &own) || !own || own != e->number)
    return;
  char *encoding = didl::object_encode(o);
  if (!encoding) return;
  list_free(&e->children);
  didl_object_free(e->object);
  e->object = nullptr;
  e->encoding = encoding;
  e->flags |= CONTENT_ENTRY_ENCODED;
}

content_entry *encoded_new(server_rec *s, const didl_object *o)
{
  uint64_t own = 0;
  const char *id = id_of(o);
  if (o->element != DIDL_NAME(EL_ITEM) || !id || !canonical_number(id, &own) || !own ||
      didl_attribute_get(&o->attributes, DIDL_NAME(AT_TARVO_CHILDREN)))
    return nullptr;
  content_entry *e = entry_new();
  if (!e) return nullptr;
  e->number = own;
  const char *refs = didl_attribute_get(&o->attributes, DIDL_NAME(AT_TARVO_REFERENCED));
  if (refs) e->flags |= CONTENT_ENTRY_HAS_REFERENCED;
  if ((refs && !list_parse(s, refs, &e->referenced)) ||
      !(e->encoding = didl::object_encode(o, DIDL_NAME(AT_TARVO_REFERENCED)))) {
    list_free(&e->referenced);
    entry_release(e);
    return nullptr;
  }
  e->flags |= CONTENT_ENTRY_ENCODED;
  return e;
}

bool encoded_expand(server_rec *s, content_entry *e)
{
  // The made object and the encoding stay for the holder of the lock.
  didl_object *made = object_of(s, e);
  srv::object_owner copy;
  if (!made || !didl_object_clone(made, &copy.p) || !sys_ptralloc_readyplus(&db(s).retired, 1)) return false;
  didl_object_pack(&copy.p);
  sys_ptralloc_append(&db(s).retired, e->encoding);
  e->children = content_id_list{};
  e->flags &= ~CONTENT_ENTRY_ENCODED;
  e->object = copy.p;
  copy.p = nullptr;
  return true;
}

}  // namespace cdb
