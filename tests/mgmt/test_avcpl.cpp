// The local-server client: its request bytes and readings against a
// recording peer, and every call family against the server program with
// the test backup module, in a network namespace of the test's own.
#include <gtest/gtest.h>
#include <tarvo_avcpl/tarvo_avcpl.h>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/tarvo_vendor.h>

#include <filesystem>
#include <string>
#include <vector>

#include "../util/script_server.h"
#include "soap_reply.h"
#include "tarvo_test.h"
#include "vennard_run.h"

namespace {

using tarvo_test::request_body;
using tarvo_test::script_reply;
using tarvo_test::soap_fault;
using tarvo_test::soap_response;

script_reply reply(const std::string &bytes) { return {bytes, true, false}; }

std::string take(char *s)
{
  own::str o(s);
  return s ? s : "(null)";
}

std::string joined(sys_str_list l)
{
  own::str_list o;
  o.l = l;
  std::string s = l ? "" : "(null)";
  for (uint32_t i = 0; l && l[i]; i++) s += (i ? "|" : "") + std::string(l[i]);
  return s;
}

struct handle {
  tarvo_avcpl_handle h = nullptr;
  explicit handle(uint16_t port) { EXPECT_EQ(tarvo_avcpl_init(&h, port), 1); }
  ~handle() { tarvo_avcpl_free(&h); }
};

}  // namespace

TEST(avcpl, request_bytes_and_readings_against_a_recording_peer)
{
  tarvo_test::script_server peer({
      reply(soap_response("X_SetPrivate", "")),
      reply(soap_response("GetFriendlyName", "<FriendlyName>Den &amp; box</FriendlyName>")),
      reply(soap_response("CreateTask", "<TaskID>t1</TaskID>")),
      reply(soap_response("X_GetFileTypeList",
                          "<FileExtensionList></FileExtensionList><MimeTypeList>a\\,b,c</MimeTypeList>"
                          "<NumberOfFileTypes>0</NumberOfFileTypes>")),
      reply(soap_response("X_GetFileTypeList", "<FileExtensionList>mp3</FileExtensionList><MimeTypeList>x</MimeTypeList>")),
      reply(soap_response("GetAllowList", "<AllowMacList>a</AllowMacList><AllowIpList>b</AllowIpList>"
                                          "<NumberOfAllowClients>one</NumberOfAllowClients>")),
      reply(soap_fault(805)),
      reply(soap_response("", "")),
      reply(soap_response("Browse", "")),
  });
  handle l(peer.port());
  // A handle whose client never had a URL sends nothing.
  EXPECT_EQ(tarvo_avcpl_action(&l.h, TARVO_VENDOR_DEVMGR_TYPE, "GetFriendlyName", "", nullptr, nullptr), 501u);
  EXPECT_EQ(tarvo_avcpl_set_private(&l.h, "id<1>", 2), 0u);
  char *name = nullptr;
  EXPECT_EQ(tarvo_avcpl_get_friendly_name(&l.h, &name), 0u);
  EXPECT_EQ(take(name), "Den & box");
  char *task = nullptr;
  EXPECT_EQ(tarvo_avcpl_create_task(&l.h, "uuid:1", "0", &task), 0u);
  EXPECT_EQ(take(task), "t1");

  sys_str_list exts = nullptr, mimes = nullptr;
  uint32_t n = 9;
  EXPECT_EQ(tarvo_avcpl_get_file_type_list(&l.h, &exts, &mimes, &n), 0u);
  EXPECT_EQ(joined(exts), "");  // an empty list, not NULL
  EXPECT_EQ(joined(mimes), "a,b|c");
  EXPECT_EQ(n, 0u);
  // Without the count the answer is refused, even for a caller of the lists only.
  exts = mimes = nullptr;
  EXPECT_EQ(tarvo_avcpl_get_file_type_list(&l.h, &exts, &mimes, nullptr), 501u);
  EXPECT_EQ(exts, nullptr);
  EXPECT_EQ(mimes, nullptr);
  sys_str_list macs = nullptr;
  EXPECT_EQ(tarvo_avcpl_get_allow_list(&l.h, &macs, nullptr, &n), 501u);  // "one" is no count
  EXPECT_EQ(macs, nullptr);
  EXPECT_EQ(tarvo_avcpl_share(&l.h, "/m"), 805u);
  // A 2xx answer without a response element: the outputs are required.
  EXPECT_EQ(tarvo_avcpl_get_default_client_state(&l.h, &name), 501u);
  avcp_didl_object_list list = nullptr;
  EXPECT_EQ(tarvo_avcpl_browse_direct_children(&l.h, "0", "*", 0, 0, "", &list, nullptr, nullptr, nullptr), 501u);
  EXPECT_EQ(list, nullptr);

  std::vector<std::string> got = peer.requests();
  ASSERT_EQ(got.size(), 9u);
  std::string port = std::to_string(peer.port());
  EXPECT_EQ(got[0].substr(0, got[0].find("CONTENT-LENGTH")),
            "POST /control/ContentDirectory HTTP/1.1\r\nHOST: 127.0.0.1:" + port + "\r\nUSER-AGENT: DLNADOC/1.50\r\n");
  EXPECT_NE(got[0].find("SOAPACTION: \"urn:schemas-upnp-org:service:ContentDirectory:1#X_SetPrivate\"\r\n"),
            std::string::npos);
  EXPECT_NE(request_body(got[0]).find("<u:X_SetPrivate xmlns:u=\"urn:schemas-upnp-org:service:ContentDirectory:1\">"
                                      "\r\n<ObjectID>id&lt;1&gt;</ObjectID>\r\n<Private>1</Private>\r\n"
                                      "</u:X_SetPrivate>\r\n"),
            std::string::npos);
  EXPECT_EQ(got[1].rfind("POST /control/X_DeviceManager HTTP/1.1\r\n", 0), 0u);
  EXPECT_NE(got[1].find("SOAPACTION: \"" TARVO_VENDOR_DEVMGR_TYPE "#GetFriendlyName\"\r\n"), std::string::npos);
  EXPECT_NE(request_body(got[1]).find("<u:GetFriendlyName xmlns:u=\"" TARVO_VENDOR_DEVMGR_TYPE
                                      "\">\r\n</u:GetFriendlyName>\r\n"),
            std::string::npos);
  EXPECT_EQ(got[2].rfind("POST /control/ContentBackup HTTP/1.1\r\n", 0), 0u);
  EXPECT_NE(request_body(got[2]).find("<u:CreateTask xmlns:u=\"" TARVO_VENDOR_BACKUP_TYPE
                                      "\">\r\n<UDN>uuid:1</UDN>\r\n<ContainerID>0</ContainerID>\r\n</u:CreateTask>"),
            std::string::npos);
  EXPECT_NE(request_body(got[8]).find("<BrowseFlag>BrowseDirectChildren</BrowseFlag>"), std::string::npos);
}

