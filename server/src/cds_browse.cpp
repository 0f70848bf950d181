// Browse and Search: the objects a requester may see, filtered, sorted and
// paged, written as DIDL-Lite with the URLs of the requester's interface.
#include "cds_impl.h"
#include "object_view.h"

#include <vennard/media_http.h>
#include <vennard/vennard_limits.h>

#include <tarvo_util/sys_str.h>
#include <tarvo_util/xml.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <sys/mman.h>
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

// Copies of a page's objects as the requester sees them (references with
// their target's properties), which stay valid once the lock is released.
// Records, arrays and the objects' own values go into blocks of the copy;
// shared values, which live as long as the process, are pointed at.
struct page_copy {
  std::vector<std::unique_ptr<unsigned char[]>> blocks;
  // For each block but the newest, the last object with bytes in it: the
  // writer lets a block go once it has passed that object, so that a large
  // answer grows while its copies shrink.
  std::vector<size_t> last_in;
  size_t passed_blocks = 0;
  unsigned char *at = nullptr;
  size_t left = 0;
  std::vector<didl_object *> objects;

  // Throws std::bad_alloc when memory runs out.
  void *take(size_t n)
  {
    n = (n + alignof(void *) - 1) & ~(alignof(void *) - 1);
    if (n > left) {
      size_t size = std::max<size_t>(n, blocks.empty() ? CDS_PAGE_COPY_FIRST : CDS_PAGE_COPY_BLOCK);
      if (!blocks.empty()) last_in.push_back(objects.size());
      blocks.emplace_back(new unsigned char[size]);
      at = blocks.back().get();
      left = size;
    }
    void *p = at;
    at += n;
    left -= n;
    return p;
  }

  char *text(char *s)
  {
    if (!s || didl_value_shared(s)) return s;
    size_t n = std::strlen(s) + 1;
    return static_cast<char *>(std::memcpy(take(n), s, n));
  }

  // Names are interned, so a list of them is copied as it is; a shared
  // list is pointed at.
  sys_ptralloc_rec array(const sys_ptralloc_rec &from, bool may_share)
  {
    if (!from.len || (may_share && didl_value_shared(from.buf))) return from;
    auto *buf = static_cast<void **>(std::memcpy(take(from.len * sizeof(void *)), from.buf, from.len * sizeof(void *)));
    return sys_ptralloc_rec{buf, from.len, from.len};
  }

  didl_attributes attributes(const didl_attributes &from)
  {
    didl_attributes to{array(from.names, true), array(from.values, false)};
    for (uint32_t i = 0; i < to.values.len; i++) to.values.buf[i] = text(static_cast<char *>(to.values.buf[i]));
    return to;
  }

  bool add(const didl_object &view)
  {
    try {
      auto *o = new (take(sizeof(didl_object))) didl_object{attributes(view.attributes), view.element, {}};
      o->properties = array(view.properties, false);
      for (uint32_t i = 0; i < o->properties.len; i++) {
        const didl_property *from = property_at(&view, i);
        o->properties.buf[i] =
            new (take(sizeof(didl_property))) didl_property{attributes(from->attributes), from->element, text(from->text)};
      }
      objects.push_back(o);
      return true;
    } catch (const std::bad_alloc &) {
      return false;
    }
  }

  // Object i is written: the blocks that only it and those before it use go.
  void passed(size_t i)
  {
    for (; passed_blocks < last_in.size() && last_in[passed_blocks] <= i; passed_blocks++)
      blocks[passed_blocks].reset();
  }

  void clear()
  {
    std::vector<didl_object *>().swap(objects);
    blocks.clear();
    last_in.clear();
    passed_blocks = 0;
    left = 0;
  }
};

// A page taken under the lock and written after it: its objects, the
// filter, TotalMatches and UpdateID.
struct page_taken {
  page_copy copy;
  own::rec<didl_filter, didl_filter_free> filter;
  uint64_t total = 0;
  own::str update_id;

  uint32_t finish(uint64_t matches, const char *id)
  {
    total = matches;
    return sys_str_clone(id ? id : "0", &update_id.s) ? kOk : kFailed;
  }
};

// Room for the document's end and the answer's other values after the
// objects.
constexpr uint64_t kResultTail = 512;

// A large answer is written once, front to back, into memory just mapped
// for it: huge pages there take one fault per 2 MiB instead of one per
// 4 KiB.  Only advice; the memory is given back with the answer.
void advise_huge_pages(const sys_stralloc_rec *answer)
{
  constexpr uintptr_t kHuge = uintptr_t(2) << 20;
  uintptr_t from = (reinterpret_cast<uintptr_t>(answer->buf + answer->len) + kHuge - 1) & ~(kHuge - 1);
  uintptr_t to = reinterpret_cast<uintptr_t>(answer->buf + answer->a) & ~(kHuge - 1);
  if (to > from) madvise(reinterpret_cast<void *>(from), to - from, MADV_HUGEPAGE);
}

