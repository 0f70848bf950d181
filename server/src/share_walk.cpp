// The walk of a share: its folders breadth-first, each listed against the
// children of its container, so that new files and folders get objects,
// changed ones are renewed, renamed folders keep theirs and vanished ones
// lose theirs.
#include "share_impl.h"

#include <vennard/conf_store.h>
#include <vennard/plugin.h>
#include <vennard/vennard_limits.h>

#include <tarvo_tag/tarvo_tag.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/utf8file.h>
#include <tarvo_util/xml.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <unordered_set>

namespace scan {

namespace {

// A resource of a child that names a file; its file name and filter lie
// in the candidates' text, so that a folder of many files costs no
// allocation per file.
struct res_info {
  uint32_t owner = 0;  // the candidate
  uint32_t file_at = 0, file_len = 0;
  uint32_t filter_at = 0, filter_len = 0;
  uint64_t timestamp = 0;
};

// A child of the folder's container: removed at the end of a complete
// walk unless something on disk matched it.
struct candidate {
  std::string id;
  bool container = false;
  bool matched = false;
  std::string title;  // of a container: a new folder takes one of its name
  uint32_t res_begin = 0, res_count = 0;
  bool has_size = false;
  uint64_t size = 0;
};

struct candidates {
  std::string text;
  std::vector<candidate> list;
  std::vector<res_info> res;                        // each candidate's in a run
  std::vector<uint32_t> by_file;                    // of res: by file name, in order within one
  std::unordered_map<std::string, uint32_t> by_id;  // the containers