TEST(avcpl, handles_and_a_server_that_does_not_listen)
{
  uint16_t gone;
  {
    tarvo_test::script_server s({});
    gone = s.port();
  }
  tarvo_avcpl_handle h = nullptr;
  ASSERT_EQ(tarvo_avcpl_init(&h, gone), 1);
  char *name = reinterpret_cast<char *>(1);
  EXPECT_EQ(tarvo_avcpl_get_friendly_name(&h, &name), 501u);
  EXPECT_EQ(name, reinterpret_cast<char *>(1));
  EXPECT_EQ(tarvo_avcpl_is_canceled(&h), 0);
  tarvo_avcpl_set_cancel(&h, 1);
  EXPECT_EQ(tarvo_avcpl_is_canceled(&h), 1);
  tarvo_avcpl_free(&h);
  EXPECT_EQ(h, nullptr);  // a second free finds nothing to free
  tarvo_avcpl_free(&h);
  tarvo_avcpl_free(nullptr);
  EXPECT_EQ(tarvo_avcpl_share(&h, "/m"), 501u);
}

TEST(avcpl, manages_the_running_server)
{
  const std::string &problem = tarvo_test::private_net();
  if (!problem.empty()) GTEST_SKIP() << problem;
  tarvo_test::vennard_run run(31310, true);
  std::string media = run.dir / "media";
  std::filesystem::create_directories(media);
  // A client the server decided on before: its file under access/allow.
  tarvo_test::write_file(run.conf("access/allow/00-11-22-33-44-55"), "192.0.2.7\n");
  tarvo_test::write_file(run.conf("access/deny/66-77-88-99-aa-bb"), "192.0.2.8\n");
  handle l(run.upnp_port);
  char *name = nullptr;
  uint32_t r = 501;
  for (int i = 0; i < 200 && r; i++)
    if ((r = tarvo_avcpl_get_friendly_name(&l.h, &name))) usleep(50 * 1000);
  ASSERT_EQ(r, 0u) << "the server did not answer";
  std::string first = take(name);
  EXPECT_EQ(first.substr(first.size() - 18), "Tarvo Media Server") << first;  // after the host name

  // Shares.
  // Asked as soon as the server answers: a share request that comes before
  // the scanner runs waits for it rather than being refused.
  EXPECT_EQ(tarvo_avcpl_share(&l.h, media.c_str()), 0u);
  sys_str_list paths = nullptr;
  EXPECT_EQ(tarvo_avcpl_share_list(&l.h, &paths), 0u);
  EXPECT_EQ(joined(paths), media);
  int state = -1;
  EXPECT_EQ(tarvo_avcpl_share_state(&l.h, media.c_str(), &state), 0u);
  EXPECT_NE(state, 0);
  EXPECT_EQ(tarvo_avcpl_unshare(&l.h, media.c_str()), 0u);
  EXPECT_EQ(tarvo_avcpl_share_state(&l.h, media.c_str(), &state), 0u);
  EXPECT_EQ(state, 0);

  // File types.
  EXPECT_EQ(tarvo_avcpl_add_file_type(&l.h, "xyz", "video/x-test"), 0u);
  sys_str_list exts = nullptr, mimes = nullptr;
  uint32_t count = 0;
  EXPECT_EQ(tarvo_avcpl_get_file_type_list(&l.h, &exts, &mimes, &count), 0u);
  std::string e = "|" + joined(exts) + "|", m = "|" + joined(mimes) + "|";
  EXPECT_NE(e.find("|xyz|"), std::string::npos) << e;
  EXPECT_NE(m.find("|video/x-test|"), std::string::npos);
  EXPECT_GT(count, 1u);
  EXPECT_EQ(tarvo_avcpl_remove_file_type(&l.h, "xyz"), 0u);
  EXPECT_EQ(tarvo_avcpl_get_file_type_list(&l.h, &exts, nullptr, nullptr), 0u);
  e = "|" + joined(exts) + "|";
  EXPECT_EQ(e.find("|xyz|"), std::string::npos);

  // The device manager.
  EXPECT_EQ(tarvo_avcpl_set_friendly_name(&l.h, "Den <&> box"), 0u);
  EXPECT_EQ(tarvo_avcpl_get_friendly_name(&l.h, &name), 0u);
  EXPECT_EQ(take(name), "Den <&> box");
  EXPECT_EQ(tarvo_avcpl_set_default_client_state(&l.h, "deny"), 0u);
  EXPECT_EQ(tarvo_avcpl_get_default_client_state(&l.h, &name), 0u);
  EXPECT_EQ(take(name), "deny");
  EXPECT_EQ(tarvo_test::read_file(run.conf("access/default")).substr(0, 4), "deny");
  EXPECT_EQ(tarvo_avcpl_set_default_client_state(&l.h, "maybe"), 402u);
  sys_str_list macs = nullptr, ips = nullptr;
  EXPECT_EQ(tarvo_avcpl_get_allow_list(&l.h, &macs, &ips, &count), 0u);
  EXPECT_EQ(joined(macs), "00-11-22-33-44-55");
  EXPECT_EQ(joined(ips), "192.0.2.7");
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(tarvo_avcpl_get_deny_list(&l.h, &macs, &ips, &count), 0u);
  EXPECT_EQ(joined(macs) + " " + joined(ips), "66-77-88-99-aa-bb 192.0.2.8");
  EXPECT_EQ(tarvo_avcpl_set_client_permissions(&l.h, "66-77-88-99-aa-bb", "192.0.2.8", "allow"), 0u);
  EXPECT_EQ(tarvo_avcpl_get_allow_list(&l.h, &macs, nullptr, &count), 0u);
  std::string both = joined(macs);
  EXPECT_EQ(count, 2u) << both;
  EXPECT_EQ(tarvo_avcpl_set_client_permissions(&l.h, "a,b", "c", "allow"), 402u);
  EXPECT_EQ(tarvo_avcpl_unregister_clients(&l.h, "00-11-22-33-44-55"), 0u);
  EXPECT_EQ(tarvo_avcpl_get_allow_list(&l.h, &macs, nullptr, &count), 0u);
  EXPECT_EQ(joined(macs), "66-77-88-99-aa-bb");

  // Private and searchable marks, seen by a later Browse and Search.
  EXPECT_EQ(tarvo_avcpl_set_searchable(&l.h, "Container:Music", 1), 0u);
  EXPECT_EQ(tarvo_avcpl_set_private(&l.h, "Container:Music", 1), 0u);
  avcp_didl_object *o = nullptr;
  uint32_t update = 0;
  ASSERT_EQ(tarvo_avcpl_browse_metadata(&l.h, "Container:Music", "*", &o, &update), 0u);
  EXPECT_STREQ(avcp_didl_attribute_find(o->attribute_names, o->attribute_values, "searchable"), "1");
  EXPECT_STREQ(avcp_didl_attribute_find(o->attribute_names, o->attribute_values, "tarvo:private"), "1");
  avcp_didl_object_free(o);
  avcp_didl_object_list list = nullptr;
  uint32_t returned = 0, total = 0;
  ASSERT_EQ(tarvo_avcpl_browse_direct_children(&l.h, "0", "dc:title", 0, 0, "", &list, &returned, &total, &update),
            0u);
  EXPECT_GT(returned, 0u);
  EXPECT_EQ(returned, total);
  uint32_t listed = 0;
  while (list[listed]) listed++;
  EXPECT_EQ(listed, returned);
  avcp_didl_object_list_free(list);
  ASSERT_EQ(tarvo_avcpl_search(&l.h, "0", "upnp:class derivedfrom \"object.item\"", "*", 0, 0, "", &list,
                               &returned, &total, nullptr),
            0u);
  EXPECT_EQ(list[0], nullptr);  // nothing shared: no items
  avcp_didl_object_list_free(list);
  EXPECT_EQ(tarvo_avcpl_set_private(&l.h, "no-such-object", 1), 701u);

  // The backup tasks of the test module.
  char *text = nullptr;
  EXPECT_EQ(tarvo_avcpl_get_description_uris(&l.h, &text, &count), 0u);
  EXPECT_EQ(take(text), "http://192.0.2.1/a.xml,http://192.0.2.2/b.xml");  // as sent, not split
  EXPECT_EQ(count, 2u);
  char *t1 = nullptr, *t2 = nullptr;
  EXPECT_EQ(tarvo_avcpl_create_task(&l.h, "uuid:a", "Container:Music", &t1), 0u);
  EXPECT_EQ(tarvo_avcpl_create_task(&l.h, "uuid:b", "0", &t2), 0u);
  std::string id1 = take(t1), id2 = take(t2);
  EXPECT_EQ(tarvo_avcpl_get_all_task_ids(&l.h, &text, &count), 0u);
  EXPECT_EQ(take(text), id1 + "," + id2);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(tarvo_avcpl_get_task_ids(&l.h, "uuid:b", &text, &count), 0u);
  EXPECT_EQ(take(text), id2);
  char *udn = nullptr, *container = nullptr, *last = nullptr, *st = nullptr;
  EXPECT_EQ(tarvo_avcpl_get_task_info(&l.h, id1.c_str(), &udn, &container, &last, &st), 0u);
  EXPECT_EQ(take(udn) + " " + take(container) + " [" + take(last) + "] " + take(st),
            "uuid:a Container:Music [] idle");
  EXPECT_EQ(tarvo_avcpl_remove_task(&l.h, id1.c_str()), 0u);
  EXPECT_EQ(tarvo_avcpl_get_task_info(&l.h, id1.c_str(), nullptr, nullptr, nullptr, nullptr), 402u);
  EXPECT_EQ(tarvo_avcpl_get_all_task_ids(&l.h, nullptr, &count), 0u);
  EXPECT_EQ(count, 1u);
}
