// Compact reference items: a reference that holds nothing but its ids
// keeps no object, only the codes of its parent and target in its entry.
#include "content_db_impl.h"

#include <tarvo_util/sys_str.h>

#include <cstring>

namespace cdb {

uint32_t reference_attributes::fill(server_rec *s, const content_entry *e)
{
  id[sys_str_fmt_uint64(id, e->number)] = 0;
  const char *p = code_text(s, e->ref_parent, parent), *t = code_text(s, e->ref_target, target);
  if (!p || !t) return 0;
  const char *const n[] = {DIDL_NAME(AT_ID), DIDL_NAME(AT_PARENT_ID), DIDL_NAME(AT_REF_ID), DIDL_NAME(AT_RESTRICTED),
                           DIDL_NAME(AT_TARVO_PRIVATE)};
  const char *const v[] = {id, p, t, "1", "1"};
  uint32_t count = (e->flags & CONTENT_ENTRY_PRIVATE) ? 5 : 4;
  for (uint32_t i = 0; i < count; i++) {
    names[i] = const_cast<char *>(n[i]);
    values[i] = const_cast<char *>(v[i]);
  }
  return count;
}

didl_object *reference_make(server_rec *s, const content_entry *e)
{
  reference_attributes r;
  uint32_t count = r.fill(s, e);
  srv::object_owner o(static_cast<didl_object *>(sys_alloc_zero(sizeof(didl_object))));
  if (!count || !o.p || !didl::attributes_ready(&o.p->attributes, count)) return nullptr;
  o.p->element = DIDL_NAME(EL_ITEM);
  for (uint32_t i = 0; i < count; i++)
    if (!didl_attribute_add(&o.p->attributes, static_cast<const char *>(r.names[i]),
                            static_cast<const char *>(r.values[i])))
      return nullptr;
  didl_object *made = o.p;
  o.p = nullptr;
  return made;
}

namespace {

// The codes of a reference item that holds nothing but its ids (its own id
// a plain number), and the flags of its compact entry; false for any other
// object.
bool reference_shape(server_rec *s, const didl_object *o, uint64_t *own, uint64_t *parent, uint64_t *target,
                     uint32_t *flags)
{
  if (o->element != DIDL_NAME(EL_ITEM) || o->properties.len) return false;
  const didl_attributes &a = o->attributes;
  const char *const names[] = {DIDL_NAME(AT_ID), DIDL_NAME(AT_PARENT_ID), DIDL_NAME(AT_REF_ID),
                               DIDL_NAME(AT_RESTRICTED), DIDL_NAME(AT_TARVO_PRIVATE)};
  if (a.names.len < 4 || a.names.len > 5) return false;
  for (uint32_t i = 0; i < a.names.len; i++)
    if (a.names.buf[i] != names[i]) return false;
  auto value = [&a](uint32_t i) { return static_cast<const char *>(a.values.buf[i]); };
  if (std::strcmp(value(3), "1") || (a.names.len == 5 && std::strcmp(value(4), "1"))) return false;
  // A code gives back exactly the text it was made of; a text the loader
  // would mend stays an object.
  if (!canonical_number(value(0), own) || !*own || !xml_gen_is_legal_value(value(1)) ||
      !xml_gen_is_legal_value(value(2)) || !id_code(s, value(1), true, parent) || !id_code(s, value(2), true, target))
    return false;
  *flags = CONTENT_ENTRY_COMPACT | (a.names.len == 5 ? CONTENT_ENTRY_PRIVATE : 0);
  return true;
}

}  // namespace

void entry_compact(server_rec *s, content_entry *e)
{
  const didl_object *o = e->object;
  const uint32_t busy = CONTENT_ENTRY_PENDING | CONTENT_ENTRY_REMOVED | CONTENT_ENTRY_COMPACT | CONTENT_ENTRY_ENCODED;
  if (!o || (e->flags & busy)) return;
  uint64_t own = 0, parent = 0, target = 0;
  uint32_t flags = 0;
  if ((e->flags & (CONTENT_ENTRY_HAS_CHILDREN | CONTENT_ENTRY_HAS_REFERENCED)) || content_id_list_len(&e->children) ||
      content_id_list_len(&e->referenced) || !reference_shape(s, o, &own, &parent, &target, &flags) ||
      own != e->number)
    return entry_encode(e);
  list_free(&e->children);
  list_free(&e->referenced);
  didl_object_free(e->object);
  e->object = nullptr;
  e->ref_parent = parent;
  e->ref_target = target;
  e->flags |= flags;
}

content_entry *compact_new(server_rec *s, const didl_object *o)
{
  uint64_t own = 0, parent = 0, target = 0;
  uint32_t flags = 0;
  if (!reference_shape(s, o, &own, &parent, &target, &flags)) return nullptr;
  content_entry *e = entry_new();
  if (!e) return nullptr;
  e->number = own;
  e->ref_parent = parent;
  e->ref_target = target;
  e->flags = flags;
  return e;
}

bool entry_expand(server_rec *s, content_entry *e)
{
  if (encoded(e)) return encoded_expand(s, e);
  if (!compact(e)) return true;
  // A made object lives only until the unlock: the entry gets its own.
  didl_object *o = reference_make(s, e);
  if (!o) return false;
  // It stays in the made list, which passes over entries no longer compact.
  e->object = o;
  e->flags &= ~(CONTENT_ENTRY_COMPACT | CONTENT_ENTRY_PRIVATE);
  e->children = content_id_list{};
  e->referenced = content_id_list{};
  return true;
}

}  // namespace cdb