// Room for the objects not yet written at the mean size of those written,
// an eighth more, checked while the answer is still short to copy (after
// 1, 2, 4, 8... objects): growing a long answer would hold it twice.
bool room_for_rest(sys_stralloc_rec *answer, uint32_t start, uint64_t written, uint64_t n)
{
  uint64_t mean = (answer->len - start) / written + 1, rest = n - written;
  if (uint64_t(answer->a - answer->len) >= mean * rest * 9 / 8 + kResultTail) return true;
  if (!sys_stralloc_readyplus(answer, uint32_t(std::min<uint64_t>(mean * rest * 3 / 2 + kResultTail, UINT32_MAX / 2))))
    return false;
  advise_huge_pages(answer);
  return true;
}

// Appends the page's objects as the answer's Result, escaped: each object
// is written escaped straight into the answer, so that the Result is held
// once and written once.
bool page_write(const call &c, page_taken &t, sys_stralloc_rec *answer)
{
  own::str_list prefixes;
  own::stralloc frame;
  const std::vector<didl_object *> &objects = t.copy.objects;
  uint64_t n = objects.size();
  auto escaped = [&] { return xml_gen_encode_appendb(answer, frame.s.buf, frame.s.len) != 0; };
  bool ok = media_base_urls(c.s, c.info->addr.local_ip, t.filter.all_interfaces, &prefixes.l) &&
            didl_xml_begin(&frame.s, c.local) && escaped();
  uint32_t start = answer->len;
  for (uint64_t i = 0; ok && i < n; i++) {
    ok = didl_write_for_client_escaped(answer, objects[i], prefixes.l, &t.filter, c.local, &c.info->addr,
                                       &c.s->content.plugins);
    // The first objects tell the size of the rest: a few allocations
    // instead of a copy at each step of growth.
    if (ok && n > 1 && !((i + 1) & i)) ok = room_for_rest(answer, start, i + 1, n);
    t.copy.passed(i);
  }
  frame.s.len = 0;
  return ok && didl_xml_end(&frame.s) && escaped();
}

// A page of a sorted set: at most count objects (0: all) from start.
uint32_t set_page_take(const result_set &set, uint32_t start, uint32_t count, const char *update_id, page_taken *t)
{
  uint64_t total = set.order.size();
  uint64_t first = std::min<uint64_t>(start, total);
  uint64_t last = count ? std::min<uint64_t>(first + uint64_t(count), total) : total;
  for (uint64_t i = first; i < last; i++)
    if (!t->copy.add(*set.order[i])) return kFailed;
  return t->finish(total, update_id);
}

