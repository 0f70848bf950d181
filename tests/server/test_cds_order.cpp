// The orders of children that Browse keeps: every change that touches a
// container shows in the next page, whoever makes it (the actions, marks
// spread from above, references, shares and the scanner), also under
// concurrent Browse; and the limits of what is kept.
#include <gtest/gtest.h>

#include <vennard/vennard_limits.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <thread>

#include "cds_test.h"
#include "scan_test.h"

namespace {

using namespace cds_test;
namespace fs = std::filesystem;

constexpr const char *kByTitle = "+dc:title";

// A container whose children the test knows by title: what Browse must
// answer is worked out here, not read back from the server.
struct known {
  server_rec *s;
  std::string id;
  std::map<std::string, std::string> by_title;  // title -> id
  std::vector<std::string> hidden_titles;       // private: remote requesters do not see them
  bool hidden = false;                          // the container itself is private

  std::string add(const std::string &title)
  {
    std::string made = item(s, id, title, "object.item.audioItem.musicTrack");
    by_title[title] = made;
    return made;
  }
  std::vector<std::string> expected(bool remote) const
  {
    std::vector<std::string> v;
    if (remote && hidden) return {"error 701"};
    for (const auto &[title, object] : by_title)
      if (!remote || std::find(hidden_titles.begin(), hidden_titles.end(), title) == hidden_titles.end())
        v.push_back(object);
    return v;
  }
};

// The children in pages of 7 from the second page on, after a first page
// that came before the change.
std::vector<std::string> paged(server_rec *s, const std::string &id, bool remote, const std::string &sort = kByTitle)
{
  std::vector<std::string> all;
  for (uint64_t start = 0;; start += 7) {
    answer a = browse(s, id, start, 7, sort, remote);
    if (a.code) return {"error " + std::to_string(a.code)};
    std::vector<std::string> page = ids(a.out("Result"));
    all.insert(all.end(), page.begin(), page.end());
    if (page.size() < 7) return all;
  }
}

// A first page before the change, the whole order after it.
template <class Change> void check_change(known &k, Change change, const char *what)
{
  for (bool remote : {false, true}) {
    browse(k.s, k.id, 0, 7, kByTitle, remote);
    browse(k.s, k.id, 0, 7, "-dc:title", remote);
  }
  change();
  for (bool remote : {false, true}) {
    std::vector<std::string> want = k.expected(remote);
    EXPECT_EQ(paged(k.s, k.id, remote), want) << what << (remote ? " (remote)" : " (local)");
    if (!(remote && k.hidden)) std::reverse(want.begin(), want.end());
    EXPECT_EQ(paged(k.s, k.id, remote, "-dc:title"), want) << what << (remote ? " (remote)" : " (local)");
  }
}

TEST(CdsOrder, EveryChangeToAContainerShowsInTheNextPage)
{
  server_test::server srv;
  ASSERT_TRUE(srv.start());
  server_rec *s = &srv.s;
  std::string outer = container(s, "Container:UserFiles", "Outer", "object.container");
  known k{s, container(s, outer, "Tracks", "object.container"), {}, {}};
  for (int i = 0; i < 40; i++) {
    char title[8];
    std::snprintf(title, sizeof title, "t%02d", (i * 17) % 40);
    ASSERT_FALSE(k.add(title).empty());
  }
  check_change(k, [] {}, "no change");
  check_change(k, [&] { k.add("t05a"); }, "create");
  check_change(k, [&] {
    ASSERT_EQ(act(s, "DestroyObject", {{"ObjectID", k.by_title["t10"]}}).code, 0u);
    k.by_title.erase("t10");
  }, "destroy");
  check_change(k, [&] {
    ASSERT_EQ(act(s, "UpdateObject", {{"ObjectID", k.by_title["t20"]},
                                      {"CurrentTagValue", "<dc:title>t20</dc:title>"},
                                      {"NewTagValue", "<dc:title>t99</dc:title>"}}).code, 0u);
    k.by_title["t99"] = k.by_title["t20"];
    k.by_title.erase("t20");
  }, "update");
  check_change(k, [&] {
    ASSERT_EQ(act(s, "X_SetPrivate", {{"ObjectID", k.by_title["t30"]}, {"Private", "1"}}).code, 0u);
    k.hidden_titles.push_back("t30");
  }, "private item");
  // A mark set on the container above spreads to the children without
  // counting this container up.
  check_change(k, [&] {
    ASSERT_EQ(act(s, "X_SetPrivate", {{"ObjectID", outer}, {"Private", "1"}}).code, 0u);
    k.hidden = true;
  }, "private from above");
  check_change(k, [&] {
    ASSERT_EQ(act(s, "X_SetPrivate", {{"ObjectID", outer}, {"Private", "0"}}).code, 0u);
    // Clearing spreads down too: every mark below goes.
    k.hidden = false;
    k.hidden_titles.clear();
  }, "private cleared from above");

  // References are sorted by their targets' properties: a target's change
  // moves them.
  known refs{s, container(s, "Container:UserFiles", "List", "object.container.playlistContainer"), {}, {}};
  for (const char *title : {"t01", "t02", "t03", "t04"}) refs.by_title[title] = reference(s, refs.id, k.by_title[title]);
  check_change(refs, [&] {
    ASSERT_EQ(act(s, "UpdateObject", {{"ObjectID", k.by_title["t02"]},
                                      {"CurrentTagValue", "<dc:title>t02</dc:title>"},
                                      {"NewTagValue", "<dc:title>t77</dc:title>"}}).code, 0u);
    refs.by_title["t77"] = refs.by_title["t02"];
    refs.by_title.erase("t02");
  }, "reference target update");
  check_change(refs, [&] {
    ASSERT_EQ(act(s, "DestroyObject", {{"ObjectID", k.by_title["t03"]}}).code, 0u);
    refs.by_title.erase("t03");
  }, "reference target destroyed");
}

// A destroy in another container closes the index up under a kept order:
// its positions move, its objects do not.
TEST(CdsOrder, KeptOrdersFollowTheIndexAsItClosesUp)
{
  server_test::server srv;
  ASSERT_TRUE(srv.start());
  server_rec *s = &srv.s;
  std::string before = container(s, "Container:UserFiles", "Before", "object.container");
  std::vector<std::string> early;
  for (int i = 0; i < 6; i++) early.push_back(item(s, before, "e" + std::to_string(i), "object.item"));
  known k{s, container(s, "Container:UserFiles", "Tracks", "object.container"), {}, {}};
  for (int i = 0; i < 30; i++) {
    char title[8];
    std::snprintf(title, sizeof title, "t%02d", (i * 7) % 30);
    ASSERT_FALSE(k.add(title).empty());
  }
  check_change(k, [&] {
    for (int i : {4, 0, 2}) ASSERT_EQ(act(s, "DestroyObject", {{"ObjectID", early[size_t(i)]}}).code, 0u);
  }, "destroy before");
  check_change(k, [&] { ASSERT_EQ(act(s, "DestroyObject", {{"ObjectID", before}}).code, 0u); }, "container before");
}

// The titles of a container's children as a remote requester pages them
// by title.
std::string paged_titles(server_rec *s, const std::string &id)
{
  std::string out;
  for (const std::string &child : paged(s, id, true)) {
    scan_test::node n;
    if (scan_test::object_of(s, child, &n)) out += (out.empty() ? "" : ",") + n.title;
  }
  return out;
}

TEST(CdsOrder, SharesAndTheScannerChangeKeptOrders)
{
  scan_test::scanner sc;
  scan_test::wav_write(sc.media + "/b.wav");
  scan_test::wav_write(sc.media + "/d.wav");
  ASSERT_TRUE(sc.start());
  std::string user_files = "Container:UserFiles";
  ASSERT_EQ(paged(sc.s, user_files, true), std::vector<std::string>{});
  ASSERT_EQ(sc.share(sc.media), 0u);
  std::string root;
  ASSERT_TRUE(tarvo_test::eventually([&] {
    root = sc.share_id(sc.media);
    return !root.empty() && paged_titles(sc.s, root) == "b,d";
  }));
  EXPECT_EQ(paged(sc.s, user_files, true), std::vector<std::string>{root});
  scan_test::wav_write(sc.media + "/a.wav");
  scan_test::wav_write(sc.media + "/c.wav");
  EXPECT_TRUE(tarvo_test::eventually([&] { return paged_titles(sc.s, root) == "a,b,c,d"; }));
  fs::remove(sc.media + "/b.wav");
  EXPECT_TRUE(tarvo_test::eventually([&] { return paged_titles(sc.s, root) == "a,c,d"; }));
  EXPECT_TRUE(content_db_unshare(sc.s, sc.media.c_str()));
  EXPECT_EQ(paged(sc.s, user_files, true), std::vector<std::string>{});
}

// Pages taken while the scanner and the actions change the container: each
// one in order, its count the objects it holds.  Run under ThreadSanitizer
// too.
TEST(CdsOrder, ConcurrentBrowseWhileTheTreeChanges)
{
  scan_test::scanner sc;
  for (int i = 0; i < 30; i++) scan_test::wav_write(sc.media + "/f" + std::to_string(100 + i) + ".wav");
  ASSERT_TRUE(sc.start());
  ASSERT_EQ(sc.share(sc.media), 0u);
  std::string root;
  ASSERT_TRUE(tarvo_test::eventually([&] { return !(root = sc.share_id(sc.media)).empty(); }));
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0}, answers{0};
  std::vector<std::thread> t;
  for (int k = 0; k < 4; k++)
    t.emplace_back([&, k] {
      while (!stop) {
        answer a = browse(sc.s, root, uint64_t(k * 3), 9, k % 2 ? "-dc:title" : kByTitle, k >= 2);
        if (a.code) continue;
        answers++;
        std::vector<std::string> page = ids(a.out("Result"));
        std::vector<std::string> titles;
        static const std::regex title("&lt;dc:title&gt;([^&]*)&lt;/dc:title&gt;");
        std::string r = a.out("Result");
        for (std::sregex_iterator i(r.begin(), r.end(), title), end; i != end; ++i) titles.push_back((*i)[1]);
        std::vector<std::string> sorted = titles;
        std::sort(sorted.begin(), sorted.end());
        if (k % 2) std::reverse(sorted.begin(), sorted.end());
        if (titles != sorted || a.out("NumberReturned") != std::to_string(page.size())) wrong++;
      }
    });
  for (int round = 0; round < 20; round++) {
    scan_test::wav_write(sc.media + "/g" + std::to_string(round) + ".wav");
    if (round % 3 == 0) fs::remove(sc.media + "/f" + std::to_string(100 + round) + ".wav");
    std::string made = item(sc.s, root, "h" + std::to_string(round), "object.item.audioItem.musicTrack");
    if (round % 2) act(sc.s, "DestroyObject", {{"ObjectID", made}});
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  stop = true;
  for (auto &x : t) x.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_GT(answers.load(), 20);
}

TEST(CdsOrder, OrdersKeptAtTheirLimits)
{
  server_test::server srv;
  ASSERT_TRUE(srv.start());
  server_rec *s = &srv.s;
  std::string id = container(s, "Container:UserFiles", "C", "object.container");
  std::string child = item(s, id, "x", "object.item");
  ASSERT_TRUE(content_db_lock(s));
  didl_object *c = content_db_get(s, id.c_str()), *x = content_db_get(s, child.c_str());
  auto kept = [&](const std::string &key) {
    sys_ptralloc_rec objects{};
    uint64_t total = 0;
    bool found = content_db_order_page(s, c, key.c_str(), 0, 0, &objects, &total) != 0;
    sys_ptralloc_free(&objects);
    return found;
  };
  for (int i = 0; i < CONTENT_DB_ORDERS_MAX; i++) EXPECT_TRUE(content_db_order_keep(s, c, std::to_string(i).c_str(), &x, 1));
  for (int i = 0; i < CONTENT_DB_ORDERS_MAX; i++) EXPECT_TRUE(kept(std::to_string(i))) << i;
  // One more makes room: the least recently used goes.
  EXPECT_TRUE(kept("0"));
  EXPECT_TRUE(content_db_order_keep(s, c, "more", &x, 1));
  EXPECT_FALSE(kept("1"));
  EXPECT_TRUE(kept("0"));
  EXPECT_TRUE(kept("more"));

  std::vector<didl_object *> many(CONTENT_DB_ORDER_IDS_MAX + 1, x);
  EXPECT_TRUE(content_db_order_keep(s, c, "big", many.data(), CONTENT_DB_ORDER_IDS_MAX));
  EXPECT_TRUE(kept("big"));
  // Nothing else fits beside it.
  EXPECT_FALSE(kept("more"));
  EXPECT_FALSE(content_db_order_keep(s, c, "bigger", many.data(), CONTENT_DB_ORDER_IDS_MAX + 1));
  EXPECT_FALSE(kept("bigger"));
  // A change of the container forgets its orders.
  content_db_bump(s, c, 0, 0, 0);
  EXPECT_FALSE(kept("big"));
  content_db_unlock(s);
}

}  // namespace
