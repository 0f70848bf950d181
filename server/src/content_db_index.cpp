// The object index of the content database: entries appended, freed and
// closed up after a destroy, and the calls that read it under the lock.
#include "content_db_impl.h"

namespace cdb {

content_entry *entry_append(server_rec *s, didl_object *object)
{
  content_entry *e = entry_new();
  if (!e) return nullptr;
  const char *id = id_of(object);
  if (!id || !id_number(id, &e->number)) e->number = 0;
  if (!sys_ptralloc_append(&db(s).index, e)) {
    entry_release(e);
    return nullptr;
  }
  e->object = object;
  return e;
}

void entry_free(content_entry *e, server_rec *s)
{
  // A compact or encoded entry's object is made in the blocks that go at
  // the unlock; until then it may read the encoding.
  if (encoded(e)) {
    if (!s) didl::encoding_free(e->encoding);
    else if (!sys_ptralloc_append(&db(s).retired, e->encoding)) {
      // Kept for good rather than freed under a reader.
    }
    list_free(&e->referenced);
  } else if (!compact(e)) {
    didl_object_free(e->object);
    list_free(&e->children);
    list_free(&e->referenced);
  }
  entry_release(e);
}

void index_free(server_rec *s)
{
  content_db_rec &d = db(s);
  made_free(s);
  for (uint32_t i = d.index.len; i > 0; i--) entry_free(entry_at(s, i - 1));
  sys_ptralloc_free(&d.index);
  sys_ptralloc_free(&d.pending);
  d.index = d.pending = sys_ptralloc_rec{};
  d.root = 0;
  orders_free(s);
}

void index_close_up(server_rec *s)
{
  content_db_rec &d = db(s);
  for (uint32_t i = 0; i < d.pending.len; i++) {
    auto *e = static_cast<content_entry *>(d.pending.buf[i]);
    e->flags &= ~CONTENT_ENTRY_PENDING;
    if (removed(e) || compact(e)) continue;
    if (!encoded(e)) list_close_up(s, &e->children);
    list_close_up(s, &e->referenced);
  }
  d.pending.len = 0;
  // Made objects of removed entries go with their entries.
  uint32_t kept = 0;
  for (uint32_t i = 0; i < d.made.len; i++)
    if (!removed(static_cast<content_entry *>(d.made.buf[i]))) d.made.buf[kept++] = d.made.buf[i];
  d.made.len = kept;
  content_entry *root = d.root < d.index.len ? entry_at(s, d.root) : nullptr;
  uint32_t j = 0;
  d.root = UINT32_MAX;
  for (uint32_t i = 0; i < d.index.len; i++) {
    content_entry *e = entry_at(s, i);
    if (removed(e)) {
      entry_free(e, s);
      continue;
    }
    if (e == root) d.root = j;
    d.index.buf[j++] = e;
  }
  d.index.len = j;
  if (d.root == UINT32_MAX) d.root = j;
}

}  // namespace cdb

using namespace cdb;

extern "C" {

int content_db_lock(server_rec *s) { return srv::lock_unless_stopping(&db(s).mutex, db(s).stopping); }

void content_db_unlock(server_rec *s)
{
  made_release(s);
  sys_mutex_unlock(&db(s).mutex);
}

int content_db_share_lock(server_rec *s) { return srv::lock_unless_stopping(&db(s).share_mutex, db(s).stopping); }

void content_db_share_unlock(server_rec *s) { sys_mutex_unlock(&db(s).share_mutex); }

uint32_t content_db_find(server_rec *s, const char *id)
{
  uint32_t pos = find_id(s, id ? id : "");
  return pos < db(s).index.len && !removed(entry_at(s, pos)) ? pos : db(s).index.len;
}

uint32_t content_db_count(server_rec *s) { return db(s).index.len; }

didl_object *content_db_at(server_rec *s, uint32_t position)
{
  return position < db(s).index.len ? object_of(s, entry_at(s, position)) : nullptr;
}

didl_object *content_db_get(server_rec *s, const char *id)
{
  content_entry *e = live_entry(s, id ? id : "");
  return e ? object_of(s, e) : nullptr;
}

didl_object *content_db_parent(server_rec *s, const didl_object *object)
{
  const char *parent = didl_attribute_get(&object->attributes, DIDL_NAME(AT_PARENT_ID));
  return parent ? content_db_get(s, parent) : nullptr;
}

didl_object *content_db_root(server_rec *s) { return content_db_at(s, db(s).root); }

int content_db_is_special(server_rec *s, const char *id) { return id && is_special(s, id); }

int content_db_children(server_rec *s, const didl_object *container, sys_ptralloc_rec *objects)
{
  content_entry *e = entry_of(s, container);
  return !e || compact(e) || encoded(e) || live_objects_append(s, &e->children, objects);
}

uint32_t content_db_holder_position(server_rec *s, uint32_t position, content_db_parent_memo *memo, int *container)
{
  uint32_t count = db(s).index.len;
  *container = 0;
  if (position >= count) return count;
  content_entry *e = entry_at(s, position);
  uint64_t code = e->ref_parent;
  if (!compact(e)) {
    const didl_object *o = object_of(s, e);
    if (!o) return count;
    if ((*container = is_container(o))) return position;
    const char *parent = didl_attribute_get(&o->attributes, DIDL_NAME(AT_PARENT_ID));
    if (!parent) return count;
    if (!id_code(s, parent, false, &code)) return content_db_find(s, parent);
  }
  uint32_t slot = uint32_t((code ^ (code >> 13) ^ (code >> 31)) % CONTENT_DB_PARENT_MEMO);
  if (memo->position[slot] && memo->code[slot] == code) return memo->position[slot] - 1;
  uint32_t found = find_code(s, code);
  if (found < count && removed(entry_at(s, found))) found = count;
  memo->code[slot] = code;
  memo->position[slot] = found + 1;
  return found;
}

int content_db_child_positions(server_rec *s, const didl_object *container, sys_uint32alloc_rec *positions)
{
  content_entry *e = entry_of(s, container);
  if (!e || compact(e) || encoded(e)) return 1;
  const uint64_t *codes = content_id_list_codes(&e->children);
  for (uint32_t i = 0; i < content_id_list_len(&e->children); i++) {
    uint32_t pos = find_code(s, codes[i]);
    if (pos < db(s).index.len && !removed(entry_at(s, pos)) && !sys_uint32alloc_append(positions, pos)) return 0;
  }
  return 1;
}

int content_db_referencing(server_rec *s, const didl_object *object, sys_ptralloc_rec *objects)
{
  content_entry *e = entry_of(s, object);
  return !e || compact(e) || live_objects_append(s, &e->referenced, objects);
}

int content_db_list_text(server_rec *s, const didl_object *object, uint32_t which, sys_stralloc_rec *out)
{
  content_entry *e = entry_of(s, object);
  if (!e || compact(e) || !(e->flags & which)) return 0;
  out->len = 0;
  const content_id_list *l = which == CONTENT_ENTRY_HAS_CHILDREN ? &e->children : &e->referenced;
  return list_text(s, l, out) && sys_stralloc_append(out, "");
}

didl_object *content_db_own(server_rec *s, didl_object *o)
{
  content_entry *e = entry_of(s, o);
  return e && entry_expand(s, e) ? e->object : nullptr;
}

}  // extern "C"
