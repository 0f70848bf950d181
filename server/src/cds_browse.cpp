// Browse and Search: the objects a requester may see, filtered, sorted and
// paged, written as DIDL-Lite with the URLs of the requester's interface.
#include "cds_impl.h"
#include "object_view.h"

#include <vennard/media_http.h>
#include <vennard/vennard_limits.h>

#include <tarvo_util/sys_str.h>

#include <algorithm>
#include <string_view>
#include <vector>

using namespace cds;

namespace {

struct filter_guard {
  didl_filter f{};
  ~filter_guard() { didl_filter_free(&f); }
};

struct sort_guard {
  didl_sort_criteria c{};
  ~sort_guard() { didl_sort_free(&c); }
};

struct search_guard {
  didl_search r{};
  ~search_guard() { didl_search_free(&r); }
};

bool hidden(const call &c, const didl_object *o) { return !c.local && object_private(c.s, o); }

const char *object_id(const didl_object *o) { return didl_attribute_get(&o->attributes, DIDL_NAME(AT_ID)); }

// The order of a container's children when the requester names none.
const char *default_sort(const didl_object *o)
{
  constexpr const char *kByDate = "-dc:date,+dc:title";
  constexpr const char *kByTitle = "+dc:title";
  constexpr const char *kByTrack = "+upnp:album,+upnp:originalTrackNumber,+dc:title";
  static constexpr std::pair<const char *, const char *> by_class[] = {
      {"object.container.album.videoAlbum", kByDate},     {"object.container.genre.movieGenre", kByDate},
      {"object.container.person.movieActor", kByDate},    {"object.container.album.musicAlbum", kByTrack},
      {"object.container.person.musicArtist", kByTrack},  {"object.container.genre.musicGenre", kByTrack},
      {"object.container.album.photoAlbum", "+dc:date,+dc:title"},
  };
  static constexpr std::pair<const char *, const char *> by_id[] = {
      {"Container:VideoAlbum", kByDate},     {"Container:VideoGenre", kByTitle},
      {"Container:VideoActor", kByTitle},    {"Container:PicturesAlbum", kByDate},
      {"Container:MusicAlbum", kByDate},     {"Container:MusicArtist", kByTitle},
      {"Container:MusicGenre", kByTitle},    {"Container:MusicPlaylist", kByTitle},
  };
  const char *cls = object_class(o);
  for (const auto &e : by_class)
    if (avcp_didl_derived_from(cls, e.first)) return e.second;
  const char *id = object_id(o);
  for (const auto &e : by_id)
    if (id && !sys_str_diff(id, e.first)) return e.second;
  return "";
}

// The objects of an answer as the requester sees them, in order.
struct result_set {
  std::vector<didl_object> views;
  std::vector<didl_object *> order;

  bool add(const call &c, const didl_object *o)
  {
    didl_object v;
    if (!object_view(c.s, o, &v)) return false;
    views.push_back(v);
    return true;
  }

  void sort(const didl_sort_criteria &criteria)
  {
    order.clear();
    for (didl_object &v : views) order.push_back(&v);
    if (order.size() >= 2 && criteria.keys.len) didl_sort(&criteria, order.data(), uint32_t(order.size()));
  }
};

// Result, NumberReturned, TotalMatches and UpdateID of a sorted set: at
// most count objects (0: all) from start.
uint32_t answer_page(const call &c, const didl_filter &filter, result_set &set, uint32_t start, uint32_t count,
                     const char *update_id)
{
  uint64_t total = set.order.size();
  uint64_t first = std::min<uint64_t>(start, total);
  uint64_t last = count ? std::min<uint64_t>(first + uint64_t(count), total) : total;
  list_guard prefixes;
  sa_guard result;
  bool ok = media_base_urls(c.s, c.info->addr.local_ip, filter.all_interfaces, &prefixes.l) &&
            sys_stralloc_ready(&result.s, uint32_t(std::min<uint64_t>(total * CDS_RESULT_RESERVE_PER_OBJECT,
                                                                      UINT32_MAX / 2))) &&
            didl_xml_begin(&result.s, c.local);
  for (uint64_t i = first; ok && i < last; i++)
    ok = didl_write_for_client(&result.s, set.order[i], prefixes.l, &filter, c.local, &c.info->addr,
                               &c.s->content.plugins);
  if (!ok || !didl_xml_end(&result.s) || !sys_stralloc_append(&result.s, "")) return kFailed;
  char returned[CONTENT_DB_NUMBER_SIZE], matches[CONTENT_DB_NUMBER_SIZE];
  returned[sys_str_fmt_uint64(returned, last - first)] = 0;
  matches[sys_str_fmt_uint64(matches, total)] = 0;
  return respond(c, {{"Result", result.s.buf},
                     {"NumberReturned", returned},
                     {"TotalMatches", matches},
                     {"UpdateID", update_id ? update_id : "0"}});
}

const char *update_id_of(const didl_object *o)
{
  return didl_attribute_get(&o->attributes, DIDL_NAME(AT_TARVO_CONTAINER_UPDATE_ID));
}

uint32_t browse_children(const call &c, const didl_object *o, const didl_filter &filter, const char *sort_text,
                         uint32_t start, uint32_t count)
{
  if (!update_id_of(o)) return kNoSuchObject;
  if (!object_class(o)) return kFailed;
  sort_guard sort;
  if (!didl_sort_parse(&sort.c, *sort_text ? sort_text : default_sort(o), c.local))
    return kBadSortCriteria;
  object_list children;
  if (!content_db_children(c.s, o, &children.p)) return kFailed;
  result_set set;
  for (uint32_t i = 0; i < children.p.len; i++)
    if (!hidden(c, children.at(i)) && !set.add(c, children.at(i))) return kFailed;
  set.sort(sort.c);
  return answer_page(c, filter, set, start, count, update_id_of(o));
}

// The candidates of a Search from the root: the whole index in order.
void candidates_all(const call &c, result_set *set)
{
  for (uint32_t i = 0, n = content_db_count(c.s); i < n; i++) {
    const didl_object *o = content_db_at(c.s, i);
    if (!o || !object_id(o) || hidden(c, o)) continue;
    didl_object v;
    if (!object_view(c.s, o, &v)) continue;
    const char *cls = object_class(&v);
    if (o->element == DIDL_NAME(EL_CONTAINER)) {
      if (!attribute_is(o, DIDL_NAME(AT_SEARCHABLE), "1") || !didl_class_allowed_search(o, cls)) continue;
    } else if (const didl_object *parent = content_db_parent(c.s, o)) {
      if (!attribute_is(parent, DIDL_NAME(AT_SEARCHABLE), "1") || !didl_class_allowed_search(parent, cls))
        continue;
    }
    set->views.push_back(v);
  }
}

// The candidates of a Search below another container: a walk through the
// searchable containers, children in order.
bool candidates_below(const call &c, const didl_object *start, result_set *set)
{
  std::vector<const didl_object *> stack{start};
  // Each object once at most, whatever a damaged tree says.
  uint64_t budget = uint64_t(content_db_count(c.s)) + 1;
  while (!stack.empty() && budget--) {
    const didl_object *o = stack.back();
    stack.pop_back();
    if (hidden(c, o)) continue;
    if (o->element != DIDL_NAME(EL_CONTAINER)) {
      didl_object v;
      if (object_view(c.s, o, &v)) set->views.push_back(v);
      continue;
    }
    if (!attribute_is(o, DIDL_NAME(AT_SEARCHABLE), "1")) continue;
    set->views.push_back(*o);
    object_list children;
    if (!content_db_children(c.s, o, &children.p)) return false;
    for (uint32_t i = children.p.len; i-- > 0;) {
      didl_object v;
      if (object_view(c.s, children.at(i), &v) && didl_class_allowed_search(o, object_class(&v)))
        stack.push_back(children.at(i));
    }
  }
  return true;
}

// The arguments Browse and Search share: an id, a flag or criteria, then
// Filter, StartingIndex, RequestedCount and SortCriteria.
struct paged_args {
  const char *id, *what, *filter, *sort;
  uint32_t start, count;