  std::string_view file(const res_info &r) const { return {text.data() + r.file_at, r.file_len}; }
  std::string filter(const res_info &r) const { return text.substr(r.filter_at, r.filter_len); }
  uint32_t text_add(const char *t, uint32_t *len)
  {
    uint32_t at = uint32_t(text.size());
    text += t;
    *len = uint32_t(text.size()) - at;
    return at;
  }
};

uint64_t number(const char *text)
{
  uint64_t v = 0;
  return text && sys_str_scan_uint64(text, &v) ? v : 0;
}

// One child's size and the resources that name files.
void candidate_res_collect(const didl_object *o, uint32_t index, candidate *k, candidates *c)
{
  k->res_begin = uint32_t(c->res.size());
  for (uint32_t j = 0; j < o->properties.len; j++) {
    const auto *p = property_at(o, j);
    if (p->element != DIDL_NAME(EL_RES)) continue;
    const didl_attributes *a = &p->attributes;
    const char *size = didl_attribute_get(a, DIDL_NAME(AT_DLNA_CLEARTEXT_SIZE));
    if (!size) size = didl_attribute_get(a, DIDL_NAME(AT_SIZE));
    if (size && !k->has_size) {
      k->has_size = true;
      k->size = number(size);
    }
    const char *file = didl_attribute_get(a, DIDL_NAME(AT_TARVO_FILENAME));
    if (!file) continue;
    const char *filter = didl_attribute_get(a, DIDL_NAME(AT_TARVO_FILTER));
    res_info r;
    r.owner = index;
    r.file_at = c->text_add(file, &r.file_len);
    if (filter) r.filter_at = c->text_add(filter, &r.filter_len);
    r.timestamp = number(didl_attribute_get(a, DIDL_NAME(AT_TARVO_TIMESTAMP)));
    c->res.push_back(r);
  }
  k->res_count = uint32_t(c->res.size()) - k->res_begin;
}

// The children of the folder's container as they are now (under the lock).
void candidates_collect(server_rec *s, const didl_object *container, candidates *c)
{
  sys_ptralloc_rec children{};
  content_db_children(s, container, &children);
  c->list.reserve(children.len);
  c->res.reserve(children.len);
  for (uint32_t i = 0; i < children.len; i++) {
    const auto *o = static_cast<const didl_object *>(children.buf[i]);
    candidate k;
    k.id = object_id(o) ? object_id(o) : "";
    k.container = o->element == DIDL_NAME(EL_CONTAINER);
    if (k.container) {
      const char *title = property_text(o, DIDL_NAME(EL_DC_TITLE));
      k.title = title ? title : "";
      c->by_id.emplace(k.id, i);
    }
    candidate_res_collect(o, i, &k, c);
    c->list.push_back(std::move(k));
  }
  sys_ptralloc_free(&children);
  c->by_file.resize(c->res.size());
  for (uint32_t i = 0; i < c->by_file.size(); i++) c->by_file[i] = i;
  std::stable_sort(c->by_file.begin(), c->by_file.end(),
                   [c](uint32_t a, uint32_t b) { return c->file(c->res[a]) < c->file(c->res[b]); });
}

// The first candidate not matched yet with a resource of that file, and
// its last resource of that file.
candidate *candidate_of_file(candidates *c, std::string_view path, const res_info **res)
{
  auto it = std::lower_bound(c->by_file.begin(), c->by_file.end(), path,
                             [c](uint32_t r, std::string_view p) { return c->file(c->res[r]) < p; });
  for (; it != c->by_file.end() && c->file(c->res[*it]) == path; ++it) {
    candidate &k = c->list[c->res[*it].owner];
    if (k.matched) continue;
    for (uint32_t j = k.res_begin; j < k.res_begin + k.res_count; j++)
      if (c->file(c->res[j]) == path) *res = &c->res[j];
    return &k;
  }
  return nullptr;
}

void mark_done(folder_rec *f)
{
  f->done = true;
  for (folder_rec *c : f->children) mark_done(c);
}

// A folder's container as the plug-ins make it: the folder's name, then
// the class of a plain container.
bool folder_container_make(server_rec *s, const std::string &path, didl_object **out)
{
  object_owner o(static_cast<didl_object *>(sys_alloc_zero(sizeof(didl_object))));
  if (!o.p) return false;
  o.p->element = DIDL_NAME(EL_CONTAINER);
  didl_attributes *a = &o.p->attributes;
  if (!didl_attribute_add(a, DIDL_NAME(AT_ID), "") || !didl_attribute_add(a, DIDL_NAME(AT_PARENT_ID), "") ||
      !didl_attribute_add(a, DIDL_NAME(AT_RESTRICTED), "0") ||
      !didl_property_add(o.p, DIDL_NAME(EL_DC_TITLE), folder_display_name(path).c_str(), nullptr) ||
      !plugins_rewrite(&s->content.plugins, path.c_str(), nullptr, &o.p))
    return false;
  didl_property *cls = didl_property_first(o.p, DIDL_NAME(EL_UPNP_CLASS));
  if (cls ? !didl_string_replace(&cls->text, "object.container")
          : !didl_property_add(o.p, DIDL_NAME(EL_UPNP_CLASS), "object.container", nullptr))
    return false;
  *out = o.release();
  return true;
}

// The container of a renamed folder, or one a plug-in wants again, takes
// over the new title and properties; its items' files move with it.
bool folder_renew(server_rec *s, folder_rec *f, const std::string &old_path)
{
  object_owner fresh;
  if (!folder_container_make(s, f->path, &fresh.p)) return false;
  db_lock lock(s);
  if (!lock.held || object_take_over(s, f->container_id, fresh.p)) return false;
  if (old_path == f->path) return true;
  const didl_object *c = content_db_get(s, f->container_id.c_str());
  if (!c) return false;
  std::string prefix = old_path + "/";
  for (const std::string &id : children_ids(s, c)) {
    const didl_object *o = content_db_get(s, id.c_str());
    if (!o || o->element != DIDL_NAME(EL_ITEM)) continue;
    std::vector<std::pair<std::string, std::string>> pairs;
    for (uint32_t j = 0; j < o->properties.len; j++) {
      const auto *p = property_at(o, j);
      const char *file = didl_attribute_get(&p->attributes, DIDL_NAME(AT_TARVO_FILENAME));
      if (!file || std::strncmp(file, prefix.c_str(), prefix.size())) continue;
      didl_property *moved = nullptr;
      if (!didl_property_clone(p, &moved)) return false;
      std::string now = f->path + "/" + (file + prefix.size());
      std::string before, after;
      bool ok = didl_attribute_set(&moved->attributes, DIDL_NAME(AT_TARVO_FILENAME), now.c_str()) &&
                property_piece(p, &before) && property_piece(moved, &after);
      didl_property_free(moved);
      if (!ok) return false;
      pairs.emplace_back(before, after);
    }
    if (!pairs.empty() && pieces_update(s, id, pairs)) return false;
  }
  return true;
}

struct walk {
  state *st;
  folder_rec *f;
  candidates c;
  std::vector<bool> seen;  // of f->children
  // The file types met so far, by extension in lower case ("" for none):
  // a folder's files share a few, and each lookup reads a file.
  std::unordered_map<std::string, std::string> types;