// The answer of a page taken, with the Result written into it; the copies
// are let go as soon as it is written.
uint32_t page_send(const call &c, page_taken &t)
{
  char returned[CONTENT_DB_NUMBER_SIZE], matches[CONTENT_DB_NUMBER_SIZE];
  returned[sys_str_fmt_uint64(returned, t.copy.objects.size())] = 0;
  matches[sys_str_fmt_uint64(matches, t.total)] = 0;
  auto result = [&](sys_stralloc_rec *answer) {
    bool ok = page_write(c, t, answer);
    t.copy.clear();
    return ok;
  };
  return srv::respond_written(c.info, c.action, "Result", result,
                              {{"NumberReturned", returned}, {"TotalMatches", matches}, {"UpdateID", t.update_id.s}},
                              c.response);
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

uint32_t browse_children(const call &c, const didl_object *o, const char *sort_text, uint32_t start, uint32_t count,
                         page_taken *t)
{
  const char *criteria = *sort_text ? sort_text : default_sort(o);
  own::rec<didl_sort_criteria, didl_sort_free> sort;
  if (!didl_sort_parse(&sort, criteria, c.local)) return kBadSortCriteria;
  // Local requesters see private objects too: an order of their own.
  std::string key = std::string(c.local ? "local " : "remote ") + criteria;
  object_list page;
  uint64_t total = 0;
  if (!children_page(c, o, sort, key.c_str(), start, count, &page, &total)) return kFailed;
  for (uint32_t i = 0; i < page.p.len; i++) {
    didl_object view;
    if (!object_view(c.s, page.at(i), &view) || !t->copy.add(view)) return kFailed;
  }
  return t->finish(total, update_id_of(o));
}

// What a look at an object makes for it goes when the look ends: a Search
// of the whole library holds one candidate's objects at a time.
struct look {
  server_rec *s;
  content_db_made_mark mark;
  explicit look(server_rec *server) : s(server) { content_db_made_mark_take(s, &mark); }
  ~look() { content_db_made_rewind(s, &mark); }
  look(const look &) = delete;
  look &operator=(const look &) = delete;
};

bool searchable(const didl_object *o) { return attribute_is(o, DIDL_NAME(AT_SEARCHABLE), "1"); }

// The matches of a Search, by index position in the order of their
// candidates, with their sort values when it is sorted: no object is kept
// for them.  Its calls throw std::bad_alloc when memory runs out.
struct search_set {
  const call &c;
  const didl_search &criteria;
  const didl_sort_criteria &sort;
  std::vector<uint32_t> positions;
  std::vector<const char *> values;  // sort.keys.len for each match
  // Values that lived in what a look made (a compact reference's ids).
  std::deque<std::string> copies;

  void consider(uint32_t pos, const didl_object &view)
  {
    if (!didl_search_match(&criteria, &view)) return;
    positions.push_back(pos);
    if (!sort.keys.len) return;
    size_t at = values.size();
    values.resize(at + sort.keys.len);
    didl_sort_values(&sort, &view, values.data() + at);
    for (size_t k = at; k < values.size(); k++)
      if (values[k] && content_db_made_holds(c.s, values[k])) values[k] = copies.emplace_back(values[k]).c_str();
  }

  // The matches sorted, and the page of at most count (0: all) from start
  // copied as the requester sees them.
  uint32_t page_take(uint32_t start, uint32_t count, const char *update_id, page_taken *t)
  {
    uint64_t total = positions.size();
    if (total >= 2 && sort.keys.len) {
      std::vector<void *> items(positions.size());
      for (size_t i = 0; i < items.size(); i++) items[i] = reinterpret_cast<void *>(uintptr_t(positions[i]));
      if (!didl_sort_by_values(&sort, items.data(), values.data(), uint32_t(total))) return kFailed;
      for (size_t i = 0; i < items.size(); i++) positions[i] = uint32_t(reinterpret_cast<uintptr_t>(items[i]));
    }
    uint64_t first = std::min<uint64_t>(start, total);
    uint64_t last = count ? std::min<uint64_t>(first + uint64_t(count), total) : total;
    for (uint64_t i = first; i < last; i++) {
      look l(c.s);
      const didl_object *o = content_db_at(c.s, positions[i]);
      didl_object v;
      if (!o || !object_view(c.s, o, &v) || !t->copy.add(v)) return kFailed;
    }
    return t->finish(total, update_id);
  }
};

// Whether a container or one above it is private, worked out for each
// container once: a remote requester's Search from the root finds nothing
// below a private container, as its Search below one does.  Throws
// std::bad_alloc.
struct private_chains {
  server_rec *s;
  std::vector<uint8_t> known;  // 0 not yet, 1 open, 2 hidden
  std::vector<uint32_t> path;

  private_chains(server_rec *server, uint32_t n) : s(server), known(n) {}

  bool hidden(uint32_t at)
  {
    uint32_t n = uint32_t(known.size());
    bool result = false;
    path.clear();
    // At most one step per object, whatever a damaged tree says.
    for (uint32_t pos = at; pos < n && path.size() <= n; ) {
      if (known[pos]) {
        result = known[pos] == 2;
        break;
      }
      const didl_object *o = content_db_at(s, pos);
      if (!o) break;
      path.push_back(pos);
      if ((result = object_private(s, o))) break;
      const char *parent = didl_attribute_get(&o->attributes, DIDL_NAME(AT_PARENT_ID));
      if (!parent) break;
      pos = content_db_find(s, parent);
    }
    for (uint32_t p : path) known[p] = result ? 2 : 1;
    return result;
  }
};

// The candidates of a Search from the root: the whole index in order.
// Throws std::bad_alloc.
void candidates_all(const call &c, search_set *set)
{
  uint32_t n = content_db_count(c.s);
  auto parents = std::make_unique<content_db_parent_memo>();
  // For each container once: 1 searchable, 2 not.  Most references stand
  // in folders that are not searched: no object is made for them.
  std::vector<uint8_t> searched(n);
  private_chains chains(c.s, c.local ? 0 : n);
  for (uint32_t i = 0; i < n; i++) {
    look l(c.s);
    int container = 0;
    uint32_t at = content_db_holder_position(c.s, i, parents.get(), &container);
    const didl_object *holder = content_db_at(c.s, at);
    if (holder && !searched[at]) searched[at] = searchable(holder) ? 1 : 2;
    if (holder && searched[at] == 2) continue;
    if (holder && !c.local && chains.hidden(at)) continue;
    const didl_object *o = content_db_at(c.s, i);
    if (!o || !object_id(o) || hidden(c, o)) continue;
    didl_object v;
    if (!object_view(c.s, o, &v) || (holder && !didl_class_allowed_search(holder, object_class(&v)))) continue;
    set->consider(i, v);
  }
}

// The candidates of a Search below another container (at position
// start): a walk through the searchable containers, children in order.
bool candidates_below(const call &c, uint32_t start, search_set *set)
{
  std::vector<uint32_t> stack{start};
  // Each object once at most, whatever a damaged tree says.
  uint64_t budget = uint64_t(content_db_count(c.s)) + 1;
  while (!stack.empty() && budget--) {
    uint32_t pos = stack.back();
    stack.pop_back();
    look l(c.s);
    const didl_object *o = content_db_at(c.s, pos);
    if (!o || hidden(c, o)) continue;
    if (o->element != DIDL_NAME(EL_CONTAINER)) {
      didl_object v;
      if (object_view(c.s, o, &v)) set->consider(pos, v);
      continue;
    }
    if (!searchable(o)) continue;
    set->consider(pos, *o);
    own::uint32alloc children;
    if (!content_db_child_positions(c.s, o, &children)) return false;
    for (uint32_t i = children.len; i-- > 0;) {
      look child(c.s);
      const didl_object *k = content_db_at(c.s, children.buf[i]);
      didl_object v;
      if (k && object_view(c.s, k, &v) && didl_class_allowed_search(o, object_class(&v)))
        stack.push_back(children.buf[i]);
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

uint32_t browse_locked(const call &c, const paged_args &p, bool metadata, page_taken *t)
{
  const didl_object *o = content_db_get(c.s, p.id);
  if (!o || hidden(c, o)) return kNoSuchObject;
  if (!metadata && !update_id_of(o)) return kNoSuchObject;
  if (!metadata && !object_class(o)) return kFailed;
  if (!didl_filter_parse(&t->filter, p.filter, c.local)) return kInvalidArgs;
  if (!metadata) return browse_children(c, o, p.sort, p.start, p.count, t);
  result_set set;
  if (!set.add(c, o)) return kFailed;
  set.sort(didl_sort_criteria{});
  return set_page_take(set, 0, 0, update_id_of(o), t);
}

uint32_t search_locked(const call &c, const paged_args &p, page_taken *t)
{
  const didl_object *container = content_db_get(c.s, p.id);
  if (!container || !update_id_of(container)) return kNoSuchContainer;
  own::rec<didl_search, didl_search_free> search;
  if (!didl_search_parse(&search, p.what, c.local)) return kBadSearchCriteria;
  if (!didl_filter_parse(&t->filter, p.filter, c.local)) return kInvalidArgs;
  own::str_list prefixes;
  if (!media_base_urls(c.s, c.info->addr.local_ip, 1, &prefixes.l)) return kFailed;
  didl_search_strip_prefixes(&search, prefixes.l);
  own::rec<didl_sort_criteria, didl_sort_free> sort;
  if (!didl_sort_parse(&sort, p.sort, c.local)) return kBadSortCriteria;
  search_set set{c, search, sort, {}, {}, {}};
  try {
    if (container == content_db_root(c.s)) candidates_all(c, &set);
    else if (!candidates_below(c, content_db_find(c.s, p.id), &set)) return kFailed;
    return set.page_take(p.start, p.count, update_id_of(container), t);
  } catch (const std::bad_alloc &) {
    return kFailed;
  }
}

}  // namespace

namespace cds {

// The page is taken under the content-database lock, as copies of its
// objects; its DIDL-Lite and the answer around it are written after, so
// that other requesters wait only for the copies.
uint32_t browse(call &c)
{
  paged_args p;
  if (!p.read(c, "ObjectID", "BrowseFlag")) return kInvalidArgs;
  bool metadata = !sys_str_diff(p.what, "BrowseMetadata");
  if (!metadata && sys_str_diff(p.what, "BrowseDirectChildren")) return kInvalidArgs;
  if (metadata && p.start) return kInvalidArgs;
  page_taken t;
  uint32_t r = locked(c, [&] { return browse_locked(c, p, metadata, &t); });
  return r ? r : page_send(c, t);
}

uint32_t search(call &c)
{
  paged_args p;
  if (!p.read(c, "ContainerID", "SearchCriteria")) return kInvalidArgs;
  page_taken t;
  uint32_t r = locked(c, [&] { return search_locked(c, p, &t); });
  return r ? r : page_send(c, t);
}

}  // namespace cds
