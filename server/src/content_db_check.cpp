// The load's check of the links between the objects of a database file
// that a hand or another program may have edited: objects whose parent
// chain never reaches the root, and reference items whose target is
// missing or a container or that point at each other, are dropped; the
// lists that named them, and child lists that name an object of another
// parent, close up.
#include "content_db_impl.h"

#include <tarvo_util/sys_log.h>
#include <tarvo_util/sys_str.h>

#include <cstddef>
#include <new>
#include <vector>

using namespace cdb;

namespace {

constexpr uint32_t kNone = UINT32_MAX;

// What the check needs of an entry: its parent's and its target's index
// positions (kNone when it names none, the count when it names one that
// is not there).
struct links {
  uint32_t parent = kNone, target = kNone;
  bool container = false;
};

// The links of every entry; false on exhaustion.
bool links_read(server_rec *s, const position_finder &find, std::vector<links> *out)
{
  content_db_rec &d = db(s);
  out->assign(d.index.len, links{});
  // Neighbours share a parent; the targets follow the index.
  uint32_t parent_hint = 0, target_hint = 0;
  auto position = [&](const char *id, uint32_t *hint) { return id ? find.id(id, hint) : kNone; };
  for (uint32_t i = 0; i < d.index.len; i++) {
    content_entry *e = entry_at(s, i);
    links &l = (*out)[i];
    if (compact(e)) {
      l.parent = find.code(e->ref_parent, &parent_hint);
      l.target = find.code(e->ref_target, &target_hint);
      continue;
    }
    if (encoded(e)) {
      // An item: its ids read from the encoding, no object made for them.
      l.parent = position(didl::encoded_attribute(e->encoding, DIDL_NAME(AT_PARENT_ID)), &parent_hint);
      l.target = position(didl::encoded_attribute(e->encoding, DIDL_NAME(AT_REF_ID)), &target_hint);
      continue;
    }
    const didl_object *o = e->object;
    if (!o) return false;
    l.parent = position(didl_attribute_get(&o->attributes, DIDL_NAME(AT_PARENT_ID)), &parent_hint);
    l.target = position(didl_attribute_get(&o->attributes, DIDL_NAME(AT_REF_ID)), &target_hint);
    l.container = is_container(o);
  }
  return true;
}

enum state : uint8_t { kUnknown, kWalking, kGood, kLoop, kCut };

// Follows next from each entry until a state is known: where the walk
// meets itself, the entries of that ring are kLoop; every other entry of
// the walk takes the state the walk ended in (kCut for one that leads into
// a ring).  end gives the state of an entry where a walk stops, or
// kUnknown to go on to next(i).
template <class End, class Next> void walk(std::vector<state> *st, End end, Next next)
{
  std::vector<uint32_t> path;
  for (uint32_t start = 0; start < st->size(); start++) {
    path.clear();
    uint32_t i = start;
    state result;
    for (;;) {
      state known = (*st)[i];
      if (known == kWalking) {
        result = kLoop;
        break;
      }
      if (known != kUnknown) {
        result = known == kGood ? kGood : kCut;
        break;
      }
      (*st)[i] = kWalking;
      path.push_back(i);
      if ((result = end(i)) != kUnknown) break;
      i = next(i);
    }
    for (uint32_t k : path) (*st)[k] = result == kLoop ? kCut : result;
    // The ring runs from i, which the walk met again, back to i.
    if (result == kLoop) {
      uint32_t k = i;
      do {
        (*st)[k] = kLoop;
        k = next(k);
      } while (k != i);
    }
  }
}

struct counts {
  uint32_t loop = 0, cut = 0;
};

// Entries whose parent chain does not reach the root or a special object
// (each parent a container) are marked removed.
counts parents_check(server_rec *s, const std::vector<links> &l)
{
  content_db_rec &d = db(s);
  uint32_t n = d.index.len;
  std::vector<state> st(n, kUnknown);
  auto end = [&](uint32_t i) -> state {
    if (i == d.root || (i < d.root && content_db_is_special(s, id_of(entry_at(s, i)->object)))) return kGood;
    uint32_t p = l[i].parent;
    return p >= n || !l[p].container ? kCut : kUnknown;
  };
  walk(&st, end, [&](uint32_t i) { return l[i].parent; });
  counts c;
  for (uint32_t i = 0; i < n; i++) {
    if (st[i] == kGood) continue;
    entry_at(s, i)->flags |= CONTENT_ENTRY_REMOVED;
    (st[i] == kLoop ? c.loop : c.cut)++;
  }
  return c;
}

// Reference items whose chain of targets does not end at a live item that
// is not itself a reference are marked removed: CreateReference takes no
// container for a target, and one served as an item would show the
// container's title.
counts references_check(server_rec *s, const std::vector<links> &l)
{
  uint32_t n = db(s).index.len;
  std::vector<state> st(n, kUnknown);
  auto end = [&](uint32_t i) -> state {
    if (removed(entry_at(s, i))) return kCut;
    uint32_t t = l[i].target;
    return t == kNone ? kGood : t >= n || (l[t].container && !l[i].container) ? kCut : kUnknown;
  };
  walk(&st, end, [&](uint32_t i) { return l[i].target; });
  counts c;
  for (uint32_t i = 0; i < n; i++) {
    content_entry *e = entry_at(s, i);
    if (st[i] == kGood || removed(e)) continue;
    e->flags |= CONTENT_ENTRY_REMOVED;
    (st[i] == kLoop ? c.loop : c.cut)++;
  }
  return c;
}

// Keeps the codes of a list that keep(position) accepts (absent ids
// stay, as they always have); the count of codes dropped.
template <class Keep>
uint32_t list_filter(server_rec *s, const position_finder &find, content_id_list *list, Keep keep)
{
  uint32_t j = 0, n = content_id_list_len(list), hint = 0;
  uint64_t *codes = content_id_list_codes(list);
  for (uint32_t i = 0; i < n; i++) {
    uint32_t pos = find.code(codes[i], &hint);
    if (pos >= db(s).index.len || keep(pos)) codes[j++] = codes[i];
  }
  if (list->p) list->p->len = j;
  return n - j;
}

// A container lists only its own live children; a target only live
// references.  The child count of a list that changed is its length.
uint32_t lists_close_up(server_rec *s, const position_finder &find, const std::vector<links> &l)
{
  content_db_rec &d = db(s);
  uint32_t dropped = 0;
  // Each entry's parent, kGone for one marked removed, read once in index
  // order into one short array: the lists name entries all over the index,
  // and a look at each entry would wait for memory.
  constexpr uint32_t kGone = kNone - 1;
  std::vector<uint32_t> parent(d.index.len);
  for (uint32_t i = 0; i < d.index.len; i++) parent[i] = removed(entry_at(s, i)) ? kGone : l[i].parent;
  auto live = [&](uint32_t pos) { return parent[pos] != kGone; };
  for (uint32_t i = 0; i < d.index.len; i++) {
    content_entry *e = entry_at(s, i);
    if (!live(i) || compact(e)) continue;
    list_filter(s, find, &e->referenced, live);
    if (encoded(e)) continue;
    uint32_t gone = list_filter(s, find, &e->children, [&](uint32_t pos) { return parent[pos] == i; });
    if (gone && l[i].container) {
      char count[CONTENT_DB_NUMBER_SIZE];
      count[sys_str_fmt_uint64(count, content_id_list_len(&e->children))] = 0;
      didl_attribute_set(&e->object->attributes, DIDL_NAME(AT_CHILD_COUNT), count);
    }
    dropped += gone;
  }
  return dropped;
}

void report(const char *what, uint32_t n)
{
  if (n) sys_log_print(SYS_LOG_WARNING, "content database: %u %s dropped at the load", unsigned(n), what);
}

// The number handed out next stays beyond every id the file held, in the
// root's value that a save writes; false on exhaustion.
bool max_object_id_keep(server_rec *s)
{
  content_db_rec &d = db(s);
  didl_attributes *ra = &entry_at(s, d.root)->object->attributes;
  uint64_t stored = 0;
  const char *m = didl_attribute_get(ra, DIDL_NAME(AT_TARVO_MAX_OBJECT_ID));
  if (m) sys_str_scan_uint64(m, &stored);
  if (stored >= d.max_object_id) return true;
  char buf[CONTENT_DB_NUMBER_SIZE];
  buf[sys_str_fmt_uint64(buf, d.max_object_id)] = 0;
  return didl_attribute_set(ra, DIDL_NAME(AT_TARVO_MAX_OBJECT_ID), buf) != 0;
}

}  // namespace

