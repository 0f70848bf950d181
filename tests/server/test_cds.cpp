// The ContentDirectory service over SOAP on a running device: Browse,
// Search, the capabilities, the editing and vendor actions, their error
// codes, and what a requester on another machine may see and do.
#include <vennard/content_directory.h>
#include <vennard/share_scanner.h>

#include <gtest/gtest.h>

#include <tarvo_util/sys_alloc.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <poll.h>
#include <regex>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

#include "media_test.h"
#include "tarvo_live.h"

namespace {

using media_test::kRemote;
using args = std::vector<std::pair<std::string, std::string>>;

// The ids of the objects of a Result, in order.
std::vector<std::string> ids(const std::string &didl)
{
  std::vector<std::string> v;
  static const std::regex object("<(?:item|container) id=\"([^\"]*)\"");
  for (std::sregex_iterator i(didl.begin(), didl.end(), object), end; i != end; ++i) v.push_back((*i)[1]);
  return v;
}

args browse_args(const std::string &id, const std::string &flag, const std::string &start = "0",
                 const std::string &count = "0", const std::string &sort = "", const std::string &filter = "*")
{
  return {{"ObjectID", id},       {"BrowseFlag", flag},     {"Filter", filter},
          {"StartingIndex", start}, {"RequestedCount", count}, {"SortCriteria", sort}};
}

args search_args(const std::string &id, const std::string &criteria, const std::string &sort = "")
{
  return {{"ContainerID", id}, {"SearchCriteria", criteria}, {"Filter", "*"},
          {"StartingIndex", "0"}, {"RequestedCount", "0"},     {"SortCriteria", sort}};
}

class Cds : public ::testing::Test {
protected:
  media_test::fixture f;
  std::string album, first, second, third, photos_old, photos_new;

  std::string track(const std::string &title, const std::string &number)
  {
    return f.create(album, "<item id=\"\" parentID=\"" + album + "\" restricted=\"0\"><dc:title>" + title +
                               "</dc:title><upnp:class>object.item.audioItem.musicTrack</upnp:class>"
                               "<upnp:album>A</upnp:album><upnp:originalTrackNumber>" +
                               number + "</upnp:originalTrackNumber><res protocolInfo=\"http-get:*:audio/mpeg:*\" "
                               "tarvo:filename=\"/music/" + title + ".mp3\"></res></item>");
  }

  std::string photo(const std::string &title, const std::string &date)
  {
    return f.create("Container:PicturesAlbum",
                    "<item id=\"\" parentID=\"Container:PicturesAlbum\" restricted=\"0\"><dc:title>" + title +
                        "</dc:title><dc:date>" + date +
                        "</dc:date><upnp:class>object.item.imageItem.photo</upnp:class></item>");
  }

  void SetUp() override
  {
    if (!media_test::private_net().empty()) GTEST_SKIP() << media_test::private_net();
    ASSERT_TRUE(f.start());
    album = f.create("Container:UserFiles", "<container id=\"\" parentID=\"Container:UserFiles\" restricted=\"0\">"
                                            "<dc:title>Album</dc:title>"
                                            "<upnp:class>object.container.album.musicAlbum</upnp:class></container>");
    // Inserted out of track order.
    second = track("b-second", "2");
    first = track("c-first", "1");
    third = track("a-third", "3");
    photos_old = photo("old", "2001-01-01");
    photos_new = photo("new", "2009-01-01");
    ASSERT_FALSE(third.empty());
    ASSERT_FALSE(photos_new.empty());
  }

