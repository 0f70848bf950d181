// The actions that change the content tree: creating, destroying,
// updating and referencing objects, and the private and searchable marks
// that spread down a container's subtree.
#include "cds_impl.h"
#include "object_view.h"

#include <vennard/media_http.h>

#include <tarvo_util/sys_str.h>

#include <vector>

using namespace cds;

namespace {

bool is_container(const didl_object *o) { return o->element == DIDL_NAME(EL_CONTAINER); }

bool marked_private(const didl_object *o) { return attribute_is(o, DIDL_NAME(AT_TARVO_PRIVATE), "1"); }

// Marks spread below a container without counting up each container they
// reach, so Browse forgets every order it keeps.  The object marked (o's
// own, for a reference held compactly), or nullptr.
didl_object *private_set(server_rec *s, didl_object *o, bool on)
{
  content_db_order_forget(s, nullptr);
  if (!(o = content_db_own(s, o))) return nullptr;
  if (on) return didl_attribute_set(&o->attributes, DIDL_NAME(AT_TARVO_PRIVATE), "1") ? o : nullptr;
  didl_attribute_remove(&o->attributes, DIDL_NAME(AT_TARVO_PRIVATE));
  return o;
}

// Every object below a container, parents before their children.
bool descendants(server_rec *s, didl_object *top, std::vector<didl_object *> *out)
{
  std::vector<didl_object *> stack{top};
  uint64_t budget = uint64_t(content_db_count(s)) + 1;
  while (!stack.empty() && budget--) {
    didl_object *o = stack.back();
    stack.pop_back();
    if (o != top) out->push_back(o);
    if (!is_container(o)) continue;
    object_list children;
    if (!content_db_children(s, o, &children.p)) return false;
    for (uint32_t i = children.p.len; i-- > 0;) stack.push_back(children.at(i));
  }
  return true;
}

// The items that refer to a changed item follow it; each one that changes
// counts its container up.  When clearing, one in a private container keeps
// its mark.
bool references_follow(server_rec *s, didl_object *item, bool on)
{
  object_list refs;
  if (!content_db_referencing(s, item, &refs.p)) return false;
  for (uint32_t i = 0; i < refs.p.len; i++) {
    didl_object *r = refs.at(i);
    if (marked_private(r) == on) continue;
    const didl_object *parent = content_db_parent(s, r);
    if (!on && parent && marked_private(parent)) continue;
    if (!(r = private_set(s, r, on)) || !content_db_bump(s, r, 1, 0, 0)) return false;
  }
  return true;
}

// o becomes the object marked.
bool private_spread(server_rec *s, didl_object **o, bool on)
{
  std::vector<didl_object *> below;
  if (!(*o = private_set(s, *o, on)) || !descendants(s, *o, &below)) return false;
  didl_object *top = *o;
  std::vector<didl_object *> items;
  if (!is_container(top)) items.push_back(top);
  for (didl_object *d : below) {
    if (marked_private(d) == on) continue;
    // A reference to a private object stays private.
    if (!on && object_target_private(s, d)) continue;
    if (!(d = private_set(s, d, on))) return false;
    if (!is_container(d)) items.push_back(d);
  }
  for (didl_object *item : items)
    if (!references_follow(s, item, on)) return false;
  return true;
}

const char *searchable_text(bool on) { return on ? "1" : "0"; }

}  // namespace