  walk(state *scanner, folder_rec *folder) : st(scanner), f(folder), seen(folder->children.size(), false) {}
};

bool ancestor_or_self(const folder_rec *f, const identity &id)
{
  for (; f; f = f->parent)
    if (f->id == id) return true;
  return false;
}

// One subfolder of the walked folder; false when its container could not
// be had.
bool subfolder_step(walk *w, const std::string &path, const identity &id)
{
  server_rec *s = w->st->s;
  folder_rec *f = w->f;
  // A link back up the tree would be walked for ever.
  if (ancestor_or_self(f, id)) return true;
  folder_rec *known = nullptr;
  for (size_t i = 0; i < f->children.size() && !known; i++) {
    folder_rec *sub = f->children[i];
    if (sub->done || !(sub->id == id)) continue;
    auto k = w->c.by_id.find(sub->container_id);
    // A folder whose container someone destroyed gets a new one below.
    if (k == w->c.by_id.end()) {
      mark_done(sub);
      continue;
    }
    w->seen[i] = true;
    w->c.list[k->second].matched = true;
    known = sub;
  }
  if (known) {
    folder_rec *sub = known;
    bool renamed = sub->path != path;
    if (renamed || plugins_any_is_updated(&s->content.plugins, path.c_str(), nullptr, nullptr, nullptr)) {
      std::string old_path = sub->path;
      sub->path = path;
      if (!folder_renew(s, sub, old_path)) {
        sub->path = old_path;
        return false;
      }
    }
    return true;
  }
  std::string title = folder_display_name(path), container;
  for (candidate &k : w->c.list) {
    if (k.matched || !k.container || k.res_count || k.title != title) continue;
    k.matched = true;
    container = k.id;
    break;
  }
  if (container.empty()) {
    object_owner o;
    if (!folder_container_make(s, path, &o.p) || object_create(s, o.p, f->container_id, &container)) return false;
  }
  auto rec = std::make_unique<folder_rec>();
  rec->share = f->share;
  rec->parent = f;
  rec->path = path;
  rec->container_id = container;
  rec->id = id;
  f->children.push_back(rec.get());
  w->seen.push_back(true);
  w->st->queue.push_back(std::move(rec));
  return true;
}

bool picture_skipped(std::string_view name, const char *mime)
{
  if (!sys_str_case_diff(std::string(name).c_str(), "Folder.jpg")) return true;
  return sys_str_case_startn(name.data(), uint32_t(name.size()), "AlbumArt") &&
         !sys_str_case_diff(mime, "image/jpeg");
}

// The MIME type of the file name in the walked folder; false when its
// extension has none.
bool file_type(walk *w, const std::string &path, std::string_view name, std::string *mime)
{
  uint32_t dot = utf8file_dot_suffix_at(name.data(), uint32_t(name.size()));
  if (dot == name.size()) return false;
  std::string ext(name.substr(dot + 1));
  sys_str_case_lower(ext.data());
  auto it = w->types.find(ext);
  if (it == w->types.end()) {
    char *type = nullptr;
    bool found = conf_mimetype(w->st->s->data_home, path.c_str(), &type);
    it = w->types.emplace(ext, found ? type : "").first;
    sys_alloc_free(type);
  }
  *mime = it->second;
  return !mime->empty();
}

// What the walk does with one file, decided when it is listed: in the
// walk's order, so that every file matches the candidate it would match
// without the look ahead.
enum file_action { FILE_NONE, FILE_ADD, FILE_UPDATE, FILE_ASK_PLUGINS };

// An entry of the folder, listed ahead of the one the walk applies.
struct entry {
  std::string path;
  bool folder = false;
  identity id;               // of a folder
  file_action action = FILE_NONE;
  std::string mime;
  uint32_t candidate = 0;    // of FILE_UPDATE and FILE_ASK_PLUGINS
  uint64_t stored_stamp = 0; // of FILE_ASK_PLUGINS
  std::unique_ptr<tag_job> job;
};

// Decides a file's action; new and changed files go to the tagging
// threads.
void file_plan(walk *w, entry *e, std::string_view name, const sys_file_stat_rec &st)
{
  server_rec *s = w->st->s;
  if (!file_type(w, e->path, name, &e->mime) || picture_skipped(name, e->mime.c_str())) return;
  const res_info *res = nullptr;
  candidate *k = candidate_of_file(&w->c, e->path, &res);
  if (k) {
    k->matched = true;
    e->candidate = uint32_t(k - w->c.list.data());
    uint64_t size = st.size;
    plugin_record *plugin =
        res->filter_len ? plugin_find(&s->content.plugins, w->c.filter(*res).c_str()) : nullptr;
    if (plugin && plugin->get_size) {
      uint64_t v = 0;
      if (plugin->get_size(e->path.c_str(), &v)) size = v;
    }
    int64_t stamp = file_timestamp(st.mtime, st.ctime);
    bool changed = !k->has_size || size != k->size || res->timestamp == 0 || int64_t(res->timestamp) < stamp;
    e->stored_stamp = res->timestamp;
    e->action = changed ? FILE_UPDATE : s->content.plugins.len ? FILE_ASK_PLUGINS : FILE_NONE;
  } else {
    e->action = FILE_ADD;
  }
  if (e->action == FILE_ASK_PLUGINS || e->action == FILE_NONE) return;
  auto job = std::make_unique<tag_job>();
  job->path = e->path;
  job->mime = e->mime;
  if (tag_pool_submit(w->st, job.get())) e->job = std::move(job);
}

// Applies a file's action: 0, or the code of its item's own failure.
uint32_t file_apply(walk *w, entry *e)
{
  server_rec *s = w->st->s;
  const char *mime = e->mime.c_str();
  switch (e->action) {
    case FILE_NONE:
      return 0;
    case FILE_ADD:
      return item_add(w->st, w->f->container_id, e->path, mime, e->job.get());
    case FILE_UPDATE:
      return item_update(w->st, w->c.list[e->candidate].id, e->path, mime, e->job.get());
    case FILE_ASK_PLUGINS:
      break;
  }
  const std::string &id = w->c.list[e->candidate].id;
  bool changed;
  {
    db_lock lock(s);
    const didl_object *o = lock.held ? content_db_get(s, id.c_str()) : nullptr;
    uint64_t stored = e->stored_stamp;
    changed = o && plugins_any_is_updated(&s->content.plugins, e->path.c_str(), mime, &stored, o);
  }
  return changed ? item_update(w->st, id, e->path, mime) : 0;
}

// The folder's entries, listed up to SHARE_TAG_AHEAD ahead of the walk.
struct listing {
  walk *w;
  sys_dir_rec dir{};
  bool open = false;
  bool end = false;
  std::string prefix;
  std::deque<entry> ahead;

