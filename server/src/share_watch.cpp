// Change notification, on the platform's folder-tree watch: a root per
// share with a watch on each folder its walk finds, one on the folders
// above it that also follows the mounts on, above and below the share,
// and one on sync/share for the share list.  A share whose watches ran
// out is assumed changed every SHARE_POLL_MS, so that its tree is walked
// again.
#include "share_impl.h"

#include <vennard/vennard_limits.h>

#include <algorithm>
#include <cstring>

namespace scan {

static_assert(SHARE_POLL_MS == SUBTREE_WATCH_POLL_MS, "the degraded shares' poll is the watch's");

namespace {

constexpr const char *kListName = "list";

// Hidden entries never become objects; their coming and going changes
// nothing.
int share_counts(void *, const char *name) { return !*name || !name_skipped(name); }
int list_counts(void *, const char *name) { return !std::strcmp(name, kListName); }

// Moves what the watch reported into the scanner's own flags.
void flags_take(state *st)
{
  subtree_watch_rec *w = st->watch;
  if (subtree_watch_root_signalled(w, st->list_root)) {
    st->list_signalled = true;
    subtree_watch_root_rearm(w, st->list_root);
  }
  for (auto &sh : st->shares) {
    if (sh->watch_root < 0 || !subtree_watch_root_signalled(w, sh->watch_root)) continue;
    sh->signalled = true;
    subtree_watch_root_rearm(w, sh->watch_root);
  }
  for (auto &sh : st->shares) {
    if (sh->path_root < 0 || !subtree_watch_root_signalled(w, sh->path_root)) continue;
    sh->signalled = true;
    subtree_watch_root_rearm(w, sh->path_root);
  }
}

bool anything_signalled(state *st)
{
  if (st->list_signalled || cut_short(st->s) || recheck_raised(st->s)) return true;
  return std::any_of(st->shares.begin(), st->shares.end(), [](auto &sh) { return sh->signalled; });
}

}  // namespace

bool watch_open(state *st)
{
  st->watch = subtree_watch_create();
  return st->watch != nullptr;
}

void watch_close(state *st)
{
  subtree_watch_close(st->watch);
  st->watch = nullptr;
  st->list_root = -1;
  for (auto &sh : st->shares) sh->watch_root = sh->path_root = -1;
}

void watch_list_add(state *st, const std::string &folder)
{
  st->list_root = subtree_watch_root_add(st->watch, folder.c_str(), SUBTREE_WATCH_LOST_POLL, list_counts, nullptr);
}

// The folders above the share, up to "/": a rename of any of them, or a
// mount on one, takes the share from its path with no event on the
// share's own watches.  A mount on a folder inside the share changes what
// it holds, with none either.  Mounts elsewhere wake no walk.
void path_watch_add(state *st, share_rec *sh)
{
  sh->path_root = subtree_watch_root_add(st->watch, nullptr, SUBTREE_WATCH_SELF, nullptr, nullptr);
  subtree_watch_mounts_follow(st->watch, sh->path_root, sh->path.c_str());
  for (std::string p = sh->path; p.size() > 1;) {
    size_t slash = p.rfind('/');
    if (slash == std::string::npos) break;
    p.resize(slash ? slash : 1);
    subtree_watch_folder_add(st->watch, sh->path_root, p.c_str());
  }
}

void watch_folder_add(state *st, share_rec *sh, const std::string &path)
{
  if (sh->watch_root < 0) {
    sh->watch_root = subtree_watch_root_add(st->watch, nullptr, SUBTREE_WATCH_ATTRIB, share_counts, nullptr);
    path_watch_add(st, sh);
  }
  subtree_watch_folder_add(st->watch, sh->watch_root, path.c_str());
}

void watch_share_drop(state *st, share_rec *sh)
{
  subtree_watch_root_drop(st->watch, sh->watch_root);
  subtree_watch_root_drop(st->watch, sh->path_root);
  sh->watch_root = sh->path_root = -1;
}

void watch_poll(state *st)
{
  subtree_watch_read(st->watch, 0);
  flags_take(st);
}

bool watch_wait(state *st, int ms)
{
  subtree_watch_read(st->watch, 1);
  flags_take(st);
  if (anything_signalled(st)) return true;
  subtree_watch_wait(st->watch, ms);
  flags_take(st);
  return anything_signalled(st);
}

void wake(state *st) { subtree_watch_wake(st->watch); }

}  // namespace scan
