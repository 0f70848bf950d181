// The category containers: music by artist, album and genre, video by
// actor, album and genre, pictures by album, each item referred to from
// the containers of its values; and the album containers whose properties
// follow their children.
#include "share_impl.h"

#include <tarvo_util/sys_log.h>

#include <tarvo_util/sys_str.h>

#include <algorithm>
#include <cstring>

namespace scan {

const char *const kCategoryRoots[CAT_COUNT] = {
    "Container:MusicArtist", "Container:MusicGenre",    "Container:MusicAlbum",
    "Container:VideoActor",  "Container:VideoGenre",    "Container:VideoAlbum",
    "Container:PicturesAlbum", "Container:UserFiles",
};

namespace {

struct kind {
  int property;     // the item's property that names the container
  category_list list;
  const char *cls;  // the container's class
};

struct rule {
  const char *base;  // the item's class derives from it
  const char *all;   // the container of every such item
  kind kinds[3];
  uint32_t count;
};

const rule kRules[] = {
    {"object.item.audioItem",
     "Container:AllMusic",
     {{DIDL_EL_DC_CREATOR, CAT_MUSIC_ARTIST, "object.container.person.musicArtist"},
      {DIDL_EL_UPNP_ALBUM, CAT_MUSIC_ALBUM, "object.container.album.musicAlbum"},
      {DIDL_EL_UPNP_GENRE, CAT_MUSIC_GENRE, "object.container.genre.musicGenre"}},
     3},
    {"object.item.videoItem",
     "Container:AllVideo",
     {{DIDL_EL_UPNP_ACTOR, CAT_VIDEO_ACTOR, "object.container.person.movieActor"},
      {DIDL_EL_UPNP_ALBUM, CAT_VIDEO_ALBUM, "object.container.album.videoAlbum"},
      {DIDL_EL_UPNP_GENRE, CAT_VIDEO_GENRE, "object.container.genre.movieGenre"}},
     3},
    {"object.item.imageItem",
     "Container:AllPictures",
     {{DIDL_EL_UPNP_ALBUM, CAT_PICTURES_ALBUM, "object.container.album.photoAlbum"}},
     1},
};

const char *name(int index) { return didl_name_table[index]; }

std::string lower(std::string text)
{
  sys_str_case_lower(text.data());
  return text;
}

bool album_class(const char *cls)
{
  return !std::strcmp(cls, "object.container.album.musicAlbum") ||
         !std::strcmp(cls, "object.container.album.videoAlbum") ||
         !std::strcmp(cls, "object.container.album.photoAlbum");
}

category_map &list_of(state *st, category_list l) { return st->categories[l]; }

category *entry_find(state *st, category_list l, const std::string &title)
{
  auto it = list_of(st, l).find(lower(title));
  return it == list_of(st, l).end() ? nullptr : &it->second;
}

// A copy of a URI property for a new object: one that names a file gets
// an empty value, so that the database gives it a URL of its own.
bool uri_copy(didl_object *to, const didl_property *p)
{
  didl_property *copy = nullptr;
  if (!didl_property_clone(p, &copy)) return false;
  if (didl_attribute_get(&copy->attributes, DIDL_NAME(AT_TARVO_FILENAME)) && !didl_string_replace(&copy->text, "")) {
    didl_property_free(copy);
    return false;
  }
  if (sys_ptralloc_append(&to->properties, copy)) return true;
  didl_property_free(copy);
  return false;
}

bool art_copy(didl_object *to, const didl_object *from)
{
  for (uint32_t i = 0; i < from->properties.len; i++)
    if (property_at(from, i)->element == DIDL_NAME(EL_UPNP_ALBUM_ART_URI) && !uri_copy(to, property_at(from, i)))
      return false;
  return true;
}

// The category container of a value, found or made (under the lock); ""
// when it cannot be had.
std::string category_container(state *st, const kind &k, const std::string &value, const didl_object *item)
{
  server_rec *s = st->s;
  category *c = entry_find(st, k.list, value);
  if (c) {
    const didl_object *o = content_db_get(s, c->id.c_str());
    if (o) {
      // A container without art takes the first art that comes along.
      if (!didl_property_first(o, DIDL_NAME(EL_UPNP_ALBUM_ART_URI)) &&
          didl_property_first(item, DIDL_NAME(EL_UPNP_ALBUM_ART_URI))) {
        object_owner art(static_cast<didl_object *>(sys_alloc_zero(sizeof(didl_object))));
        std::vector<std::pair<std::string, std::string>> pairs;
        std::string piece;
        if (art.p && art_copy(art.p, item))
          for (uint32_t i = 0; i < art.p->properties.len; i++)
            if (property_piece(property_at(art.p, i), &piece)) pairs.emplace_back(std::string(), piece);
        pieces_update(s, c->id, pairs);
      }
      return c->id;
    }
    list_of(st, k.list).erase(lower(value));
  }
  object_owner o(static_cast<didl_object *>(sys_alloc_zero(sizeof(didl_object))));
  if (!o.p) return {};
  o.p->element = DIDL_NAME(EL_CONTAINER);
  bool ok = didl_property_add(o.p, DIDL_NAME(EL_DC_TITLE), value.c_str(), nullptr) &&
            didl_property_add(o.p, DIDL_NAME(EL_UPNP_CLASS), k.cls, nullptr) &&
            didl_property_add(o.p, name(k.property), value.c_str(), nullptr) &&
            (k.list != CAT_MUSIC_ARTIST || didl_property_add(o.p, DIDL_NAME(EL_UPNP_ARTIST), value.c_str(), nullptr)) &&
            art_copy(o.p, item) &&
            (!album_class(k.cls) || didl_property_add(o.p, DIDL_NAME(EL_TARVO_REFLECT_CHILD_PROPERTY), "", nullptr));
  own::stralloc text;
  char *made = nullptr;
  if (!ok || !new_object_text(o.p, kCategoryRoots[k.list], &text.s) ||
      content_db_create(s, kCategoryRoots[k.list], text.s.buf, 1, &made, nullptr) || !made) {
    sys_alloc_free(made);
    return {};
  }
  std::string id = made;
  sys_alloc_free(made);
  list_of(st, k.list).emplace(lower(value), category{id});
  return id;
}

bool empty_container(server_rec *s, const didl_object *o)
{
  own::stralloc children;
  return o->element == DIDL_NAME(EL_CONTAINER) && content_db_list_text(s, o, CONTENT_ENTRY_HAS_CHILDREN, &children.s) &&
         (!children.s.len || !children.s.buf[0]);
}

// Equal properties, letters of either case alike.
bool same_value(const didl_property *a, const didl_property *b)
{
  if (a->element != b->element || sys_str_case_diff(a->text, b->text) ||
      a->attributes.names.len != b->attributes.names.len)
    return false;
  for (uint32_t i = 0; i < a->attributes.names.len; i++) {
    const char *n = static_cast<const char *>(a->attributes.names.buf[i]);
    const char *v = didl_attribute_get(&b->attributes, n);
    if (!v || sys_str_case_diff(v, static_cast<const char *>(a->attributes.values.buf[i]))) return false;
  }
  return true;
}

// Art is the same when it names the same file or URL, whatever path the
// database gave it.
bool same_art(const didl_property *a, const didl_property *b)
{
  const char *fa = didl_attribute_get(&a->attributes, DIDL_NAME(AT_TARVO_FILENAME));
  const char *fb = didl_attribute_get(&b->attributes, DIDL_NAME(AT_TARVO_FILENAME));
  if (fa || fb) return fa && fb && !std::strcmp(fa, fb);
  return !std::strcmp(a->text, b->text);
}

// What a container shows of its children: the newest date and, for a
// music album, the first creator, the distinct artists and genres and the
// first child's album art.
struct reflected {
  bool music = false;
  const didl_property *creator = nullptr, *date = nullptr;
  std::vector<const didl_property *> artists, genres, art;