  bool read(const call &c, const char *id_name, const char *what_name)
  {
    const char *a[6];
    if (!c.args({id_name, what_name, "Filter", "StartingIndex", "RequestedCount", "SortCriteria"}, a) ||
        !number_arg(a[3], &start) || !number_arg(a[4], &count))
      return false;
    id = a[0];
    what = a[1];
    filter = a[2];
    sort = a[5];
    return true;
  }
};

}  // namespace

namespace cds {

uint32_t browse(call &c)
{
  paged_args p;
  if (!p.read(c, "ObjectID", "BrowseFlag")) return kInvalidArgs;
  const char *id = p.id, *flag = p.what, *filter_text = p.filter, *sort_text = p.sort;
  uint32_t start = p.start, count = p.count;
  bool metadata = !sys_str_diff(flag, "BrowseMetadata");
  if (!metadata && sys_str_diff(flag, "BrowseDirectChildren")) return kInvalidArgs;
  if (metadata && start) return kInvalidArgs;
  db_lock lock(c.s);
  if (!lock.held) return kFailed;
  const didl_object *o = content_db_get(c.s, id);
  if (!o || hidden(c, o)) return kNoSuchObject;
  if (!metadata && !update_id_of(o)) return kNoSuchObject;
  if (!metadata && !object_class(o)) return kFailed;
  filter_guard filter;
  if (!didl_filter_parse(&filter.f, filter_text, c.local)) return kInvalidArgs;
  if (!metadata) return browse_children(c, o, filter.f, sort_text, start, count);
  result_set set;
  if (!set.add(c, o)) return kFailed;
  set.sort(didl_sort_criteria{});
  return answer_page(c, filter.f, set, 0, 0, update_id_of(o));
}

uint32_t search(call &c)
{
  paged_args p;
  if (!p.read(c, "ContainerID", "SearchCriteria")) return kInvalidArgs;
  const char *id = p.id, *criteria = p.what, *filter_text = p.filter, *sort_text = p.sort;
  uint32_t start = p.start, count = p.count;
  db_lock lock(c.s);
  if (!lock.held) return kFailed;
  const didl_object *container = content_db_get(c.s, id);
  if (!container || !update_id_of(container)) return kNoSuchContainer;
  search_guard search;
  if (!didl_search_parse(&search.r, criteria, c.local)) return kBadSearchCriteria;
  filter_guard filter;
  if (!didl_filter_parse(&filter.f, filter_text, c.local)) return kInvalidArgs;
  list_guard prefixes;
  if (!media_base_urls(c.s, c.info->addr.local_ip, 1, &prefixes.l)) return kFailed;
  didl_search_strip_prefixes(&search.r, prefixes.l);
  sort_guard sort;
  if (!didl_sort_parse(&sort.c, sort_text, c.local)) return kBadSortCriteria;
  result_set candidates;
  if (container == content_db_root(c.s))
    candidates_all(c, &candidates);
  else if (!candidates_below(c, container, &candidates))
    return kFailed;
  result_set set;
  for (didl_object &v : candidates.views)
    if (didl_search_match(&search.r, &v)) set.views.push_back(v);
  set.sort(sort.c);
  return answer_page(c, filter.f, set, start, count, update_id_of(container));
}

}  // namespace cds
