// The content database file: loading data.xml (or rebuilding it from
// data_default.xml), saving it, the save thread with its events, and the
// database's start and stop.
#include "content_db_impl.h"

#include <vennard/conf_store.h>
#include <vennard/media_http.h>
#include <vennard/plugin.h>
#include <vennard/share_scanner.h>
#include <vennard/vennard_limits.h>

#include <tarvo_device/tarvo_device.h>
#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_log.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/utf8file.h>
#include <tarvo_util/xml.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <malloc.h>
#include <vector>

using namespace cdb;

namespace {

constexpr const char *kContentDirectory = "urn:upnp-org:serviceId:ContentDirectory";

std::atomic_ref<int32_t> stopping(server_rec *s) { return std::atomic_ref<int32_t>(s->content.stopping); }

struct paths {
  own::str data, tmp, deflt, bad, share, share_default, share_tmp;
  bool make(const char *home)
  {
    return conf_key_path(home, CONF_KEY_CONTENT_DB, &data.s) && conf_key_path(home, CONF_KEY_CONTENT_DB_TMP, &tmp.s) &&
           conf_key_path(home, CONF_KEY_CONTENT_DB_DEFAULT, &deflt.s) &&
           conf_key_path(home, CONF_KEY_CONTENT_DB ".bad", &bad.s) &&
           conf_key_path(home, CONF_KEY_SHARE_DATA, &share.s) &&
           conf_key_path(home, CONF_KEY_SHARE_DATA "_default", &share_default.s) &&
           conf_key_path(home, CONF_KEY_SHARE_DATA "_tmp", &share_tmp.s);
  }
};

// --- building the index from the objects of the file ---

// Special objects (ids that are not numbers) come first in file order,
// then the root, then ascending numbers.
struct ranked {
  content_entry *e;
  int group;
};

bool lists_take(server_rec *s, content_entry *e)
{
  if (compact(e) || encoded(e)) return true;
  const struct {
    const char *name;
    content_id_list *list;
    uint32_t flag;
  } lists[] = {{DIDL_NAME(AT_TARVO_CHILDREN), &e->children, CONTENT_ENTRY_HAS_CHILDREN},
               {DIDL_NAME(AT_TARVO_REFERENCED), &e->referenced, CONTENT_ENTRY_HAS_REFERENCED}};
  for (const auto &l : lists) {
    const char *text = didl_attribute_get(&e->object->attributes, l.name);
    if (!text) continue;
    if (!list_parse(s, text, l.list)) return false;
    didl_attribute_remove(&e->object->attributes, l.name);
    e->flags |= l.flag;
  }
  if (e->flags & (CONTENT_ENTRY_HAS_CHILDREN | CONTENT_ENTRY_HAS_REFERENCED)) didl_object_fit(e->object);
  return true;
}

// Takes every object of objects (which it frees) and the compact entries
// of taken, in the order they were read; on failure the index stays empty.
bool index_build(server_rec *s, sys_ptralloc_rec *objects, compact_taken *taken)
{
  content_db_rec &d = db(s);
  std::vector<ranked> v;
  bool ok = true, root_seen = false;
  try {
    v.reserve(size_t(objects->len) + taken->entries.size());
  } catch (...) {
    ok = false;
  }
  // reserve made the room: the compact entries go in without a throw.
  size_t next = 0;
  auto compacts_before = [&](uint32_t position) {
    for (; next < taken->entries.size() && taken->entries[next].first <= position; next++)
      if (ok) v.push_back({std::exchange(taken->entries[next].second, nullptr), 2});
  };
  for (uint32_t i = 0; i < objects->len; i++) {
    compacts_before(i);
    auto *o = static_cast<didl_object *>(objects->buf[i]);
    content_entry *e = ok ? entry_new() : nullptr;
    if (!e) {
      didl_object_free(o);
      ok = false;
      continue;
    }
    e->object = o;
    const char *id = id_of(o);
    int group = 0;
    if (id && !std::strcmp(id, "0") && !root_seen) {
      group = 1;
      root_seen = true;
    } else if (id && id_number(id, &e->number)) {
      group = 2;
    }
    v.push_back({e, group});
  }
  compacts_before(objects->len);
  compact_taken_clear(taken);  // those not taken on a failure
  objects->len = 0;
  sys_ptralloc_free(objects);
  auto before = [](const ranked &a, const ranked &b) {
    return a.group != b.group ? a.group < b.group : a.group == 2 && a.e->number < b.e->number;
  };
  if (ok && !std::is_sorted(v.begin(), v.end(), before)) std::stable_sort(v.begin(), v.end(), before);
  ok = ok && root_seen && sys_ptralloc_ready(&d.index, uint32_t(v.size()));
  for (const ranked &r : v) {
    if (ok) {
      sys_ptralloc_append(&d.index, r.e);
      if (r.group == 1) d.root = d.index.len - 1;
    } else {
      entry_free(r.e);
    }
  }
  if (!ok) return false;
  const didl_attributes *ra = &entry_at(s, d.root)->object->attributes;
  if (!didl_attribute_get(ra, DIDL_NAME(AT_TARVO_CONTAINER_UPDATE_ID))) return false;
  for (uint32_t i = 0; i < d.index.len; i++)
    if (!lists_take(s, entry_at(s, i))) return false;
  // New ids must be the largest: a counter behind the ids of the file
  // would hand out ids that are there already.
  uint64_t max = 0;
  const char *m = didl_attribute_get(ra, DIDL_NAME(AT_TARVO_MAX_OBJECT_ID));
  if (m) sys_str_scan_uint64(m, &max);
  if (d.index.len > d.root + 1) max = std::max(max, entry_at(s, d.index.len - 1)->number);
  d.max_object_id = max;
  system_update_id_read(s);
  return true;
}

bool objects_load(server_rec *s, const char *path)
{
  sys_ptralloc_rec objects{};
  compact_taken taken;
  taken.s = s;
  const char *text = nullptr;
  uint64_t size = 0;
  // A file too large to hold whole is read in pieces.
  bool mapped = file_map_all(path, FILE_READ_ALL_MAX, &text, &size);
  bool ok = mapped ? file_objects(text, size_t(size), true, &objects, &taken) : didl_parse(path, 0, &objects);
  // The text goes before the index is built on the objects.
  if (mapped) file_unmap(text, size);
  if (!ok) return false;
  if (index_build(s, &objects, &taken)) {
    links_check(s);
    return true;
  }
  index_free(s);
  return false;
}

}  // namespace

