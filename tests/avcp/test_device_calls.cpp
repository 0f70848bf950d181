// Device-addressed calls on devices found by the control point: the media
// server program and a renderer fixture on the device stack, in a network
// namespace of the test's own; and the DIDL forms of Browse against a
// recording peer.
#include <gtest/gtest.h>
#include <tarvo_avcp/tarvo_avcp.h>
#include <tarvo_cp/tarvo_cp_impl.h>
#include <tarvo_device/tarvo_device.h>
#include <tarvo_util/sys_owner.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../util/script_server.h"
#include "soap_reply.h"
#include "tarvo_live.h"
#include "vennard_run.h"

namespace {

using tarvo_test::soap_response;

constexpr uint16_t kRendererPort = 31340;
constexpr char kRendererUdn[] = "uuid:7e57a0e1-0000-4000-8000-000000000001";

std::string service(const char *type, const char *id, const char *name)
{
  return std::string("<service><serviceType>") + type + "</serviceType><serviceId>" + id +
         "</serviceId><SCPDURL>" + name + ".xml</SCPDURL><controlURL>control/" + name +
         "</controlURL><eventSubURL>event/" + name + "</eventSubURL></service>";
}

// A renderer with AVTransport, RenderingControl and ConnectionManager
// that records the actions it is sent.  Pause takes 300 ms; Seek fails
// with 701; GetVolume answers 42.
struct renderer {
  tarvo_device_ctx *ctx = nullptr;
  std::mutex mu;
  std::vector<std::string> actions;
  std::atomic<int> inside{0}, overlap{0};
  std::chrono::steady_clock::time_point paused_until;  // the end of the last Pause, under mu
  device_service_handler avt{}, rcs{}, cms{};
  bool started = false;

  static uint32_t on_action(const device_request_info *info, const char *action, char **, char **, void *user,
                            char **out)
  {
    auto *r = static_cast<renderer *>(user);
    if (r->inside++) r->overlap++;
    {
      std::lock_guard<std::mutex> l(r->mu);
      r->actions.push_back(action);
    }
    std::string a = action;
    if (a == "Pause") {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      std::lock_guard<std::mutex> l(r->mu);
      r->paused_until = std::chrono::steady_clock::now();
    }
    uint32_t code = 0;
    std::string args = a == "GetVolume" ? "<CurrentVolume>42</CurrentVolume>" : "";
    if (a == "Seek") code = 701;
    else {
      std::string body = "<u:" + a + "Response xmlns:u=\"" + info->service_type + "\">" + args + "</u:" + a +
                         "Response>";
      *out = static_cast<char *>(sys_alloc(body.size() + 1));
      sys_byte_copy(*out, uint32_t(body.size() + 1), body.c_str());
    }
    r->inside--;
    return code;
  }
  static uint32_t on_query(const device_request_info *, const char *, void *, char **) { return 404; }
  static int on_subscribe(const device_request_info *, void *, char **) { return 0; }

  bool start()
  {
    avt = {"urn:upnp-org:serviceId:AVTransport", on_action, on_query, on_subscribe, nullptr, nullptr, nullptr, this};
    rcs = avt;
    rcs.service_id = "urn:upnp-org:serviceId:RenderingControl";
    cms = avt;
    cms.service_id = "urn:upnp-org:serviceId:ConnectionManager";
    device_service_handler *list[] = {&avt, &rcs, &cms, nullptr};
    std::string xml = std::string("<?xml version=\"1.0\"?>\r\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\">"
                                  "<specVersion><major>1</major><minor>0</minor></specVersion><device>"
                                  "<deviceType>urn:schemas-upnp-org:device:MediaRenderer:1</deviceType>"
                                  "<friendlyName>Fixture</friendlyName><manufacturer>t</manufacturer>"
                                  "<modelName>m</modelName><UDN>") +
                      kRendererUdn + "</UDN><serviceList>" +
                      service(avcp_type_avts(), avt.service_id, "AVTransport") +
                      service(avcp_type_rcs(), rcs.service_id, "RenderingControl") +
                      service(avcp_type_cms(), cms.service_id, "ConnectionManager") +
                      "</serviceList></device></root>\r\n";
    tarvo_device_disable_ssdp(&ctx);
    return started = tarvo_device_start(&ctx, nullptr, kRendererPort, nullptr, xml.c_str(), 1800, list);
  }
  ~renderer()
  {
    if (started) tarvo_device_end(&ctx);
  }
  size_t count()
  {
    std::lock_guard<std::mutex> l(mu);
    return actions.size();
  }
};

// The shared client holds no connection and the lock is free.
bool idle(tarvo_cp_ctx *cp)
{
  if (!tarvo_cp_impl_hc_lock(cp)) return false;
  bool closed = http_client_get_socket(tarvo_cp_impl_http_client(cp)) < 0;
  tarvo_cp_impl_hc_unlock(cp);
  return closed;
}

}  // namespace

