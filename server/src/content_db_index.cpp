// The object index of the content database: ids and their codes, lookup,
// the kept child and reference lists, update counters and the changed
// lists that events are made from.
#include "content_db_impl.h"

#include <vennard/connection_manager.h>
#include <vennard/media_http.h>
#include <vennard/vennard_limits.h>

#include <tarvo_device/tarvo_device.h>
#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_socket.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/utf8file.h>
#include <tarvo_util/xml.h>

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

namespace {

// --- the entries' own storage ---

// Entries come from chunks aligned to their size: there is one for every
// object, and from the allocator each would cost a header and rounding
// on top of its own bytes.  The chunk of an entry is found from its
// address; a chunk whose entries are all freed goes back.
constexpr size_t kEntryChunk = size_t(1) << 18;

struct entry_chunk {
  entry_chunk *prev, *next;  // among the chunks with room
  void *free;                // freed slots, each holding the next
  uint32_t live, fresh;      // slots in use; slots handed out at least once
};

constexpr uint32_t kEntriesPerChunk = uint32_t((kEntryChunk - sizeof(entry_chunk)) / sizeof(content_entry));

struct entry_pool {
  std::mutex mutex;
  entry_chunk *room = nullptr;
  // One emptied chunk kept back: an object made and destroyed again and
  // again at a chunk's edge would otherwise map and unmap one each time.
  entry_chunk *spare = nullptr;
};

// Never destroyed: a thread may still free an entry while the process
// exits.
entry_pool &pool()
{
  static entry_pool *p = new entry_pool;
  return *p;
}

content_entry *slot_at(entry_chunk *c, uint32_t i)
{
  return reinterpret_cast<content_entry *>(reinterpret_cast<char *>(c + 1) + size_t(i) * sizeof(content_entry));
}

void room_unlink(entry_pool &p, entry_chunk *c)
{
  (c->prev ? c->prev->next : p.room) = c->next;
  if (c->next) c->next->prev = c->prev;
  c->prev = c->next = nullptr;
}

void room_link(entry_pool &p, entry_chunk *c)
{
  c->prev = nullptr;
  c->next = p.room;
  if (p.room) p.room->prev = c;
  p.room = c;
}

}  // namespace