namespace {

// The protocolInfos are registered as the objects are read, in the file's
// order, but for the objects the load mends or makes again: those at its
// end.
bool compact_take(void *user, const didl_object *o, uint32_t position)
{
  auto *t = static_cast<compact_taken *>(user);
  // A compact reference has no resources.
  content_entry *e = compact_new(t->s, o);
  if (!e && !didl_property_first(o, DIDL_NAME(EL_TARVO_DYNAMIC)) && !object_mended(o)) {
    protocol_infos_register(t->s, o, &t->registered);
    e = encoded_new(t->s, o);
  }
  if (!e) return false;
  try {
    t->entries.emplace_back(position, e);
  } catch (...) {
    entry_free(e);
    return false;  // kept as an object
  }
  return true;
}

// A stop during the load ends it, a large file taking a while: the
// database's own, or the service's while a start loads.
bool load_given_up(server_rec *s)
{
  return stopping(s).load(std::memory_order_relaxed) ||
         std::atomic_ref<int32_t>(s->stop_asked).load(std::memory_order_relaxed);
}

bool load_stopped(void *user) { return load_given_up(static_cast<compact_taken *>(user)->s); }

}  // namespace

bool cdb::file_objects(const char *text, size_t len, bool fast, sys_ptralloc_rec *objects, compact_taken *taken)
{
  didl::object_filter filter{compact_take, taken, load_stopped};
  const didl::object_filter *f = taken ? &filter : nullptr;
  if (fast && didl::parse_text(text, len, false, file_text_read, objects, f)) return true;
  // What the fast reader took before it gave up is read again, unless the
  // server stops.
  if (taken) compact_taken_clear(taken);
  return !(taken && load_stopped(taken)) && didl::parse_text(text, len, false, nullptr, objects, f);
}