  media_test::soap_result act(const std::string &name, const args &a, const char *from = media_test::kLocal)
  {
    return f.action(name, a, from);
  }
};

TEST_F(Cds, BrowseMetadataAndItsArgumentChecks)
{
  auto r = act("Browse", browse_args(first, "BrowseMetadata"));
  ASSERT_EQ(r.code, 0u);
  EXPECT_EQ(r["NumberReturned"], "1");
  EXPECT_EQ(r["TotalMatches"], "1");
  EXPECT_EQ(r["UpdateID"], "0");
  EXPECT_EQ(ids(r["Result"]), std::vector<std::string>{first});
  std::string base = "http://127.0.0.1:" + std::to_string(f.srv.s.http_port);
  EXPECT_NE(r["Result"].find(base + "/" + first + "-"), std::string::npos);
  r = act("Browse", browse_args(album, "BrowseMetadata"));
  EXPECT_NE(r["UpdateID"], "0");

  EXPECT_EQ(act("Browse", browse_args(first, "BrowseMetadata", "1")).code, 402u);
  EXPECT_EQ(act("Browse", browse_args(album, "BrowseDirectChildren", "0", "4294967296")).code, 402u);
  EXPECT_EQ(act("Browse", {{"ObjectID", "0"}, {"BrowseFlag", "BrowseMetadata"}}).code, 402u);
  EXPECT_EQ(act("Browse", browse_args(first, "BrowseDirectChildren")).code, 701u);
  EXPECT_EQ(act("Browse", browse_args(album, "BrowseDirectChildren", "0", "0", "+tarvo:timestamp")).code, 709u);
  EXPECT_EQ(act("NoSuchAction", {}).code, 401u);
}

TEST_F(Cds, ChildrenInTheDefaultOrderAndPagedIn64Bits)
{
  auto r = act("Browse", browse_args(album, "BrowseDirectChildren"));
  ASSERT_EQ(r.code, 0u);
  EXPECT_EQ(ids(r["Result"]), (std::vector<std::string>{first, second, third}));
  EXPECT_EQ(r["TotalMatches"], "3");
  r = act("Browse", browse_args(album, "BrowseDirectChildren", "0", "0", "+dc:title"));
  EXPECT_EQ(ids(r["Result"]), (std::vector<std::string>{third, second, first}));

  // Newest first in the picture album.
  r = act("Browse", browse_args("Container:PicturesAlbum", "BrowseDirectChildren"));
  EXPECT_EQ(ids(r["Result"]), (std::vector<std::string>{photos_new, photos_old}));

  r = act("Browse", browse_args(album, "BrowseDirectChildren", "1", "1"));
  EXPECT_EQ(ids(r["Result"]), std::vector<std::string>{second});
  EXPECT_EQ(r["NumberReturned"], "1");
  EXPECT_EQ(r["TotalMatches"], "3");
  // StartingIndex + RequestedCount beyond 32 bits.
  r = act("Browse", browse_args(album, "BrowseDirectChildren", "1", "4294967295"));
  EXPECT_EQ(ids(r["Result"]), (std::vector<std::string>{second, third}));
  r = act("Browse", browse_args(album, "BrowseDirectChildren", "4294967295", "4294967295"));
  EXPECT_EQ(r["NumberReturned"], "0");
  EXPECT_EQ(r["TotalMatches"], "3");
}

TEST_F(Cds, ReferencesShowTheirTargetsProperties)
{
  auto r = act("CreateReference", {{"ContainerID", "Container:UserFiles"}, {"ObjectID", first}});
  ASSERT_EQ(r.code, 0u);
  std::string ref = r["NewID"];
  r = act("Browse", browse_args(ref, "BrowseMetadata"));
  ASSERT_EQ(r.code, 0u);
  EXPECT_NE(r["Result"].find("refID=\"" + first + "\""), std::string::npos);
  EXPECT_NE(r["Result"].find("<dc:title>c-first</dc:title>"), std::string::npos);
}

TEST_F(Cds, PrivateObjectsAreHiddenFromOtherMachines)
{
  EXPECT_EQ(act("X_SetPrivate", {{"ObjectID", first}, {"Private", "1"}}, kRemote).code, 401u);
  ASSERT_EQ(act("CreateReference", {{"ContainerID", "Container:UserFiles"}, {"ObjectID", first}}).code, 0u);
  ASSERT_EQ(act("X_SetPrivate", {{"ObjectID", first}, {"Private", "true"}}).code, 0u);

  auto remote = act("Browse", browse_args(album, "BrowseDirectChildren"), kRemote);
  EXPECT_EQ(ids(remote["Result"]), (std::vector<std::string>{second, third}));
  EXPECT_EQ(remote["TotalMatches"], "2");
  EXPECT_EQ(act("Browse", browse_args(first, "BrowseMetadata"), kRemote).code, 701u);
  // The reference followed its target.
  remote = act("Browse", browse_args("Container:UserFiles", "BrowseDirectChildren"), kRemote);
  EXPECT_EQ(ids(remote["Result"]), std::vector<std::string>{album});
  auto local = act("Browse", browse_args(first, "BrowseMetadata"));
  EXPECT_NE(local["Result"].find("tarvo:private=\"1\""), std::string::npos);

  // A container's mark spreads down; its children cannot be opened alone.
  ASSERT_EQ(act("X_SetPrivate", {{"ObjectID", album}, {"Private", "yes"}}).code, 0u);
  EXPECT_EQ(act("Browse", browse_args(second, "BrowseMetadata"), kRemote).code, 701u);
  EXPECT_EQ(act("X_SetPrivate", {{"ObjectID", second}, {"Private", "0"}}).code, 501u);
  ASSERT_EQ(act("X_SetPrivate", {{"ObjectID", album}, {"Private", "no"}}).code, 0u);
  remote = act("Browse", browse_args(album, "BrowseDirectChildren"), kRemote);
  EXPECT_EQ(ids(remote["Result"]), (std::vector<std::string>{first, second, third}));

  // A mark spread onto a reference held compactly outlives the call.
  ASSERT_EQ(act("X_SetPrivate", {{"ObjectID", first}, {"Private", "0"}}).code, 0u);
  auto refs = ids(act("Browse", browse_args("Container:UserFiles", "BrowseDirectChildren"))["Result"]);
  ASSERT_EQ(refs.size(), 2u);
  const std::string ref = refs[0] == album ? refs[1] : refs[0];
  ASSERT_EQ(act("X_SetPrivate", {{"ObjectID", "Container:UserFiles"}, {"Private", "1"}}).code, 0u);
  EXPECT_EQ(act("Browse", browse_args(ref, "BrowseMetadata"), kRemote).code, 701u);
  EXPECT_NE(act("Browse", browse_args(ref, "BrowseMetadata"))["Result"].find("tarvo:private=\"1\""),
            std::string::npos);

  EXPECT_EQ(act("X_SetPrivate", {{"ObjectID", "0"}, {"Private", "1"}}).code, 501u);
  EXPECT_EQ(act("X_SetPrivate", {{"ObjectID", "424242"}, {"Private", "1"}}).code, 701u);
  EXPECT_EQ(act("X_SetPrivate", {{"ObjectID", first}, {"Private", "maybe"}}).code, 402u);
}

// A reference made in a private container took only its target's mark:
// another machine's Browse of the container answered 701 while its Search
// from the root listed the reference with the container's id.
TEST_F(Cds, AReferenceMadeInAPrivateContainerIsPrivate)
{
  std::string box = f.create("Container:UserFiles", "<container id=\"\" parentID=\"Container:UserFiles\" "
                                                    "restricted=\"0\"><dc:title>Box</dc:title>"
                                                    "<upnp:class>object.container</upnp:class></container>");
  ASSERT_FALSE(box.empty());
  ASSERT_EQ(act("X_SetPrivate", {{"ObjectID", box}, {"Private", "1"}}).code, 0u);
  auto made = act("CreateReference", {{"ContainerID", box}, {"ObjectID", first}});
  ASSERT_EQ(made.code, 0u);
  const std::string ref = made["NewID"];
  EXPECT_EQ(act("Browse", browse_args(box, "BrowseDirectChildren"), kRemote).code, 701u);
  EXPECT_EQ(act("Browse", browse_args(ref, "BrowseMetadata"), kRemote).code, 701u);
  for (const char *from : {media_test::kLocal, kRemote}) {
    SCOPED_TRACE(from);
    bool local = from == media_test::kLocal;
    auto r = act("Search", search_args("0", "@refID exists true"), from);
    ASSERT_EQ(r.code, 0u);
    EXPECT_EQ(ids(r["Result"]), local ? std::vector<std::string>{ref} : std::vector<std::string>{});
    EXPECT_EQ(r["Result"].find("parentID=\"" + box + "\"") != std::string::npos, local);
  }
  // Its target stays public; a reference in a public container too.
  EXPECT_EQ(act("Browse", browse_args(first, "BrowseMetadata"), kRemote).code, 0u);
  ASSERT_EQ(act("CreateReference", {{"ContainerID", "Container:UserFiles"}, {"ObjectID", first}}).code, 0u);
  EXPECT_EQ(ids(act("Search", search_args("0", "@refID exists true"), kRemote)["Result"]).size(), 1u);
}

TEST_F(Cds, SearchFromTheRootAndBelow)
{
  auto r = act("Search", search_args("0", "*"));
  ASSERT_EQ(r.code, 0u);
  auto all = ids(r["Result"]);
  for (const std::string &id : {std::string("0"), std::string("Container:UserFiles"), album, first, second, third})
    EXPECT_NE(std::find(all.begin(), all.end(), id), all.end()) << id;
  // The picture album is not searchable, nor are its items.
  EXPECT_EQ(std::find(all.begin(), all.end(), photos_new), all.end());

  r = act("Search", search_args(album, "upnp:class derivedfrom \"object.item.audioItem\"", "+upnp:originalTrackNumber"));
  EXPECT_EQ(ids(r["Result"]), (std::vector<std::string>{first, second, third}));
  // A full URL of the server names the stored path.
  std::string base = "http://127.0.0.1:" + std::to_string(f.srv.s.http_port);
  r = act("Search", search_args(album, "res = \"" + base + f.res_path(second) + "\""));
  EXPECT_EQ(ids(r["Result"]), std::vector<std::string>{second});

  ASSERT_EQ(act("X_SetPrivate", {{"ObjectID", first}, {"Private", "1"}}).code, 0u);
  r = act("Search", search_args(album, "dc:title contains \"first\""), kRemote);
  EXPECT_EQ(r["TotalMatches"], "0");
  r = act("Search", search_args(album, "@tarvo:private = \"1\""));
  EXPECT_EQ(ids(r["Result"]), std::vector<std::string>{first});
  EXPECT_EQ(act("Search", search_args(album, "@tarvo:private = \"1\""), kRemote).code, 708u);

  EXPECT_EQ(act("Search", search_args(album, "dc:title = \"x")).code, 708u);
  EXPECT_EQ(act("Search", search_args("424242", "*")).code, 710u);
  EXPECT_EQ(act("Search", search_args(first, "*")).code, 710u);
  EXPECT_EQ(act("Search", search_args(album, "*", "+nosuch:name")).code, 709u);
}

TEST_F(Cds, SearchableSpreadsDown)
{
  std::string inner = f.create(album, "<container id=\"\" parentID=\"" + album +
                                          "\" restricted=\"0\"><dc:title>Inner</dc:title>"
                                          "<upnp:class>object.container.album.musicAlbum</upnp:class></container>");
  ASSERT_FALSE(inner.empty());
  EXPECT_EQ(act("X_SetSearchable", {{"ContainerID", album}, {"Searchable", "0"}}, kRemote).code, 401u);
  EXPECT_EQ(act("X_SetSearchable", {{"ContainerID", first}, {"Searchable", "0"}}).code, 710u);
  ASSERT_EQ(act("X_SetSearchable", {{"ContainerID", album}, {"Searchable", "0"}}).code, 0u);
  auto r = act("Browse", browse_args(inner, "BrowseMetadata"));
  EXPECT_NE(r["Result"].find("searchable=\"0\""), std::string::npos);
  EXPECT_EQ(act("Search", search_args("0", "dc:title = \"c-first\""))["TotalMatches"], "0");
  // Not below a container that is not searchable.
  EXPECT_EQ(act("X_SetSearchable", {{"ContainerID", inner}, {"Searchable", "1"}}).code, 501u);
  ASSERT_EQ(act("X_SetSearchable", {{"ContainerID", album}, {"Searchable", "1"}}).code, 0u);
  r = act("Browse", browse_args(inner, "BrowseMetadata"));
  EXPECT_NE(r["Result"].find("searchable=\"1\""), std::string::npos);
}

TEST_F(Cds, CapabilitiesAndUpdateIds)
{
  auto local = act("GetSortCapabilities", {});
  ASSERT_EQ(local.code, 0u);
  EXPECT_TRUE(local["SortCaps"].starts_with("@id,@parentID,"));
  EXPECT_TRUE(local["SortCaps"].ends_with(",dlna:containerType,@tarvo:private,item@tarvo:private,"
                                          "container@tarvo:private,res@tarvo:filename,res@tarvo:filter"));
  auto remote = act("GetSearchCapabilities", {}, kRemote);
  EXPECT_TRUE(remote["SearchCaps"].ends_with(",upnp:userAnnotation,dlna:containerType"));
  EXPECT_EQ(act("GetSearchCapabilities", {{"X", "1"}}).code, 402u);

  auto id = act("GetSystemUpdateID", {});
  ASSERT_EQ(id.code, 0u);
  EXPECT_EQ(act("GetSystemUpdateID", {{"X", "1"}}).code, 402u);
  ASSERT_EQ(act("DestroyObject", {{"ObjectID", third}}).code, 0u);
  EXPECT_GT(std::stoul(act("GetSystemUpdateID", {})["Id"]), std::stoul(id["Id"]));

  device_request_info info{};
  char *value = nullptr;
  ASSERT_EQ(cds_query_state_variable(&info, "ContainerUpdateIDs", &f.srv.s, &value), 0u);
  EXPECT_NE(std::string(value).find(album + ","), std::string::npos);
  sys_alloc_free(value);
  EXPECT_EQ(cds_query_state_variable(&info, "Other", &f.srv.s, &value), 404u);
}

TEST_F(Cds, EditingIsForLocalRequestersOnly)
{
  std::string text = media_test::didl("<item id=\"\" parentID=\"" + album +
                                      "\" restricted=\"0\"><dc:title>new</dc:title>"
                                      "<upnp:class>object.item.audioItem.musicTrack</upnp:class></item>");
  EXPECT_EQ(act("CreateObject", {{"ContainerID", album}, {"Elements", text}}, kRemote).code, 401u);
  EXPECT_EQ(act("DestroyObject", {{"ObjectID", first}}, kRemote).code, 401u);
  EXPECT_EQ(act("UpdateObject", {{"ObjectID", first}, {"CurrentTagValue", ""}, {"NewTagValue", ""}}, kRemote).code,
            401u);
  EXPECT_EQ(act("CreateReference", {{"ContainerID", album}, {"ObjectID", first}}, kRemote).code, 401u);

  auto r = act("CreateObject", {{"ContainerID", album}, {"Elements", text}});
  ASSERT_EQ(r.code, 0u);
  EXPECT_EQ(ids(r["Result"]), std::vector<std::string>{r["ObjectID"]});
  EXPECT_EQ(act("CreateObject", {{"ContainerID", "424242"}, {"Elements", text}}).code, 710u);
  ASSERT_EQ(act("UpdateObject", {{"ObjectID", r["ObjectID"]},
                                 {"CurrentTagValue", "<dc:title>new</dc:title>"},
                                 {"NewTagValue", "<dc:title>newer</dc:title>"}})
                .code,
            0u);
  EXPECT_NE(act("Browse", browse_args(r["ObjectID"], "BrowseMetadata"))["Result"].find(">newer<"), std::string::npos);
  EXPECT_EQ(act("DestroyObject", {{"ObjectID", "0"}}).code, 501u);
}

// The scanner's part in a share change: each time the share list is
// written, read it under both locks and count it.
struct fake_scanner {
  server_rec *s;
  int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  std::atomic<bool> stop{false};
  std::thread t;
  fake_scanner(server_rec *srv, const std::string &folder) : s(srv)
  {
    inotify_add_watch(watch, folder.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE);
    t = std::thread([this] {
      while (!stop) {
        pollfd p{watch, POLLIN, 0};
        if (poll(&p, 1, 10) <= 0) continue;
        char events[4096];
        while (read(watch, events, sizeof events) > 0) {
        }
        if (!share_notify_lock(s, nullptr)) continue;
        if (share_scanner_lock(s)) {
          share_notify_signal(s);
          share_scanner_unlock(s);
        }
        share_notify_unlock(s);
      }
    });
  }
  ~fake_scanner()
  {
    stop = true;
    t.join();
    close(watch);
  }
};

TEST_F(Cds, SharesAndTheScanner)
{
  tarvo_test::scratch_dir folders;
  std::string a = folders / "a", b = folders / "a/b";
  std::filesystem::create_directories(b);
  tarvo_test::write_file(folders / "file", "x");

  EXPECT_EQ(act("X_Share", {{"Path", a}}, kRemote).code, 401u);
  EXPECT_EQ(act("X_Share", {{"Path", a + "/../a"}}).code, 402u);
  EXPECT_EQ(act("X_Share", {{"Path", folders / "file"}}).code, 800u);
  ASSERT_EQ(act("X_Share", {{"Path", a}}).code, 0u);
  EXPECT_EQ(act("X_Share", {{"Path", b}}).code, 801u);
  EXPECT_EQ(act("X_ShareList", {}, kRemote)["PathList"], a);
  EXPECT_EQ(act("X_ShareState", {{"Path", b}}, kRemote)["State"], "1");
  EXPECT_EQ(act("X_ShareState", {{"Path", folders.path.string()}})["State"], "0");
  EXPECT_EQ(act("X_ShareState", {{"Path", folders / "file"}}).code, 800u);

  EXPECT_EQ(act("X_Unshare", {{"Path", a}}, kRemote).code, 401u);
  EXPECT_EQ(act("X_Unshare", {{"Path", b}}).code, 501u);
  {
    // A scanner that reads every change at once is never missed.
    fake_scanner scanner(&f.srv.s, f.srv.data.conf + "/sync/share");
    for (int i = 0; i < 20; i++) {
      ASSERT_EQ(act("X_Unshare", {{"Path", a}}).code, 0u) << i;
      ASSERT_EQ(act("X_Share", {{"Path", a}}).code, 0u) << i;
    }
  }
  // Without a scanner that reads the list, the wait ends with the scanner.
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    share_locks_close(&f.srv.s);
  });
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(act("X_Unshare", {{"Path", a}}).code, 501u);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, tarvo_test::kLive);  // a wait deaf to the end never ends
  stopper.join();
  f.scanner = false;
  EXPECT_EQ(act("X_Share", {{"Path", a}}).code, 501u);
}