  listing(walk *wk, const std::string &path) : w(wk), prefix(path == "/" ? "/" : path + "/")
  {
    open = utf8dir_open(&dir, path.c_str()) != 0;
    end = !open;
  }
  // Files listed but not applied: their reads are taken back or waited
  // for.
  ~listing()
  {
    for (entry &e : ahead)
      if (e.job) tag_pool_take(w->st, e.job.get());
    if (open) sys_dir_close(&dir);
  }
  listing(const listing &) = delete;
  listing &operator=(const listing &) = delete;

  // Lists one more entry that becomes an object; false at the end.
  bool list_one()
  {
    while (!end) {
      const char *name = sys_dir_read(&dir);
      if (!name) {
        end = true;
        break;
      }
      std::string_view n = name;
      // Devices, pipes and sockets never become objects: no stat for them.
      if (dir.type == SYS_DIR_OTHER || name_skipped(n)) continue;
      // One stat, by the name in the open folder, tells folder from file
      // and gives a file's size and times.
      sys_file_stat_rec fs;
      if (!sys_dir_stat(&dir, &fs) || (!fs.is_dir && !fs.is_regular)) continue;
      entry e;
      e.path = prefix;
      e.path += n;
      if (fs.is_dir) {
        e.folder = true;
        e.id = identity{fs.dev, fs.ino, true};
      } else {
        file_plan(w, &e, n, fs);
      }
      ahead.push_back(std::move(e));
      return true;
    }
    return false;
  }

