// Editing the content database: numbering, CreateObject, DestroyObject,
// UpdateObject and CreateReference, and the texts of new objects.
#include "content_db_impl.h"

#include <vennard/connection_manager.h>
#include <vennard/plugin.h>
#include <vennard/vennard_limits.h>

#include <tarvo_util/dlna.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/xml.h>

#include <cstring>
#include <initializer_list>
#include <vector>

using namespace cdb;
using namespace srv;

namespace {

// The objects of several parsed pieces.
using object_pieces = own::ptr_array<didl_object, didl_object_free>;

const char *attr(const didl_attributes *a, int name) { return didl_attribute_get(a, didl_name_table[name]); }
bool equal(const char *a, const char *b) { return a && b && !std::strcmp(a, b); }

bool uri_element(const char *element)
{
  avcp_didl_name_pair pair{element, nullptr};
  return didl_value_type(&pair) == AVCP_DIDL_TYPE_URI;
}

// A resource or URI value that the server itself serves from a file or a
// plug-in: its text is the path the database gives it.
bool served_value(const didl_property *p)
{
  const didl_attributes *a = &p->attributes;
  if (p->element == DIDL_NAME(EL_RES)) return attr(a, DIDL_AT_TARVO_FILENAME) || attr(a, DIDL_AT_TARVO_FILTER);
  return uri_element(p->element) && attr(a, DIDL_AT_TARVO_FILENAME);
}

// "/" id "-" number suffix: the suffix from the serving plug-in, else from
// the file name.
bool served_path_give(server_rec *s, didl_property *p, const char *object_id)
{
  char number[CONTENT_DB_NUMBER_SIZE], suffix[CONTENT_DB_SUFFIX_MAX];
  const didl_attributes *a = &p->attributes;
  const char *filter = attr(a, DIDL_AT_TARVO_FILTER);
  const char *pi = attr(a, DIDL_AT_PROTOCOL_INFO);
  const char *file = attr(a, DIDL_AT_TARVO_FILENAME);
  const char *dot = suffix;
  if (!(p->element == DIDL_NAME(EL_RES) && filter &&
        plugin_dot_suffix(&db(s).plugins, filter, pi ? pi : "", suffix, sizeof suffix)))
    dot = path_dot_suffix(file ? file : "");
  own::stralloc path;
  return content_db_new_number(s, number) && sys_stralloc_copys(&path.s, "/") &&
         sys_stralloc_cats(&path.s, object_id) && sys_stralloc_cats(&path.s, "-") &&
         sys_stralloc_cats(&path.s, number) && sys_stralloc_cats(&path.s, dot) && sys_stralloc_append(&path.s, "") &&
         didl_string_replace(&p->text, path.s.buf);
}

// The res rules: no importUri; a plain res has its URL; a served one an
// http-get protocolInfo with a real MIME type, written again in the
// server's form.
uint32_t res_check(didl_property *p)
{
  didl_attributes *a = &p->attributes;
  if (attr(a, DIDL_AT_IMPORT_URI)) return kBadMetadata;
  if (!served_value(p)) return *p->text ? kOk : kBadMetadata;
  protocol_info_rec pi{};
  const char *text = attr(a, DIDL_AT_PROTOCOL_INFO);
  if (!text || !protocol_info_parse(&pi, text)) return kBadMetadata;
  uint32_t r = kBadMetadata;
  own::stralloc fresh;
  if ((equal(pi.protocol, "*") || equal(pi.protocol, "http-get")) && *pi.content_format &&
      !equal(pi.content_format, "*"))
    r = sys_stralloc_copys(&fresh.s, "http-get:*:") && sys_stralloc_cats(&fresh.s, pi.content_format) &&
                sys_stralloc_cats(&fresh.s, ":") && sys_stralloc_cats(&fresh.s, pi.additional_info) &&
                sys_stralloc_append(&fresh.s, "") &&
                didl_attribute_set(a, DIDL_NAME(AT_PROTOCOL_INFO), fresh.s.buf)
            ? kOk
            : kFailed;
  protocol_info_free(&pi);
  return r;
}

// A new or changed property's resource rules.  current: the property it
// replaces, whose path a served value keeps; a different text is 705.
// Without one a served value must come without text and gets a path.
uint32_t served_rules(server_rec *s, didl_property *p, const didl_property *current, const char *object_id)
{
  if (p->element == DIDL_NAME(EL_RES)) {
    uint32_t r = res_check(p);
    if (r) return r;
  }
  if (!served_value(p)) return kOk;
  if (*p->text) {
    if (!current) return kBadMetadata;
    return std::strcmp(p->text, current->text) ? kReadOnlyTag : kOk;
  }
  if (current && served_value(current) && *current->text) return didl_string_replace(&p->text, current->text) ? kOk : kFailed;
  return served_path_give(s, p, object_id) ? kOk : kFailed;
}

bool storage_class(const char *cls)
{
  return avcp_didl_derived_from(cls, "object.container.storageSystem") ||
         avcp_didl_derived_from(cls, "object.container.storageVolume");
}

// CreateObject's rules for the properties of a new object.
uint32_t create_properties_check(server_rec *s, didl_object *o, const didl_object *parent, int local,
                                 const char *object_id)
{
  for (uint32_t i = 0; i < o->properties.len; i++) {
    didl_property *p = property_at(o, i);
    if (p->element == DIDL_NAME(EL_UPNP_STORAGE_USED) && std::strcmp(p->text, "-1")) return kBadMetadata;
    if (p->element == DIDL_NAME(EL_UPNP_CLASS) &&
        (storage_class(p->text) || !didl_class_allowed_create(parent, p->text)))
      return kBadMetadata;
    if (p->element == DIDL_NAME(EL_UPNP_CREATE_CLASS) || (!local && p->element == DIDL_NAME(EL_UPNP_SEARCH_CLASS)))
      return kBadMetadata;
    uint32_t r = served_rules(s, p, nullptr, object_id);
    if (r) return r;
  }
  return kOk;
}

struct container_classes {
  const char *cls;
  std::initializer_list<const char *> create;
};

const container_classes kContainerClasses[] = {
    {"object.container", {}},
    {"object.container.storageFolder", {}},
    {"object.container.person.musicArtist",
     {"object.container.album.musicAlbum", "object.item.audioItem.musicTrack", "object.item.videoItem.musicVideoClip"}},
    {"object.container.person.movieActor",
     {"object.container.album.videoAlbum", "object.container.playlistContainer", "object.item"}},
    {"object.container.playlistContainer", {"object.item.imageItem", "object.item.audioItem", "object.item.videoItem"}},
    {"object.container.genre.movieGenre",
     {"object.container.person.movieActor", "object.container.genre.movieGenre", "object.item.videoItem"}},
    {"object.container.genre.musicGenre",
     {"object.container.person.musicArtist", "object.container.album.musicAlbum", "object.container.genre.musicGenre",
      "object.item.audioItem"}},
    {"object.container.genre",
     {"object.container.person.movieActor", "object.container.album.videoAlbum", "object.container.genre",
      "object.item.audioItem", "object.item.videoItem"}},
    {"object.container.album.photoAlbum", {"object.container.album.photoAlbum", "object.item.imageItem.photo"}},
    {"object.container.album.musicAlbum", {"object.container.album.musicAlbum", "object.item.audioItem.musicTrack"}},
    {"object.container.album.videoAlbum", {"object.container.album.videoAlbum", "object.item"}},
};

// A new container's class decides the classes that may be created in it.
uint32_t create_classes_add(didl_object *o)
{
  didl_property *cls = didl_property_first(o, DIDL_NAME(EL_UPNP_CLASS));
  for (const container_classes &c : kContainerClasses) {
    if (!cls || std::strcmp(cls->text, c.cls)) continue;
    for (const char *allowed : c.create) {
      didl_property *p = nullptr;
      if (!didl_property_add(o, DIDL_NAME(EL_UPNP_CREATE_CLASS), allowed, &p) ||
          !didl_attribute_add(&p->attributes, DIDL_NAME(AT_INCLUDE_DERIVED), "1"))
        return kFailed;
    }
    return kOk;
  }
  return kBadMetadata;
}

// The attributes a client may give a new object, and what they become.
uint32_t create_attributes_set(didl_object *o, const char *parent_id, const char *new_id)
{
  didl_attributes *a = &o->attributes;
  for (uint32_t i = 0; i < a->names.len; i++) {
    const char *name = static_cast<const char *>(a->names.buf[i]);
    const char *value = static_cast<const char *>(a->values.buf[i]);
    bool ok = name == DIDL_NAME(AT_ID)          ? !*value
              : name == DIDL_NAME(AT_PARENT_ID) ? equal(value, parent_id)
              : name == DIDL_NAME(AT_RESTRICTED)
                  ? equal(value, "0") || equal(value, "false") || equal(value, "no")
                  : false;
    if (!ok) return kBadMetadata;
  }
  return didl_attribute_set(a, DIDL_NAME(AT_ID), new_id) && didl_attribute_set(a, DIDL_NAME(AT_RESTRICTED), "1")
             ? kOk
             : kFailed;
}

// Enters a new object under its parent: the index, the parent's list and
// count, the update ids and the ConnectionManager.
uint32_t object_insert(server_rec *s, content_entry *parent, didl_object **object, content_entry **out)
{
  uint64_t code;
  if (!id_code(s, id_of(*object), true, &code) || !list_append(&parent->children, code)) return kFailed;
  didl_object_pack(object);
  didl_object *o = *object;
  content_entry *e = entry_append(s, o);
  if (!e) {
    list_pop(&parent->children);
    return kFailed;
  }
  parent->flags |= CONTENT_ENTRY_HAS_CHILDREN;
  if (is_container(o)) e->flags |= CONTENT_ENTRY_HAS_CHILDREN;
  else entry_changed(s, e);
  *out = e;
  bool ok = didl_counter_add(&parent->object->attributes, DIDL_NAME(AT_CHILD_COUNT), 1) &&
            bump_container(s, parent) && bump_container(s, entry_at(s, db(s).root));
  system_update_id_read(s);
  return ok ? kOk : kFailed;
}

// The piece of a tag-value list as an object of its own: "<item>" piece
// "</item>" in a document.
bool piece_parse(server_rec *s, const char *piece, didl_object **o)
{
  own::stralloc text;
  return didl_xml_begin(&text.s, 1) && sys_stralloc_cats(&text.s, "<item>") && sys_stralloc_cats(&text.s, piece) &&
         sys_stralloc_cats(&text.s, "</item>") && didl_xml_end(&text.s) && sys_stralloc_append(&text.s, "") &&
         didl_parse_one(text.s.buf, 0, o) && url_prefixes_strip(s, *o);
}

// The address of a DTCP host is the client's business, not the
// database's: the parameters that name it leave the protocolInfo.
bool dtcp_params_strip(didl_object *o)
{
  static const char kDtcp[] = "application/x-dtcp1;";
  for (uint32_t i = 0; i < o->properties.len; i++) {
    didl_property *p = property_at(o, i);
    if (p->element != DIDL_NAME(EL_RES)) continue;
    uint32_t index = didl_attribute_index(&p->attributes, DIDL_NAME(AT_PROTOCOL_INFO));
    if (index == p->attributes.names.len) continue;
    char *pi = static_cast<char *>(p->attributes.values.buf[index]);
    char *third = std::strchr(pi, ':');
    if (third) third = std::strchr(third + 1, ':');
    if (!third) return false;
    if (!sys_str_start(third + 1, kDtcp)) continue;
    char *params = third + 1 + sizeof kDtcp - 1;
    while (sys_str_start(params, "DTCP1HOST=") || sys_str_start(params, "DTCP1PORT=")) {
      char *end = std::strchr(params, ';');
      if (!end) return false;
      std::memmove(params, end + 1, std::strlen(end + 1) + 1);
    }
  }
  return true;
}

// The tag values of UpdateObject: one object per piece of the list.
uint32_t tag_values_parse(server_rec *s, const char *text, object_pieces *out)
{
  own::str_list pieces;
  if (!csv_split(text ? text : "", &pieces.l)) return kFailed;
  for (char **p = pieces.l; *p; p++) {
    didl_object *o = nullptr;
    if (!piece_parse(s, *p, &o)) return kInvalidArgs;
    if (!sys_ptralloc_append(&out->pa, o)) {
      didl_object_free(o);
      return kFailed;
    }
    if (!dtcp_params_strip(o)) return kFailed;
    if (o->properties.len > 1) return kInvalidArgs;
  }
  return kOk;
}

didl_property *single(const didl_object *piece) { return piece->properties.len ? property_at(piece, 0) : nullptr; }

bool list_empty(const object_pieces &g)
{
  for (uint32_t i = 0; i < g.pa.len; i++)
    if (single(g.at(i))) return false;
  return true;
}

bool property_replace(didl_object *o, uint32_t index, const didl_property *with)
{
  didl_property *copy = nullptr;
  if (!didl_property_clone(with, &copy)) return false;
  didl_property_free(property_at(o, index));
  o->properties.buf[index] = copy;
  return true;
}

// One pair of UpdateObject on the copy.
uint32_t tag_pair_apply(server_rec *s, didl_object *copy, didl_property *current, didl_property *fresh, int local)
{
  const char *object_id = id_of(copy);
  if (current && fresh) {
    if (current->element != fresh->element) return kInvalidTag;
    if (!didl_property_check(fresh)) return kBadMetadata;
    if (didl_fixed_property(fresh->element, local)) return kReadOnlyTag;
    uint32_t r = served_rules(s, fresh, current, object_id);
    if (r) return r;
    uint32_t k = didl_property_find_equal(&copy->properties, current);
    if (k == copy->properties.len) return kNoSuchTag;
    return property_replace(copy, k, fresh) ? kOk : kFailed;
  }
  if (current) {
    if (didl_fixed_property(current->element, local)) return kReadOnlyTag;
    if (didl_required_property(current->element)) return kRequiredTag;
    uint32_t k = didl_property_find_equal(&copy->properties, current);
    if (k == copy->properties.len) return kNoSuchTag;
    didl_property_free(property_at(copy, k));
    sys_ptralloc_remove(&copy->properties, k);
    return kOk;
  }
  if (!fresh) return kOk;
  if (!didl_property_check(fresh)) return kBadMetadata;
  if (didl_fixed_property(fresh->element, local)) return kReadOnlyTag;
  if (!didl_multi_valued_property(fresh->element) && didl_property_first(copy, fresh->element)) return kBadMetadata;
  uint32_t r = served_rules(s, fresh, nullptr, object_id);
  if (r) return r;
  didl_property *added = nullptr;
  if (!didl_property_clone(fresh, &added)) return kFailed;
  if (!sys_ptralloc_append(&copy->properties, added)) {
    didl_property_free(added);
    return kFailed;
  }
  return kOk;
}

void pending_mark(server_rec *s, content_entry *e)
{
  if (!e || (e->flags & CONTENT_ENTRY_PENDING)) return;
  if (sys_ptralloc_append(&db(s).pending, e)) e->flags |= CONTENT_ENTRY_PENDING;
}

content_entry *any_entry(server_rec *s, const char *id)
{
  uint32_t pos = id ? find_id(s, id) : db(s).index.len;
  return pos < db(s).index.len ? entry_at(s, pos) : nullptr;
}

// The entry of a code, removed ones included, or nullptr.
content_entry *code_entry(server_rec *s, uint64_t code)
{
  uint32_t pos = find_code(s, code);
  return pos < db(s).index.len ? entry_at(s, pos) : nullptr;
}

// A removed object leaves its parent: the parent's list closes up when
// the destroy ends, its count goes down and it counts as changed.
bool leave_parent(server_rec *s, content_entry *e, content_entry *parent, content_entry *root)
{
  if (!parent || parent == e) return true;
  pending_mark(s, parent);
  if (encoded(parent) && !entry_expand(s, parent)) return false;
  return (compact(parent) || didl_counter_add(&parent->object->attributes, DIDL_NAME(AT_CHILD_COUNT), -1)) &&
         bump_container(s, parent) && bump_container(s, root);
}

// Marks the entry removed and walks below it: a container's children last
// first, an item's references; each object then leaves its parent.  The
// lists that lose ids close up when the destroy ends.
bool tree_remove(server_rec *s, content_entry *top)
{
  struct frame {
    content_entry *e;
    uint32_t next;
    bool below_done;
  };
  content_entry *root = entry_at(s, db(s).root);
  std::vector<frame> stack;
  top->flags |= CONTENT_ENTRY_REMOVED;
  stack.push_back({top, 0, false});
  bool ok = true;
  auto enter = [&](uint64_t code) {
    content_entry *c = live_code(s, code);
    if (!c || c == root) return;
    c->flags |= CONTENT_ENTRY_REMOVED;
    stack.push_back({c, 0, false});
  };
  while (!stack.empty()) {
    frame &f = stack.back();
    content_entry *e = f.e;
    if (compact(e)) {
      // A compact reference names its target and parent by code.
      stack.pop_back();
      pending_mark(s, code_entry(s, e->ref_target));
      ok = leave_parent(s, e, code_entry(s, e->ref_parent), root) && ok;
      continue;
    }
    didl_object *o = object_of(s, e);
    if (!o) {
      stack.pop_back();
      ok = false;
      continue;
    }
    uint32_t children = encoded(e) ? 0 : content_id_list_len(&e->children);
    if (is_container(o) && f.next < children) {
      uint64_t code = content_id_list_codes(&e->children)[children - 1 - f.next++];
      enter(code);
      continue;
    }
    if (!is_container(o) && !f.below_done) {
      f.below_done = true;
      const char *target = attr(&o->attributes, DIDL_AT_REF_ID);
      if (target) pending_mark(s, any_entry(s, target));
      else
        for (uint32_t i = content_id_list_len(&e->referenced); i > 0; i--)
          enter(content_id_list_codes(&e->referenced)[i - 1]);
      continue;
    }
    stack.pop_back();
    ok = leave_parent(s, e, any_entry(s, attr(&o->attributes, DIDL_AT_PARENT_ID)), root) && ok;
  }
  return ok;
}

}  // namespace

