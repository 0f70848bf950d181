// The objects made for the holder of the lock: compact references and
// encoded items made in mapped blocks of the database's own, emptied when
// the lock goes, and a reader's marks of what it has made.
#include "content_db_impl.h"

#include <vennard/vennard_limits.h>

#include <tarvo_util/sys_str.h>

#include <sys/mman.h>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <utility>

namespace cdb {

namespace {

// The objects made for the holder of the lock live in blocks of their
// own, emptied at once when the lock goes: no allocation per object.  The
// newest block is first; the oldest is kept for the next holder.  Blocks
// are mapped whole, their pages at once, and unmapped when let go, so a
// reader of the whole library leaves nothing of its peak behind.
struct made_block {
  made_block *next;
  size_t used;
  alignas(std::max_align_t) char data[CONTENT_DB_MADE_BLOCK];
};

size_t aligned(size_t n) { return (n + alignof(std::max_align_t) - 1) & ~(alignof(std::max_align_t) - 1); }

made_block *block_map()
{
  void *m = mmap(nullptr, sizeof(made_block), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  return m == MAP_FAILED ? nullptr : static_cast<made_block *>(m);
}

void block_unmap(made_block *b)
{
  if (!b) return;
  // Poisoned shadow would outlive the pages and lie over a later mapping.
  DIDL_UNPOISON(b, sizeof *b);
  munmap(b, sizeof *b);
}

using block_owner = own::ptr<made_block, block_unmap>;

// An emptied block goes onto a chain.  What was made in it is gone with
// the lock: a reader that kept it is found out under the address
// sanitizer.
void block_push(made_block *b, made_block **chain)
{
  b->used = 0;
  DIDL_POISON(b->data, sizeof b->data);
  b->next = *chain;
  *chain = b;
}

void *made_room(server_rec *s, size_t n)
{
  n = aligned(n);
  auto *b = static_cast<made_block *>(db(s).made_room);
  if (n > CONTENT_DB_MADE_BLOCK) return nullptr;
  if (!b || CONTENT_DB_MADE_BLOCK - b->used < n) {
    auto *fresh = static_cast<made_block *>(db(s).made_spare);
    if (fresh) db(s).made_spare = fresh->next;
    else if (!(fresh = block_map())) return nullptr;
    fresh->next = b;
    fresh->used = 0;
    DIDL_POISON(fresh->data, sizeof fresh->data);
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
  for (auto *b = static_cast<made_block *>(d.made_room); b; used++) block_push(std::exchange(b, b->next), &spare);
  if (used > 1) d.made_busy = CONTENT_DB_MADE_BUSY_HOLDS;
  else if (d.made_busy) d.made_busy--;
  keep = std::min(keep, d.made_busy ? size_t(CONTENT_DB_MADE_KEPT) : size_t(1));
  made_block *kept = nullptr;
  for (size_t n = 0; spare; n++) {
    block_owner b(std::exchange(spare, spare->next));
    if (n < keep) {
      b.p->next = kept;
      kept = b.release();
    }
  }
  d.made_room = nullptr;
  d.made_spare = kept;
}

// The blocks go back to where they stood at a mark: newer ones to the
// spares, the mark's own to the bytes it had used.
void made_room_rewind(server_rec *s, void *block, size_t used)
{
  content_db_rec &d = db(s);
  auto *b = static_cast<made_block *>(d.made_room), *spare = static_cast<made_block *>(d.made_spare);
  while (b && b != block) block_push(std::exchange(b, b->next), &spare);
  d.made_room = b;
  d.made_spare = spare;
  if (!b) return;
  DIDL_POISON(b->data + used, b->used - used);
  b->used = used;
}

// The last room made_room gave shrinks to n bytes.
void made_room_keep(server_rec *s, const char *room, size_t n)
{
  auto *b = static_cast<made_block *>(db(s).made_room);
  b->used = size_t(room - b->data) + aligned(n);
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

void made_free(server_rec *s)
{
  content_db_rec &d = db(s);
  made_release(s);
  sys_ptralloc_free(&d.made);
  sys_ptralloc_free(&d.retired);
  d.made = d.retired = sys_ptralloc_rec{};
  made_room_release(s, 0);
}

}  // namespace cdb

using namespace cdb;

extern "C" {

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

}  // extern "C"
