#include <vennard/conf_store.h>
#include <vennard/server.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "server_test.h"

using namespace server_test;

namespace {

const char *kCmType = "urn:schemas-upnp-org:service:ConnectionManager:1";
const char *kDmType = "urn:schemas-tarvo-org:service:X_DeviceManager:1";
const char *kMac = "00-11-22-aa-bb-cc";

device_request_info from(const char *ip, const char *type)
{
  device_request_info info{};
  sys_ip4_scan(ip, info.addr.remote_ip);
  info.service_type = type;
  return info;
}

// An action's answer: its code, and the body on success.
struct answer {
  uint32_t code;
  std::string body;
};

struct handlers : ::testing::Test {
  data_folder data;
  server_rec s{};
  std::string arp = data.home + "/arp";

  void SetUp() override
  {
    s.data_home = const_cast<char *>(data.home.c_str());
    ASSERT_TRUE(cm_state_start(&s));
    ASSERT_TRUE(sys_mutex_create(&s.access.mutex));
    tarvo_test::write_file(arp, "IP address       HW type     Flags       HW address            Mask     Device\n"
                                "127.0.0.2        0x1         0x2         00:11:22:AA:BB:CC     *        lo\n"
                                "127.0.0.3        0x1         0x0         00:00:00:00:00:00     *        lo\n");
    setenv("TARVO_ARP_FILE", arp.c_str(), 1);
  }
  void TearDown() override
  {
    unsetenv("TARVO_ARP_FILE");
    cm_state_stop(&s);
    sys_mutex_destroy(&s.access.mutex);
  }
  answer call(bool cm, const char *action, std::initializer_list<const char *> args, const char *ip = "127.0.0.1")
  {
    std::vector<char *> names, values;
    for (auto a = args.begin(); a != args.end(); a += 2) {
      names.push_back(const_cast<char *>(a[0]));
      values.push_back(const_cast<char *>(a[1]));
    }
    names.push_back(nullptr);
    values.push_back(nullptr);
    device_request_info info = from(ip, cm ? kCmType : kDmType);
    char *body = nullptr;
    uint32_t r = (cm ? cm_action_dispatch : devmgr_action_dispatch)(&info, action, names.data(), values.data(), &s,
                                                                   &body);
    return {r, take(body)};
  }
  bool admitted(const char *ip)
  {
    uint8_t a[4];
    sys_ip4_scan(ip, a);
    return client_access_check(&s, a);
  }
};

TEST_F(handlers, ConnectionManagerAnswersItsThreeActions)
{
  ASSERT_TRUE(cm_protocol_info_add(&s, "http-get:*:audio/mpeg:*"));
  ASSERT_TRUE(cm_protocol_info_add(&s, "http-get:*:audio/mpeg:DLNA.ORG_PN=MP3"));
  ASSERT_TRUE(cm_protocol_info_add(&s, "http-get:*:audio/mpeg:*"));
  ASSERT_TRUE(cm_protocol_info_add(&s, "rtsp:*:a,b:*"));
  EXPECT_FALSE(cm_protocol_info_add(&s, nullptr));
  answer a = call(true, "GetProtocolInfo", {});
  ASSERT_EQ(a.code, 0u);
  EXPECT_NE(a.body.find("<Source>http-get:*:audio/mpeg:DLNA.ORG_PN=MP3,http-get:*:audio/mpeg:*,rtsp:*:a\\,b:*</Source>"),
            std::string::npos)
      << a.body;
  EXPECT_NE(a.body.find("<Sink></Sink>"), std::string::npos);
  EXPECT_NE(a.body.find("GetProtocolInfoResponse xmlns:u=\"" + std::string(kCmType)), std::string::npos);
  EXPECT_EQ(call(true, "GetProtocolInfo", {"x", "1"}).code, 402u);
  EXPECT_EQ(call(true, "GetCurrentConnectionIDs", {"x", "1"}).code, 402u);
  EXPECT_NE(call(true, "GetCurrentConnectionIDs", {}).body.find("<ConnectionIDs>0</ConnectionIDs>"), std::string::npos);
  EXPECT_EQ(call(true, "GetCurrentConnectionInfo", {}).code, 402u);
  EXPECT_EQ(call(true, "GetCurrentConnectionInfo", {"ConnectionID", "1"}).code, 706u);
  EXPECT_EQ(call(true, "GetCurrentConnectionInfo", {"ConnectionID", "00"}).code, 706u);
  std::string info = call(true, "GetCurrentConnectionInfo", {"ConnectionID", "0"}).body;
  EXPECT_NE(info.find("<RcsID>-1</RcsID>\r\n<AVTransportID>-1</AVTransportID>\r\n<ProtocolInfo></ProtocolInfo>\r\n"
                      "<PeerConnectionManager></PeerConnectionManager>\r\n<PeerConnectionID>-1</PeerConnectionID>\r\n"
                      "<Direction>Output</Direction>\r\n<Status>Unknown</Status>"),
            std::string::npos)
      << info;
  EXPECT_EQ(call(true, "PrepareForConnection", {}).code, 401u);

  char *v = nullptr;
  EXPECT_EQ(cm_query_state_variable(nullptr, "Other", &s, &v), 404u);
  char *body = nullptr;
  ASSERT_TRUE(cm_subscribe(nullptr, &s, &body));
  std::string initial = take(body);
  EXPECT_LT(initial.find("<SourceProtocolInfo>"), initial.find("<SinkProtocolInfo>"));
  EXPECT_LT(initial.find("<SinkProtocolInfo>"), initial.find("<CurrentConnectionIDs>0<"));
}

TEST_F(handlers, ConnectionManagerRefusesWorkOnceStopping)
{
  cm_state_stop(&s);
  EXPECT_EQ(call(true, "GetProtocolInfo", {}).code, 501u);
  EXPECT_FALSE(cm_protocol_info_add(&s, "http-get:*:audio/mpeg:*"));
  char *v = nullptr;
  EXPECT_EQ(cm_query_state_variable(nullptr, "SourceProtocolInfo", &s, &v), 501u);
  ASSERT_TRUE(cm_state_start(&s));
}

TEST_F(handlers, ClientsAreAdmittedByAddressArpAndTheirFiles)
{
  EXPECT_TRUE(admitted("127.0.0.1"));
  // Not in the ARP cache, or not complete there: refused, nothing noted.
  EXPECT_FALSE(admitted("127.0.0.4"));
  EXPECT_FALSE(admitted("127.0.0.3"));
  EXPECT_TRUE(std::filesystem::is_empty(data.conf + "/access/allow"));
  EXPECT_TRUE(std::filesystem::is_empty(data.conf + "/access/deny"));

  data.put("access/default", "deny");
  EXPECT_FALSE(admitted("127.0.0.2"));
  EXPECT_EQ(data.get("access/deny/" + std::string(kMac)), "127.0.0.2");
  EXPECT_EQ(s.access.deny_changed, 1);
  EXPECT_FALSE(admitted("127.0.0.2"));

  // Moved by a manager: admitted, keeping its address until the file is
  // stale.
  EXPECT_EQ(call(false, "SetClientPermissions", {"MacList", kMac, "IpList", "10.0.0.99", "ClientState", "allow"}).code,
            0u);
  EXPECT_EQ(data.get("access/allow/" + std::string(kMac)), "127.0.0.2");
  EXPECT_FALSE(data.exists("access/deny/" + std::string(kMac)));
  std::filesystem::path file = data.conf + "/access/allow/" + kMac;
  tarvo_test::write_file(file.string(), "10.0.0.1");
  EXPECT_TRUE(admitted("127.0.0.2"));
  EXPECT_EQ(data.get("access/allow/" + std::string(kMac)), "10.0.0.1");
  std::filesystem::last_write_time(file, std::filesystem::last_write_time(file) - std::chrono::seconds(31));
  EXPECT_TRUE(admitted("127.0.0.2"));
  EXPECT_EQ(data.get("access/allow/" + std::string(kMac)), "127.0.0.2");

  // A new client under the default allow is noted and admitted; without a
  // readable default it is refused and nothing is written.
  tarvo_test::write_file(arp, "127.0.0.5 0x1 0x2 00:11:22:00:00:05 * lo\n");
  std::filesystem::remove(data.conf + "/access/default");
  EXPECT_FALSE(admitted("127.0.0.5"));
  EXPECT_FALSE(data.exists("access/allow/00-11-22-00-00-05"));
  data.put("access/default", "allow");
  EXPECT_TRUE(admitted("127.0.0.5"));
  EXPECT_EQ(data.get("access/allow/00-11-22-00-00-05"), "127.0.0.5");
  EXPECT_EQ(s.access.allow_changed, 1);
}

TEST_F(handlers, DeviceManagerEditsTheListsOnlyForLocalRequesters)
{
  for (const char *action : {"SetClientPermissions", "UnregisterClients", "SetDefaultClientState", "SetFriendlyName"})
    EXPECT_EQ(call(false, action, {"MacList", kMac, "IpList", "1.2.3.4", "ClientState", "allow", "DefaultClientState",
                                   "deny", "FriendlyName", "x"},
                   "127.0.0.2")
                  .code,
              401u)
        << action;
  EXPECT_TRUE(std::filesystem::is_empty(data.conf + "/access/allow"));
  EXPECT_EQ(data.get("access/default"), "allow");
  EXPECT_FALSE(data.exists("friendly_name"));
  // The readers stay open.
  EXPECT_EQ(call(false, "GetAllowList", {}, "127.0.0.2").code, 0u);
  EXPECT_EQ(call(false, "GetDefaultClientState", {}, "127.0.0.2").code, 0u);
  EXPECT_EQ(call(false, "SetEverything", {}).code, 401u);
  char *v = nullptr;
  EXPECT_EQ(devmgr_query_state_variable(nullptr, "A_ARG_TYPE_FriendlyName", &s, &v), 401u);
}

TEST_F(handlers, DeviceManagerRefusesNamesThatAreNotMacAddresses)
{
  data.put("access/allow/x", "1");
  for (const char *mac : {"../data.xml", "..", "00-11-22-aa-bb", "00-11-22-aa-bb-cc-dd", "00:11:22:aa:bb:cc",
                          "0g-11-22-aa-bb-cc", "x", ""}) {
    EXPECT_EQ(call(false, "SetClientPermissions", {"MacList", mac, "IpList", "1.2.3.4", "ClientState", "deny"}).code,
              402u)
        << mac;
    EXPECT_EQ(call(false, "UnregisterClients", {"MacList", mac}).code, 402u) << mac;
  }
  EXPECT_TRUE(data.exists("access/allow/x"));
  EXPECT_TRUE(std::filesystem::is_empty(data.conf + "/access/deny"));
  EXPECT_TRUE(conf_extension_valid("mp3"));
  EXPECT_TRUE(conf_extension_valid("dvr-ms"));
  const std::string too_long(33, 'a');
  for (const char *ext : {"", ".mp3", "../data.xml", "a/b", "mp 3", too_long.c_str()})
    EXPECT_FALSE(conf_extension_valid(ext)) << ext;
}

TEST_F(handlers, DeviceManagerListsAndStates)
{
  // Lists of different lengths, or a state that is none of the three:
  // nothing changes.
  EXPECT_EQ(call(false, "SetClientPermissions", {"MacList", "00-00-00-00-00-01,00-00-00-00-00-02,00-00-00-00-00-03",
                                                 "IpList", "10.0.0.1,10.0.0.2", "ClientState", "allow"})
                .code,
            402u);
  EXPECT_EQ(call(false, "SetClientPermissions", {"MacList", kMac, "IpList", "10.0.0.1", "ClientState", "maybe"}).code,
            402u);
  EXPECT_EQ(call(false, "SetClientPermissions", {"MacList", kMac, "IpList", "", "ClientState", "allow"}).code, 402u);
  EXPECT_TRUE(std::filesystem::is_empty(data.conf + "/access/allow"));

  data.put("access/default", "deny");
  EXPECT_EQ(call(false, "SetClientPermissions", {"MacList", "00-00-00-00-00-01,00-00-00-00-00-0A", "IpList",
                                                 "10.0.0.1,10.0.0.10", "ClientState", "default"})
                .code,
            0u);
  EXPECT_EQ(call(false, "SetClientPermissions", {"MacList", "00-00-00-00-00-02", "IpList", "10.0.0.2", "ClientState",
                                                 "allow"})
                .code,
            0u);
  std::string deny = call(false, "GetDenyList", {}).body;
  EXPECT_NE(deny.find("<DenyMacList>00-00-00-00-00-01,00-00-00-00-00-0a</DenyMacList>\r\n"
                      "<DenyIpList>10.0.0.1,10.0.0.10</DenyIpList>\r\n<NumberOfDenyClients>2</NumberOfDenyClients>"),
            std::string::npos)
      << deny;
  std::string allow = call(false, "GetAllowList", {}).body;
  EXPECT_NE(allow.find("<AllowMacList>00-00-00-00-00-02</AllowMacList>"), std::string::npos) << allow;
  EXPECT_EQ(call(false, "UnregisterClients", {"MacList", "00-00-00-00-00-01,00-00-00-00-00-02"}).code, 0u);
  EXPECT_NE(call(false, "GetAllowList", {}).body.find("<NumberOfAllowClients>0<"), std::string::npos);
  EXPECT_NE(call(false, "GetDenyList", {}).body.find("<NumberOfDenyClients>1<"), std::string::npos);

  EXPECT_EQ(call(false, "SetDefaultClientState", {"DefaultClientState", "Allow"}).code, 402u);
  EXPECT_EQ(call(false, "SetDefaultClientState", {"DefaultClientState", "allow"}).code, 0u);
  EXPECT_EQ(data.get("access/default"), "allow");
  EXPECT_NE(call(false, "GetDefaultClientState", {}).body.find("<DefaultClientState>allow<"), std::string::npos);
  std::filesystem::remove(data.conf + "/access/default");
  EXPECT_EQ(call(false, "GetDefaultClientState", {}).code, 501u);
  EXPECT_EQ(call(false, "SetClientPermissions", {"MacList", kMac, "IpList", "10.0.0.1", "ClientState", "default"}).code,
            501u);

  // The name: stored, else the host's and the description's.
  std::string name = call(false, "GetFriendlyName", {}).body;
  EXPECT_NE(name.find(" Tarvo Media Server</FriendlyName>"), std::string::npos) << name;
  char *body = nullptr;
  EXPECT_FALSE(devmgr_subscribe(nullptr, &s, &body));
  data.put("access/default", "deny");
  ASSERT_TRUE(devmgr_subscribe(nullptr, &s, &body));
  std::string initial = take(body);
  const char *order[] = {"A_ARG_TYPE_DefaultClientState", "A_ARG_TYPE_AllowMacList", "A_ARG_TYPE_AllowIpList",
                         "A_ARG_TYPE_NumberOfAllowClients", "A_ARG_TYPE_DenyMacList", "A_ARG_TYPE_DenyIpList",
                         "A_ARG_TYPE_NumberOfDenyClients", "A_ARG_TYPE_FriendlyName"};
  for (int i = 1; i < 8; i++) EXPECT_LT(initial.find(order[i - 1]), initial.find(order[i])) << order[i];
}

}  // namespace