extern "C" {

int content_db_new_number(server_rec *s, char *buffer)
{
  content_db_rec &d = db(s);
  if (d.root >= d.index.len || d.max_object_id == UINT64_MAX) return 0;
  buffer[sys_str_fmt_uint64(buffer, d.max_object_id + 1)] = 0;
  if (!didl_attribute_set(&entry_at(s, d.root)->object->attributes, DIDL_NAME(AT_TARVO_MAX_OBJECT_ID), buffer))
    return 0;
  d.max_object_id++;
  return 1;
}

uint32_t content_db_create(server_rec *s, const char *container_id, const char *elements, int local,
                           char **new_id, didl_object **object)
{
  content_entry *parent = live_entry(s, container_id ? container_id : "");
  if (!parent || !is_container(object_of(s, parent))) return kNoSuchContainer;
  const didl_attributes *pa = &parent->object->attributes;
  bool parent_searchable = equal(attr(pa, DIDL_AT_SEARCHABLE), "1");
  bool parent_private = equal(attr(pa, DIDL_AT_TARVO_PRIVATE), "1");

  object_owner o;
  if (!elements || !didl_parse_one(elements, 1, &o.p)) return kBadMetadata;
  if (!url_prefixes_strip(s, o.p)) return kFailed;
  char id[CONTENT_DB_NUMBER_SIZE];
  if (!content_db_new_number(s, id)) return kFailed;
  uint32_t r = create_attributes_set(o.p, id_of(parent->object), id);
  if (r) return r;
  didl_attributes *a = &o.p->attributes;
  if (is_container(o.p) && (!didl_attribute_add(a, DIDL_NAME(AT_SEARCHABLE), parent_searchable ? "1" : "0") ||
                            !didl_attribute_add(a, DIDL_NAME(AT_TARVO_CONTAINER_UPDATE_ID), "0") ||
                            !didl_attribute_add(a, DIDL_NAME(AT_CHILD_COUNT), "0")))
    return kFailed;
  if (parent_private && !didl_attribute_add(a, DIDL_NAME(AT_TARVO_PRIVATE), "1")) return kFailed;
  if ((r = create_properties_check(s, o.p, parent->object, local, id))) return r;
  if (is_container(o.p) && (r = create_classes_add(o.p))) return r;

  content_entry *e = nullptr;
  if ((r = object_insert(s, parent, &o.p, &e))) {
    if (e) o.p = nullptr;
    return r;
  }
  didl_object *stored = o.p;
  o.p = nullptr;
  protocol_infos_register(s, stored);
  cm_event_notify(s);
  if (new_id && !sys_str_clone(id, new_id)) *new_id = nullptr;
  if (object) *object = stored;
  return kOk;
}

uint32_t content_db_create_container(server_rec *s, const char *parent_id, const char *title, const char *upnp_class,
                                     char **new_id, didl_object **object)
{
  own::stralloc text;
  bool ok = container_text_begin(&text.s, "container", parent_id) && sys_stralloc_cats(&text.s, "<dc:title>") &&
            xml_gen_encode_append(&text.s, title) && sys_stralloc_cats(&text.s, "</dc:title>\r\n<upnp:class>") &&
            xml_gen_encode_append(&text.s, upnp_class) && sys_stralloc_cats(&text.s, "</upnp:class>\r\n") &&
            xml_end_tag_append(&text.s, "container") && sys_stralloc_append(&text.s, "");
  if (!ok) return kFailed;
  return content_db_create(s, parent_id, text.s.buf, 1, new_id, object);
}

uint32_t content_db_destroy(server_rec *s, const char *id)
{
  if (!id || !std::strcmp(id, "0")) return kFailed;
  content_entry *e = live_entry(s, id);
  if (!e) return kNoSuchObject;
  if (e == entry_at(s, db(s).root)) return kFailed;
  bool ok;
  try {
    ok = tree_remove(s, e);
  } catch (...) {  // out of memory: what was marked still leaves
    ok = false;
  }
  index_close_up(s);
  system_update_id_read(s);
  return ok ? kOk : kFailed;
}

uint32_t content_db_update(server_rec *s, const char *id, const char *current, const char *new_values, int local)
{
  if (content_db_is_special(s, id)) return kFailed;
  object_pieces cur, fresh;
  uint32_t r;
  try {
    r = tag_values_parse(s, current, &cur);
    if (!r) r = tag_values_parse(s, new_values, &fresh);
  } catch (...) {  // out of memory
    r = kFailed;
  }
  if (r) return r;
  content_entry *e = live_entry(s, id ? id : "");
  if (!e) return kNoSuchObject;
  if (!object_of(s, e)) return kFailed;
  const char *target = attr(&e->object->attributes, DIDL_AT_REF_ID);
  if (!is_container(e->object) && target && !(e = live_entry(s, target))) return kNoSuchObject;
  if (!entry_expand(s, e)) return kFailed;
  if (list_empty(cur) && list_empty(fresh)) return kInvalidArgs;
  if (cur.pa.len != fresh.pa.len) return kParameterMismatch;

  object_owner copy;
  if (!didl_object_clone(e->object, &copy.p)) return kFailed;
  for (uint32_t i = 0; i < cur.pa.len; i++)
    if ((r = tag_pair_apply(s, copy.p, single(cur.at(i)), single(fresh.at(i)), local))) return r;

  didl_object_free(e->object);
  didl_object_pack(&copy.p);
  e->object = copy.p;
  copy.p = nullptr;
  entry_changed(s, e);
  if (!content_db_bump(s, e->object, 1, 1, 1)) return kFailed;
  protocol_infos_register(s, e->object);
  cm_event_notify(s);
  return kOk;
}

uint32_t content_db_reference(server_rec *s, const char *container_id, const char *object_id, char **new_id)
{
  content_entry *target = live_entry(s, object_id ? object_id : "");
  if (!target || !object_of(s, target)) return target ? kFailed : kNoSuchObject;
  if (is_container(target->object)) return kNoSuchObject;
  const char *ref = attr(&target->object->attributes, DIDL_AT_REF_ID);
  if (ref && !(target = live_entry(s, ref))) return kNoSuchObject;
  // The target gains a list: a reference of a file's reference is no
  // longer compact.  An encoded target keeps its list beside it.
  if (compact(target) ? !entry_expand(s, target) : !object_of(s, target)) return kFailed;
  content_entry *parent = live_entry(s, container_id ? container_id : "");
  if (!parent || !is_container(object_of(s, parent))) return kNoSuchContainer;
  const didl_property *cls = didl_property_first(target->object, DIDL_NAME(EL_UPNP_CLASS));
  if (!didl_class_allowed_create(parent->object, cls ? cls->text : "")) return kFailed;

  char id[CONTENT_DB_NUMBER_SIZE];
  object_owner o;
  if (!content_db_new_number(s, id)) return kFailed;
  o.p = static_cast<didl_object *>(sys_alloc_zero(sizeof(didl_object)));
  if (!o.p) return kFailed;
  o.p->element = DIDL_NAME(EL_ITEM);
  didl_attributes *a = &o.p->attributes;
  // Private when its target is, or when it lands in a private container,
  // as a created object does.
  bool marked = equal(attr(&target->object->attributes, DIDL_AT_TARVO_PRIVATE), "1") ||
                equal(attr(&parent->object->attributes, DIDL_AT_TARVO_PRIVATE), "1");
  if (!didl_attribute_add(a, DIDL_NAME(AT_ID), id) || !didl_attribute_add(a, DIDL_NAME(AT_PARENT_ID), id_of(parent->object)) ||
      !didl_attribute_add(a, DIDL_NAME(AT_REF_ID), id_of(target->object)) ||
      !didl_attribute_add(a, DIDL_NAME(AT_RESTRICTED), "1") ||
      (marked && !didl_attribute_add(a, DIDL_NAME(AT_TARVO_PRIVATE), "1")))
    return kFailed;
  uint64_t code;
  if (!id_code(s, id, true, &code) || !list_append(&target->referenced, code)) return kFailed;
  content_entry *e = nullptr;
  uint32_t r = object_insert(s, parent, &o.p, &e);
  if (!e) {
    list_pop(&target->referenced);
    return r;
  }
  o.p = nullptr;
  target->flags |= CONTENT_ENTRY_HAS_REFERENCED;
  if (r) return r;
  entry_compact(s, e);
  if (new_id && !sys_str_clone(id, new_id)) *new_id = nullptr;
  return kOk;
}

int container_text_begin(sys_stralloc_rec *text, const char *element, const char *parent_id)
{
  return didl_xml_begin(text, 1) && sys_stralloc_cats(text, "<") && sys_stralloc_cats(text, element) &&
         sys_stralloc_cats(text, " id=\"\" restricted=\"0\"") &&
         xml_gen_attribute_append(text, "parentID", parent_id) && sys_stralloc_cats(text, ">\r\n");
}

int xml_end_tag_append(sys_stralloc_rec *text, const char *element)
{
  return sys_stralloc_cats(text, "</") && sys_stralloc_cats(text, element) && sys_stralloc_cats(text, ">\r\n") &&
         didl_xml_end(text);
}

}  // extern "C"
