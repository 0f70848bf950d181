// Playlists: an M3U file becomes a container with an item for each audio
// file it lists, and a playlist container under Container:MusicPlaylist
// that refers to them.
#include "share_impl.h"

#include <vennard/conf_store.h>

#include <corda_m3u/corda_m3u.h>
#include <tarvo_tag/tarvo_tag.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/utf8file.h>

namespace scan {

namespace {

bool names_file(const didl_property *p)
{
  avcp_didl_name_pair pair{p->element, nullptr};
  return didl_value_type(&pair) == AVCP_DIDL_TYPE_URI &&
         didl_attribute_get(&p->attributes, DIDL_NAME(AT_TARVO_FILENAME));
}

// A copy of the object as a container of class cls, without the
// properties skip says no to; values that name files emptied, for the
// database to give them URLs of their own.
template <class Skip> bool container_copy(const didl_object *from, const char *cls, Skip skip, didl_object **out)
{
  object_owner o(static_cast<didl_object *>(sys_alloc_zero(sizeof(didl_object))));
  if (!o.p) return false;
  o.p->element = DIDL_NAME(EL_CONTAINER);
  for (uint32_t i = 0; i < from->properties.len; i++) {
    const didl_property *p = property_at(from, i);
    if (p->element == DIDL_NAME(EL_UPNP_CLASS) || p->element == DIDL_NAME(EL_UPNP_CREATE_CLASS) || skip(p)) continue;
    didl_property *copy = nullptr;
    if (!didl_property_clone(p, &copy)) return false;
    if ((names_file(copy) && !didl_string_replace(&copy->text, "")) || !sys_ptralloc_append(&o.p->properties, copy)) {
      didl_property_free(copy);
      return false;
    }
  }
  if (!didl_property_add(o.p, DIDL_NAME(EL_UPNP_CLASS), cls, nullptr)) return false;
  *out = o.release();
  return true;
}

bool folder_form(const didl_object *item, didl_object **out)
{
  return container_copy(item, "object.container", [](const didl_property *) { return false; }, out);
}

// The path the database gave the playlist's own resource: the prefix of
// its entries' URLs.
std::string resource_path(server_rec *s, const std::string &id)
{
  const didl_object *o = content_db_get(s, id.c_str());
  for (uint32_t i = 0; o && i < o->properties.len; i++) {
    const didl_property *p = property_at(o, i);
    if (p->element == DIDL_NAME(EL_RES) && didl_attribute_get(&p->attributes, DIDL_NAME(AT_TARVO_FILENAME)))
      return p->text;
  }
  return {};
}

std::string playlist_name(const std::string &path)
{
  std::string name = path.substr(path.rfind('/') + 1);
  return name.substr(0, utf8file_dot_suffix_at(name.data(), uint32_t(name.size())));
}

// The entries of the playlist at path under its container id, and the
// container under Container:MusicPlaylist that refers to them.
void playlist_fill(state *st, const std::string &id, const std::string &path)
{
  server_rec *s = st->s;
  std::string prefix;
  {
    db_lock lock(s);
    if (!lock.held) return;
    prefix = resource_path(s, id);
  }
  sys_str_list paths = nullptr;
  if (!corda_m3u_parse(path.c_str(), prefix.c_str(), &paths, nullptr)) return;
  std::string name = playlist_name(path);
  for (char **entry = paths; *entry && !stopping(s); entry++) {
    char *type = nullptr;
    if (!conf_mimetype(s->data_home, *entry, &type)) continue;
    bool playlist = tag_m3u_match(type);
    object_owner item;
    bool made = !playlist && share_item_make(s, *entry, type, &item.p);
    sys_alloc_free(type);
    if (!made || !class_derived(item.p, "object.item.audioItem")) continue;
    properties_remove(item.p, DIDL_NAME(EL_UPNP_PLAYLIST));
    std::string child;
    if (didl_property_add(item.p, DIDL_NAME(EL_UPNP_PLAYLIST), name.c_str(), nullptr))
      object_create(s, item.p, id, &child);
  }
  sys_str_list_free(paths);

  db_lock lock(s);
  const didl_object *pc = lock.held ? content_db_get(s, id.c_str()) : nullptr;
  object_owner list;
  own::stralloc text;
  char *made = nullptr;
  if (!pc ||
      !container_copy(
          pc, "object.container.playlistContainer",
          [](const didl_property *p) { return p->element == DIDL_NAME(EL_RES); }, &list.p) ||
      !new_object_text(list.p, kPlaylistRoot, &text.s) ||
      content_db_create(s, kPlaylistRoot, text.s.buf, 1, &made, nullptr) || !made) {
    sys_alloc_free(made);
    return;
  }
  for (const std::string &child : children_ids(s, content_db_get(s, id.c_str())))
    content_db_reference(s, made, child.c_str(), nullptr);
  sys_alloc_free(made);
}

}  // namespace

uint32_t playlist_add(state *st, const std::string &container, const std::string &path, const didl_object *item)
{
  object_owner folder;
  if (!folder_form(item, &folder.p)) return 501;
  std::string id;
  uint32_t r = object_create(st->s, folder.p, container, &id);
  if (r) return r;
  playlist_fill(st, id, path);
  return 0;
}

uint32_t playlist_update(state *st, const std::string &id, const std::string &path, const didl_object *item)
{
  server_rec *s = st->s;
  object_owner folder;
  if (!folder_form(item, &folder.p)) return 501;
  {
    db_lock lock(s);
    if (!lock.held) return 501;
    uint32_t r = object_take_over(s, id, folder.p);
    if (r) return r;
    const didl_object *o = content_db_get(s, id.c_str());
    for (const std::string &child : o ? children_ids(s, o) : std::vector<std::string>{}) {
      r = content_db_destroy(s, child.c_str());
      if (r && r != 701) return r;
    }
    // The old playlist container under Container:MusicPlaylist has lost
    // its references; it goes before the new one comes.
    playlists_remove_empty(s);
  }
  playlist_fill(st, id, path);
  return 0;
}

}  // namespace scan
