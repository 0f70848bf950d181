// The database file's text: every object of the index written in order,
// the kept lists of ids as attributes.
#include "content_db_impl.h"

#include <vennard/vennard_limits.h>

#include <tarvo_util/sys_file.h>

#include <cstddef>

namespace cdb {

namespace {

// The kept lists go into the object as attributes while it is written,
// and out again.  Arrays the object does not own (its name list is shared,
// or it is packed) are copied when the lists go in; the originals are
// put back afterwards rather than left for the copies at every save.
struct lists_as_attributes {
  didl_object *o;
  didl_attributes before;
  uint32_t added = 0;
  lists_as_attributes(didl_object *object) : o(object), before(object->attributes) {}
  static void put_back(sys_ptralloc_rec *now, const sys_ptralloc_rec &was)
  {
    if (!was.buf || was.a || now->buf == was.buf) return;
    sys_ptralloc_free(now);
    *now = was;
  }
  bool add(server_rec *s, const content_entry *e)
  {
    const struct {
      uint32_t flag;
      const content_id_list *list;
      const char *name;
    } lists[] = {{CONTENT_ENTRY_HAS_CHILDREN, &e->children, DIDL_NAME(AT_TARVO_CHILDREN)},
                 {CONTENT_ENTRY_HAS_REFERENCED, &e->referenced, DIDL_NAME(AT_TARVO_REFERENCED)}};
    for (const auto &l : lists) {
      if (!(e->flags & l.flag)) continue;
      own::stralloc text;
      if (!list_text(s, l.list, &text.s) || !sys_stralloc_append(&text.s, "") ||
          !didl_attribute_add(&o->attributes, l.name, text.s.buf))
        return false;
      added++;
    }
    return true;
  }
  ~lists_as_attributes()
  {
    if (!added) return;
    while (added--) {
      didl_attributes &a = o->attributes;
      didl_value_free(static_cast<char *>(a.values.buf[a.values.len - 1]));
      a.values.len--;
      a.names.len--;
    }
    put_back(&o->attributes.names, before.names);
    put_back(&o->attributes.values, before.values);
    didl_object_fit(o);
  }
};

}  // namespace

bool serialise(server_rec *s, sys_stralloc_rec *out, int file)
{
  content_db_rec &d = db(s);
  std::vector<std::max_align_t> scratch;
  if (!sys_stralloc_readyplus(out, CONTENT_DB_FILE_RESERVE) || !didl_xml_begin(out, 1)) return false;
  for (uint32_t i = 0; i < d.index.len; i++) {
    content_entry *e = entry_at(s, i);
    if (removed(e)) continue;
    if (compact(e) && !e->object) {
      // A record on the stack that points at the entry's texts, for the
      // write only.
      reference_attributes r;
      uint32_t count = r.fill(s, e);
      didl_object view{{{r.names, count, 0}, {r.values, count, 0}}, DIDL_NAME(EL_ITEM), {}};
      if (!count || !didl_write(out, &view, &d.plugins)) return false;
    } else {
      // An encoded item is made for the write only, in room of its own.
      didl_object *o = e->object;
      if (!o && encoded(e) && !(o = didl::object_decode(e->encoding, scratch_room, &scratch))) return false;
      lists_as_attributes kept(o);
      if (!kept.add(s, e) || !didl_write(out, o, &d.plugins)) return false;
    }
    if (file >= 0 && out->len >= CONTENT_DB_SAVE_CHUNK) {
      if (!sys_file_allwrite(file, out->buf, out->len)) return false;
      out->len = 0;
    }
  }
  return didl_xml_end(out);
}

}  // namespace cdb
