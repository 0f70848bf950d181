// Update counters and the changed lists that events are made from.
#include "content_db_impl.h"

#include <tarvo_device/tarvo_device.h>
#include <tarvo_util/sys_str.h>

namespace cdb {

namespace {

// Ids listed in a changed list, each once: the mark says it is there.
bool mark_listed(content_entry *e, uint32_t flag, sys_ptralloc_rec *list)
{
  if (e->flags & flag) return true;
  char *id = nullptr;
  if (!sys_str_clone(id_of(e->object), &id)) return false;
  if (!sys_ptralloc_append(list, id)) {
    sys_alloc_free(id);
    return false;
  }
  e->flags |= flag;
  return true;
}

// Empties a changed list; each entry still in the index loses its mark.
void listed_clear(server_rec *s, sys_ptralloc_rec *list, uint32_t flag)
{
  for (uint32_t i = 0; i < list->len; i++) {
    char *id = static_cast<char *>(list->buf[i]);
    uint32_t pos = find_id(s, id);
    if (pos < db(s).index.len) entry_at(s, pos)->flags &= ~flag;
    sys_alloc_free(id);
  }
  list->len = 0;
}

}  // namespace

void system_update_id_read(server_rec *s)
{
  content_db_rec &d = db(s);
  if (d.root >= d.index.len) return;
  const char *v = didl_attribute_get(&entry_at(s, d.root)->object->attributes, DIDL_NAME(AT_TARVO_CONTAINER_UPDATE_ID));
  uint64_t n = 0;
  if (v) sys_str_scan_uint64(v, &n);
  if (d.system_update_id != uint32_t(n)) content_db_save_wake(s);
  d.system_update_id = uint32_t(n);
}

bool bump_container(server_rec *s, content_entry *e)
{
  if (!e || compact(e) || !is_container(e->object)) return true;
  content_db_order_forget(s, e->object);
  return didl_counter_add(&e->object->attributes, DIDL_NAME(AT_TARVO_CONTAINER_UPDATE_ID), 1) &&
         mark_listed(e, CONTENT_ENTRY_CHANGED, &db(s).changed) &&
         mark_listed(e, CONTENT_ENTRY_REFLECT, &db(s).reflect);
}

void changed_clear(server_rec *s) { listed_clear(s, &db(s).changed, CONTENT_ENTRY_CHANGED); }

}  // namespace cdb

using namespace cdb;

extern "C" {

uint32_t content_db_system_update_id(server_rec *s) { return db(s).system_update_id; }

int content_db_bump(server_rec *s, didl_object *object, int parent_too, int references_too, int root_too)
{
  content_entry *e = entry_of(s, object);
  if (!e) return 0;
  bool ok = bump_container(s, e);
  if (references_too && !compact(e) && !is_container(object))
    for (uint32_t i = 0; ok && i < content_id_list_len(&e->referenced); i++) {
      content_entry *r = live_code(s, content_id_list_codes(&e->referenced)[i]);
      if (!r) continue;
      const didl_object *ro = compact(r) ? nullptr : object_of(s, r);
      ok = compact(r) ? bump_container(s, live_code(s, r->ref_parent))
                      : ro && bump_container(s, entry_of(s, content_db_parent(s, ro)));
    }
  if (ok && parent_too && e != entry_at(s, db(s).root))
    ok = bump_container(s, entry_of(s, content_db_parent(s, object)));
  if (ok && root_too && db(s).root < db(s).index.len) ok = bump_container(s, entry_at(s, db(s).root));
  system_update_id_read(s);
  return ok;
}

int content_db_container_update_ids(server_rec *s, sys_stralloc_rec *out)
{
  out->len = 0;
  const sys_ptralloc_rec &changed = db(s).changed;
  for (uint32_t i = 0; i < changed.len; i++) {
    content_entry *e = live_entry(s, static_cast<const char *>(changed.buf[i]));
    const char *v = e ? didl_attribute_get(&e->object->attributes, DIDL_NAME(AT_TARVO_CONTAINER_UPDATE_ID)) : nullptr;
    if (!v) continue;
    if ((out->len && !sys_stralloc_cats(out, ",")) || !sys_stralloc_cats(out, id_of(e->object)) ||
        !sys_stralloc_cats(out, ",") || !sys_stralloc_cats(out, v))
      return 0;
  }
  return sys_stralloc_append(out, "");
}

int content_db_event_body(server_rec *s, sys_stralloc_rec *out)
{
  own::stralloc ids;
  char number[CONTENT_DB_NUMBER_SIZE];
  number[sys_str_fmt_uint32(number, db(s).system_update_id)] = 0;
  return content_db_container_update_ids(s, &ids.s) && property_set_xml_begin(out) &&
         property_set_xml_add(out, "SystemUpdateID", number) &&
         property_set_xml_add(out, "ContainerUpdateIDs", ids.s.buf) && property_set_xml_end(out) &&
         sys_stralloc_append(out, "");
}

int content_db_reflect_take(server_rec *s, sys_str_list *ids)
{
  sys_ptralloc_rec &r = db(s).reflect;
  sys_ptralloc_rec out{};
  if (!sys_ptralloc_ready(&out, r.len + 1)) return 0;
  for (uint32_t i = 0; i < r.len; i++) {
    uint32_t pos = find_id(s, static_cast<const char *>(r.buf[i]));
    if (pos < db(s).index.len) entry_at(s, pos)->flags &= ~CONTENT_ENTRY_REFLECT;
    sys_ptralloc_append(&out, r.buf[i]);
  }
  sys_ptralloc_append(&out, nullptr);
  r.len = 0;
  *ids = reinterpret_cast<char **>(out.buf);
  return 1;
}

}  // extern "C"
