// One Browse or Search to eight servers at once, in a network namespace of
// the test's own: good servers, one faulting, one without a
// ContentDirectory, one that answers only after the time-out, one whose
// Result is no DIDL-Lite, and one whose control URL is another's.
#include <gtest/gtest.h>
#include <tarvo_avcp/tarvo_avcp.h>
#include <tarvo_util/sys_owner.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cds_fixture.h"
#include "tarvo_test.h"

namespace {

using cds_fixture::udn_of;

struct records {
  tarvo_avcp_search_result **r = nullptr;
  ~records() { tarvo_avcp_search_result_list_free(r); }
  size_t size() const
  {
    size_t n = 0;
    while (r && r[n]) n++;
    return n;
  }
};

size_t count(avcp_didl_object_list l)
{
  size_t n = 0;
  while (l && l[n]) n++;
  return n;
}

std::string title(const avcp_didl_object *o)
{
  avcp_didl_property *p = avcp_didl_property_find(o, AVCP_DIDL_NAME(EL_DC_TITLE));
  return p && p->text ? p->text : "";
}

// A UDN list of heap copies, freed by the test whenever it likes.
sys_str_list udn_list(const std::vector<std::string> &udns)
{
  auto l = static_cast<sys_str_list>(sys_alloc_zero((udns.size() + 1) * sizeof(char *)));
  for (size_t i = 0; i < udns.size(); i++) sys_str_clone(udns[i].c_str(), &l[i]);
  return l;
}

}  // namespace

TEST(device_all, eight_servers_at_once)
{
  const std::string &problem = tarvo_test::private_net();
  if (!problem.empty()) GTEST_SKIP() << problem;
  using cds_fixture::mode;
  const mode modes[] = {mode::good, mode::fault, mode::no_cds, mode::good,
                        mode::good, mode::garbage, mode::good, mode::good};
  std::vector<std::unique_ptr<cds_fixture::server>> servers;
  for (int i = 0; i < 8; i++) {
    auto s = std::make_unique<cds_fixture::server>();
    s->index = i;
    s->port = uint16_t(31400 + i);
    s->how = modes[i];
    s->children = i + 1;
    servers.push_back(std::move(s));
  }
  // Answers long after the shortened time-out: a call that waited for it
  // would take at least this long.
  const int silent_ms = 4000;
  servers[3]->delay_ms = silent_ms;
  // Server 7 is reached through server 6's control URL: two devices
  // behind one URL.
  servers[7]->control_url = servers[6]->own_control_url();
  for (auto &s : servers) ASSERT_TRUE(s->start()) << s->index;

  tarvo_cp_ctx *cp = nullptr;
  ASSERT_TRUE(tarvo_cp_start(&cp, nullptr, 0, nullptr));
  tarvo_cp_set_read_timeout(&cp, 800);
  ASSERT_TRUE(cds_fixture::discover(&cp, servers));

  std::vector<std::string> asked;
  for (int i = 0; i < 8; i++) asked.push_back(udn_of(i));
  asked.insert(asked.begin() + 2, "uuid:not-known");
  // Whose records: the good servers in the order of the list, server 7
  // under its own UDN though its answers come from server 6's URL.
  const int expect[] = {0, 4, 6, 7};
  const size_t children[] = {1, 5, 7, 7};

  {
    records got;
    sys_str_list udns = udn_list(asked);
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(0u, tarvo_avcp_browse_direct_children_all2(&cp, udns, "0", "*", &got.r));
    auto took = std::chrono::steady_clock::now() - t0;
    sys_str_list_free(udns);  // the records keep copies of their own
    EXPECT_LT(took, std::chrono::milliseconds(silent_ms)) << "the silent server was waited for";
    EXPECT_EQ(1, servers[3]->requests.load()) << "the silent server was asked";
    ASSERT_EQ(4u, got.size());
    for (size_t i = 0; i < 4; i++) {
      EXPECT_EQ(udn_of(expect[i]), got.r[i]->udn);
      ASSERT_EQ(children[i], count(got.r[i]->objects)) << i;
      EXPECT_EQ(100u + (expect[i] == 7 ? 6 : expect[i]), got.r[i]->update_id);
    }
    EXPECT_EQ("s4-0", title(got.r[1]->objects[0]));
    EXPECT_EQ("s6-6", title(got.r[3]->objects[6]));
  }
  {
    records got;
    sys_str_list udns = udn_list(asked);
    ASSERT_EQ(0u, tarvo_avcp_browse_metadata_all2(&cp, udns, "0", "*", &got.r));
    sys_str_list_free(udns);
    ASSERT_EQ(4u, got.size());
    for (size_t i = 0; i < 4; i++) {
      EXPECT_EQ(udn_of(expect[i]), got.r[i]->udn);
      ASSERT_EQ(1u, count(got.r[i]->objects));
    }
    EXPECT_EQ("Root 4", title(got.r[1]->objects[0]));
  }
  {
    // Search records carry no UpdateID; every device of the list is asked.
    records got;
    ASSERT_EQ(0u, tarvo_avcp_search_all(&cp, "*", "*", &got.r));
    ASSERT_EQ(4u, got.size());
    std::set<std::string> whose;
    for (size_t i = 0; i < got.size(); i++) {
      whose.insert(got.r[i]->udn);
      EXPECT_EQ(0u, got.r[i]->update_id);
    }
    EXPECT_EQ((std::set<std::string>{udn_of(0), udn_of(4), udn_of(6), udn_of(7)}), whose);
  }
  {
    // Nothing to ask: nothing is sent, an empty list.
    records got;
    sys_str_list udns = udn_list({udn_of(2), "uuid:not-known"});
    int before = 0;
    for (auto &s : servers) before += s->requests.load();
    EXPECT_EQ(0u, tarvo_avcp_search_all2(&cp, udns, "*", "*", &got.r));
    int after = 0;
    for (auto &s : servers) after += s->requests.load();
    EXPECT_EQ(before, after) << "a server was asked";
    sys_str_list_free(udns);
    ASSERT_NE(nullptr, got.r);
    EXPECT_EQ(0u, got.size());
  }
  {
    records got;
    tarvo_cp_ctx *none = nullptr;
    EXPECT_EQ(501u, tarvo_avcp_browse_direct_children_all(&none, "0", "*", &got.r));
    EXPECT_EQ(nullptr, got.r);
  }
  tarvo_cp_end(&cp);
}