namespace {

// --- rebuilding from the defaults ---

bool file_copy(const char *from, const char *to)
{
  int in = -1, out = -1;
  if (!utf8file_open_read(&in, from)) return false;
  bool ok = utf8file_open_trunc(&out, to);
  char buf[CONTENT_DB_COPY_BLOCK];
  for (;;) {
    uint32_t got = 0;
    if (!ok || !(ok = sys_file_read(in, buf, sizeof buf, &got)) || !got) break;
    ok = sys_file_allwrite(out, buf, got);
  }
  ok = ok && sys_file_flush(out);
  sys_file_close(in);
  if (out >= 0) ok = sys_file_close(out) && ok;
  return ok;
}

// Copies a folder's tree file by file; links are not followed.
bool tree_copy(const std::filesystem::path &from, const std::filesystem::path &to)
{
  std::error_code ec;
  if (!std::filesystem::create_directory(to, ec) && ec) return false;
  std::filesystem::directory_iterator it(from, ec), end;
  if (ec) return false;
  for (; it != end; it.increment(ec)) {
    if (ec) return false;
    std::filesystem::file_status st = it->symlink_status(ec);
    if (ec) return false;
    std::filesystem::path target = to / it->path().filename();
    if (std::filesystem::is_directory(st)) {
      if (!tree_copy(it->path(), target)) return false;
    } else if (std::filesystem::is_regular_file(st)) {
      if (!file_copy(it->path().c_str(), target.c_str())) return false;
    }
  }
  return !ec;
}

// The share data go back to their defaults (none when there are no
// defaults): the shares they named lived in the database that failed.
bool share_data_reset(const paths &p)
{
  std::error_code ec;
  std::filesystem::remove_all(p.share_tmp.s, ec);
  if (ec) return false;
  bool ok = std::filesystem::is_directory(p.share_default.s, ec)
                ? tree_copy(p.share_default.s, p.share_tmp.s)
                : std::filesystem::create_directory(p.share_tmp.s, ec);
  if (!ok) return false;
  std::filesystem::remove_all(p.share.s, ec);
  return !ec && utf8file_rename(p.share_tmp.s, p.share.s);
}

bool rebuild(server_rec *s, const paths &p)
{
  // The file that failed is kept beside the new one.
  sys_file_stat_rec st;
  if (utf8file_stat(p.data.s, &st) && !utf8file_rename(p.data.s, p.bad.s)) return false;
  if (!share_data_reset(p)) return false;
  if (!file_copy(p.deflt.s, p.tmp.s) || !utf8file_rename(p.tmp.s, p.data.s)) {
    utf8file_remove(p.tmp.s);
    return false;
  }
  return objects_load(s, p.data.s);
}

// --- dynamic objects ---

// An object made again from its file at every start: its properties come
// fresh from the file, the stored resource paths stay.  One whose file
// cannot be had keeps what was stored.
void dynamic_renew(server_rec *s, content_entry *e)
{
  didl_object *o = e->object;
  if (!didl_property_first(o, DIDL_NAME(EL_TARVO_DYNAMIC))) return;
  const char *path = nullptr;
  for (uint32_t i = 0; !path && i < o->properties.len; i++) {
    auto *p = static_cast<didl_property *>(o->properties.buf[i]);
    if (p->element == DIDL_NAME(EL_RES)) path = didl_attribute_get(&p->attributes, DIDL_NAME(AT_TARVO_FILENAME));
  }
  sys_file_stat_rec st;
  own::str mime;
  didl_object *fresh = nullptr;
  if (!path || !utf8file_stat(path, &st) || st.is_dir || !conf_mimetype(s->data_home, path, &mime.s) ||
      !share_item_make(s, path, mime.s, &fresh))
    return;
  uint32_t from = 0;
  for (uint32_t i = 0; i < fresh->properties.len; i++) {
    auto *p = static_cast<didl_property *>(fresh->properties.buf[i]);
    if (p->element != DIDL_NAME(EL_RES)) continue;
    while (from < o->properties.len && static_cast<didl_property *>(o->properties.buf[from])->element != DIDL_NAME(EL_RES))
      from++;
    if (from == o->properties.len) break;
    auto *old = static_cast<didl_property *>(o->properties.buf[from++]);
    std::swap(p->text, old->text);
  }
  std::swap(o->properties, fresh->properties);
  didl_object_free(fresh);
}

// A value that the writer refuses would make every later save fail: the
// control characters that a file can hold as character references (tab,
// line feed, carriage return) become blanks.
void value_mend(char *v)
{
  if (xml_gen_is_legal_value(v)) return;
  for (char *c = v; *c; c++)
    if (static_cast<unsigned char>(*c) < 0x20) *c = ' ';
}

void attributes_mend(didl_attributes *a)
{
  for (uint32_t i = 0; i < a->values.len; i++) value_mend(static_cast<char *>(a->values.buf[i]));
}

void object_mend(didl_object *o)
{
  attributes_mend(&o->attributes);
  for (uint32_t i = 0; i < o->properties.len; i++) {
    auto *p = static_cast<didl_property *>(o->properties.buf[i]);
    attributes_mend(&p->attributes);
    value_mend(p->text);
  }
}

// --- saving ---

// The rest of the text, then the file in place of the last one.
bool file_finish(int fd, const char *tmp, const char *path, const sys_stralloc_rec *text, bool ok)
{
  ok = ok && sys_file_allwrite(fd, text->buf, text->len) && sys_file_flush(fd);
  ok = sys_file_close(fd) && ok;
  ok = ok && utf8file_rename(tmp, path);
  if (!ok) utf8file_remove(tmp);
  return ok;
}

bool changed_since_save(server_rec *s)
{
  if (!sys_mutex_lock(&db(s).mutex)) return false;
  bool changed = db(s).system_update_id != db(s).saved_update_id;
  sys_mutex_unlock(&db(s).mutex);
  return changed;
}

// The ContentDirectory event, while the device stack runs: the body is
// made and the changed list emptied under the lock, the event sent after.
void event_send(server_rec *s)
{
  if (!server_device_enter(s)) return;
  own::stralloc body;
  bool send = false;
  if (content_db_lock(s)) {
    content_db_rec &d = db(s);
    if (d.system_update_id != d.evented_update_id && content_db_event_body(s, &body.s)) {
      changed_clear(s);
      d.evented_update_id = d.system_update_id;
      send = true;
    }
    content_db_unlock(s);
  }
  if (send) tarvo_device_event_notify(&s->device, kContentDirectory, body.s.buf);
  server_device_leave(s);
}

using save_clock = std::chrono::steady_clock;

// Saves within a period of a change and sends the event every second
// period, on a grid of periods from the thread's start.  With nothing to
// save or send it sleeps until a change or the stop wakes it.
void save_loop(void *arg)
{
  auto *s = static_cast<server_rec *>(arg);
  const auto period = std::chrono::milliseconds(CONTENT_DB_SAVE_PERIOD_MS);
  const save_clock::time_point start = save_clock::now();
  uint64_t pass = 1;
  while (!stopping(s).load()) {
    save_clock::time_point due = start + period * pass, now = save_clock::now();
    if (now - due >= period) {
      // After an idle spell the grid goes on from now.
      pass = uint64_t((now - start) / period) + 1;
      continue;
    }
    if (now < due) {
      bool idle = !content_db_work_pending(s);
      uint32_t ms = uint32_t(std::chrono::ceil<std::chrono::milliseconds>(due - now).count());
      bool woken = sys_semaphore_wait(&db(s).save_wake, idle ? 0 : std::max<uint32_t>(ms, 1)) != 0;
      if (stopping(s).load()) break;
      if (woken) continue;  // a change: on to the next point of the grid
    }
    // A save that fails (a full disk) is tried again in the next period.
    if (changed_since_save(s)) content_db_save(s);
    if (pass % 2 == 0) event_send(s);
    pass++;
  }
  if (changed_since_save(s) && !content_db_save(s)) {
    sys_log_print(SYS_LOG_CRITICAL, "content database: the changes since the last save are lost at the stop");
    db(s).last_save_failed = 1;
  }
}

void strings_free(sys_ptralloc_rec *pa)
{
  for (uint32_t i = 0; i < pa->len; i++) sys_alloc_free(pa->buf[i]);
  sys_ptralloc_free(pa);
  *pa = sys_ptralloc_rec{};
}

// Everything the database holds, in any state of a start.
void release(server_rec *s)
{
  content_db_rec &d = db(s);
  index_free(s);
  strings_free(&d.changed);
  strings_free(&d.reflect);
  strings_free(&d.special);
  strings_free(&d.id_texts);
  plugins_unload(s);
  if (d.mutex) sys_mutex_destroy(&d.mutex);
  if (d.share_mutex) sys_mutex_destroy(&d.share_mutex);
  if (d.save_mutex) sys_mutex_destroy(&d.save_mutex);
  if (d.save_wake) sys_semaphore_destroy(&d.save_wake);
  d.mutex = d.share_mutex = d.save_mutex = nullptr;
  d.save_wake = nullptr;
}

}  // namespace

