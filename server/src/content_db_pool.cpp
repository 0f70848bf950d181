// The storage of the index's entries: chunks of their own, aligned to
// their size, from which entries are handed out and taken back.
#include "content_db_impl.h"

#include <vennard/vennard_limits.h>

#include <cstdlib>
#include <mutex>
#include <new>

namespace {

// Entries come from chunks aligned to their size: there is one for every
// object, and from the allocator each would cost a header and rounding
// on top of its own bytes.  The chunk of an entry is found from its
// address; a chunk whose entries are all freed goes back.
static_assert((CONTENT_DB_ENTRY_CHUNK & (CONTENT_DB_ENTRY_CHUNK - 1)) == 0, "an entry's chunk is found from its address");

struct entry_chunk {
  entry_chunk *prev, *next;  // among the chunks with room
  void *free;                // freed slots, each holding the next
  uint32_t live, fresh;      // slots in use; slots handed out at least once
};

constexpr uint32_t kEntriesPerChunk = uint32_t((CONTENT_DB_ENTRY_CHUNK - sizeof(entry_chunk)) / sizeof(content_entry));

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
    c = p.spare ? p.spare : static_cast<entry_chunk *>(std::aligned_alloc(CONTENT_DB_ENTRY_CHUNK, CONTENT_DB_ENTRY_CHUNK));
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
  auto *c = reinterpret_cast<entry_chunk *>(reinterpret_cast<uintptr_t>(e) & ~uintptr_t(CONTENT_DB_ENTRY_CHUNK - 1));
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

}  // namespace cdb
