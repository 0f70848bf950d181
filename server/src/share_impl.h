// Pieces shared by the source files of the share scanner.
#pragma once

#include <vennard/content_db.h>
#include <vennard/server.h>
#include <vennard/share_scanner.h>

#include <tarvo_platform/subtree_watch.h>

#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_owner.h>

#include "server_util.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace scan {

using srv::object_owner;

// What tells two folders apart however they are reached.
struct identity {
  uint64_t dev = 0;
  uint64_t ino = 0;
  bool valid = false;
  bool operator==(const identity &o) const { return valid && o.valid && dev == o.dev && ino == o.ino; }
};
// The identity of the folder at path (symbolic links followed); invalid
// for anything that is not a folder.
identity identity_of(const std::string &path);

struct share_rec;

// A folder of a share as the walk knows it: its container, its identity,
// and whether it has gone (done).
struct folder_rec {
  share_rec *share;
  folder_rec *parent;
  std::string path;
  std::string container_id;
  identity id;
  bool done = false;
  std::vector<folder_rec *> children; // its subfolders' records
};

struct share_rec {
  std::string path;
  std::string container_id;
  identity id;
  folder_rec *root = nullptr;
  bool removed = false;
  bool signalled = false;   // its folders changed, or a walk was cut short
  int watch_root = -1;      // its root on the scanner's watch, once a folder is watched
  int path_root = -1;       // the root that watches the folders above it, with watch_root
};

// The category containers: the root containers' children by title.
enum category_list {
  CAT_MUSIC_ARTIST,
  CAT_MUSIC_GENRE,
  CAT_MUSIC_ALBUM,
  CAT_VIDEO_ACTOR,
  CAT_VIDEO_GENRE,
  CAT_VIDEO_ALBUM,
  CAT_PICTURES_ALBUM,
  CAT_USER_FILES,
  CAT_COUNT
};
extern const char *const kCategoryRoots[CAT_COUNT];
inline constexpr const char *kPlaylistRoot = "Container:MusicPlaylist";
struct category {
  std::string id;
};
// A category list by its titles in lower case: each file of a scan looks
// its values up there.
using category_map = std::unordered_map<std::string, category>;

struct tag_pool;

// The scanner thread's state (share_scanner_rec.state).
struct state {
  server_rec *s = nullptr;
  sys_thread_handle thread{};
  bool thread_started = false;
  subtree_watch_rec *watch = nullptr;  // the shares' folders and sync/share
  int list_root = -1;                  // sync/share on it
  bool list_signalled = false;
  std::vector<std::unique_ptr<share_rec>> shares;
  std::vector<std::unique_ptr<folder_rec>> queue;
  category_map categories[CAT_COUNT];
  tag_pool *pool = nullptr;  // the tagging threads
};

inline state *state_of(server_rec *s) { return static_cast<state *>(s->scanner.state); }

// The flags other threads raise; read atomically.
bool stopping(server_rec *s);
bool restart_raised(server_rec *s);
void restart_clear(server_rec *s);
bool recheck_take(server_rec *s);
bool recheck_raised(server_rec *s);
// Stop or restart: a walk ends at the next folder or entry.
inline bool cut_short(server_rec *s) { return stopping(s) || restart_raised(s); }

// The content-database lock for a scope.
struct db_lock {
  server_rec *s;
  bool held;
  explicit db_lock(server_rec *srv) : s(srv), held(content_db_lock(srv) != 0) {}
  ~db_lock() { release(); }
  void release()
  {
    if (held) content_db_unlock(s);
    held = false;
  }
  db_lock(const db_lock &) = delete;
  db_lock &operator=(const db_lock &) = delete;
};

// --- objects ---

const char *object_id(const didl_object *o);
// The text of the first property of that element, or nullptr.
const char *property_text(const didl_object *o, const char *element);
const char *object_class(const didl_object *o);
void properties_remove(didl_object *o, const char *element);
bool class_derived(const didl_object *o, const char *base);
// The object as the text of a new object: the document with id "",
// restricted "0" and parentID parent_id; NUL-terminated.
bool new_object_text(const didl_object *o, const char *parent_id, sys_stralloc_rec *out);
// Creates a copy of o under parent (takes the lock); *id the new id.
uint32_t object_create(server_rec *s, const didl_object *o, const std::string &parent, std::string *id);
// One property as a piece of an UpdateObject tag-value list.
bool property_piece(const didl_property *p, std::string *out);
// One UpdateObject of the live object id (under the lock): each pair is a
// current and a new piece, either may be empty.
uint32_t pieces_update(server_rec *s, const std::string &id,
                       const std::vector<std::pair<std::string, std::string>> &pairs);
