// Every allocation of the object model failing in turn: each call must
// fail cleanly, leave nothing allocated behind and never hand out a partial
// result.  The heap is interposed here, so the test runs only in builds
// without a sanitizer, which bring their own.
#include "helper_didl.h"

#include <gtest/gtest.h>
#include <tarvo_avcp/avcp_didl_cluster.h>
#include <tarvo_avcp/avcp_didl_criteria.h>

#include <cstring>
#include <functional>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define DIDL_NO_INTERPOSE 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define DIDL_NO_INTERPOSE 1
#endif
#endif

using namespace didl_test;

namespace {
long fail_at = 0;  // 0: nothing fails; n: the n-th allocation from now fails
bool failed = false;
long live = 0;  // allocations not yet freed
}  // namespace

#ifndef DIDL_NO_INTERPOSE
static bool fail_now()
{
  if (fail_at <= 0 || --fail_at) return false;
  return failed = true;
}

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void __libc_free(void *);

void *malloc(size_t n)
{
  void *p = fail_now() ? nullptr : __libc_malloc(n);
  live += p != nullptr;
  return p;
}

void *calloc(size_t n, size_t m)
{
  void *p = fail_now() ? nullptr : __libc_calloc(n, m);
  live += p != nullptr;
  return p;
}

void *realloc(void *old, size_t n)
{
  if (fail_now()) return nullptr;
  void *p = __libc_realloc(old, n);
  live += (!old && p) - (old && !n);
  return p;
}

void free(void *p)
{
  live -= p != nullptr;
  __libc_free(p);
}
}
#endif

namespace {

// Runs op with its 1st, 2nd, ... allocation failing until it runs through.
// op frees what it got and returns 1 for success, 0 for a clean failure
// and -1 for a wrong or partial result.
void every_failure(const char *what, const std::function<int()> &op)
{
#ifdef DIDL_NO_INTERPOSE
  GTEST_SKIP() << "the heap cannot be interposed under a sanitizer";
#endif
  for (long k = 1; k < 100000; k++) {
    long before = live;
    failed = false;
    fail_at = k;
    int r = op();
    fail_at = 0;
    ASSERT_EQ(live, before) << what << ": leak with allocation " << k << " failing";
    ASSERT_NE(r, -1) << what << ": wrong result with allocation " << k << " failing";
    if (!failed) {
      ASSERT_EQ(r, 1) << what;
      return;
    }
  }
}

}  // namespace

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
