// Items from media files: making one through the metadata library and the
// plug-ins, adding it to a folder's container and renewing it when its
// file changed; and the object helpers the scanner edits the database
// with.
#include "share_impl.h"

#include <vennard/plugin.h>

#include <tarvo_tag/tarvo_tag.h>
#include <tarvo_util/dlna.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/utf8file.h>

#include <cstring>

namespace scan {

namespace {

constexpr const char *kPlaylistFilter = "corda_m3u";

// Properties an update leaves alone: the title has its own pair, the
// others are the object's kind and what the database keeps itself.
bool update_kept(const char *element)
{
  return element == DIDL_NAME(EL_DC_TITLE) || element == DIDL_NAME(EL_UPNP_CLASS) ||
         element == DIDL_NAME(EL_UPNP_CREATE_CLASS) || element == DIDL_NAME(EL_UPNP_SEARCH_CLASS) ||
         didl_required_property(element);
}

}  // namespace

void properties_remove(didl_object *o, const char *element)
{
  for (uint32_t i = o->properties.len; i-- > 0;) {
    if (property_at(o, i)->element != element) continue;
    didl_property_free(property_at(o, i));
    sys_ptralloc_remove(&o->properties, i);
  }
}

const char *object_id(const didl_object *o) { return didl_attribute_get(&o->attributes, DIDL_NAME(AT_ID)); }

const char *property_text(const didl_object *o, const char *element)
{
  const didl_property *p = didl_property_first(o, element);
  return p ? p->text : nullptr;
}

const char *object_class(const didl_object *o) { return property_text(o, DIDL_NAME(EL_UPNP_CLASS)); }

bool class_derived(const didl_object *o, const char *base)
{
  const char *c = object_class(o);
  return c && avcp_didl_derived_from(c, base);
}

bool new_object_text(const didl_object *o, const char *parent_id, sys_stralloc_rec *out)
{
  object_owner copy;
  if (!didl_object_clone(o, &copy.p)) return false;
  didl_attributes *a = &copy.p->attributes;
  return didl_attribute_set(a, DIDL_NAME(AT_ID), "") && didl_attribute_set(a, DIDL_NAME(AT_RESTRICTED), "0") &&
         didl_attribute_set(a, DIDL_NAME(AT_PARENT_ID), parent_id) && didl_xml_begin(out, 1) &&
         didl_write(out, copy.p, nullptr) && didl_xml_end(out) && sys_stralloc_append(out, "");
}

uint32_t object_create(server_rec *s, const didl_object *o, const std::string &parent, std::string *id)
{
  own::stralloc text;
  if (!new_object_text(o, parent.c_str(), &text.s)) return 501;
  db_lock lock(s);
  if (!lock.held) return 501;
  char *made = nullptr;
  uint32_t r = content_db_create(s, parent.c_str(), text.s.buf, 1, &made, nullptr);
  if (!r && !made) r = 501;
  if (!r) *id = made;
  sys_alloc_free(made);
  return r;
}

bool property_piece(const didl_property *p, std::string *out)
{
  // The object writer writes the property; the item around it is cut off.
  didl_object holder{};
  holder.element = DIDL_NAME(EL_ITEM);
  own::stralloc text;
  bool ok =
      sys_ptralloc_append(&holder.properties, const_cast<didl_property *>(p)) && didl_write(&text.s, &holder, nullptr);
  sys_ptralloc_free(&holder.properties);
  if (!ok) return false;
  std::string_view t(text.s.buf, text.s.len);
  size_t open = t.find(">\r\n"), close = t.rfind("</");
  if (open == std::string_view::npos || close == std::string_view::npos || close < open + 3) return false;
  std::string_view piece = t.substr(open + 3, close - open - 3);
  while (!piece.empty() && (piece.back() == '\n' || piece.back() == '\r')) piece.remove_suffix(1);
  *out = std::string(piece);
  return true;
}

uint32_t pieces_update(server_rec *s, const std::string &id,
                       const std::vector<std::pair<std::string, std::string>> &pairs)
{
  if (pairs.empty()) return 0;
  own::stralloc current, fresh;
  for (const auto &[c, n] : pairs)
    if (!csv_append(&current.s, c.c_str()) || !csv_append(&fresh.s, n.c_str())) return 501;
  csv_end(&current.s);
  csv_end(&fresh.s);
  if (!sys_stralloc_append(&current.s, "") || !sys_stralloc_append(&fresh.s, "")) return 501;
  return content_db_update(s, id.c_str(), current.s.buf, fresh.s.buf, 1);
}

uint32_t object_take_over(server_rec *s, const std::string &id, const didl_object *fresh)
{
  const didl_object *o = content_db_get(s, id.c_str());
  if (!o) return 701;
  std::vector<std::pair<std::string, std::string>> pairs;
  std::string a, b;
  const didl_property *old_title = didl_property_first(o, DIDL_NAME(EL_DC_TITLE));
  const didl_property *new_title = didl_property_first(fresh, DIDL_NAME(EL_DC_TITLE));
  if (new_title && (!old_title || std::strcmp(old_title->text, new_title->text))) {
    if ((old_title && !property_piece(old_title, &a)) || !property_piece(new_title, &b)) return 501;
    pairs.emplace_back(old_title ? a : std::string(), b);
  }
  for (uint32_t i = 0; i < o->properties.len; i++) {
    if (update_kept(property_at(o, i)->element)) continue;
    if (!property_piece(property_at(o, i), &a)) return 501;
    pairs.emplace_back(a, std::string());
  }
  for (uint32_t i = 0; i < fresh->properties.len; i++) {
    if (update_kept(property_at(fresh, i)->element)) continue;
    if (!property_piece(property_at(fresh, i), &b)) return 501;
    pairs.emplace_back(std::string(), b);
  }
  return pieces_update(s, id, pairs);
}

std::vector<std::string> children_ids(server_rec *s, const didl_object *container)
{
  std::vector<std::string> ids;
  sys_ptralloc_rec children{};
  content_db_children(s, container, &children);
  for (uint32_t i = 0; i < children.len; i++)
    if (const char *id = object_id(static_cast<const didl_object *>(children.buf[i]))) ids.push_back(id);
  sys_ptralloc_free(&children);
  return ids;
}

bool references_destroy(server_rec *s, const std::string &id)
{
  const didl_object *o = content_db_get(s, id.c_str());
  if (!o) return true;
  sys_ptralloc_rec refs{};
  content_db_referencing(s, o, &refs);
  std::vector<std::string> ids;
  for (uint32_t i = 0; i < refs.len; i++)
    if (const char *r = object_id(static_cast<const didl_object *>(refs.buf[i]))) ids.push_back(r);
  sys_ptralloc_free(&refs);
  for (size_t i = ids.size(); i-- > 0;) {
    uint32_t r = content_db_destroy(s, ids[i].c_str());
    if (r && r != 701) return false;
  }
  return true;
}

namespace {

// The item of the file, from the tagging threads when they read it.
bool item_made(state *st, const std::string &path, const char *mime, tag_job *job, didl_object **item)
{
  if (!job || !tag_pool_take(st, job)) return share_item_make(st->s, path.c_str(), mime, item);
  *item = job->item;
  job->item = nullptr;
  if (!job->ok) return false;
  if (plugins_rewrite(&st->s->content.plugins, path.c_str(), mime, item)) return true;
  didl_object_free(*item);
  *item = nullptr;
  return false;
}

}  // namespace

uint32_t item_add(state *st, const std::string &container, const std::string &path, const char *mime, tag_job *job)
{
  server_rec *s = st->s;
  object_owner item;
  // A file that gives no item is tried again at the next walk.
  if (!item_made(st, path, mime, job, &item.p)) return 0;
  if (tag_m3u_match(mime)) return playlist_add(st, container, path, item.p);
  std::string id;
  uint32_t r = object_create(s, item.p, container, &id);
  if (r) return r;
  categories_file(st, id);
  return 0;
}

uint32_t item_update(state *st, const std::string &id, const std::string &path, const char *mime, tag_job *job)
{
  server_rec *s = st->s;
  object_owner item;
  if (!item_made(st, path, mime, job, &item.p)) return 0;
  if (tag_m3u_match(mime)) return playlist_update(st, id, path, item.p);
  {
    db_lock lock(s);
    if (!lock.held) return 501;
    uint32_t r = object_take_over(s, id, item.p);
    if (r) return r;
    if (!references_destroy(s, id)) return 501;
  }
  categories_file(st, id);
  return 0;
}

bool share_item_read(const char *path, const char *mime, didl_object **item)
{
  *item = nullptr;
  char *text = nullptr;
  if (!tarvo_tag_item(path, mime, &text)) return false;
  object_owner o;
  int parsed = didl_parse_one(text, 0, &o.p);
  sys_alloc_free(text);
  if (!parsed) return false;
  const char *cls = object_class(o.p);
  didl_property *res = didl_property_first(o.p, DIDL_NAME(EL_RES));
  if (!cls || !std::strcmp(cls, "object.item") || !res) return false;
  sys_file_stat_rec st;
  if (!utf8file_stat(path, &st)) return false;
  char stamp[CONTENT_DB_NUMBER_SIZE];
  stamp[sys_str_fmt_int64(stamp, file_timestamp(st.mtime, st.ctime))] = 0;
  didl_attributes *a = &o.p->attributes, *r = &res->attributes;
  if (!didl_attribute_set(a, DIDL_NAME(AT_ID), "") || !didl_attribute_set(a, DIDL_NAME(AT_PARENT_ID), "") ||
      !didl_attribute_set(a, DIDL_NAME(AT_RESTRICTED), "0") ||
      !didl_attribute_set(r, DIDL_NAME(AT_TARVO_FILENAME), path) ||
      !didl_attribute_set(r, DIDL_NAME(AT_TARVO_TIMESTAMP), stamp))
    return false;
  if (tag_m3u_match(mime)) {
    didl_property *c = didl_property_first(o.p, DIDL_NAME(EL_UPNP_CLASS));
    if (!didl_attribute_set(r, DIDL_NAME(AT_TARVO_FILTER), kPlaylistFilter) ||
        !didl_string_replace(&c->text, "object.container.playlistContainer"))
      return false;
    properties_remove(o.p, DIDL_NAME(EL_UPNP_ALBUM));
  } else if (!didl_object_check(o.p)) {
    return false;
  }
  *item = o.release();
  return true;
}

}  // namespace scan

using namespace scan;

extern "C" int share_item_make(server_rec *s, const char *path, const char *mime, didl_object **item)
{
  if (!share_item_read(path, mime, item)) return 0;
  if (plugins_rewrite(&s->content.plugins, path, mime, item)) return 1;
  didl_object_free(*item);
  *item = nullptr;
  return 0;
}