namespace cds {

uint32_t create_object(call &c)
{
  const char *a[2];
  if (!c.args({"ContainerID", "Elements"}, a)) return kInvalidArgs;
  return locked(c, [&] {
    own::str id;
    didl_object *o = nullptr;
    if (uint32_t code = content_db_create(c.s, a[0], a[1], c.local, &id.s, &o)) return code;
    didl_filter all{};
    own::str_list prefixes;
    own::stralloc result;
    bool ok = didl_filter_parse(&all, "*", c.local) &&
              media_base_urls(c.s, c.info->addr.local_ip, 0, &prefixes.l) && didl_xml_begin(&result.s, c.local) &&
              didl_write_for_client(&result.s, o, prefixes.l, &all, c.local, &c.info->addr,
                                    &c.s->content.plugins) &&
              didl_xml_end(&result.s) && sys_stralloc_append(&result.s, "");
    didl_filter_free(&all);
    return ok ? respond(c, {{"ObjectID", id.s}, {"Result", result.s.buf}}) : kFailed;
  });
}

uint32_t destroy_object(call &c)
{
  const char *a[1];
  if (!c.args({"ObjectID"}, a)) return kInvalidArgs;
  return locked(c, [&] {
    uint32_t code = content_db_destroy(c.s, a[0]);
    return code ? code : respond(c, {});
  });
}

uint32_t update_object(call &c)
{
  const char *a[3];
  if (!c.args({"ObjectID", "CurrentTagValue", "NewTagValue"}, a)) return kInvalidArgs;
  return locked(c, [&] {
    uint32_t code = content_db_update(c.s, a[0], a[1], a[2], c.local);
    return code ? code : respond(c, {});
  });
}

uint32_t create_reference(call &c)
{
  const char *a[2];
  if (!c.args({"ContainerID", "ObjectID"}, a)) return kInvalidArgs;
  return locked(c, [&] {
    own::str id;
    uint32_t code = content_db_reference(c.s, a[0], a[1], &id.s);
    return code ? code : respond(c, {{"NewID", id.s}});
  });
}

uint32_t set_private(call &c)
{
  const char *a[2];
  bool on;
  if (!c.args({"ObjectID", "Private"}, a) || !boolean_arg(a[1], &on)) return kInvalidArgs;
  const char *id = a[0];
  if (!sys_str_diff(id, "0")) return kFailed;
  db_lock lock(c.s);
  if (!lock.held) return kFailed;
  didl_object *o = content_db_get(c.s, id);
  if (!o) return kNoSuchObject;
  if (marked_private(o) == on) return respond(c, {});
  if (!on) {
    const didl_object *parent = content_db_parent(c.s, o);
    // A reference cannot be opened while its target stays hidden.
    if ((parent && marked_private(parent)) || object_target_private(c.s, o)) return kFailed;
  }
  if (!private_spread(c.s, &o, on)) {
    content_db_bump(c.s, content_db_root(c.s), 0, 0, 0);
    return kFailed;
  }
  if (!content_db_bump(c.s, o, 1, 0, 1)) return kFailed;
  return respond(c, {});
}

uint32_t set_searchable(call &c)
{
  const char *a[2];
  bool on;
  if (!c.args({"ContainerID", "Searchable"}, a) || !boolean_arg(a[1], &on)) return kInvalidArgs;
  const char *id = a[0];
  db_lock lock(c.s);
  if (!lock.held) return kFailed;
  didl_object *o = content_db_get(c.s, id);
  if (!o || !is_container(o)) return kNoSuchContainer;
  if (attribute_is(o, DIDL_NAME(AT_SEARCHABLE), "1") == on) return respond(c, {});
  didl_object *root = content_db_root(c.s);
  didl_object *parent = o == root ? nullptr : content_db_parent(c.s, o);
  // Searchable only below a searchable container: a search from above
  // could not reach it.
  if (on && o != root && !(parent && attribute_is(parent, DIDL_NAME(AT_SEARCHABLE), "1")))
    return kFailed;
  std::vector<didl_object *> below;
  // Sorts may name @searchable; the containers below are not counted up.
  content_db_order_forget(c.s, nullptr);
  bool ok = didl_attribute_set(&o->attributes, DIDL_NAME(AT_SEARCHABLE), searchable_text(on)) &&
            descendants(c.s, o, &below);
  for (size_t i = 0; ok && i < below.size(); i++)
    if (is_container(below[i]) && attribute_is(below[i], DIDL_NAME(AT_SEARCHABLE), "1") != on)
      ok = didl_attribute_set(&below[i]->attributes, DIDL_NAME(AT_SEARCHABLE), searchable_text(on));
  bool bumped = parent ? content_db_bump(c.s, parent, 0, 0, parent != root) : content_db_bump(c.s, root, 0, 0, 0);
  return ok && bumped ? respond(c, {}) : kFailed;
}

}  // namespace cds