TEST(device_calls, servers_and_renderers_by_udn)
{
  const std::string &problem = tarvo_test::private_net();
  if (!problem.empty()) GTEST_SKIP() << problem;
  tarvo_test::vennard_run server(31320);
  renderer rend;
  ASSERT_TRUE(rend.start());
  tarvo_cp_ctx *cp = nullptr;
  ASSERT_TRUE(tarvo_cp_start(&cp, nullptr, 0, nullptr));
  std::string server_loc = "http://127.0.0.1:" + std::to_string(server.upnp_port) + "/",
              rend_loc = "http://127.0.0.1:" + std::to_string(kRendererPort) + "/";
  std::string server_udn;
  for (int i = 0; i < 200 && server_udn.empty(); i++) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (i % 10 == 0) {
      tarvo_cp_discovery_static_async(&cp, server_loc.c_str());
      tarvo_cp_discovery_static_async(&cp, rend_loc.c_str());
    }
    own::str_list udns;
    if (!tarvo_cp_get_udn_list(&cp, &udns.l)) continue;
    uint32_t n = 0;
    for (; udns.l[n]; n++)
      if (std::string(udns.l[n]) != kRendererUdn) server_udn = udns.l[n];
    if (n < 2) server_udn.clear();
  }
  ASSERT_FALSE(server_udn.empty()) << "the control point did not find both devices";

  // An unknown device: 501, and nobody is asked.
  EXPECT_EQ(tarvo_avcp_play(&cp, "uuid:unknown", 0, "1"), 501u);
  EXPECT_EQ(rend.count(), 0u);
  tarvo_cp_ctx *none = nullptr;
  EXPECT_EQ(tarvo_avcp_stop(&none, kRendererUdn, 0), 501u);
  // The renderer: success, a fault passed through, an output read.
  EXPECT_EQ(tarvo_avcp_play(&cp, kRendererUdn, 0, "1"), 0u);
  EXPECT_TRUE(idle(cp));
  EXPECT_EQ(tarvo_avcp_seek(&cp, kRendererUdn, 0, "REL_TIME", "0:00:10"), 701u);
  EXPECT_TRUE(idle(cp));
  uint16_t volume = 0;
  EXPECT_EQ(tarvo_avcp_get_volume(&cp, kRendererUdn, 0, "Master", &volume), 0u);
  EXPECT_EQ(volume, 42u);
  EXPECT_EQ(tarvo_avcp_connection_complete(&cp, kRendererUdn, 0), 0u);
  EXPECT_EQ(rend.count(), 4u);
  // The server has no AVTransport and the renderer no ContentDirectory.
  EXPECT_EQ(tarvo_avcp_play(&cp, server_udn.c_str(), 0, "1"), 501u);
  EXPECT_EQ(tarvo_avcp_get_system_update_id(&cp, kRendererUdn, nullptr), 501u);
  EXPECT_EQ(rend.count(), 4u);

  // The server's ContentDirectory: objects, lists and the buffer form.
  avcp_didl_object *root = nullptr;
  uint32_t update = 0, returned = 0, total = 0;
  ASSERT_EQ(tarvo_avcp_browse_metadata(&cp, server_udn.c_str(), "0", "*", &root, &update), 0u);
  EXPECT_STREQ(root->element, "container");
  avcp_didl_object_free(root);
  avcp_didl_object_list list = nullptr;
  ASSERT_EQ(tarvo_avcp_browse_direct_children(&cp, server_udn.c_str(), "0", "dc:title", 0, 0, "", &list, &returned,
                                              &total, nullptr),
            0u);
  uint32_t n = 0;
  while (list[n]) n++;
  EXPECT_EQ(n, returned);
  EXPECT_GT(n, 0u);
  avcp_didl_object_list_free(list);
  char buf[16384];
  ASSERT_EQ(tarvo_avcp_browse_direct_children_buf(&cp, server_udn.c_str(), "0", "dc:title", 0, 0, "", buf,
                                                  sizeof buf, &returned, &total, &update),
            0u);
  EXPECT_EQ(std::string(buf).rfind("<DIDL-Lite", 0), 0u);
  EXPECT_EQ(tarvo_avcp_browse_metadata_buf(&cp, server_udn.c_str(), "0", "*", buf, 8, &update), 501u);
  EXPECT_EQ(tarvo_avcp_browse_metadata(&cp, server_udn.c_str(), "no-such-object", "*", &root, nullptr), 701u);
  // A copy to a server the control point does not know; storage figures
  // of a container that is not storage.
  EXPECT_EQ(tarvo_avcp_copy_object(&cp, server_udn.c_str(), "Container:Music", "uuid:unknown", "0", nullptr), 501u);
  int64_t figures[3];
  EXPECT_EQ(tarvo_avcp_storage_usage(&cp, server_udn.c_str(), "0", &figures[0], &figures[1], &figures[2]), 501u);
  EXPECT_TRUE(idle(cp));

  // Concurrent callers: the "hc" lock lets one device-addressed call run
  // at a time, and the second starts once the first is done.
  std::atomic<uint32_t> paused{1}, browsed{1};
  std::thread slow([&] { paused = tarvo_avcp_pause(&cp, kRendererUdn, 0); });
  // The others come while the renderer is inside the Pause.
  ASSERT_TRUE(tarvo_test::eventually([&] {
    std::lock_guard<std::mutex> l(rend.mu);
    return !rend.actions.empty() && rend.actions.back() == "Pause";
  }));
  std::chrono::steady_clock::time_point browsed_at;
  std::thread other([&] {
    browsed = tarvo_avcp_get_system_update_id(&cp, server_udn.c_str(), nullptr);
    browsed_at = std::chrono::steady_clock::now();
  });
  for (int i = 0; i < 4; i++) EXPECT_EQ(tarvo_avcp_stop(&cp, kRendererUdn, 0), 0u);
  slow.join();
  other.join();
  {
    // The call to the other device waited for the Pause to end.
    std::lock_guard<std::mutex> l(rend.mu);
    EXPECT_GE(browsed_at, rend.paused_until);
  }
  EXPECT_EQ(paused, 0u);
  EXPECT_EQ(browsed, 0u);
  EXPECT_EQ(rend.overlap, 0);
  EXPECT_TRUE(idle(cp));
  tarvo_cp_end(&cp);
}

