// Search over many objects: each candidate is looked at and let go, the
// matches kept by position with their sort values; what a page and its
// count must be is worked out here, not read back from the server.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "cds_test.h"
#include "server_test.h"

namespace {

using namespace cds_test;

args search_args(const std::string &criteria, const std::string &sort, uint64_t start, uint64_t count)
{
  return {{"ContainerID", "0"},
          {"SearchCriteria", criteria},
          {"Filter", "*"},
          {"StartingIndex", std::to_string(start)},
          {"RequestedCount", std::to_string(count)},
          {"SortCriteria", sort}};
}

// Ids compare as text without regard to case, as sort values of @id do.
std::vector<std::string> by_text(std::vector<std::string> v, bool descending)
{
  std::sort(v.begin(), v.end());
  if (descending) std::reverse(v.begin(), v.end());
  return v;
}

std::vector<std::string> slice(const std::vector<std::string> &v, size_t start, size_t count)
{
  size_t first = std::min(start, v.size()), last = std::min(first + count, v.size());
  return {v.begin() + long(first), v.begin() + long(last)};
}

// Resident high-water mark of this process in KiB, reset first when reset.
long peak_kib(bool reset)
{
  if (reset && !(std::ofstream("/proc/self/clear_refs") << "5")) return -1;
  std::ifstream f("/proc/self/status");
  for (std::string line; std::getline(f, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

TEST(CdsSearch, ReferencesSortedByTheirOwnIdsArePagedFromTheMiddleAndHideTheirPrivateTargets)
{
  server_test::server srv;
  ASSERT_TRUE(srv.start());
  server_rec *s = &srv.s;
  std::string album = container(s, "Container:UserFiles", "Album", "object.container.album.musicAlbum");
  std::string list = container(s, "Container:UserFiles", "List", "object.container.playlistContainer");
  ASSERT_FALSE(album.empty());
  ASSERT_FALSE(list.empty());
  std::vector<std::string> tracks, refs, hidden;
  for (int i = 0; i < 60; i++) tracks.push_back(item(s, album, "T" + std::to_string(i), "object.item.audioItem.musicTrack"));
  // Three references to each of a few tracks, ids in several lengths.
  for (int i = 0; i < 300; i++) {
    refs.push_back(reference(s, list, tracks[size_t(i % 20)]));
    ASSERT_FALSE(refs.back().empty());
    if (i % 20 == 3 || i % 20 == 11) hidden.push_back(refs.back());
  }
  for (int t : {3, 11}) ASSERT_EQ(act(s, "X_SetPrivate", {{"ObjectID", tracks[size_t(t)]}, {"Private", "1"}}).code, 0u);
  std::vector<std::string> seen;
  for (const std::string &r : refs)
    if (std::find(hidden.begin(), hidden.end(), r) == hidden.end()) seen.push_back(r);

  const std::string refs_only = "@refID exists true";
  for (bool remote : {false, true}) {
    const std::vector<std::string> &all = remote ? seen : refs;
    SCOPED_TRACE(remote ? "remote" : "local");
    for (auto [sort, descending] : {std::pair<const char *, bool>{"-@id", true}, {"+@id", false}}) {
      std::vector<std::string> order = by_text(all, descending);
      for (auto [start, count] : {std::pair<uint64_t, uint64_t>{7, 11}, {0, 0}, {all.size() - 5, 50}}) {
        answer a = act(s, "Search", search_args(refs_only, sort, start, count), remote);
        ASSERT_EQ(a.code, 0u);
        EXPECT_EQ(a.out("TotalMatches"), std::to_string(all.size()));
        EXPECT_EQ(ids(a.out("Result")), slice(order, start, count ? count : all.size())) << sort << " " << start;
      }
    }
    // Targets named by each reference's refID: equal keys decided by the
    // id that follows.
    answer a = act(s, "Search", search_args(refs_only, "+@refID,-@id", 0, 0), remote);
    ASSERT_EQ(a.code, 0u);
    std::vector<std::string> got = ids(a.out("Result"));
    ASSERT_EQ(got.size(), all.size());
    EXPECT_EQ(std::set<std::string>(got.begin(), got.end()), std::set<std::string>(all.begin(), all.end()));
  }
}

TEST(CdsSearch, AWholeLibrarySearchHoldsOneCandidateAtATime)
{
  server_test::server srv;
  ASSERT_TRUE(srv.start());
  server_rec *s = &srv.s;
  std::string folder = container(s, "Container:UserFiles", "Folder", "object.container");
  ASSERT_FALSE(folder.empty());
  constexpr int kItems = 30000;
  const std::string more = "<upnp:album>An album of the library</upnp:album><upnp:artist>Somebody</upnp:artist>"
                           "<dc:date>2004-05-06</dc:date><upnp:genre>Genre</upnp:genre>"
                           "<res protocolInfo=\"http-get:*:audio/mpeg:*\" size=\"123456\" duration=\"0:03:04\">"
                           "http://example.invalid/a/long/path/to/the/file/of/the/track.mp3</res>";
  for (int i = 0; i < kItems; i++)
    ASSERT_FALSE(item(s, folder, "Track " + std::to_string(i), "object.item.audioItem.musicTrack", more).empty());
  const std::string criteria = "upnp:class derivedfrom \"object.item\"";
  // Once before, so that what a first Search allocates for good is not counted.
  ASSERT_EQ(act(s, "Search", search_args(criteria, "", 0, 1)).code, 0u);
  long before = peak_kib(true);
  if (before < 0) GTEST_SKIP() << "no resident high-water mark to reset in /proc/self";
  answer a = act(s, "Search", search_args(criteria, "", 0, 1));
  long peak = peak_kib(false);
  ASSERT_EQ(a.code, 0u);
  EXPECT_EQ(a.out("TotalMatches"), std::to_string(kItems));
  EXPECT_EQ(ids(a.out("Result")).size(), 1u);
  // Every candidate's object made at once takes about 10 MiB here.
  EXPECT_LT(peak - before, 6 * 1024) << "KiB above the resident memory before the Search";
}

}  // namespace
