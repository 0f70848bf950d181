// Folder-tree watches: roots sharing one descriptor, name filters, folders
// found later, dropping a root, losing a folder, the wake-up, and the
// mounts that bear on followed folders.
#include "tarvo_test.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <tarvo_platform/subtree_watch.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

namespace {

int not_hidden(void *, const char *name) { return name[0] != '.'; }

TEST(SubtreeWatch, RootsOnOneDescriptorSignalApart)
{
  tarvo_test::scratch_dir d;
  ASSERT_EQ(mkdir((d / "tree").c_str(), 0700), 0);
  ASSERT_EQ(mkdir((d / "tree/deep").c_str(), 0700), 0);
  ASSERT_EQ(mkdir((d / "walked").c_str(), 0700), 0);
  subtree_watch_rec *w = subtree_watch_create();
  ASSERT_NE(w, nullptr);
  int tree = subtree_watch_root_add(w, (d / "tree").c_str(), SUBTREE_WATCH_TREE, nullptr, nullptr);
  int walked = subtree_watch_root_add(w, nullptr, 0, not_hidden, nullptr);
  ASSERT_GE(tree, 0);
  ASSERT_GE(walked, 0);
  EXPECT_EQ(subtree_watch_root_add(w, (d / "missing").c_str(), SUBTREE_WATCH_TREE, nullptr, nullptr), -1);
  ASSERT_EQ(subtree_watch_folder_add(w, walked, (d / "walked").c_str()), 1);
  // The same folder on both roots: one kernel watch, both signalled.
  ASSERT_EQ(subtree_watch_folder_add(w, walked, (d / "tree/deep").c_str()), 1);
  EXPECT_EQ(subtree_watch_signalled(w), 0);

  // A hidden name does not count for the filtered root.
  tarvo_test::write_file(d / "walked/.part", "x");
  EXPECT_EQ(subtree_watch_wait(w, 0), 0);
  tarvo_test::write_file(d / "walked/song.mp3", "x");
  EXPECT_EQ(subtree_watch_wait(w, 2000), 1);
  EXPECT_EQ(subtree_watch_root_signalled(w, walked), 1);
  EXPECT_EQ(subtree_watch_root_signalled(w, tree), 0);
  subtree_watch_root_rearm(w, walked);
  EXPECT_EQ(subtree_watch_signalled(w), 0);

  tarvo_test::write_file(d / "tree/deep/a", "x");
  EXPECT_EQ(subtree_watch_wait(w, 2000), 1);
  EXPECT_EQ(subtree_watch_root_signalled(w, tree), 1);
  EXPECT_EQ(subtree_watch_root_signalled(w, walked), 1);
  subtree_watch_rearm(w);

  // A folder made later below the tree root is watched too; the walked
  // root only gets what it was given.
  ASSERT_EQ(mkdir((d / "tree/new").c_str(), 0700), 0);
  EXPECT_EQ(subtree_watch_wait(w, 2000), 1);
  subtree_watch_rearm(w);
  tarvo_test::write_file(d / "tree/new/b", "x");
  EXPECT_EQ(subtree_watch_wait(w, 2000), 1);
  EXPECT_EQ(subtree_watch_root_signalled(w, tree), 1);
  EXPECT_EQ(subtree_watch_root_signalled(w, walked), 0);
  subtree_watch_rearm(w);

  // Dropping the walked root keeps the folder it shared watched for the
  // tree root, and forgets the one only it had.
  subtree_watch_root_drop(w, walked);
  EXPECT_EQ(subtree_watch_root_signalled(w, walked), 0);
  EXPECT_EQ(subtree_watch_folder_add(w, walked, (d / "walked").c_str()), 0);
  tarvo_test::write_file(d / "walked/other.mp3", "x");
  EXPECT_EQ(subtree_watch_wait(w, 0), 0);
  tarvo_test::write_file(d / "tree/deep/c", "x");
  EXPECT_EQ(subtree_watch_wait(w, 2000), 1);
  EXPECT_EQ(subtree_watch_root_signalled(w, tree), 1);
  EXPECT_EQ(subtree_watch_root_degraded(w, tree), 0);
  subtree_watch_close(w);
}

TEST(SubtreeWatch, LostFolderDegradesAndWakeEndsTheWait)
{
  tarvo_test::scratch_dir d;
  ASSERT_EQ(mkdir((d / "list").c_str(), 0700), 0);
  subtree_watch_rec *w = subtree_watch_create();
  ASSERT_NE(w, nullptr);
  auto only_list = [](void *, const char *name) { return int(!std::strcmp(name, "list")); };
  int list = subtree_watch_root_add(w, (d / "list").c_str(), SUBTREE_WATCH_LOST_POLL, only_list, nullptr);
  ASSERT_GE(list, 0);
  // A folder that cannot be watched at all polls from the start.
  int none = subtree_watch_root_add(w, (d / "missing").c_str(), 0, nullptr, nullptr);
  EXPECT_EQ(subtree_watch_root_degraded(w, none), 1);
  subtree_watch_root_drop(w, none);

  // Without anything to report an unlimited wait ends on the wake-up.
  std::thread waker([w] {
    usleep(50000);
    subtree_watch_wake(w);
  });
  EXPECT_EQ(subtree_watch_wait(w, -1), 0);
  waker.join();

  tarvo_test::write_file(d / "list/other", "x");
  EXPECT_EQ(subtree_watch_wait(w, 0), 0);
  tarvo_test::write_file(d / "list/list", "x");
  EXPECT_EQ(subtree_watch_wait(w, 2000), 1);
  subtree_watch_rearm(w);
  EXPECT_EQ(subtree_watch_root_degraded(w, list), 0);

  unlink((d / "list/other").c_str());
  unlink((d / "list/list").c_str());
  ASSERT_EQ(rmdir((d / "list").c_str()), 0);
  for (int i = 0; i < 20 && !subtree_watch_root_degraded(w, list); i++) subtree_watch_wait(w, 100);
  EXPECT_EQ(subtree_watch_root_degraded(w, list), 1);
  EXPECT_EQ(subtree_watch_root_signalled(w, list), 1);
  subtree_watch_close(w);
}

// A mount changes what a folder holds without an inotify event: only the
// roots following a folder that the mount is on, above or below are woken.
TEST(SubtreeWatch, AMountWakesOnlyTheRootsOfFoldersItIsOnAboveOrBelow)
{
  if (!tarvo_test::private_mounts().empty()) GTEST_SKIP() << tarvo_test::private_mounts();
  tarvo_test::scratch_dir d;
  for (const char *f : {"share/sub", "beside", "above/deep/share", "target", "two words"})
    std::filesystem::create_directories(d / f);
  std::filesystem::create_directory_symlink(d / "target", d / "link");
  subtree_watch_rec *w = subtree_watch_create();
  ASSERT_NE(w, nullptr);
  std::map<int, std::string> names;
  for (const char *f : {"share", "beside", "above/deep/share", "link", "two words"}) {
    int root = subtree_watch_root_add(w, nullptr, SUBTREE_WATCH_SELF, nullptr, nullptr);
    ASSERT_EQ(subtree_watch_mounts_follow(w, root, (d / f).c_str()), 1);
    names[root] = f;
  }
  EXPECT_EQ(subtree_watch_mounts_follow(w, 99, (d / "share").c_str()), 0);
  EXPECT_EQ(subtree_watch_mounts_follow(w, 0, "relative"), 0);
  // The roots woken by the mount or the unmount, once one is.
  auto woken = [&](const std::string &what, bool on) {
    std::string path = d / what;
    int r = on ? mount("tarvo-test", path.c_str(), "tmpfs", 0, "size=64k") : umount2(path.c_str(), 0);
    EXPECT_EQ(r, 0) << what << ": " << strerror(errno);
    for (int i = 0; i < 100 && !subtree_watch_wait(w, 200);) i++;
    std::string roots;
    for (auto &[root, name] : names)
      if (subtree_watch_root_signalled(w, root)) roots += (roots.empty() ? "" : ",") + name;
    subtree_watch_rearm(w);
    return roots;
  };
  for (bool on : {true, false}) {
    EXPECT_EQ(woken("beside", on), "beside");
    EXPECT_EQ(woken("share/sub", on), "share");
    EXPECT_EQ(woken("above", on), "above/deep/share");
    // Through the link the table names: the folder it leads to.
    EXPECT_EQ(woken("target", on), "link");
    EXPECT_EQ(woken("two words", on), "two words");
  }
  EXPECT_EQ(woken("share", true), "share");
  EXPECT_EQ(woken("share", false), "share");
  subtree_watch_close(w);
}

}  // namespace