  void take(const didl_object *c)
  {
    for (uint32_t j = 0; j < c->properties.len; j++) {
      const didl_property *p = property_at(c, j);
      if (p->element == DIDL_NAME(EL_DC_DATE) && (!date || std::strcmp(p->text, date->text) > 0)) date = p;
      if (!music) continue;
      if (p->element == DIDL_NAME(EL_DC_CREATOR) && !creator) creator = p;
      if (p->element == DIDL_NAME(EL_UPNP_ARTIST)) distinct(artists, p);
      if (p->element == DIDL_NAME(EL_UPNP_GENRE)) distinct(genres, p);
    }
    if (music && art.empty())
      for (uint32_t j = 0; j < c->properties.len; j++)
        if (property_at(c, j)->element == DIDL_NAME(EL_UPNP_ALBUM_ART_URI)) art.push_back(property_at(c, j));
  }

  static void distinct(std::vector<const didl_property *> &v, const didl_property *p)
  {
    if (std::none_of(v.begin(), v.end(), [p](const didl_property *q) { return same_value(p, q); })) v.push_back(p);
  }

  // In the order the container carries them.
  std::vector<const didl_property *> wanted() const
  {
    std::vector<const didl_property *> w;
    if (music && creator) w.push_back(creator);
    if (music) w.insert(w.end(), artists.begin(), artists.end());
    if (music) w.insert(w.end(), genres.begin(), genres.end());
    if (date) w.push_back(date);
    if (music) w.insert(w.end(), art.begin(), art.end());
    return w;
  }