  // The next entry to apply, with the look ahead filled behind it;
  // nullptr at the end.
  entry *next()
  {
    while (ahead.size() < SHARE_TAG_AHEAD && list_one()) {}
    return ahead.empty() ? nullptr : &ahead.front();
  }
};

// Walks one folder; false only when it was cut short by a stop or restart.
bool folder_walk(state *st, folder_rec *f)
{
  server_rec *s = st->s;
  watch_folder_add(st, f->share, f->path);
  if (s->content.plugins.len &&
      plugins_any_is_updated(&s->content.plugins, f->path.c_str(), nullptr, nullptr, nullptr))
    folder_renew(s, f, f->path);
  walk w(st, f);
  {
    db_lock lock(s);
    const didl_object *c = lock.held ? content_db_get(s, f->container_id.c_str()) : nullptr;
    if (!c) return !cut_short(s);
    candidates_collect(s, c, &w.c);
  }
  bool complete = true, subfolders_ok = true;
  {
    listing list(&w, f->path);
    if (!list.open) return true;
    for (uint32_t n = 0;; n++) {
      // The folder is looked at again now and then, and once at the end:
      // one that was replaced meanwhile must not lose its objects.
      if (cut_short(s) || (n % SHARE_IDENTITY_EVERY == 0 && !(identity_of(f->path) == f->id))) {
        complete = false;
        break;
      }
      entry *e = list.next();
      if (!e) break;
      if (e->folder) {
        if (!subfolder_step(&w, e->path, e->id)) subfolders_ok = false;
      } else if (file_apply(&w, e)) {
        complete = false;
        break;
      }
      // A step that left its file's read untaken still waits for it
      // before the job goes.
      if (e->job) tag_pool_take(st, e->job.get());
      list.ahead.pop_front();
    }
  }
  if (complete && !(identity_of(f->path) == f->id)) complete = false;
  if (!complete || !subfolders_ok) return !cut_short(s);
  // Everything was seen: what was not is gone.
  for (size_t i = 0; i < f->children.size(); i++)
    if (!w.seen[i]) mark_done(f->children[i]);
  std::unordered_set<std::string> records;
  for (const folder_rec *sub : f->children) records.insert(sub->container_id);
  const std::string prefix = f->path == "/" ? "/" : f->path + "/";
  db_lock lock(s);
  if (!lock.held) return !cut_short(s);
  for (const candidate &k : w.c.list) {
    const didl_object *o = k.matched ? nullptr : content_db_get(s, k.id.c_str());
    if (o && stood_for_on_disk(s, o, prefix, records.count(k.id) != 0)) content_db_destroy(s, k.id.c_str());
  }
  return true;
}

// Drops the done folders of a share from the queue and their parents.
void queue_compact(state *st, share_rec *sh)
{
  for (auto &f : st->queue)
    if (f->share == sh && !f->done) std::erase_if(f->children, [](folder_rec *c) { return c->done; });
  std::erase_if(st->queue, [sh](const std::unique_ptr<folder_rec> &f) { return f->share == sh && f->done; });
}

}  // namespace

identity identity_of(const std::string &path)
{
  sys_file_stat_rec st;
  if (!utf8file_stat(path.c_str(), &st) || !st.is_dir) return {};
  return {st.dev, st.ino, true};
}

std::string folder_display_name(const std::string &path)
{
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  if (p == "/") return p;
  size_t slash = p.rfind('/');
  std::string name = slash == std::string::npos ? p : p.substr(slash + 1);
  char *shown = nullptr;
  if (!xml_gen_legal_copy(name.c_str(), &shown)) return name;
  name = shown;
  sys_alloc_free(shown);
  return name;
}

// Names that are not UTF-8 are shared (shown with U+FFFD, stored as their
// bytes); hidden names and those with control bytes are not.
bool name_skipped(std::string_view name)
{
  if (name.empty() || name[0] == '.') return true;
  for (char c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == '\x7f') return true;
  return false;
}

int64_t file_timestamp(int64_t mtime, int64_t ctime) { return mtime > ctime ? mtime : ctime; }

bool share_walk(state *st, share_rec *sh)
{
  server_rec *s = st->s;
  for (size_t i = 0; i < st->queue.size(); i++) {
    folder_rec *f = st->queue[i].get();
    if (f->share != sh || f->done) continue;
    if (cut_short(s) || !folder_walk(st, f)) return false;
  }
  queue_compact(st, sh);
  // The share's folder may have gone before its watches were in place;
  // now that they are, a look tells.
  if (!(identity_of(sh->path) == sh->id)) sh->signalled = true;
  return true;
}

void share_scan(state *st, share_rec *sh)
{
  auto root = std::make_unique<folder_rec>();
  root->share = sh;
  root->parent = nullptr;
  root->path = sh->path;
  root->container_id = sh->container_id;
  root->id = sh->id;
  sh->root = root.get();
  st->queue.push_back(std::move(root));
  if (!share_walk(st, sh)) sh->signalled = true;
}

void share_forget(state *st, share_rec *sh)
{
  for (auto &f : st->queue)
    if (f->share == sh) f->done = true;
  queue_compact(st, sh);
  sh->root = nullptr;
}

}  // namespace scan