extern "C" {

int content_db_load(server_rec *s)
{
  paths p;
  if (!p.make(s->data_home)) return 0;
  index_free(s);
  // A load that a stop ended leaves the file as it is.
  if (!objects_load(s, p.data.s) && (load_given_up(s) || !rebuild(s, p))) return 0;
  for (uint32_t i = 0; i < db(s).index.len; i++) {
    if (compact(entry_at(s, i)) || encoded(entry_at(s, i))) continue;  // made so by the read
    dynamic_renew(s, entry_at(s, i));
    object_mend(entry_at(s, i)->object);
    protocol_infos_register(s, entry_at(s, i)->object);
    entry_compact(s, entry_at(s, i));
  }
  // What was loaded is what the file holds and what clients were told.
  db(s).saved_update_id = db(s).evented_update_id = db(s).system_update_id;
  return 1;
}

// The text goes to the file in parts as it is made, under both locks:
// the whole document of a large library is never held.
int content_db_save(server_rec *s)
{
  content_db_rec &d = db(s);
  paths p;
  own::stralloc text;
  int fd = -1;
  if (!p.make(s->data_home) || !sys_mutex_lock(&d.save_mutex)) return 0;
  bool ok = utf8file_open_trunc(&fd, p.tmp.s);
  uint32_t id = 0;
  if (ok && (ok = sys_mutex_lock(&d.mutex))) {
    ok = serialise(s, &text.s, fd);
    id = d.system_update_id;
    // A save comes when the changes have stopped for a while.
    made_trim(s);
    sys_mutex_unlock(&d.mutex);
  }
  if (fd >= 0) ok = file_finish(fd, p.tmp.s, p.data.s, &text.s, ok);
  // Logged when saving starts or stops failing, not at each retry.
  if (d.save_failing != !ok)
    sys_log_print(ok ? SYS_LOG_NOTICE : SYS_LOG_ERROR,
                  ok ? "content database: %s saved again" : "content database: %s cannot be saved; kept, tried again",
                  p.data.s);
  d.save_failing = !ok;
  sys_mutex_unlock(&d.save_mutex);
  if (ok && sys_mutex_lock(&d.mutex)) {
    d.saved_update_id = id;
    sys_mutex_unlock(&d.mutex);
  }
  return ok;
}

int content_db_open(server_rec *s, const char *data_home)
{
  content_db_rec &d = db(s);
  // Buffers of the database file and of long answers go straight back to
  // the system when freed, rather than staying in the heap they grew.
  mallopt(M_MMAP_THRESHOLD, CONTENT_DB_MMAP_THRESHOLD);
  own::str conf;
  bool ok = sys_mutex_create(&d.mutex) && sys_mutex_create(&d.share_mutex) && sys_mutex_create(&d.save_mutex) &&
            sys_semaphore_create(&d.save_wake, 0, 1) && plugins_load(s) &&
            conf_list_append(data_home, CONF_KEY_SPECIAL_OBJECT, &d.special) && conf_dir_path(data_home, &conf.s) &&
            sys_mutex_lock(&d.mutex);
  if (!ok) {
    release(s);
    return 0;
  }
  // A code of a plain number is looked up as one unless a special
  // object's id is such a number.
  d.special_numbers = 0;
  for (uint32_t i = 0; i < d.special.len; i++) {
    uint64_t v;
    if (id_number(static_cast<const char *>(d.special.buf[i]), &v)) d.special_numbers = 1;
  }
  // Temporary files of writes that never finished; one that cannot be
  // removed is overwritten by its next write.
  conf_dot_entries_remove(conf.s);
  return 1;
}

int content_db_open_finish(server_rec *s, const char *data_home, const char *server_name)
{
  content_db_rec &d = db(s);
  // The media server is up before the lock goes: the answers that waited
  // for the load carry its URLs.
  bool ok = content_db_load(s) && media_http_start(s, data_home, server_name);
  if (!ok) stopping(s).store(1);
  made_release(s);
  sys_mutex_unlock(&d.mutex);
  if (ok) {
    d.save_thread_running = sys_thread_create(&d.save_thread, save_loop, s);
    if (!d.save_thread_running) {
      stopping(s).store(1);
      media_http_stop(s);
      ok = false;
    }
  }
  return ok;
}

void content_db_open_abandon(server_rec *s)
{
  stopping(s).store(1);
  made_release(s);
  sys_mutex_unlock(&db(s).mutex);
}

int content_db_start(server_rec *s, const char *data_home, const char *server_name)
{
  if (!content_db_open(s, data_home)) return 0;
  if (content_db_open_finish(s, data_home, server_name)) return 1;
  content_db_stop(s);
  stopping(s).store(0);
  return 0;
}

int content_db_stop(server_rec *s)
{
  content_db_rec &d = db(s);
  if (sys_mutex_lock(&d.mutex)) {
    stopping(s).store(1);
    sys_mutex_unlock(&d.mutex);
  } else {
    stopping(s).store(1);
  }
  if (d.save_wake) sys_semaphore_increase(&d.save_wake);
  media_http_stop(s);
  if (d.save_thread_running) sys_thread_join(d.save_thread);
  d.save_thread_running = 0;
  bool saved = !d.last_save_failed;
  d.last_save_failed = d.save_failing = 0;
  release(s);
  return saved;
}

void content_db_save_wake(server_rec *s)
{
  if (db(s).save_wake) sys_semaphore_increase(&db(s).save_wake);
}

int content_db_work_pending(server_rec *s)
{
  if (!sys_mutex_lock(&db(s).mutex)) return 0;
  const content_db_rec &d = db(s);
  bool pending = d.system_update_id != d.saved_update_id || d.system_update_id != d.evented_update_id;
  sys_mutex_unlock(&db(s).mutex);
  return pending;
}

}  // extern "C"