// Makes the live object id carry fresh's title and properties (under the
// lock), leaving out the class, the storage and the class-list properties.
uint32_t object_take_over(server_rec *s, const std::string &id, const didl_object *fresh);
// Destroys every item that refers to id, the last first (under the lock).
bool references_destroy(server_rec *s, const std::string &id);
// The ids of a container's children (under the lock).
std::vector<std::string> children_ids(server_rec *s, const didl_object *container);
// The file's timestamp: the later of its modification and creation times.
int64_t file_timestamp(int64_t mtime, int64_t ctime);

// --- the walk ---

// A child of a walked folder's container that nothing on disk matched is
// one of a vanished file or subfolder (share_vanished.cpp): a res names a
// file of the folder (prefix: its path and "/"), or it is a container that
// a subfolder's record names or that holds the objects of files below.
bool stood_for_on_disk(server_rec *s, const didl_object *o, const std::string &prefix, bool subfolder_record);

// The display name of a folder: its last component ("/" for the root).
std::string folder_display_name(const std::string &path);
// Skipped names: hidden ones, and those that would not survive XML.
bool name_skipped(std::string_view name);
// Walks a share's queued folders, appending new ones; false when cut
// short.
bool share_walk(state *st, share_rec *sh);
// Queues the root folder of a new share and walks it.
void share_scan(state *st, share_rec *sh);
// The share's queue entries (its folders) are done, and leave the queue.
void share_forget(state *st, share_rec *sh);

// --- the tagging threads ---

// A file whose item a tagging thread reads ahead of the walk.
struct tag_job {
  std::string path;
  std::string mime;
  bool queued = false;          // handed to the threads and not taken back
  // Under the pool's mutex while queued:
  int phase = 0;
  bool ok = false;              // share_item_read's result
  didl_object *item = nullptr;  // its item, owned by the job
  ~tag_job();
};

bool tag_pool_open(state *st);
// Queues the job for the threads, which start on the first one; false
// when there are none (the walk reads the file itself).
bool tag_pool_submit(state *st, tag_job *job);
// Takes a submitted job back: true once a thread has read it (ok and item
// set), false when none had begun it (it leaves the queue, and the walk
// reads the file itself) or it was never submitted.
bool tag_pool_take(state *st, tag_job *job);
// Ends the threads (after the last walk).
void tag_pool_close(state *st);

// --- items and playlists ---

// The item of a file as the metadata library gives it, with its file name
// and timestamp, before the plug-ins see it; no state of the server is
// touched, so any thread may call it.
bool share_item_read(const char *path, const char *mime, didl_object **item);
// Adds the item of a new file under the folder's container; 0, or the
// code of the item's own failure.  job: the file read ahead, or nullptr.
uint32_t item_add(state *st, const std::string &container, const std::string &path, const char *mime,
                  tag_job *job = nullptr);
// Renews the item id from its changed file.
uint32_t item_update(state *st, const std::string &id, const std::string &path, const char *mime,
                     tag_job *job = nullptr);
// A playlist file: its container under the folder's container with an
// item per entry, and its container under Container:MusicPlaylist.
uint32_t playlist_add(state *st, const std::string &container, const std::string &path, const didl_object *item);
uint32_t playlist_update(state *st, const std::string &id, const std::string &path, const didl_object *item);

// --- categories ---

bool categories_load(state *st);
// Files the item id into its categories; failures leave it where it is.
void categories_file(state *st, const std::string &id);
void categories_remove_empty(state *st);
// The containers under Container:MusicPlaylist that refer to nothing go
// (under the lock).
void playlists_remove_empty(server_rec *s);
// Renews the containers whose properties follow their children.
void reflect_update(state *st);

// --- watches ---

bool watch_open(state *st);
void watch_close(state *st);
void watch_list_add(state *st, const std::string &folder);
void watch_folder_add(state *st, share_rec *sh, const std::string &path);
void watch_share_drop(state *st, share_rec *sh);
// Waits up to ms (negative: without limit) for a change; true when
// something is signalled (the watches' flags are set).
bool watch_wait(state *st, int ms);
// Reads what the watches reported so far without waiting.
void watch_poll(state *st);
void wake(state *st);

}  // namespace scan
