// Pieces shared by the source files of the content database.
#pragma once

#include "didl_impl.h"
#include "server_util.h"

#include <vennard/content_db.h>
#include <vennard/server.h>

#include <tarvo_util/sys_alloc.h>

#include <string_view>
#include <utility>
#include <vector>

namespace cdb {

inline content_db_rec &db(server_rec *s) { return s->content; }
inline content_entry *entry_at(server_rec *s, uint32_t i)
{
  return static_cast<content_entry *>(s->content.index.buf[i]);
}
inline bool removed(const content_entry *e) { return (e->flags & CONTENT_ENTRY_REMOVED) != 0; }
inline const char *id_of(const didl_object *o) { return o ? didl_attribute_get(&o->attributes, DIDL_NAME(AT_ID)) : nullptr; }
inline bool is_container(const didl_object *o) { return o && o->element == DIDL_NAME(EL_CONTAINER); }

// Digits only, nothing else: the value.  0 for anything else or more than
// 64 bits.
bool id_number(std::string_view id, uint64_t *value);
// A plain number that its decimal text gives back exactly: the codes of
// other ids have the top bit set.
bool canonical_number(std::string_view id, uint64_t *value);
// The id is one of the special containers' (conf/special_object).
bool is_special(server_rec *s, std::string_view id);
// The code of an id in a list: its value when it is a plain number, else
// the place of its text in the table (added when add is set).
bool id_code(server_rec *s, std::string_view id, bool add, uint64_t *code);
// Appends the id that a code stands for.
bool code_append(server_rec *s, uint64_t code, sys_stralloc_rec *out);
// The id that a code stands for: in buffer (CONTENT_DB_NUMBER_SIZE) for a
// number, else the table's text; nullptr for a code not in the table.
const char *code_text(server_rec *s, uint64_t code, char *buffer);

// Index positions, removed entries included; the count when absent.
uint32_t find_id(server_rec *s, std::string_view id);
uint32_t find_code(server_rec *s, uint64_t code);
// find_code and find_id for many look-ups in a row over an index that
// does not change meanwhile (the load's check), touching no entry: a
// table by number where the ids are dense, else the numbers of the
// entries after the root copied into one array and searched from the last
// hit on, as lists name their objects mostly in index order.  The
// constructor throws std::bad_alloc.
class position_finder {
public:
  explicit position_finder(server_rec *s);
  // hint: the caller's own for a run of look-ups, 0 at first.
  uint32_t code(uint64_t code, uint32_t *hint) const;
  uint32_t id(const char *id, uint32_t *hint) const;

private:
  uint32_t number(uint64_t v, uint32_t *hint) const;
  server_rec *s_;
  std::vector<uint64_t> numbers_;    // of the entries after the root, where ids are sparse
  std::vector<uint32_t> by_number_;  // place after the root plus one, 0 for none; where ids are dense
  std::vector<uint32_t> texts_;      // by place in the table of id texts
};
// The live entry of an id or of an object, or nullptr.
content_entry *live_entry(server_rec *s, std::string_view id);
content_entry *entry_of(server_rec *s, const didl_object *o);
content_entry *live_code(server_rec *s, uint64_t code);

// Compact reference items (CONTENT_ENTRY_COMPACT): their object is made
// only for a reader, and lives until the lock goes.
inline bool compact(const content_entry *e) { return (e->flags & CONTENT_ENTRY_COMPACT) != 0; }
// Items kept encoded (CONTENT_ENTRY_ENCODED): likewise made for a reader.
inline bool encoded(const content_entry *e) { return (e->flags & CONTENT_ENTRY_ENCODED) != 0; }
// The entry's object; a compact or encoded one's made for the holder of
// the lock (nullptr when that fails).
didl_object *object_of(server_rec *s, content_entry *e);
// A compact entry's attributes, in their order, with room for the texts
// of its ids; fill gives their count (0 for a code not in the table).
struct reference_attributes {
  char id[CONTENT_DB_NUMBER_SIZE], parent[CONTENT_DB_NUMBER_SIZE], target[CONTENT_DB_NUMBER_SIZE];
  void *names[5], *values[5];
  uint32_t fill(server_rec *s, const content_entry *e);
};
// A compact entry's object as a new record of the caller's.
didl_object *reference_make(server_rec *s, const content_entry *e);
// Makes the entry compact when its object is a reference item with
// nothing but its ids, else encoded when it is an item with a plain
// number for its id (the object is freed); otherwise leaves it.
void entry_compact(server_rec *s, content_entry *e);
// A new compact entry, not yet in the index, for an object of that
// shape; nullptr for any other object (or on exhaustion).
content_entry *compact_new(server_rec *s, const didl_object *o);
// The object has a value the load mends (a control byte, which the
// writer would refuse, becomes a blank).
bool object_mended(const didl_object *o);
// An item with a plain number for its id and no list of children is
// kept encoded (its object freed); any other entry is left.
void entry_encode(content_entry *e);
// A new encoded entry, not yet in the index, for an item as the file
// gives it (its tarvo:referenced taken into the entry's list), which the
// load keeps as it is (not dynamic, nothing mended); nullptr for an object
// that is not kept so (a container, an id that is not a plain number) or
// on exhaustion.
content_entry *encoded_new(server_rec *s, const didl_object *o);
// A compact or encoded entry becomes an ordinary one; false on
// exhaustion.  An encoded one is encoded again when the lock goes.
bool entry_expand(server_rec *s, content_entry *e);
// entry_expand of an encoded entry: a packed copy of its own.
bool encoded_expand(server_rec *s, content_entry *e);
// An entry given a new object under the lock: it is encoded when the lock
// goes, if it can be.
void entry_changed(server_rec *s, content_entry *e);
// Frees the objects made for the holder of the lock and encodes the items
// changed under it: call it before the lock goes.
void made_release(server_rec *s);
// Gives back the blocks kept for readers of large folders: when the
// holder of the lock has done with the library for a while (a save).
void made_trim(server_rec *s);
// made_release, then every block and the lists go (the index is freed).
void made_free(server_rec *s);

bool list_append(content_id_list *l, uint64_t code);
// Drops the last code (an append undone).
void list_pop(content_id_list *l);
void list_free(content_id_list *l);
// A comma-separated text into codes (an empty text is an empty list).
bool list_parse(server_rec *s, const char *text, content_id_list *l);
bool list_text(server_rec *s, const content_id_list *l, sys_stralloc_rec *out);
// Drops from a list the codes of entries that the destroy removed.
void list_close_up(server_rec *s, content_id_list *l);
// The objects of a list that still exist, appended in list order.
bool live_objects_append(server_rec *s, const content_id_list *l, sys_ptralloc_rec *objects);

// A zeroed entry and its release (content_db_pool.cpp keeps their
// storage); entry_free frees what the entry holds too.
content_entry *entry_new();
void entry_release(content_entry *e);
// A new entry for object at the end of the index (the object's id must be
// the largest); the entry owns the object once this succeeds.
content_entry *entry_append(server_rec *s, didl_object *object);
// With s, an encoding that made objects may still read is kept until
// the lock goes.
void entry_free(content_entry *e, server_rec *s = nullptr);
// Frees every entry and list of the index.
void index_free(server_rec *s);
// Frees the kept orders of children (content_db_order.cpp).
void orders_free(server_rec *s);
// Closes up the lists of the entries marked pending and the index after a
// destroy; the root's position follows.
void index_close_up(server_rec *s);
// The root's tarvo:containerUpdateID into the cache.
void system_update_id_read(server_rec *s);
// Counts a container up and enters it in the changed lists.
bool bump_container(server_rec *s, content_entry *e);
// Empties the changed list (its entries lose their mark).
void changed_clear(server_rec *s);

// The server's URL prefixes for 127.0.0.1 cut from the front of every URI
// value of the object.
bool url_prefixes_strip(server_rec *s, didl_object *o);
// Registers every res protocolInfo of the object with the
// ConnectionManager.
// With last, a shared value registered just before (kept there) is
// passed over: most resources share their protocolInfo with the last.
void protocol_infos_register(server_rec *s, const didl_object *o, const char **last = nullptr);

// The database file's text: the document with every object in index
// order, the kept lists written back as attributes.
// With file >= 0, the text is written to it whenever a part of
// CONTENT_DB_SAVE_CHUNK has been made, and out keeps what was not written.
bool serialise(server_rec *s, sys_stralloc_rec *out, int file = -1);

// The database file's own reader of its whole text (content_db_read.cpp),
// a didl::text_reader: false for what it leaves to expat.
bool file_text_read(const didl::parse_events &events, const char *text, size_t len);
// Reference items of a load held as compact entries from the start (no
// object packed for them), each with the count of objects read before it.
struct compact_taken_rec {
  server_rec *s;
  const char *registered;  // the shared protocolInfo value registered last
  std::vector<std::pair<uint32_t, content_entry *>> entries;
};
// Frees the entries not handed on (those set to nullptr are) and empties
// the list.
inline void compact_taken_clear(compact_taken_rec *t)
{
  for (auto &e : t->entries)
    if (e.second) entry_free(e.second);
  t->entries.clear();
}
using compact_taken = own::rec<compact_taken_rec, compact_taken_clear>;
// The objects of the database file's text: through file_text_read where
// it can, else through expat.  fast false: through expat only.  With
// taken, the reference items it can hold compactly go there instead.
bool file_objects(const char *text, size_t len, bool fast, sys_ptralloc_rec *objects, compact_taken *taken = nullptr);
// Room for didl::object_decode in a buffer that each object reuses: user
// is a std::vector<std::max_align_t>.
void *scratch_room(void *user, size_t n);

// The load's check of the index just built from a file (content_db_check.cpp):
// drops the objects that cannot be reached from the root and the
// reference items without a live target, and closes up the lists.
void links_check(server_rec *s);

}  // namespace cdb