TEST_F(Cds, FileTypes)
{
  auto list = act("X_GetFileTypeList", {}, kRemote);
  ASSERT_EQ(list.code, 0u);
  uint32_t n = std::stoul(list["NumberOfFileTypes"]);
  EXPECT_GT(n, 10u);
  EXPECT_NE(list["FileExtensionList"].find("mp3"), std::string::npos);

  EXPECT_EQ(act("X_AddFileType", {{"FileExtension", "xyz"}, {"MimeType", "video/xyz"}}, kRemote).code, 401u);
  EXPECT_EQ(act("X_RemoveFileType", {{"FileExtension", "mp3"}}, kRemote).code, 401u);
  EXPECT_EQ(act("X_AddFileType", {{"FileExtension", "xyz"}, {"MimeType", "a\tb"}}).code, 402u);
  f.srv.s.scanner.recheck = 0;
  ASSERT_EQ(act("X_AddFileType", {{"FileExtension", "XYZ"}, {"MimeType", "video/xyz"}}).code, 0u);
  EXPECT_EQ(f.srv.s.scanner.recheck, 1);
  EXPECT_EQ(f.srv.data.get("filetype/xyz"), "video/xyz");
  EXPECT_EQ(act("X_AddFileType", {{"FileExtension", "xyz"}, {"MimeType", "video/other"}}).code, 803u);
  EXPECT_EQ(std::stoul(act("X_GetFileTypeList", {})["NumberOfFileTypes"]), n + 1);
  EXPECT_EQ(act("X_RemoveFileType", {{"FileExtension", "nosuch"}}).code, 804u);
  ASSERT_EQ(act("X_RemoveFileType", {{"FileExtension", "xyz"}}).code, 0u);
  EXPECT_FALSE(f.srv.data.exists("filetype/xyz"));
}

}  // namespace
