// Browse and Search: the objects a requester may see, filtered, sorted and
// paged, written as DIDL-Lite with the URLs of the requester's interface.
#include "cds_impl.h"
#include "object_view.h"

#include <vennard/media_http.h>
#include <vennard/vennard_limits.h>

#include <tarvo_util/sys_str.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

using namespace cds;

namespace {

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

// An answer made under the lock and sent after it: Result,
// NumberReturned, TotalMatches and UpdateID.
struct page_answer {
  own::stralloc result;
  uint64_t returned = 0, total = 0;
  own::str update_id;
};

// Room for the document's end after the objects.
constexpr uint64_t kResultTail = 64;

// Writes objects (a page of total) as the answer's Result.
uint32_t page_write(const call &c, const didl_filter &filter, didl_object *const *objects, uint64_t n, uint64_t total,
                    const char *update_id, page_answer *a)
{
  own::str_list prefixes;
  bool ok = media_base_urls(c.s, c.info->addr.local_ip, filter.all_interfaces, &prefixes.l) &&
            sys_stralloc_ready(&a->result.s, uint32_t(std::min<uint64_t>(n * CDS_RESULT_RESERVE_PER_OBJECT,
                                                                         UINT32_MAX / 2))) &&
            didl_xml_begin(&a->result.s, c.local);
  uint32_t head = a->result.s.len;
  for (uint64_t i = 0; ok && i < n; i++) {
    ok = didl_write_for_client(&a->result.s, objects[i], prefixes.l, &filter, c.local, &c.info->addr,
                               &c.s->content.plugins);
    // The first object tells the size of the rest: one allocation instead
    // of a copy at each step of growth.
    if (ok && i == 0 && n > 1)
      ok = sys_stralloc_readyplus(&a->result.s, uint32_t(std::min<uint64_t>(
                                                    (a->result.s.len - head) * (n - 1) * 9 / 8 + kResultTail,
                                                    UINT32_MAX / 2)));
  }
  if (!ok || !didl_xml_end(&a->result.s) || !sys_stralloc_append(&a->result.s, "")) return kFailed;
  a->returned = n;
  a->total = total;
  return sys_str_clone(update_id ? update_id : "0", &a->update_id.s) ? kOk : kFailed;
}

// A page of a sorted set: at most count objects (0: all) from start.
uint32_t set_page_write(const call &c, const didl_filter &filter, const result_set &set, uint32_t start,
                        uint32_t count, const char *update_id, page_answer *a)
{
  uint64_t total = set.order.size();
  uint64_t first = std::min<uint64_t>(start, total);
  uint64_t last = count ? std::min<uint64_t>(first + uint64_t(count), total) : total;
  return page_write(c, filter, set.order.data() + first, last - first, total, update_id, a);
}

uint32_t answer_send(const call &c, const page_answer &a)
{
  char returned[CONTENT_DB_NUMBER_SIZE], matches[CONTENT_DB_NUMBER_SIZE];
  returned[sys_str_fmt_uint64(returned, a.returned)] = 0;
  matches[sys_str_fmt_uint64(matches, a.total)] = 0;
  return respond(c, {{"Result", a.result.s.buf},
                     {"NumberReturned", returned},
                     {"TotalMatches", matches},
                     {"UpdateID", a.update_id.s}});
}

const char *update_id_of(const didl_object *o)
{
  return didl_attribute_get(&o->attributes, DIDL_NAME(AT_TARVO_CONTAINER_UPDATE_ID));
}

// The children a requester sees, sorted: the stored objects (references as
// themselves), in order.
bool children_sorted(const call &c, const didl_object *o, const didl_sort_criteria &sort,
                     std::vector<didl_object *> *out)
{
  object_list children;
  if (!content_db_children(c.s, o, &children.p)) return false;
  std::vector<didl_object *> shown;
  result_set set;
  for (uint32_t i = 0; i < children.p.len; i++) {
    if (hidden(c, children.at(i))) continue;
    if (!set.add(c, children.at(i))) return false;
    shown.push_back(children.at(i));
  }
  set.sort(sort);
  out->reserve(shown.size());
  for (const didl_object *v : set.order) out->push_back(shown[size_t(v - set.views.data())]);
  return true;
}

// The objects of one page of a container's children and their count: from
// the order kept under key, else sorted now (and kept).
bool children_page(const call &c, const didl_object *o, const didl_sort_criteria &sort, const char *key,
                   uint32_t start, uint32_t count, object_list *page, uint64_t *total)
{
  if (content_db_order_page(c.s, o, key, start, count, &page->p, total)) return true;
  std::vector<didl_object *> all;
  if (!children_sorted(c, o, sort, &all)) return false;
  content_db_order_keep(c.s, o, key, all.data(), uint32_t(all.size()));
  *total = all.size();
  uint64_t first = std::min<uint64_t>(start, all.size());
  uint64_t last = count ? std::min<uint64_t>(first + uint64_t(count), all.size()) : all.size();
  for (uint64_t i = first; i < last; i++)
    if (!sys_ptralloc_append(&page->p, all[i])) return false;
  return true;
}

uint32_t browse_children(const call &c, const didl_object *o, const didl_filter &filter, const char *sort_text,
                         uint32_t start, uint32_t count, page_answer *a)
{
  const char *criteria = *sort_text ? sort_text : default_sort(o);
  own::rec<didl_sort_criteria, didl_sort_free> sort;
  if (!didl_sort_parse(&sort, criteria, c.local)) return kBadSortCriteria;
  // Local requesters see private objects too: an order of their own.
  std::string key = std::string(c.local ? "local " : "remote ") + criteria;
  object_list page;
  uint64_t total = 0;
  if (!children_page(c, o, sort, key.c_str(), start, count, &page, &total)) return kFailed;
  std::vector<didl_object> views(page.p.len);
  std::vector<didl_object *> shown(page.p.len);
  for (uint32_t i = 0; i < page.p.len; i++) {
    if (!object_view(c.s, page.at(i), &views[i])) return kFailed;
    shown[i] = &views[i];
  }
  return page_write(c, filter, shown.data(), shown.size(), total, update_id_of(o), a);
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

namespace {

uint32_t browse_locked(const call &c, const paged_args &p, bool metadata, page_answer *a)
{
  const didl_object *o = content_db_get(c.s, p.id);
  if (!o || hidden(c, o)) return kNoSuchObject;
  if (!metadata && !update_id_of(o)) return kNoSuchObject;
  if (!metadata && !object_class(o)) return kFailed;
  own::rec<didl_filter, didl_filter_free> filter;
  if (!didl_filter_parse(&filter, p.filter, c.local)) return kInvalidArgs;
  if (!metadata) return browse_children(c, o, filter, p.sort, p.start, p.count, a);
  result_set set;
  if (!set.add(c, o)) return kFailed;
  set.sort(didl_sort_criteria{});
  return set_page_write(c, filter, set, 0, 0, update_id_of(o), a);
}

uint32_t search_locked(const call &c, const paged_args &p, page_answer *a)
{
  const didl_object *container = content_db_get(c.s, p.id);
  if (!container || !update_id_of(container)) return kNoSuchContainer;
  own::rec<didl_search, didl_search_free> search;
  if (!didl_search_parse(&search, p.what, c.local)) return kBadSearchCriteria;
  own::rec<didl_filter, didl_filter_free> filter;
  if (!didl_filter_parse(&filter, p.filter, c.local)) return kInvalidArgs;
  own::str_list prefixes;
  if (!media_base_urls(c.s, c.info->addr.local_ip, 1, &prefixes.l)) return kFailed;
  didl_search_strip_prefixes(&search, prefixes.l);
  own::rec<didl_sort_criteria, didl_sort_free> sort;
  if (!didl_sort_parse(&sort, p.sort, c.local)) return kBadSortCriteria;
  result_set candidates;
  if (container == content_db_root(c.s))
    candidates_all(c, &candidates);
  else if (!candidates_below(c, container, &candidates))
    return kFailed;
  result_set set;
  for (didl_object &v : candidates.views)
    if (didl_search_match(&search, &v)) set.views.push_back(v);
  set.sort(sort);
  return set_page_write(c, filter, set, p.start, p.count, update_id_of(container), a);
}

}  // namespace

namespace cds {

// The page is taken under the content-database lock; the answer around it
// is made after, so that other requesters wait only for their page.
uint32_t browse(call &c)
{
  paged_args p;
  if (!p.read(c, "ObjectID", "BrowseFlag")) return kInvalidArgs;
  bool metadata = !sys_str_diff(p.what, "BrowseMetadata");
  if (!metadata && sys_str_diff(p.what, "BrowseDirectChildren")) return kInvalidArgs;
  if (metadata && p.start) return kInvalidArgs;
  page_answer a;
  uint32_t r = locked(c, [&] { return browse_locked(c, p, metadata, &a); });
  return r ? r : answer_send(c, a);
}

uint32_t search(call &c)
{
  paged_args p;
  if (!p.read(c, "ContainerID", "SearchCriteria")) return kInvalidArgs;
  page_answer a;
  uint32_t r = locked(c, [&] { return search_locked(c, p, &a); });
  return r ? r : answer_send(c, a);
}

}  // namespace cds