namespace cdb {

void *scratch_room(void *user, size_t n)
{
  auto *v = static_cast<std::vector<std::max_align_t> *>(user);
  try {
    v->resize((n + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t));
  } catch (...) {
    return nullptr;
  }
  return v->data();
}

void links_check(server_rec *s)
{
  // Raised before anything is marked, so that no exhaustion of the check
  // leaves it behind the ids of the objects dropped; without it none is.
  if (!max_object_id_keep(s)) return;
  std::vector<links> l;
  try {
    position_finder find(s);
    if (!links_read(s, find, &l)) return;
    counts parents = parents_check(s, l);
    counts refs = references_check(s, l);
    uint32_t listed = lists_close_up(s, find, l);
    if (!parents.loop && !parents.cut && !refs.loop && !refs.cut) {
      report("entries of child lists naming an object of another parent", listed);
      return;
    }
    report("objects in a loop of parents", parents.loop);
    report("objects whose parents do not lead to the root", parents.cut);
    report("reference items in a loop of references", refs.loop);
    report("reference items without a target item", refs.cut);
    report("entries of child lists naming an object of another parent", listed);
    index_close_up(s);
  } catch (const std::bad_alloc &) {
    sys_log_print(SYS_LOG_WARNING, "content database: no memory to check the links of the load");
    // What was marked goes; nothing else is checked.
    index_close_up(s);
  }
}

}  // namespace cdb