namespace cdb {

content_entry *entry_new()
{
  entry_pool &p = pool();
  std::lock_guard<std::mutex> lock(p.mutex);
  entry_chunk *c = p.room;
  if (!c) {
    c = p.spare ? p.spare : static_cast<entry_chunk *>(std::aligned_alloc(kEntryChunk, kEntryChunk));
    if (!c) return nullptr;
    p.spare = nullptr;
    *c = entry_chunk{};
    DIDL_POISON(slot_at(c, 0), size_t(kEntriesPerChunk) * sizeof(content_entry));
    room_link(p, c);
  }
  content_entry *e;
  if (c->free) {
    e = static_cast<content_entry *>(c->free);
    DIDL_UNPOISON(e, sizeof *e);
    c->free = *reinterpret_cast<void **>(e);
  } else {
    e = slot_at(c, c->fresh++);
    DIDL_UNPOISON(e, sizeof *e);
  }
  if (++c->live == kEntriesPerChunk) room_unlink(p, c);
  return new (e) content_entry{};
}

void entry_release(content_entry *e)
{
  if (!e) return;
  entry_pool &p = pool();
  std::lock_guard<std::mutex> lock(p.mutex);
  auto *c = reinterpret_cast<entry_chunk *>(reinterpret_cast<uintptr_t>(e) & ~uintptr_t(kEntryChunk - 1));
  if (c->live-- == kEntriesPerChunk) room_link(p, c);
  if (!c->live) {
    room_unlink(p, c);
    std::free(p.spare);
    p.spare = c;
    return;
  }
  *reinterpret_cast<void **>(e) = c->free;
  c->free = e;
  DIDL_POISON(e, sizeof *e);
}

namespace {

// A plain number that its decimal text gives back exactly: the codes of
// other ids have the top bit set.
bool canonical_number(std::string_view id, uint64_t *value)
{
  if (id.empty() || (id.size() > 1 && id[0] == '0')) return false;
  return id_number(id, value) && *value < CONTENT_ID_TEXT;
}

bool is_special(server_rec *s, std::string_view id)
{
  const sys_ptralloc_rec &sp = db(s).special;
  for (uint32_t i = 0; i < sp.len; i++)
    if (id == static_cast<const char *>(sp.buf[i])) return true;
  return false;
}

// Ids listed in a changed list, each once: the mark says it is there.
bool mark_listed(content_entry *e, uint32_t flag, sys_ptralloc_rec *list)
{
  if (e->flags & flag) return true;
  char *id = nullptr;
  if (!sys_str_clone(id_of(e->object), &id)) return false;
  if (!sys_ptralloc_append(list, id)) {
    sys_alloc_free(id);
    return false;
  }
  e->flags |= flag;
  return true;
}

// Empties a changed list; each entry still in the index loses its mark.
void listed_clear(server_rec *s, sys_ptralloc_rec *list, uint32_t flag)
{
  for (uint32_t i = 0; i < list->len; i++) {
    char *id = static_cast<char *>(list->buf[i]);
    uint32_t pos = find_id(s, id);
    if (pos < db(s).index.len) entry_at(s, pos)->flags &= ~flag;
    sys_alloc_free(id);
  }
  list->len = 0;
}

// Drops from a list the codes of entries that the destroy removed.
void list_close_up(server_rec *s, content_id_list *l)
{
  uint32_t j = 0, n = content_id_list_len(l);
  uint64_t *codes = content_id_list_codes(l);
  for (uint32_t i = 0; i < n; i++) {
    uint32_t pos = find_code(s, codes[i]);
    if (pos < db(s).index.len && removed(entry_at(s, pos))) continue;
    codes[j++] = codes[i];
  }
  if (l->p) l->p->len = j;
}

// The objects of a list that still exist, appended in list order.
bool live_objects_append(server_rec *s, const content_id_list *l, sys_ptralloc_rec *objects)
{
  const uint64_t *codes = content_id_list_codes(l);
  for (uint32_t i = 0; i < content_id_list_len(l); i++) {
    content_entry *e = live_code(s, codes[i]);
    didl_object *o = e ? object_of(s, e) : nullptr;
    if (e && (!o || !sys_ptralloc_append(objects, o))) return false;
  }
  return true;
}

bool prefix_strip(char *value, char *const *prefixes)
{
  for (char *const *p = prefixes; p && *p; p++) {
    uint32_t n = sys_str_len(*p);
    if (!sys_str_start(value, *p) || (value[n] && value[n] != '/')) continue;
    std::memmove(value, value + n, std::strlen(value + n) + 1);
    return true;
  }
  return false;
}

bool uri_value(const char *element, const char *attribute)
{
  avcp_didl_name_pair pair{element, attribute};
  return didl_value_type(&pair) == AVCP_DIDL_TYPE_URI;
}

}  // namespace

bool id_number(std::string_view id, uint64_t *value)
{
  if (id.empty()) return false;
  uint64_t v = 0;
  for (char c : id) {
    if (c < '0' || c > '9') return false;
    uint64_t d = uint64_t(c - '0');
    if (v > (UINT64_MAX - d) / 10) return false;
    v = v * 10 + d;
  }
  *value = v;
  return true;
}

bool id_code(server_rec *s, std::string_view id, bool add, uint64_t *code)
{
  if (canonical_number(id, code)) return true;
  sys_ptralloc_rec &t = db(s).id_texts;
  for (uint32_t i = 0; i < t.len; i++)
    if (id == static_cast<const char *>(t.buf[i])) {
      *code = CONTENT_ID_TEXT | i;
      return true;
    }
  if (!add) return false;
  sys_stralloc_rec sa{};
  if (!sys_stralloc_copyb(&sa, id.data(), uint32_t(id.size())) || !sys_stralloc_append(&sa, "") ||
      !sys_ptralloc_append(&t, sa.buf)) {
    sys_stralloc_free(&sa);
    return false;
  }
  *code = CONTENT_ID_TEXT | (t.len - 1);
  return true;
}

const char *code_text(server_rec *s, uint64_t code, char *buffer)
{
  if (!(code & CONTENT_ID_TEXT)) {
    buffer[sys_str_fmt_uint64(buffer, code)] = 0;
    return buffer;
  }
  uint64_t i = code & ~CONTENT_ID_TEXT;
  return i < db(s).id_texts.len ? static_cast<const char *>(db(s).id_texts.buf[i]) : nullptr;
}

bool code_append(server_rec *s, uint64_t code, sys_stralloc_rec *out)
{
  char buf[CONTENT_DB_NUMBER_SIZE];
  const char *text = code_text(s, code, buf);
  return text && sys_stralloc_cats(out, text);
}

namespace {

// The position of a plain number among the entries after the root.
uint32_t find_number(server_rec *s, uint64_t v)
{
  content_db_rec &d = db(s);
  uint32_t count = d.index.len, lo = d.root + 1, hi = count;
  while (lo < hi) {
    uint32_t mid = lo + (hi - lo) / 2;
    if (entry_at(s, mid)->number < v) lo = mid + 1;
    else hi = mid;
  }
  return lo < count && entry_at(s, lo)->number == v ? lo : count;
}

}  // namespace

uint32_t find_id(server_rec *s, std::string_view id)
{
  content_db_rec &d = db(s);
  uint32_t count = d.index.len;
  if (id.empty() || d.root >= count) return count;
  if (id == "0") return d.root;
  if (is_special(s, id)) {
    for (uint32_t i = 0; i < d.root; i++) {
      const char *own = id_of(entry_at(s, i)->object);
      if (own && id == own) return i;
    }
    return count;
  }
  uint64_t v;
  if (!id_number(id, &v)) return count;
  return find_number(s, v);
}

uint32_t find_code(server_rec *s, uint64_t code)
{
  if (!(code & CONTENT_ID_TEXT)) {
    content_db_rec &d = db(s);
    if (code && d.root < d.index.len && !d.special_numbers) return find_number(s, code);
    char buf[CONTENT_DB_NUMBER_SIZE];
    return find_id(s, std::string_view(buf, sys_str_fmt_uint64(buf, code)));
  }
  uint64_t i = code & ~CONTENT_ID_TEXT;
  if (i >= db(s).id_texts.len) return db(s).index.len;
  return find_id(s, static_cast<const char *>(db(s).id_texts.buf[i]));
}

content_entry *live_entry(server_rec *s, std::string_view id)
{
  uint32_t pos = find_id(s, id);
  if (pos >= db(s).index.len || removed(entry_at(s, pos))) return nullptr;
  return entry_at(s, pos);
}

content_entry *live_code(server_rec *s, uint64_t code)
{
  uint32_t pos = find_code(s, code);
  if (pos >= db(s).index.len || removed(entry_at(s, pos))) return nullptr;
  return entry_at(s, pos);
}

content_entry *entry_of(server_rec *s, const didl_object *o)
{
  if (!o) return nullptr;
  const char *id = id_of(o);
  uint32_t pos = find_id(s, id ? id : "");
  if (pos < db(s).index.len && entry_at(s, pos)->object == o) return entry_at(s, pos);
  // Two objects of one id (a file edited by hand): look for this one.
  for (uint32_t i = 0; i < db(s).index.len; i++)
    if (entry_at(s, i)->object == o) return entry_at(s, i);
  return nullptr;
}

// Room for at least n codes in the list's block.
bool list_room(content_id_list *l, uint32_t n)
{
  uint32_t len = content_id_list_len(l), a = l->p ? l->p->a : 0;
  if (n <= a) return true;
  if (n > (UINT32_MAX - sizeof(content_id_block)) / sizeof(uint64_t)) return false;
  void *p = l->p;
  if (!sys_alloc_re(&p, l->p ? sizeof(content_id_block) + size_t(a) * sizeof(uint64_t) : 0,
                    sizeof(content_id_block) + size_t(n) * sizeof(uint64_t)))
    return false;
  l->p = static_cast<content_id_block *>(p);
  l->p->len = len;
  l->p->a = n;
  return true;
}

bool list_append(content_id_list *l, uint64_t code)
{
  uint32_t len = content_id_list_len(l), a = l->p ? l->p->a : 0;
  // Most lists are short (the references of one file, a folder of a few
  // files): they grow by two codes at first, a block of the allocator's
  // next size; long ones by half.
  if (len == a && !list_room(l, a < 8 ? a + 2 - a % 2 : a + a / 2 + 8)) return false;
  l->p->codes[l->p->len++] = code;
  return true;
}

void list_pop(content_id_list *l)
{
  if (l->p && l->p->len) l->p->len--;
}

void list_free(content_id_list *l)
{
  sys_alloc_free(l->p);
  *l = content_id_list{};
}

bool list_parse(server_rec *s, const char *text, content_id_list *l)
{
  std::string_view rest(text ? text : "");
  // The file gives the whole list at once: room for just its codes.
  if (!rest.empty() && !list_room(l, content_id_list_len(l) + uint32_t(std::count(rest.begin(), rest.end(), ',')) + 1))
    return false;
  while (!rest.empty()) {
    size_t comma = rest.find(',');
    uint64_t code;
    if (!id_code(s, rest.substr(0, comma), true, &code) || !list_append(l, code)) return false;
    if (comma == rest.npos) break;
    rest.remove_prefix(comma + 1);
  }
  return true;
}

bool list_text(server_rec *s, const content_id_list *l, sys_stralloc_rec *out)
{
  const uint64_t *codes = content_id_list_codes(l);
  for (uint32_t i = 0; i < content_id_list_len(l); i++)
    if ((i && !sys_stralloc_cats(out, ",")) || !code_append(s, codes[i], out)) return false;
  return true;
}

content_entry *entry_append(server_rec *s, didl_object *object)
{
  content_entry *e = entry_new();
  if (!e) return nullptr;
  const char *id = id_of(object);
  if (!id || !id_number(id, &e->number)) e->number = 0;
  if (!sys_ptralloc_append(&db(s).index, e)) {
    entry_release(e);
    return nullptr;
  }
  e->object = object;
  return e;
}

void entry_free(content_entry *e, server_rec *s)
{
  // A compact or encoded entry's object is made in the blocks that go at
  // the unlock; until then it may read the encoding.
  if (encoded(e)) {
    if (!s) didl::encoding_free(e->encoding);
    else if (!sys_ptralloc_append(&db(s).retired, e->encoding)) {
      // Kept for good rather than freed under a reader.
    }
    list_free(&e->referenced);
  } else if (!compact(e)) {
    didl_object_free(e->object);
    list_free(&e->children);
    list_free(&e->referenced);
  }
  entry_release(e);
}

uint32_t reference_attributes::fill(server_rec *s, const content_entry *e)
{
  id[sys_str_fmt_uint64(id, e->number)] = 0;
  const char *p = code_text(s, e->ref_parent, parent), *t = code_text(s, e->ref_target, target);
  if (!p || !t) return 0;
  const char *const n[] = {DIDL_NAME(AT_ID), DIDL_NAME(AT_PARENT_ID), DIDL_NAME(AT_REF_ID), DIDL_NAME(AT_RESTRICTED),
                           DIDL_NAME(AT_TARVO_PRIVATE)};
  const char *const v[] = {id, p, t, "1", "1"};
  uint32_t count = (e->flags & CONTENT_ENTRY_PRIVATE) ? 5 : 4;
  for (uint32_t i = 0; i < count; i++) {
    names[i] = const_cast<char *>(n[i]);
    values[i] = const_cast<char *>(v[i]);
  }
  return count;
}

didl_object *reference_make(server_rec *s, const content_entry *e)
{
  reference_attributes r;
  uint32_t count = r.fill(s, e);
  srv::object_owner o(static_cast<didl_object *>(sys_alloc_zero(sizeof(didl_object))));
  if (!count || !o.p || !didl::attributes_ready(&o.p->attributes, count)) return nullptr;
  o.p->element = DIDL_NAME(EL_ITEM);
  for (uint32_t i = 0; i < count; i++)
    if (!didl_attribute_add(&o.p->attributes, static_cast<const char *>(r.names[i]),
                            static_cast<const char *>(r.values[i])))
      return nullptr;
  didl_object *made = o.p;
  o.p = nullptr;
  return made;
}

namespace {

// The objects made for the holder of the lock live in blocks of their
// own, emptied at once when the lock goes: no allocation per object.  The
// newest block is first; the oldest is kept for the next holder.  Blocks
// are mapped whole, their pages at once, and unmapped when let go, so a
// reader of the whole library leaves nothing of its peak behind.
constexpr size_t kMadeBlock = 1024 * 1024;
constexpr size_t kMadeKept = 8;
constexpr uint32_t kMadeBusyHolds = 64;  // holders after one that needed several blocks
struct made_block {
  made_block *next;
  size_t used;
  alignas(std::max_align_t) char data[kMadeBlock];
};

void *made_room(server_rec *s, size_t n)
{
  n = (n + alignof(std::max_align_t) - 1) & ~(alignof(std::max_align_t) - 1);
  auto *b = static_cast<made_block *>(db(s).made_room);
  if (n > kMadeBlock) return nullptr;
  if (!b || kMadeBlock - b->used < n) {
    auto *fresh = static_cast<made_block *>(db(s).made_spare);
    if (fresh) {
      db(s).made_spare = fresh->next;
    } else {
      void *m = mmap(nullptr, sizeof(made_block), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
      if (m == MAP_FAILED) return nullptr;
      fresh = static_cast<made_block *>(m);
    }
    fresh->next = b;
    fresh->used = 0;
    DIDL_POISON(fresh->data, kMadeBlock);
    db(s).made_room = b = fresh;
  }
  void *p = b->data + b->used;
  b->used += n;
  DIDL_UNPOISON(p, n);
  return p;
}

// Empties the blocks.  While holders have lately needed several, a few
// are kept for the next ones (a reader of a large folder would otherwise
// map and unmap them at every answer, and an unmap stops every thread of
// the process); otherwise one is.  The rest are unmapped; keep 0: every
// one.
void made_room_release(server_rec *s, size_t keep)
{
  content_db_rec &d = db(s);
  auto *spare = static_cast<made_block *>(d.made_spare);
  size_t used = 0;
  for (auto *b = static_cast<made_block *>(d.made_room); b; used++) {
    made_block *next = b->next;
    // What was made is gone with the lock: a reader that kept it is found
    // out under the address sanitizer.
    b->used = 0;
    DIDL_POISON(b->data, kMadeBlock);
    b->next = spare;
    spare = b;
    b = next;
  }
  if (used > 1) d.made_busy = kMadeBusyHolds;
  else if (d.made_busy) d.made_busy--;
  keep = std::min(keep, d.made_busy ? kMadeKept : size_t(1));
  made_block *kept = nullptr;
  for (size_t n = 0; spare; n++) {
    made_block *next = spare->next;
    if (n < keep) {
      spare->next = kept;
      kept = spare;
    } else {
      DIDL_UNPOISON(spare, sizeof(made_block));
      munmap(spare, sizeof(made_block));
    }
    spare = next;
  }
  d.made_room = nullptr;
  d.made_spare = kept;
}

// The blocks go back to where they stood at a mark: newer ones to the
// spares, the mark's own to the bytes it had used.
void made_room_rewind(server_rec *s, void *block, size_t used)
{
  content_db_rec &d = db(s);
  auto *b = static_cast<made_block *>(d.made_room);
  for (; b && b != block; b = static_cast<made_block *>(d.made_room)) {
    d.made_room = b->next;
    b->used = 0;
    DIDL_POISON(b->data, kMadeBlock);
    b->next = static_cast<made_block *>(d.made_spare);
    d.made_spare = b;
  }
  if (!b) return;
  DIDL_POISON(b->data + used, b->used - used);
  b->used = used;
}

// The last room made_room gave shrinks to n bytes.
void made_room_keep(server_rec *s, const char *room, size_t n)
{
  auto *b = static_cast<made_block *>(db(s).made_room);
  n = (n + alignof(std::max_align_t) - 1) & ~(alignof(std::max_align_t) - 1);
  b->used = size_t(room - b->data) + n;
}

// A compact entry's object in the blocks: the arrays and the texts of
// numbers beside it, the table's texts and the names where they are kept.
// The attributes are those reference_attributes gives.  Nothing of it may
// be freed or edited.
didl_object *made_object(server_rec *s, const content_entry *e)
{
  uint32_t count = (e->flags & CONTENT_ENTRY_PRIVATE) ? 5 : 4;
  size_t head = sizeof(didl_object) + 2 * count * sizeof(void *);
  auto *p = static_cast<char *>(made_room(s, head + 3 * CONTENT_DB_NUMBER_SIZE));
  if (!p) return nullptr;
  auto **names = reinterpret_cast<void **>(p + sizeof(didl_object));
  void **values = names + count;
  char *text = p + head;
  auto number = [&text](uint64_t v) {
    char *t = text;
    size_t n = sys_str_fmt_uint64(t, v);
    t[n] = 0;
    text += n + 1;
    return t;
  };
  auto id = [&](uint64_t code) -> const char * {
    if (!(code & CONTENT_ID_TEXT)) return number(code);
    uint64_t i = code & ~CONTENT_ID_TEXT;
    return i < db(s).id_texts.len ? static_cast<const char *>(db(s).id_texts.buf[i]) : nullptr;
  };
  const char *own = number(e->number), *parent = id(e->ref_parent), *target = id(e->ref_target);
  if (!parent || !target) {
    made_room_keep(s, p, 0);
    return nullptr;
  }
  made_room_keep(s, p, size_t(text - p));
  const char *const n[] = {DIDL_NAME(AT_ID), DIDL_NAME(AT_PARENT_ID), DIDL_NAME(AT_REF_ID), DIDL_NAME(AT_RESTRICTED),
                           DIDL_NAME(AT_TARVO_PRIVATE)};
  const char *const v[] = {own, parent, target, "1", "1"};
  for (uint32_t i = 0; i < count; i++) {
    names[i] = const_cast<char *>(n[i]);
    values[i] = const_cast<char *>(v[i]);
  }
  auto *o = reinterpret_cast<didl_object *>(p);
  *o = didl_object{};
  o->element = DIDL_NAME(EL_ITEM);
  o->attributes.names = sys_ptralloc_rec{names, count, count};
  o->attributes.values = sys_ptralloc_rec{values, count, count};
  return o;
}

void *made_room_for(void *s, size_t n) { return made_room(static_cast<server_rec *>(s), n); }

}  // namespace

didl_object *object_of(server_rec *s, content_entry *e)
{
  if (e->object || !(compact(e) || encoded(e))) return e->object;
  if (!sys_ptralloc_append(&db(s).made, e)) return nullptr;
  didl_object *o = compact(e) ? made_object(s, e) : didl::object_decode(e->encoding, made_room_for, s);
  if (!o) {
    db(s).made.len--;
    return nullptr;
  }
  e->object = o;
  return o;
}

namespace {

// The codes of a reference item that holds nothing but its ids (its own id
// a plain number), and the flags of its compact entry; false for any other
// object.
bool reference_shape(server_rec *s, const didl_object *o, uint64_t *own, uint64_t *parent, uint64_t *target,
                     uint32_t *flags)
{
  if (o->element != DIDL_NAME(EL_ITEM) || o->properties.len) return false;
  const didl_attributes &a = o->attributes;
  const char *const names[] = {DIDL_NAME(AT_ID), DIDL_NAME(AT_PARENT_ID), DIDL_NAME(AT_REF_ID),
                               DIDL_NAME(AT_RESTRICTED), DIDL_NAME(AT_TARVO_PRIVATE)};
  if (a.names.len < 4 || a.names.len > 5) return false;
  for (uint32_t i = 0; i < a.names.len; i++)
    if (a.names.buf[i] != names[i]) return false;
  auto value = [&a](uint32_t i) { return static_cast<const char *>(a.values.buf[i]); };
  if (std::strcmp(value(3), "1") || (a.names.len == 5 && std::strcmp(value(4), "1"))) return false;
  // A code gives back exactly the text it was made of; a text the loader
  // would mend stays an object.
  if (!canonical_number(value(0), own) || !*own || !xml_gen_is_legal_value(value(1)) ||
      !xml_gen_is_legal_value(value(2)) || !id_code(s, value(1), true, parent) || !id_code(s, value(2), true, target))
    return false;
  *flags = CONTENT_ENTRY_COMPACT | (a.names.len == 5 ? CONTENT_ENTRY_PRIVATE : 0);
  return true;
}

}  // namespace

bool object_mended(const didl_object *o)
{
  // Eight bytes at a time: a byte below 0x20 borrows from its top bit.
  auto control = [](const char *v) {
    size_t n = std::strlen(v), i = 0;
    for (; i + 8 <= n; i += 8) {
      uint64_t x;
      std::memcpy(&x, v + i, 8);
      if ((x - 0x2020202020202020ull) & ~x & 0x8080808080808080ull) return true;
    }
    for (; i < n; i++)
      if (static_cast<unsigned char>(v[i]) < 0x20) return true;
    return false;
  };
  auto any = [&](const didl_attributes &a) {
    for (uint32_t i = 0; i < a.values.len; i++)
      if (control(static_cast<const char *>(a.values.buf[i]))) return true;
    return false;
  };
  if (any(o->attributes)) return true;
  for (uint32_t i = 0; i < o->properties.len; i++)
    if (any(property_at(o, i)->attributes) || control(property_at(o, i)->text)) return true;
  return false;
}

namespace {

// An item with a plain number for its id and no list of children is
// kept encoded.
void entry_encode(content_entry *e)
{
  const didl_object *o = e->object;
  uint64_t own = 0;
  if (o->element != DIDL_NAME(EL_ITEM) || (e->flags & CONTENT_ENTRY_HAS_CHILDREN) || content_id_list_len(&e->children) ||
      !canonical_number(id_of(o) ? id_of(o) : "", &own) || !own || own != e->number)
    return;
  char *encoding = didl::object_encode(o);
  if (!encoding) return;
  list_free(&e->children);
  didl_object_free(e->object);
  e->object = nullptr;
  e->encoding = encoding;
  e->flags |= CONTENT_ENTRY_ENCODED;
}

}  // namespace

void entry_compact(server_rec *s, content_entry *e)
{
  const didl_object *o = e->object;
  const uint32_t busy = CONTENT_ENTRY_PENDING | CONTENT_ENTRY_REMOVED | CONTENT_ENTRY_COMPACT | CONTENT_ENTRY_ENCODED;
  if (!o || (e->flags & busy)) return;
  uint64_t own = 0, parent = 0, target = 0;
  uint32_t flags = 0;
  if ((e->flags & (CONTENT_ENTRY_HAS_CHILDREN | CONTENT_ENTRY_HAS_REFERENCED)) || content_id_list_len(&e->children) ||
      content_id_list_len(&e->referenced) || !reference_shape(s, o, &own, &parent, &target, &flags) ||
      own != e->number)
    return entry_encode(e);
  list_free(&e->children);
  list_free(&e->referenced);
  didl_object_free(e->object);
  e->object = nullptr;
  e->ref_parent = parent;
  e->ref_target = target;
  e->flags |= flags;
}

content_entry *compact_new(server_rec *s, const didl_object *o)
{
  uint64_t own = 0, parent = 0, target = 0;
  uint32_t flags = 0;
  if (!reference_shape(s, o, &own, &parent, &target, &flags)) return nullptr;
  content_entry *e = entry_new();
  if (!e) return nullptr;
  e->number = own;
  e->ref_parent = parent;
  e->ref_target = target;
  e->flags = flags;
  return e;
}

content_entry *encoded_new(server_rec *s, const didl_object *o)
{
  uint64_t own = 0;
  const char *id = id_of(o);
  if (o->element != DIDL_NAME(EL_ITEM) || !id || !canonical_number(id, &own) || !own ||
      didl_attribute_get(&o->attributes, DIDL_NAME(AT_TARVO_CHILDREN)))
    return nullptr;
  content_entry *e = entry_new();
  if (!e) return nullptr;
  e->number = own;
  const char *refs = didl_attribute_get(&o->attributes, DIDL_NAME(AT_TARVO_REFERENCED));
  if (refs) e->flags |= CONTENT_ENTRY_HAS_REFERENCED;
  if ((refs && !list_parse(s, refs, &e->referenced)) ||
      !(e->encoding = didl::object_encode(o, DIDL_NAME(AT_TARVO_REFERENCED)))) {
    list_free(&e->referenced);
    entry_release(e);
    return nullptr;
  }
  e->flags |= CONTENT_ENTRY_ENCODED;
  return e;
}

bool entry_expand(server_rec *s, content_entry *e)
{
  if (encoded(e)) {
    // A copy of its own, packed; the made object and the encoding stay
    // for the holder of the lock.
    didl_object *made = object_of(s, e);
    srv::object_owner copy;
    if (!made || !didl_object_clone(made, &copy.p) || !sys_ptralloc_readyplus(&db(s).retired, 1)) return false;
    didl_object_pack(&copy.p);
    sys_ptralloc_append(&db(s).retired, e->encoding);
    e->children = content_id_list{};
    e->flags &= ~CONTENT_ENTRY_ENCODED;
    e->object = copy.p;
    copy.p = nullptr;
    return true;
  }
  if (!compact(e)) return true;
  // A made object lives only until the unlock: the entry gets its own.
  didl_object *o = reference_make(s, e);
  if (!o) return false;
  // It stays in the made list, which passes over entries no longer compact.
  e->object = o;
  e->flags &= ~(CONTENT_ENTRY_COMPACT | CONTENT_ENTRY_PRIVATE);
  e->children = content_id_list{};
  e->referenced = content_id_list{};
  return true;
}

void entry_changed(server_rec *s, content_entry *e)
{
  // Not listed, it stays as it is: as good, only larger.
  sys_ptralloc_append(&db(s).made, e);
}

void made_release(server_rec *s)
{
  sys_ptralloc_rec &m = db(s).made;
  for (uint32_t i = 0; i < m.len; i++) {
    auto *e = static_cast<content_entry *>(m.buf[i]);
    if (compact(e) || encoded(e)) e->object = nullptr;
    else entry_compact(s, e);
  }
  m.len = 0;
  sys_ptralloc_rec &r = db(s).retired;
  for (uint32_t i = 0; i < r.len; i++) didl::encoding_free(static_cast<char *>(r.buf[i]));
  r.len = 0;
  made_room_release(s, SIZE_MAX);
}

void made_trim(server_rec *s) { made_room_release(s, 1); }

void index_free(server_rec *s)
{
  content_db_rec &d = db(s);
  made_release(s);
  sys_ptralloc_free(&d.made);
  sys_ptralloc_free(&d.retired);
  d.made = d.retired = sys_ptralloc_rec{};
  made_room_release(s, 0);
  for (uint32_t i = d.index.len; i > 0; i--) entry_free(entry_at(s, i - 1));
  sys_ptralloc_free(&d.index);
  sys_ptralloc_free(&d.pending);
  d.index = d.pending = sys_ptralloc_rec{};
  d.root = 0;
  orders_free(s);
}

void index_close_up(server_rec *s)
{
  content_db_rec &d = db(s);
  for (uint32_t i = 0; i < d.pending.len; i++) {
    auto *e = static_cast<content_entry *>(d.pending.buf[i]);
    e->flags &= ~CONTENT_ENTRY_PENDING;
    if (removed(e) || compact(e)) continue;
    if (!encoded(e)) list_close_up(s, &e->children);
    list_close_up(s, &e->referenced);
  }
  d.pending.len = 0;
  // Made objects of removed entries go with their entries.
  uint32_t kept = 0;
  for (uint32_t i = 0; i < d.made.len; i++)
    if (!removed(static_cast<content_entry *>(d.made.buf[i]))) d.made.buf[kept++] = d.made.buf[i];
  d.made.len = kept;
  content_entry *root = d.root < d.index.len ? entry_at(s, d.root) : nullptr;
  uint32_t j = 0;
  d.root = UINT32_MAX;
  for (uint32_t i = 0; i < d.index.len; i++) {
    content_entry *e = entry_at(s, i);
    if (removed(e)) {
      entry_free(e, s);
      continue;
    }
    if (e == root) d.root = j;
    d.index.buf[j++] = e;
  }
  d.index.len = j;
  if (d.root == UINT32_MAX) d.root = j;
}

void system_update_id_read(server_rec *s)
{
  content_db_rec &d = db(s);
  if (d.root >= d.index.len) return;
  const char *v = didl_attribute_get(&entry_at(s, d.root)->object->attributes, DIDL_NAME(AT_TARVO_CONTAINER_UPDATE_ID));
  uint64_t n = 0;
  if (v) sys_str_scan_uint64(v, &n);
  if (d.system_update_id != uint32_t(n)) content_db_save_wake(s);
  d.system_update_id = uint32_t(n);
}

bool bump_container(server_rec *s, content_entry *e)
{
  if (!e || compact(e) || !is_container(e->object)) return true;
  content_db_order_forget(s, e->object);
  return didl_counter_add(&e->object->attributes, DIDL_NAME(AT_TARVO_CONTAINER_UPDATE_ID), 1) &&
         mark_listed(e, CONTENT_ENTRY_CHANGED, &db(s).changed) &&
         mark_listed(e, CONTENT_ENTRY_REFLECT, &db(s).reflect);
}

void changed_clear(server_rec *s) { listed_clear(s, &db(s).changed, CONTENT_ENTRY_CHANGED); }

bool url_prefixes_strip(server_rec *s, didl_object *o)
{
  sys_str_list prefixes = nullptr;
  if (!media_base_urls(s, sys_ip4_loopback(), 0, &prefixes)) return false;
  for (uint32_t i = 0; i < o->attributes.names.len; i++)
    if (uri_value(o->element, static_cast<const char *>(o->attributes.names.buf[i])))
      prefix_strip(static_cast<char *>(o->attributes.values.buf[i]), prefixes);
  for (uint32_t i = 0; i < o->properties.len; i++) {
    auto *p = static_cast<didl_property *>(o->properties.buf[i]);
    if (uri_value(p->element, nullptr)) prefix_strip(p->text, prefixes);
    for (uint32_t k = 0; k < p->attributes.names.len; k++)
      if (uri_value(p->element, static_cast<const char *>(p->attributes.names.buf[k])))
        prefix_strip(static_cast<char *>(p->attributes.values.buf[k]), prefixes);
  }
  sys_str_list_free(prefixes);
  return true;
}

void protocol_infos_register(server_rec *s, const didl_object *o, const char **last)
{
  for (uint32_t i = 0; i < o->properties.len; i++) {
    auto *p = static_cast<const didl_property *>(o->properties.buf[i]);
    if (p->element != DIDL_NAME(EL_RES)) continue;
    const char *pi = didl_attribute_get(&p->attributes, DIDL_NAME(AT_PROTOCOL_INFO));
    if (last && pi && pi == *last) continue;
    cm_protocol_info_add(s, pi);
    if (last && pi && didl_value_shared(pi)) *last = pi;
  }
}

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

using namespace cdb;

extern "C" {

int content_db_lock(server_rec *s) { return srv::lock_unless_stopping(&db(s).mutex, db(s).stopping); }

void content_db_unlock(server_rec *s)
{
  made_release(s);
  sys_mutex_unlock(&db(s).mutex);
}

int content_db_share_lock(server_rec *s) { return srv::lock_unless_stopping(&db(s).share_mutex, db(s).stopping); }

void content_db_share_unlock(server_rec *s) { sys_mutex_unlock(&db(s).share_mutex); }

uint32_t content_db_find(server_rec *s, const char *id)
{
  uint32_t pos = find_id(s, id ? id : "");
  return pos < db(s).index.len && !removed(entry_at(s, pos)) ? pos : db(s).index.len;
}

uint32_t content_db_count(server_rec *s) { return db(s).index.len; }

didl_object *content_db_at(server_rec *s, uint32_t position)
{
  return position < db(s).index.len ? object_of(s, entry_at(s, position)) : nullptr;
}

didl_object *content_db_get(server_rec *s, const char *id)
{
  content_entry *e = live_entry(s, id ? id : "");
  return e ? object_of(s, e) : nullptr;
}

didl_object *content_db_parent(server_rec *s, const didl_object *object)
{
  const char *parent = didl_attribute_get(&object->attributes, DIDL_NAME(AT_PARENT_ID));
  return parent ? content_db_get(s, parent) : nullptr;
}

didl_object *content_db_root(server_rec *s) { return content_db_at(s, db(s).root); }

int content_db_is_special(server_rec *s, const char *id) { return id && is_special(s, id); }

uint32_t content_db_system_update_id(server_rec *s) { return db(s).system_update_id; }

int content_db_children(server_rec *s, const didl_object *container, sys_ptralloc_rec *objects)
{
  content_entry *e = entry_of(s, container);
  return !e || compact(e) || encoded(e) || live_objects_append(s, &e->children, objects);
}

void content_db_made_mark_take(server_rec *s, content_db_made_mark *mark)
{
  auto *b = static_cast<made_block *>(db(s).made_room);
  *mark = {b, b ? b->used : 0, db(s).made.len};
}

void content_db_made_rewind(server_rec *s, const content_db_made_mark *mark)
{
  sys_ptralloc_rec &m = db(s).made;
  // Entries given objects of their own stay listed for the unlock.
  uint32_t kept = std::min(mark->made, m.len);
  for (uint32_t i = kept; i < m.len; i++) {
    auto *e = static_cast<content_entry *>(m.buf[i]);
    if (compact(e) || encoded(e)) e->object = nullptr;
    else m.buf[kept++] = e;
  }
  m.len = kept;
  made_room_rewind(s, mark->block, mark->used);
}

int content_db_made_holds(server_rec *s, const void *p)
{
  for (auto *b = static_cast<const made_block *>(db(s).made_room); b; b = b->next)
    if (std::less_equal<const void *>()(b->data, p) && std::less<const void *>()(p, b->data + b->used)) return 1;
  return 0;
}

uint32_t content_db_holder_position(server_rec *s, uint32_t position, content_db_parent_memo *memo, int *container)
{
  uint32_t count = db(s).index.len;
  *container = 0;
  if (position >= count) return count;
  content_entry *e = entry_at(s, position);
  uint64_t code = e->ref_parent;
  if (!compact(e)) {
    const didl_object *o = object_of(s, e);
    if (!o) return count;
    if ((*container = is_container(o))) return position;
    const char *parent = didl_attribute_get(&o->attributes, DIDL_NAME(AT_PARENT_ID));
    if (!parent) return count;
    if (!id_code(s, parent, false, &code)) return content_db_find(s, parent);
  }
  uint32_t slot = uint32_t((code ^ (code >> 13) ^ (code >> 31)) % CONTENT_DB_PARENT_MEMO);
  if (memo->position[slot] && memo->code[slot] == code) return memo->position[slot] - 1;
  uint32_t found = find_code(s, code);
  if (found < count && removed(entry_at(s, found))) found = count;
  memo->code[slot] = code;
  memo->position[slot] = found + 1;
  return found;
}

int content_db_child_positions(server_rec *s, const didl_object *container, sys_uint32alloc_rec *positions)
{
  content_entry *e = entry_of(s, container);
  if (!e || compact(e) || encoded(e)) return 1;
  const uint64_t *codes = content_id_list_codes(&e->children);
  for (uint32_t i = 0; i < content_id_list_len(&e->children); i++) {
    uint32_t pos = find_code(s, codes[i]);
    if (pos < db(s).index.len && !removed(entry_at(s, pos)) && !sys_uint32alloc_append(positions, pos)) return 0;
  }
  return 1;
}

int content_db_referencing(server_rec *s, const didl_object *object, sys_ptralloc_rec *objects)
{
  content_entry *e = entry_of(s, object);
  return !e || compact(e) || live_objects_append(s, &e->referenced, objects);
}

int content_db_list_text(server_rec *s, const didl_object *object, uint32_t which, sys_stralloc_rec *out)
{
  content_entry *e = entry_of(s, object);
  if (!e || compact(e) || !(e->flags & which)) return 0;
  out->len = 0;
  const content_id_list *l = which == CONTENT_ENTRY_HAS_CHILDREN ? &e->children : &e->referenced;
  return list_text(s, l, out) && sys_stralloc_append(out, "");
}

didl_object *content_db_own(server_rec *s, didl_object *o)
{
  content_entry *e = entry_of(s, o);
  return e && entry_expand(s, e) ? e->object : nullptr;
}

int content_db_bump(server_rec *s, didl_object *object, int parent_too, int references_too, int root_too)
{
  content_entry *e = entry_of(s, object);
  if (!e) return 0;
  bool ok = bump_container(s, e);
  if (references_too && !compact(e) && !is_container(object))
    for (uint32_t i = 0; ok && i < content_id_list_len(&e->referenced); i++) {
      content_entry *r = live_code(s, content_id_list_codes(&e->referenced)[i]);
      if (!r) continue;
      const didl_object *ro = compact(r) ? nullptr : object_of(s, r);
      ok = compact(r) ? bump_container(s, live_code(s, r->ref_parent))
                      : ro && bump_container(s, entry_of(s, content_db_parent(s, ro)));
    }
  if (ok && parent_too && e != entry_at(s, db(s).root))
    ok = bump_container(s, entry_of(s, content_db_parent(s, object)));
  if (ok && root_too && db(s).root < db(s).index.len) ok = bump_container(s, entry_at(s, db(s).root));
  system_update_id_read(s);
  return ok;
}

int content_db_container_update_ids(server_rec *s, sys_stralloc_rec *out)
{
  out->len = 0;
  const sys_ptralloc_rec &changed = db(s).changed;
  for (uint32_t i = 0; i < changed.len; i++) {
    content_entry *e = live_entry(s, static_cast<const char *>(changed.buf[i]));
    const char *v = e ? didl_attribute_get(&e->object->attributes, DIDL_NAME(AT_TARVO_CONTAINER_UPDATE_ID)) : nullptr;
    if (!v) continue;
    if ((out->len && !sys_stralloc_cats(out, ",")) || !sys_stralloc_cats(out, id_of(e->object)) ||
        !sys_stralloc_cats(out, ",") || !sys_stralloc_cats(out, v))
      return 0;
  }
  return sys_stralloc_append(out, "");
}

int content_db_event_body(server_rec *s, sys_stralloc_rec *out)
{
  own::stralloc ids;
  char number[CONTENT_DB_NUMBER_SIZE];
  number[sys_str_fmt_uint32(number, db(s).system_update_id)] = 0;
  return content_db_container_update_ids(s, &ids.s) && property_set_xml_begin(out) &&
         property_set_xml_add(out, "SystemUpdateID", number) &&
         property_set_xml_add(out, "ContainerUpdateIDs", ids.s.buf) && property_set_xml_end(out) &&
         sys_stralloc_append(out, "");
}

int content_db_reflect_take(server_rec *s, sys_str_list *ids)
{
  sys_ptralloc_rec &r = db(s).reflect;
  sys_ptralloc_rec out{};
  if (!sys_ptralloc_ready(&out, r.len + 1)) return 0;
  for (uint32_t i = 0; i < r.len; i++) {
    uint32_t pos = find_id(s, static_cast<const char *>(r.buf[i]));
    if (pos < db(s).index.len) entry_at(s, pos)->flags &= ~CONTENT_ENTRY_REFLECT;
    sys_ptralloc_append(&out, r.buf[i]);
  }
  sys_ptralloc_append(&out, nullptr);
  r.len = 0;
  *ids = reinterpret_cast<char **>(out.buf);
  return 1;
}

}  // extern "C"
