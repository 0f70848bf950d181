// The load's check of a damaged file with its allocations failing in turn
// (a program of its own: the heap is interposed, and under a sanitizer its
// tests skip).
#include <vennard/content_db.h>
#include <vennard/server.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "../../server/src/content_db_impl.h"
#include "didl_test.h"
#include "server_test.h"
#include "tarvo_alloc_fail.h"

using namespace server_test;

namespace {

const std::string kHead = didl_test::doc("").substr(0, didl_test::doc("").find("</DIDL-Lite>"));

struct out_of_memory : ::testing::Test {
  server srv;
  server_rec *s = &srv.s;
  void SetUp() override { srv.data.put("special_object", ""); }
};

// With no memory left for the load's check, what it had marked went but
// the root's tarvo:maxObjectID stayed behind the dropped ids: saved so, a
// restart handed them out again.
TEST_F(out_of_memory, TheLoadsCheckKeepsTheDroppedIdsFromBeingHandedOutAgain)
{
  const std::string text =
      kHead +
      "<container id=\"0\" parentID=\"-1\" restricted=\"1\" childCount=\"2\" tarvo:containerUpdateID=\"3\" "
      "tarvo:maxObjectID=\"5\" tarvo:children=\"10,40\"><dc:title>root</dc:title>"
      "<upnp:class>object.container</upnp:class></container>"
      "<item id=\"10\" parentID=\"0\" restricted=\"1\"><dc:title>a</dc:title>"
      "<upnp:class>object.item</upnp:class></item>"
      "<item id=\"40\" parentID=\"0\" restricted=\"1\"><dc:title>b</dc:title>"
      "<upnp:class>object.item</upnp:class></item></DIDL-Lite>\r\n";
  alloc_fail::every_failure(
      "the load's check",
      [&] {
        long k = std::exchange(alloc_fail::fail_at, 0);
        srv.data.put("data.xml", text);
        if (!srv.start()) return -1;
        bool damaged;
        {
          // Item 40 loses its parent, as a hand would have edited it.
          held lock(s);
          didl_object *o = content_db_own(s, content_db_get(s, "40"));
          damaged = o && didl_attribute_set(&o->attributes, DIDL_NAME(AT_PARENT_ID), "77");
          alloc_fail::fail_at = k;
          if (damaged) cdb::links_check(s);
          alloc_fail::fail_at = 0;
        }
        bool ok = damaged && content_db_save(s);
        srv.stop();
        ok = ok && srv.start();
        if (ok) {
          held lock(s);
          char number[CONTENT_DB_NUMBER_SIZE];
          ok = content_db_find(s, "40") < content_db_count(s) ||
               (content_db_new_number(s, number) && std::stoull(number) > 40);
        }
        srv.stop();
        return ok ? 1 : -1;
      },
      true);
}

}  // namespace