TEST(device_calls, browse_objects_against_a_recording_peer)
{
  auto reply = [](const std::string &s) { return tarvo_test::script_reply{s, true, false}; };
  const std::string two = "&lt;DIDL-Lite xmlns=&quot;urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/&quot;&gt;"
                          "&lt;item id=&quot;a&quot;/&gt;&lt;item id=&quot;b&quot;/&gt;&lt;/DIDL-Lite&gt;",
                    none = "&lt;DIDL-Lite xmlns=&quot;urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/&quot;/&gt;";
  auto meta = [&](const std::string &result) {
    return soap_response("Browse", "<Result>" + result +
                                       "</Result><NumberReturned>1</NumberReturned><TotalMatches>1</TotalMatches>"
                                       "<UpdateID>7</UpdateID>");
  };
  tarvo_test::script_server peer({
      reply(meta(two)),
      reply(meta(two)),
      reply(soap_response("Browse", "<Result>" + none +
                                        "</Result><NumberReturned>0</NumberReturned><TotalMatches>0</TotalMatches>"
                                        "<UpdateID>3</UpdateID>")),
      reply(soap_response("Search", "<Result>not xml</Result><NumberReturned>0</NumberReturned>"
                                    "<TotalMatches>0</TotalMatches><UpdateID>3</UpdateID>")),
  });
  http_client c = nullptr;
  ASSERT_TRUE(http_client_init(&c, peer.url("/cd").c_str()));
  avcp_didl_object *o = reinterpret_cast<avcp_didl_object *>(1);
  uint32_t update = 0;
  // Two objects are not the object; without an object output they are fine.
  EXPECT_EQ(tarvo_avcp_cds_browse_metadata(&c, "a", "*", &o, &update), 501u);
  EXPECT_EQ(o, reinterpret_cast<avcp_didl_object *>(1));
  EXPECT_EQ(tarvo_avcp_cds_browse_metadata(&c, "a", "*", nullptr, &update), 0u);
  EXPECT_EQ(update, 7u);
  avcp_didl_object_list list = nullptr;
  EXPECT_EQ(tarvo_avcp_cds_browse_direct_children(&c, "0", "*", 0, 0, "", &list, nullptr, nullptr, nullptr), 0u);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list[0], nullptr);  // an empty container: a list of the NULL alone
  avcp_didl_object_list_free(list);
  list = nullptr;
  EXPECT_EQ(tarvo_avcp_cds_search(&c, "0", "*", "*", 0, 0, "", &list, nullptr, nullptr, nullptr), 501u);
  EXPECT_EQ(list, nullptr);
  http_client_free(&c);
}