  bool followed(const char *el) const
  {
    return el == DIDL_NAME(EL_DC_DATE) ||
           (music && (el == DIDL_NAME(EL_DC_CREATOR) || el == DIDL_NAME(EL_UPNP_ARTIST) ||
                      el == DIDL_NAME(EL_UPNP_GENRE) || el == DIDL_NAME(EL_UPNP_ALBUM_ART_URI)));
  }
};

// The values of the container's children (a reference counts as its target).
reflected children_values(server_rec *s, const didl_object *o)
{
  reflected r;
  r.music = class_derived(o, "object.container.album.musicAlbum");
  sys_ptralloc_rec children{};
  content_db_children(s, o, &children);
  for (uint32_t i = 0; i < children.len; i++) {
    const auto *c = static_cast<const didl_object *>(children.buf[i]);
    if (const char *ref = didl_attribute_get(&c->attributes, DIDL_NAME(AT_REF_ID))) c = content_db_get(s, ref);
    if (c) r.take(c);
  }
  sys_ptralloc_free(&children);
  return r;
}

bool shows_already(const std::vector<const didl_property *> &present, const std::vector<const didl_property *> &wanted)
{
  if (present.size() != wanted.size()) return false;
  for (size_t i = 0; i < present.size(); i++)
    if (present[i]->element != wanted[i]->element ||
        !(present[i]->element == DIDL_NAME(EL_UPNP_ALBUM_ART_URI) ? same_art(present[i], wanted[i])
                                                                  : didl_property_equal(present[i], wanted[i])))
      return false;
  return true;
}

// The edit pairs that replace present with wanted; false on exhaustion.
bool replacement(const std::vector<const didl_property *> &present, const std::vector<const didl_property *> &wanted,
                 std::vector<std::pair<std::string, std::string>> *pairs)
{
  object_owner fresh(static_cast<didl_object *>(sys_alloc_zero(sizeof(didl_object))));
  if (!fresh.p) return false;
  std::string piece;
  for (const didl_property *p : present) {
    if (!property_piece(p, &piece)) return false;
    pairs->emplace_back(piece, std::string());
  }
  for (const didl_property *p : wanted) {
    if (p->element == DIDL_NAME(EL_UPNP_ALBUM_ART_URI)) {
      if (!uri_copy(fresh.p, p)) return false;
      continue;
    }
    didl_property *copy = nullptr;
    if (!didl_property_clone(p, &copy)) return false;
    if (!sys_ptralloc_append(&fresh.p->properties, copy)) {
      didl_property_free(copy);
      return false;
    }
  }
  for (uint32_t i = 0; i < fresh.p->properties.len; i++) {
    if (!property_piece(property_at(fresh.p, i), &piece)) return false;
    pairs->emplace_back(std::string(), piece);
  }
  return true;
}

void reflect_one(state *st, const std::string &id)
{
  server_rec *s = st->s;
  const didl_object *o = content_db_get(s, id.c_str());
  if (!o || !didl_property_first(o, DIDL_NAME(EL_TARVO_REFLECT_CHILD_PROPERTY))) return;
  reflected r = children_values(s, o);
  std::vector<const didl_property *> wanted = r.wanted(), present;
  for (uint32_t i = 0; i < o->properties.len; i++)
    if (r.followed(property_at(o, i)->element)) present.push_back(property_at(o, i));
  // Nothing to do when the container shows what its children give: an
  // update would count it changed and bring it back here.
  if (shows_already(present, wanted)) return;
  std::vector<std::pair<std::string, std::string>> pairs;
  if (!replacement(present, wanted, &pairs)) {
    sys_log_print(SYS_LOG_WARNING, "container %s: its children's properties could not be taken over", id.c_str());
    return;
  }
  pieces_update(s, id, pairs);
}

}  // namespace

bool categories_load(state *st)
{
  server_rec *s = st->s;
  db_lock lock(s);
  if (!lock.held) return false;
  for (int l = 0; l < CAT_COUNT; l++) {
    st->categories[l].clear();
    const didl_object *root = content_db_get(s, kCategoryRoots[l]);
    if (!root) continue;
    for (const std::string &id : children_ids(s, root)) {
      const didl_object *c = content_db_get(s, id.c_str());
      const char *title = c ? property_text(c, DIDL_NAME(EL_DC_TITLE)) : nullptr;
      if (!title || c->element != DIDL_NAME(EL_CONTAINER) || content_db_is_special(s, id.c_str())) continue;
      st->categories[l].emplace(lower(title), category{id});
    }
  }
  return true;
}

void categories_file(state *st, const std::string &id)
{
  server_rec *s = st->s;
  db_lock lock(s);
  if (!lock.held) return;
  object_owner item;
  const didl_object *live = content_db_get(s, id.c_str());
  if (!live || !didl_object_clone(live, &item.p)) return;
  for (const rule &r : kRules) {
    if (!class_derived(item.p, r.base)) continue;
    // A container that refuses the reference leaves the item out of it,
    // nothing more.
    content_db_reference(s, r.all, id.c_str(), nullptr);
    for (uint32_t k = 0; k < r.count; k++) {
      std::vector<std::string> done;
      for (uint32_t i = 0; i < item.p->properties.len; i++) {
        const didl_property *p = property_at(item.p, i);
        if (p->element != name(r.kinds[k].property) || !*p->text) continue;
        std::string value = p->text;
        if (std::find(done.begin(), done.end(), lower(value)) != done.end()) continue;
        done.push_back(lower(value));
        std::string container = category_container(st, r.kinds[k], value, item.p);
        if (!container.empty()) content_db_reference(s, container.c_str(), id.c_str(), nullptr);
      }
    }
    return;
  }
}

void categories_remove_empty(state *st)
{
  server_rec *s = st->s;
  db_lock lock(s);
  if (!lock.held) return;
  for (int l = 0; l < CAT_USER_FILES; l++) {
    std::erase_if(st->categories[l], [s](const auto &entry) {
      const category &c = entry.second;
      const didl_object *o = content_db_get(s, c.id.c_str());
      if (!o) return true;
      if (!empty_container(s, o)) return false;
      uint32_t r = content_db_destroy(s, c.id.c_str());
      return !r || r == 701;
    });
  }
  playlists_remove_empty(s);
}

void playlists_remove_empty(server_rec *s)
{
  const didl_object *playlists = content_db_get(s, kPlaylistRoot);
  if (!playlists) return;
  for (const std::string &id : children_ids(s, playlists)) {
    const didl_object *o = content_db_get(s, id.c_str());
    if (o && empty_container(s, o)) content_db_destroy(s, id.c_str());
  }
}

void reflect_update(state *st)
{
  server_rec *s = st->s;
  db_lock lock(s);
  if (!lock.held) return;
  sys_str_list ids = nullptr;
  if (!content_db_reflect_take(s, &ids)) return;
  for (char **id = ids; id && *id; id++) reflect_one(st, *id);
  sys_str_list_free(ids);
}

}  // namespace scan
