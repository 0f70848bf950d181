// The share scanner on a running content database: shares, folders and
// files into containers and items, categories, playlists, changes on disk
// (above the shares too), the share limit, unsharing and links that loop.
#include <gtest/gtest.h>
#include <vennard/conf_store.h>
#include <vennard/content_db.h>
#include <tarvo_util/xml.h>

#include <filesystem>
#include <algorithm>
#include <atomic>
#include <fstream>
#include <sched.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <unistd.h>

#include "cds_test.h"
#include "scan_test.h"

namespace fs = std::filesystem;
using namespace scan_test;
using tarvo_test::eventually;

namespace {

size_t refs_in(server_rec *s, const std::string &container)
{
  size_t n = 0;
  for (const node &c : children_of(s, container)) n += !c.ref.empty();
  return n;
}

const char *const kPlaylists = "Container:MusicPlaylist";

std::string list_text(const scanner &sc) { return sc.srv.data.get("sync/share/list"); }

// The files opened in a set of folders, as inotify reports them: the
// scanner opens a media file to read its tags.
struct open_watch {
  int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  explicit open_watch(const std::vector<std::string> &folders)
  {
    for (const std::string &f : folders) inotify_add_watch(fd, f.c_str(), IN_OPEN);
  }
  ~open_watch() { close(fd); }
  // The names of the files opened since the last call.
  std::vector<std::string> take()
  {
    std::vector<std::string> names;
    alignas(inotify_event) char buf[8192];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
      for (ssize_t at = 0; at < n;) {
        const auto *e = reinterpret_cast<const inotify_event *>(buf + at);
        at += ssize_t(sizeof(inotify_event) + e->len);
        if (!(e->mask & IN_ISDIR) && e->len) names.emplace_back(e->name);
      }
    return names;
  }
};

bool scanner_idle(server_rec *s) { return std::atomic_ref<int32_t>(s->scanner.idle).load() != 0; }

TEST(ShareScanner, FirstScanMakesFoldersItemsAndCategories)
{
  scanner sc;
  fs::create_directories(sc.media + "/music/sub");
  fs::create_directories(sc.media + "/pics");
  wav_write(sc.media + "/music/a.wav");
  wav_write(sc.media + "/music/b.wav");
  wav_write(sc.media + "/music/sub/c.wav");
  for (const char *name : {"x.jpg", "Folder.jpg", "FOLDER.JPG", "AlbumArt_Small.jpg", "albumartlarge.jpg"})
    tarvo_test::write_file(sc.media + "/pics/" + name, "\xFF\xD8\xFF\xD9");  // start and end of image
  // Only JPEG art is skipped.  Signature and end chunk.
  tarvo_test::write_file(sc.media + "/pics/AlbumArtist.png", std::string("\x89PNG\r\n\x1A\n\0\0\0\0IEND\xAE\x42\x60\x82", 20));
  wav_write(sc.media + "/music/.hidden.wav");
  tarvo_test::write_file(sc.media + "/music/notes.txt", "no file type");
  for (const char *name : {"ctl\x01.wav", "del\x7f.wav"}) wav_write(sc.media + "/music/" + name);
  fs::create_directories(sc.media + "/.hidden-folder");
  wav_write(sc.media + "/.hidden-folder/h.wav");

  ASSERT_TRUE(sc.start());
  ASSERT_EQ(sc.share(sc.media), 0u);
  std::string root;
  ASSERT_TRUE(eventually([&] {
    root = sc.share_id(sc.media);
    return !root.empty() && titles(sc.s, path_id(sc.s, root, {"music", "sub"})) == "c" &&
           titles(sc.s, path_id(sc.s, root, {"pics"})) == "AlbumArtist,x";
  }));
  EXPECT_EQ(titles(sc.s, root), "music,pics");
  EXPECT_EQ(titles(sc.s, path_id(sc.s, root, {"music"})), "a,b,sub");
  node a;
  ASSERT_TRUE(object_of(sc.s, path_id(sc.s, root, {"music", "a"}), &a));
  EXPECT_EQ(a.files, std::vector<std::string>{sc.media + "/music/a.wav"});
  EXPECT_EQ(a.cls, "object.item.audioItem.musicTrack");

  // Genre is the last category a track is filed into.
  ASSERT_TRUE(eventually([&] {
    std::string genre = child_titled(sc.s, "Container:MusicGenre", "Unknown");
    return !genre.empty() && refs_in(sc.s, genre) == 3;
  }));
  EXPECT_EQ(refs_in(sc.s, "Container:AllMusic"), 3u);
  EXPECT_EQ(refs_in(sc.s, "Container:AllPictures"), 2u);
  EXPECT_EQ(titles(sc.s, "Container:MusicAlbum"), "music,sub");
  EXPECT_EQ(titles(sc.s, "Container:MusicArtist"), "Unknown");
  EXPECT_EQ(refs_in(sc.s, child_titled(sc.s, "Container:MusicArtist", "Unknown")), 3u);
  node artist;
  ASSERT_TRUE(object_of(sc.s, child_titled(sc.s, "Container:MusicArtist", "Unknown"), &artist));
  EXPECT_EQ(artist.cls, "object.container.person.musicArtist");
  EXPECT_EQ(artist.prop("upnp:artist"), "Unknown");
  EXPECT_EQ(titles(sc.s, "Container:PicturesAlbum"), "pics");
  // An album shows what its tracks have in common, and their latest date.
  node album;
  EXPECT_TRUE(eventually([&] {
    return object_of(sc.s, child_titled(sc.s, "Container:MusicAlbum", "music"), &album) &&
           album.prop("upnp:artist") == "Unknown" && !album.prop("dc:date").empty();
  }));
  EXPECT_EQ(album.prop("dc:creator"), "Unknown");
  EXPECT_EQ(album.prop("upnp:genre"), "Unknown");
  node b;
  ASSERT_TRUE(object_of(sc.s, path_id(sc.s, root, {"music", "b"}), &b));
  EXPECT_EQ(album.prop("dc:date"), std::max(a.prop("dc:date"), b.prop("dc:date")));

  // Skipped names never reach the database file, which loads again.
  ASSERT_TRUE(content_db_save(sc.s));
  sys_ptralloc_rec objects{};
  ASSERT_TRUE(didl_parse((sc.srv.data.conf + "/data.xml").c_str(), 0, &objects));
  didl_object_array_free(&objects);
}

TEST(ShareScanner, FollowsFilesAndFoldersAsTheyChange)
{
  scanner sc;
  fs::create_directories(sc.media + "/sub");
  wav_write(sc.media + "/a.wav");
  wav_write(sc.media + "/b.wav");
  wav_write(sc.media + "/sub/c.wav");
  ASSERT_TRUE(sc.start());
  ASSERT_EQ(sc.share(sc.media), 0u);
  std::string root;
  ASSERT_TRUE(eventually([&] {
    root = sc.share_id(sc.media);
    return !root.empty() && titles(sc.s, root) == "a,b,sub" && titles(sc.s, path_id(sc.s, root, {"sub"})) == "c";
  }));
  std::string a_id = child_titled(sc.s, root, "a"), sub_id = child_titled(sc.s, root, "sub");

  // A new file, and a file that grew: the same item with the new size.
  wav_write(sc.media + "/d.wav");
  wav_write(sc.media + "/a.wav", 4000);
  ASSERT_TRUE(eventually([&] {
    node a;
    return titles(sc.s, root) == "a,b,d,sub" && object_of(sc.s, a_id, &a) &&
           a.sizes == std::vector<std::string>{"4044"};
  }));

  // A renamed folder keeps its container; its items follow.
  fs::rename(sc.media + "/sub", sc.media + "/moved");
  ASSERT_TRUE(eventually([&] { return titles(sc.s, root) == "a,b,d,moved"; }));
  EXPECT_EQ(child_titled(sc.s, root, "moved"), sub_id);
  node c;
  ASSERT_TRUE(object_of(sc.s, child_titled(sc.s, sub_id, "c"), &c));
  EXPECT_EQ(c.files, std::vector<std::string>{sc.media + "/moved/c.wav"});

  // A folder's container that a client destroyed comes back.
  ASSERT_TRUE(content_db_lock(sc.s));
  EXPECT_EQ(content_db_destroy(sc.s, sub_id.c_str()), 0u);
  content_db_unlock(sc.s);
  wav_write(sc.media + "/e.wav");
  ASSERT_TRUE(eventually([&] {
    return titles(sc.s, root) == "a,b,d,e,moved" && titles(sc.s, child_titled(sc.s, root, "moved")) == "c";
  }));

  // Removed files and folders lose their objects, their references and
  // the categories that only they filled.
  std::string moved_id = child_titled(sc.s, root, "moved");
  fs::remove(sc.media + "/b.wav");
  fs::remove_all(sc.media + "/moved");
  ASSERT_TRUE(eventually([&] { return titles(sc.s, root) == "a,d,e"; }));
  EXPECT_TRUE(eventually([&] { return refs_in(sc.s, "Container:AllMusic") == 3; }));
  std::string album = fs::path(sc.media).filename().string();
  EXPECT_TRUE(eventually([&] { return titles(sc.s, "Container:MusicAlbum") == album; }));
  node gone;
  EXPECT_FALSE(object_of(sc.s, moved_id, &gone));
}

// What a client made in a shared folder's container (a container, items
// of no file of the folder, references) was destroyed at the next walk of
// the folder, the client having been told it succeeded.  It stays, across
// a restart too, while the objects of vanished files and folders go: a
// folder the scanner knows, and one that went while the server was down.
TEST(ShareScanner, WhatAClientMadeInASharedFolderOutlivesItsWalks)
{
  scanner sc;
  for (const char *folder : {"/sub", "/empty", "/old/deeper"}) fs::create_directories(sc.media + folder);
  for (const char *file : {"/a.wav", "/sub/c.wav", "/old/deeper/o.wav"}) wav_write(sc.media + file);
  ASSERT_TRUE(sc.start());
  ASSERT_EQ(sc.share(sc.media), 0u);
  std::string root;
  ASSERT_TRUE(eventually([&] {
    root = sc.share_id(sc.media);
    return !root.empty() && titles(sc.s, root) == "a,empty,old,sub" &&
           titles(sc.s, path_id(sc.s, root, {"old", "deeper"})) == "o" && scanner_idle(sc.s);
  }));
  const std::string a = child_titled(sc.s, root, "a"), sub = child_titled(sc.s, root, "sub");
  const std::string made[] = {
      cds_test::container(sc.s, root, "Mine", "object.container"),
      cds_test::item(sc.s, root, "Link", "object.item.audioItem",
                     "<res protocolInfo=\"http-get:*:audio/wav:*\">http://example.invalid/l.wav</res>"),
      cds_test::item(sc.s, sub, "Elsewhere", "object.item.audioItem",
                     "<res protocolInfo=\"http-get:*:audio/wav:*\" tarvo:filename=\"/nowhere/e.wav\"></res>"),
      cds_test::reference(sc.s, root, a),
      cds_test::reference(sc.s, sub, a),
  };
  const std::string mine = made[0];
  const std::string in_mine = cds_test::reference(sc.s, mine, a);
  for (const std::string &id : made) ASSERT_FALSE(id.empty());
  ASSERT_FALSE(in_mine.empty());
  auto all_there = [&] {
    node n;
    for (const std::string &id : made)
      if (!object_of(sc.s, id, &n)) return false;
    return object_of(sc.s, in_mine, &n);
  };

  // Walks of both folders, one losing a subfolder the scanner knows.
  wav_write(sc.media + "/b.wav");
  wav_write(sc.media + "/sub/d.wav");
  fs::remove_all(sc.media + "/empty");
  ASSERT_TRUE(eventually([&] {
    return !child_titled(sc.s, root, "b").empty() && child_titled(sc.s, root, "empty").empty() &&
           !child_titled(sc.s, sub, "d").empty() && scanner_idle(sc.s);
  }));
  EXPECT_TRUE(all_there());

  // A folder that went while the server was down: it holds the objects of
  // files, unlike a client's container.
  sc.stop();
  fs::remove_all(sc.media + "/old");
  ASSERT_TRUE(sc.start());
  EXPECT_TRUE(eventually([&] { return child_titled(sc.s, root, "old").empty() && scanner_idle(sc.s); }));
  EXPECT_TRUE(all_there());
  EXPECT_EQ(child_titled(sc.s, root, "Mine"), mine);
}

TEST(ShareScanner, AShareTakenFromItsPathAboveItIsUnshared)
{
  // A mount namespace of the test's own for the mount below; the scanner
  // thread started from here shares it.
  bool mounts = tarvo_test::private_mounts().empty();
  scanner sc;
  std::string one = sc.media + "/a/one", two = sc.media + "/b/two";
  fs::create_directories(one);
  fs::create_directories(two);
  ASSERT_TRUE(sc.start());
  ASSERT_EQ(sc.share(one), 0u);
  ASSERT_EQ(sc.share(two), 0u);
  ASSERT_TRUE(eventually([&] { return !sc.share_id(one).empty() && !sc.share_id(two).empty(); }));
  // Neither a rename nor a mount above a share tells the share's own
  // watches anything.
  fs::rename(sc.media + "/a", sc.media + "/renamed");
  EXPECT_TRUE(eventually([&] { return sc.share_id(one).empty(); }));
  if (!mounts) GTEST_SKIP() << "no mount namespace here";
  ASSERT_EQ(mount("tmpfs", (sc.media + "/b").c_str(), "tmpfs", 0, "size=64k"), 0);
  EXPECT_TRUE(eventually([&] { return sc.share_id(two).empty(); }));
  sc.stop();
  umount2((sc.media + "/b").c_str(), MNT_DETACH);
}

TEST(ShareScanner, PlaylistsBecomeContainersOfTheirEntries)
{
  scanner sc;
  wav_write(sc.media + "/one.wav");
  wav_write(sc.media + "/two.wav");
  tarvo_test::write_file(sc.media + "/mix.m3u", "#EXTM3U\none.wav\n" + sc.media + "/two.wav\nmissing.wav\n");
  ASSERT_TRUE(sc.start());
  ASSERT_EQ(sc.share(sc.media), 0u);
  std::string root, mix;
  ASSERT_TRUE(eventually([&] {
    root = sc.share_id(sc.media);
    mix = root.empty() ? "" : child_titled(sc.s, root, "mix");
    return !mix.empty() && children_of(sc.s, mix).size() == 2 && titles(sc.s, kPlaylists) == "mix" &&
           refs_in(sc.s, child_titled(sc.s, kPlaylists, "mix")) == 2 && titles(sc.s, root) == "mix,one,two";
  }));
  node folder;
  ASSERT_TRUE(object_of(sc.s, mix, &folder));
  EXPECT_EQ(folder.element, "container");
  EXPECT_EQ(folder.cls, "object.container");
  for (const node &entry : children_of(sc.s, mix)) EXPECT_EQ(entry.prop("upnp:playlist"), "mix");
  node list;
  ASSERT_TRUE(object_of(sc.s, child_titled(sc.s, kPlaylists, "mix"), &list));
  EXPECT_EQ(list.cls, "object.container.playlistContainer");
  EXPECT_TRUE(list.files.empty());

  // A changed playlist: its container stays, its entries are made anew,
  // and one playlist container remains.
  tarvo_test::write_file(sc.media + "/mix.m3u", "one.wav\n");
  ASSERT_TRUE(eventually([&] {
    return children_of(sc.s, mix).size() == 1 && children_of(sc.s, kPlaylists).size() == 1 &&
           refs_in(sc.s, child_titled(sc.s, kPlaylists, "mix")) == 1;
  }));
  EXPECT_EQ(child_titled(sc.s, root, "mix"), mix);
  fs::remove(sc.media + "/mix.m3u");
  EXPECT_TRUE(eventually([&] { return titles(sc.s, root) == "one,two" && titles(sc.s, kPlaylists).empty(); }));
}

TEST(ShareScanner, SixtyThreeSharesAtMostAndUnshareWaitsForTheScanner)
{
  scanner sc;
  ASSERT_TRUE(sc.start());
  std::vector<std::string> folders;
  for (int i = 0; i < 65; i++) {
    folders.push_back(sc.media + "/f" + std::to_string(100 + i));
    fs::create_directories(folders.back());
  }
  for (int i = 0; i < 63; i++) ASSERT_EQ(sc.share(folders[i]), 0u) << i;
  EXPECT_EQ(sc.share(folders[63]), 805u);
  EXPECT_EQ(sc.share(folders[0] + "/inner"), 800u);
  fs::create_directories(folders[0] + "/inner");
  EXPECT_EQ(sc.share(folders[0] + "/inner"), 801u);
  ASSERT_TRUE(eventually([&] { return children_of(sc.s, "Container:UserFiles").size() == 63; }));

  // A line written into the list by hand beyond the limit is dropped.  (A
  // list is replaced whole, as the server writes it: a reader never sees
  // it half written.)
  std::string list = sc.srv.data.conf + "/sync/share/list";
  tarvo_test::write_file(list + ".new", list_text(sc) + folders[64] + "\n");
  fs::rename(list + ".new", list);
  ASSERT_TRUE(eventually([&] { return list_text(sc).find(folders[64]) == std::string::npos; }));
  EXPECT_EQ(children_of(sc.s, "Container:UserFiles").size(), 63u);
  EXPECT_TRUE(sc.share_id(folders[64]).empty());

  // X_Unshare: the share's objects go, and the scanner has read the list
  // by the time the wait ends.
  std::string id = sc.share_id(folders[5]);
  ASSERT_FALSE(id.empty());
  uint64_t generation = 0;
  ASSERT_TRUE(share_notify_lock(sc.s, &generation));
  ASSERT_TRUE(share_scanner_lock(sc.s));
  EXPECT_TRUE(content_db_unshare(sc.s, folders[5].c_str()));
  share_scanner_unlock(sc.s);
  share_scanner_rescan(sc.s);
  EXPECT_EQ(share_notify_wait(sc.s, generation), 1);
  share_notify_unlock(sc.s);
  node gone;
  EXPECT_FALSE(object_of(sc.s, id, &gone));
  EXPECT_FALSE(sc.srv.data.exists("sync/data/" + id));
  EXPECT_EQ(children_of(sc.s, "Container:UserFiles").size(), 62u);
  EXPECT_EQ(sc.share(folders[63]), 0u);
}

TEST(ShareScanner, LinksBackUpTheTreeAreNotFollowed)
{
  scanner sc;
  fs::create_directories(sc.media + "/share/deep");
  fs::create_directories(sc.media + "/elsewhere");
  wav_write(sc.media + "/share/a.wav");
  wav_write(sc.media + "/elsewhere/e.wav");
  fs::create_directory_symlink(sc.media + "/share", sc.media + "/share/deep/up");
  fs::create_directory_symlink(".", sc.media + "/share/self");
  fs::create_directory_symlink(sc.media + "/elsewhere", sc.media + "/share/side");
  ASSERT_TRUE(sc.start());
  ASSERT_EQ(sc.share(sc.media + "/share"), 0u);
  std::string root;
  ASSERT_TRUE(eventually([&] {
    root = sc.share_id(sc.media + "/share");
    return !root.empty() && titles(sc.s, root) == "a,deep,side" && titles(sc.s, path_id(sc.s, root, {"side"})) == "e";
  }));
  EXPECT_EQ(titles(sc.s, path_id(sc.s, root, {"deep"})), "");
}

TEST(ShareScanner, ARefusedCategoryLeavesTheRestOfTheFolderToThisWalk)
{
  scanner sc;
  ASSERT_TRUE(sc.srv.start());
  {
    // An artist container that takes no music: every filing into it fails.
    // Its child keeps it from being removed as empty.
    ASSERT_TRUE(content_db_lock(sc.s));
    char *id = nullptr, *child = nullptr;
    EXPECT_EQ(content_db_create_container(sc.s, "Container:MusicArtist", "Unknown",
                                          "object.container.album.photoAlbum", &id, nullptr),
              0u);
    EXPECT_EQ(content_db_create_container(sc.s, id, "keep", "object.container.album.photoAlbum", &child, nullptr),
              0u);
    sys_alloc_free(id);
    sys_alloc_free(child);
    content_db_unlock(sc.s);
  }
  for (const char *name : {"a", "b", "c"}) wav_write(sc.media + "/" + name + ".wav");
  // Shared before the first scan, which is the only walk: nothing on disk
  // changes afterwards.
  sc.srv.data.put("sync/share/list", sc.media + "\n");
  sc.running = share_scanner_start(sc.s);
  ASSERT_TRUE(sc.running);
  std::string root;
  ASSERT_TRUE(eventually([&] {
    root = sc.share_id(sc.media);
    return !root.empty() && titles(sc.s, root) == "a,b,c";
  }));
  EXPECT_TRUE(eventually([&] { return refs_in(sc.s, "Container:AllMusic") == 3; }));
  EXPECT_EQ(titles(sc.s, "Container:MusicArtist"), "Unknown");
  EXPECT_EQ(refs_in(sc.s, child_titled(sc.s, "Container:MusicArtist", "Unknown")), 0u);
}

TEST(ShareScanner, FileTypesAndRestartsAreFollowed)
{
  scanner sc;
  fs::create_directories(sc.media + "/keep/sub");
  wav_write(sc.media + "/keep/tone.xyz");
  wav_write(sc.media + "/keep/sub/s.wav");
  fs::create_directories(sc.media + "/lost");
  ASSERT_TRUE(sc.start());
  ASSERT_EQ(sc.share(sc.media + "/keep"), 0u);
  ASSERT_EQ(sc.share(sc.media + "/lost"), 0u);
  std::string keep, lost;
  ASSERT_TRUE(eventually([&] {
    keep = sc.share_id(sc.media + "/keep");
    lost = sc.share_id(sc.media + "/lost");
    return !keep.empty() && !lost.empty() && titles(sc.s, path_id(sc.s, keep, {"sub"})) == "s";
  }));
  EXPECT_EQ(titles(sc.s, keep), "sub");

  // A new file type makes files of that extension items.
  ASSERT_TRUE(conf_filetype_write(sc.srv.data.home.c_str(), "xyz", "audio/wav"));
  share_scanner_recheck(sc.s);
  ASSERT_TRUE(eventually([&] { return titles(sc.s, keep) == "sub,tone"; }));
  std::string tone = child_titled(sc.s, keep, "tone"), sub = child_titled(sc.s, keep, "sub");

  // Across a restart the shares keep their objects; a share whose folder
  // went meanwhile loses them.
  sc.stop();
  fs::remove_all(sc.media + "/lost");
  ASSERT_TRUE(sc.start());
  // The container goes first, then the share's record.
  EXPECT_TRUE(eventually(
      [&] { return sc.share_id(sc.media + "/lost").empty() && !sc.srv.data.exists("sync/data/" + lost); }));
  EXPECT_EQ(sc.share_id(sc.media + "/keep"), keep);
  EXPECT_EQ(child_titled(sc.s, keep, "tone"), tone);
  EXPECT_EQ(child_titled(sc.s, keep, "sub"), sub);

  // A shared folder that goes while the server runs is unshared.
  fs::remove_all(sc.media + "/keep");
  EXPECT_TRUE(eventually([&] {
    return sc.share_id(sc.media + "/keep").empty() && list_text(sc).find(sc.media + "/keep") == std::string::npos;
  }));
}

TEST(ShareScanner, ARestartOnAnUnchangedLibraryReadsNoFileAndLeavesTheDatabaseFile)
{
  scanner sc;
  fs::create_directories(sc.media + "/lib/sub");
  for (const char *name : {"a.wav", "b.wav", "sub/c.wav"}) wav_write(sc.media + "/lib/" + name);
  open_watch opened({sc.media + "/lib", sc.media + "/lib/sub"});
  ASSERT_TRUE(sc.start());
  ASSERT_EQ(sc.share(sc.media + "/lib"), 0u);
  std::string lib;
  ASSERT_TRUE(eventually([&] {
    lib = sc.share_id(sc.media + "/lib");
    return !lib.empty() && titles(sc.s, path_id(sc.s, lib, {"sub"})) == "c" && scanner_idle(sc.s);
  }));
  EXPECT_EQ(titles(sc.s, lib), "a,b,sub");
  // The watch sees the scan read the files.
  EXPECT_FALSE(opened.take().empty());
  sc.stop();
  const std::string data = sc.srv.data.conf + "/data.xml";
  std::string saved = sc.srv.data.get("data.xml");

  ASSERT_TRUE(sc.start());
  ASSERT_TRUE(eventually([&] { return scanner_idle(sc.s); }));
  EXPECT_EQ(titles(sc.s, lib), "a,b,sub");
  EXPECT_EQ(opened.take(), std::vector<std::string>{});
  // A file that changed is read again, and only that one.
  wav_write(sc.media + "/lib/b.wav", 1600);
  ASSERT_TRUE(eventually([&] {
    node b;
    return object_of(sc.s, child_titled(sc.s, lib, "b"), &b) && b.sizes == std::vector<std::string>{"1644"};
  }));
  std::vector<std::string> reread = opened.take();
  EXPECT_TRUE(std::all_of(reread.begin(), reread.end(), [](const std::string &n) { return n == "b.wav"; }));
  EXPECT_FALSE(reread.empty());
  sc.stop();
  EXPECT_NE(sc.srv.data.get("data.xml"), saved);

  // Unchanged again: a start and a stop leave the file as it is.
  saved = sc.srv.data.get("data.xml");
  fs::last_write_time(data, fs::last_write_time(data) - std::chrono::hours(1));
  auto stamp = fs::last_write_time(data);
  ASSERT_TRUE(sc.start());
  ASSERT_TRUE(eventually([&] { return scanner_idle(sc.s); }));
  sc.stop();
  EXPECT_EQ(opened.take(), std::vector<std::string>{});
  EXPECT_EQ(fs::last_write_time(data), stamp);
  EXPECT_EQ(sc.srv.data.get("data.xml"), saved);
}

TEST(ShareScanner, AShareListThatCannotBeReadAtStartKeepsTheShares)
{
  scanner sc;
  fs::create_directories(sc.media + "/keep");
  fs::create_directories(sc.media + "/later");
  wav_write(sc.media + "/keep/a.wav");
  ASSERT_TRUE(sc.start());
  ASSERT_EQ(sc.share(sc.media + "/keep"), 0u);
  std::string keep;
  ASSERT_TRUE(eventually([&] {
    keep = sc.share_id(sc.media + "/keep");
    return !keep.empty() && titles(sc.s, keep) == "a";
  }));
  std::string a = child_titled(sc.s, keep, "a");

  sc.stop();
  const std::string list = sc.srv.data.conf + "/sync/share/list";
  fs::rename(list, list + ".away");
  ASSERT_TRUE(sc.start());
  // The scanner has loaded its shares once it has read the list.
  ASSERT_TRUE(eventually([&] {
    uint64_t generation = 0;
    if (!share_notify_lock(sc.s, &generation)) return false;
    share_notify_unlock(sc.s);
    return generation != 0;
  }));
  fs::rename(list + ".away", list);
  ASSERT_EQ(sc.share(sc.media + "/later"), 0u);
  ASSERT_TRUE(eventually([&] { return !sc.share_id(sc.media + "/later").empty(); }));
  EXPECT_EQ(sc.share_id(sc.media + "/keep"), keep);
  EXPECT_EQ(child_titled(sc.s, keep, "a"), a);
  EXPECT_TRUE(sc.srv.data.exists("sync/data/" + keep));
}

}  // namespace

