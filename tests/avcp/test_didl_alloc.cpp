// Every allocation of the object model failing in turn: each call must
// fail cleanly, leave nothing allocated behind and never hand out a partial
// result.  The heap is interposed (tarvo_alloc_fail.h), so the test runs
// only in builds without a sanitizer, which bring their own.
#include "helper_didl.h"
#include "tarvo_alloc_fail.h"

#include <gtest/gtest.h>
#include <tarvo_avcp/avcp_didl_cluster.h>
#include <tarvo_avcp/avcp_didl_criteria.h>

#include <cstring>
#include <functional>

using namespace didl_test;
using tarvo_alloc::every_failure;
using tarvo_alloc::failed;

TEST(DidlAlloc, Parse)
{
  std::string text = doc(item("1", "<dc:title> A &amp; B </dc:title><upnp:artist>x</upnp:artist>"
                                   "<res protocolInfo=\"p\" size=\"5\" tarvo:filename=\"/f\">u</res>",
                              " restricted=\"1\"") +
                         "<container id=\"2\"><dc:title>c</dc:title><desc><x xmlns=\"urn:x\"/></desc></container>");
  every_failure("parse", [&] {
    avcp_didl_object_list list = nullptr;
    if (!avcp_didl_parse(text.c_str(), &list)) return list == nullptr ? 0 : -1;
    size_t objects = 0, props = 0;
    for (avcp_didl_object **o = list; *o; o++, objects++)
      for (avcp_didl_property **p = (*o)->properties; *p; p++) props++;
    bool right = objects == 2 && props == 5 && !std::strcmp(list[0]->properties[0]->text, "A & B");
    avcp_didl_object_list_free(list);
    return right ? 1 : -1;
  });
}

TEST(DidlAlloc, Search)
{
  parsed p(doc(item("1", "<dc:title>a</dc:title><upnp:genre>g</upnp:genre>")));
  std::string deep;
  for (int i = 0; i < 40; i++) deep += "dc:title exists true and ";
  deep += "(upnp:genre = \"g\" or dc:title = \"x\")";
  every_failure("search", [&] {
    avcp_didl_search_criteria *c = nullptr;
    if (!avcp_didl_search_criteria_parse(&c, deep.c_str())) return c == nullptr ? 0 : -1;
    // The match needs a heap stack; without one it reports no match.
    bool before = failed;
    int m = avcp_didl_search_criteria_match(&c, p[0]);
    avcp_didl_search_criteria_free(&c);
    return m == 1 ? 1 : !before && failed ? 0 : -1;
  });
}

TEST(DidlAlloc, Clusters)
{
  parsed p(doc(item("1", "<upnp:album>A</upnp:album>") +
               item("2", "<upnp:album>B</upnp:album><upnp:album>A</upnp:album>") + item("3", "")));
  every_failure("cluster", [&] {
    avcp_didl_cluster *c = nullptr;
    if (!avcp_didl_cluster_init(&c, "upnp:album")) return c == nullptr ? 0 : -1;
    bool ok = true;
    for (size_t i = 0; ok && i < p.size(); i++) ok = avcp_didl_cluster_add(&c, p[i]);
    avcp_didl_cluster_result **r = nullptr;
    ok = ok && avcp_didl_cluster_final(&c, &r);
    bool right = ok ? r[0] && r[1] && r[2] && !r[3] && r[0]->objects[1] == p[1] : !r;
    avcp_didl_cluster_result_list_free(r);
    avcp_didl_cluster_free(&c);
    return right ? int(ok) : -1;
  });
}