namespace {

// A tree of folders with files of several kinds, some of which give no
// item, and a playlist.
void mixed_tree(const std::string &root)
{
  for (int d = 0; d < 6; d++) {
    std::string folder = root + "/d" + std::to_string(d) + (d % 2 ? "/inner" : "");
    fs::create_directories(folder);
    for (int i = 0; i < 40; i++) {
      std::string name = folder + "/f" + std::to_string(i);
      switch (i % 5) {
        case 0: tarvo_test::write_file(name + ".jpg", "\xFF\xD8\xFF\xD9"); break;
        case 1: tarvo_test::write_file(name + ".mp3", "not an mpeg stream"); break;
        case 2: tarvo_test::write_file(name + ".txt", "no file type"); break;
        default: wav_write(name + ".wav", 100 + 10 * uint32_t(i + d)); break;
      }
    }
    tarvo_test::write_file(folder + "/list.m3u", "f3.wav\nf4.wav\n");
  }
}

// The database file once the scanner has scanned media with that many
// tagging threads (negative: none), and stopped.
std::string scanned(const std::string &media, int32_t threads)
{
  scanner sc;
  sc.srv.data.put("sync/share/list", media + "\n");
  sc.s->scanner.tag_threads = threads;
  if (!sc.start() || !eventually([&] { return scanner_idle(sc.s); })) return "";
  sc.stop();
  return sc.srv.data.get("data.xml");
}

}  // namespace

TEST(ShareScanner, TaggingThreadsGiveTheIdsAndTheDatabaseFileOfAOneThreadScan)
{
  tarvo_test::scratch_dir media;
  mixed_tree(media.path.string());
  std::string alone = scanned(media.path.string(), -1);
  ASSERT_NE(alone.find("f39.wav"), std::string::npos);
  EXPECT_EQ(scanned(media.path.string(), 3), alone);
  EXPECT_EQ(scanned(media.path.string(), 0), alone);

  // A scanner stopped in the middle of a pooled scan ends its threads, and
  // the next start finishes the scan.
  scanner sc;
  sc.srv.data.put("sync/share/list", media.path.string() + "\n");
  sc.s->scanner.tag_threads = 3;
  ASSERT_TRUE(sc.start());
  ASSERT_TRUE(eventually([&] { return refs_in(sc.s, "Container:AllMusic") > 0; }));
  sc.stop();
  sc.s->scanner.tag_threads = 3;
  ASSERT_TRUE(sc.start());
  ASSERT_TRUE(eventually([&] { return scanner_idle(sc.s); }));
  EXPECT_EQ(refs_in(sc.s, "Container:AllMusic"), 6u * 16u);
}

// Linux names are bytes: a Latin-1 file and folder name is shared, shown
// with U+FFFD, kept as its bytes across a restart, and followed on disk.
TEST(ShareScanner, NamesThatAreNotUtf8AreSharedAndKeptAsTheirBytes)
{
  scanner sc;
  const std::string lib = sc.media + "/lib", folder = lib + "/d\xe9j\xe0", file = lib + "/caf\xe9.wav";
  fs::create_directories(folder);
  wav_write(file);
  wav_write(folder + "/x.wav");
  ASSERT_TRUE(sc.start());
  ASSERT_EQ(sc.share(lib), 0u);
  std::string id;
  const std::string shown_file = "caf\xef\xbf\xbd", shown_folder = "d\xef\xbf\xbdj\xef\xbf\xbd";
  ASSERT_TRUE(eventually([&] {
    id = sc.share_id(lib);
    return !id.empty() && titles(sc.s, path_id(sc.s, id, {shown_folder})) == "x" && scanner_idle(sc.s);
  }));
  EXPECT_EQ(titles(sc.s, id), shown_file + "," + shown_folder);
  std::string item = child_titled(sc.s, id, shown_file);
  node n;
  ASSERT_TRUE(object_of(sc.s, item, &n));
  EXPECT_EQ(n.files, std::vector<std::string>{file});
  sc.stop();
  std::string saved = sc.srv.data.get("data.xml");
  EXPECT_TRUE(xml_gen_is_legal_text(saved.c_str()));

  // The restart reads the same bytes back: nothing is read again or moved.
  ASSERT_TRUE(sc.start());
  ASSERT_TRUE(eventually([&] { return scanner_idle(sc.s); }));
  ASSERT_TRUE(object_of(sc.s, child_titled(sc.s, id, shown_file), &n));
  EXPECT_EQ(n.id, item);
  EXPECT_EQ(n.files, std::vector<std::string>{file});
  fs::rename(file, lib + "/th\xe9.wav");
  EXPECT_TRUE(eventually([&] { return titles(sc.s, id) == shown_folder + ",th\xef\xbf\xbd"; }));
}
