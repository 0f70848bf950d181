// The AV action families against a loopback peer that records what it
// receives and answers from a script: request bytes, values, faults and
// the answers this layer must refuse.
#include <gtest/gtest.h>
#include <tarvo_avcp/avcp_action.h>
#include <tarvo_util/sys_owner.h>

#include <string>
#include <vector>

#include "../util/script_server.h"

namespace {

using tarvo_test::script_reply;
using tarvo_test::script_server;

constexpr uint32_t ENVELOPE_LEN = 163;  // what the SOAP client wraps around a body

std::string response(const std::string &action, const std::string &args)
{
  std::string body = "<?xml version=\"1.0\"?>\r\n<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                     "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>";
  if (!action.empty())
    body += "<u:" + action + "Response xmlns:u=\"urn:x\">" + args + "</u:" + action + "Response>";
  body += "</s:Body></s:Envelope>";
  return "HTTP/1.1 200 OK\r\nCONTENT-TYPE: text/xml\r\nCONTENT-LENGTH: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

std::string fault(int code)
{
  std::string body = "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body><s:Fault>"
                     "<faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring><detail>"
                     "<UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\"><errorCode>" +
                     std::to_string(code) + "</errorCode></UPnPError></detail></s:Fault></s:Body></s:Envelope>";
  return "HTTP/1.1 500 Internal Server Error\r\nCONTENT-LENGTH: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

script_reply reply(const std::string &bytes) { return {bytes, true, false}; }

// The body of a recorded request, after its header block.
std::string body_of(const std::string &request) { return request.substr(request.find("\r\n\r\n") + 4); }

std::string take(char *s)
{
  own::str o(s);
  return s ? s : "(null)";
}

sys_str_list list(std::initializer_list<const char *> l)
{
  own::str_list_build b;
  for (const char *s : l) {
    char *c = nullptr;
    if (!sys_str_clone(s, &c) || !b.take(c)) std::abort();
  }
  sys_str_list out = nullptr;
  if (!b.release(&out)) std::abort();
  return out;
}

std::string lines(std::initializer_list<const char *> l)
{
  std::string s;
  for (const char *x : l) s += std::string(x) + "\r\n";
  return s;
}

}  // namespace

TEST(actions, request_bytes_of_every_kind)
{
  script_server peer({reply(response("X", ""))}, true);
  std::string url = peer.url("/ctl?x=1");
  char *result = nullptr;
  uint32_t n = 0;
  EXPECT_EQ(avcp_cds_browse_direct_children(url.c_str(), "0", "dc:title,res", 5, 10, "+dc:title", &result, &n,
                                            &n, &n),
            501u);  // the answer has none of the four arguments
  EXPECT_EQ(avcp_cds_browse_metadata(url.c_str(), "a<\"&'>b", nullptr, nullptr, nullptr), 501u);
  EXPECT_EQ(avcp_avts_play(url.c_str(), 0, "1"), 0u);
  EXPECT_EQ(avcp_rcs_set_volume_db(url.c_str(), 3, nullptr, -256), 0u);
  EXPECT_EQ(avcp_cms_prepare_for_connection(url.c_str(), "http-get:*:*:*", "", -1, "Input", nullptr, nullptr, nullptr),
            501u);
  EXPECT_EQ(avcp_cds_share_list(url.c_str(), nullptr), 501u);
  EXPECT_EQ(avcp_rcs_set_mute(url.c_str(), 0, "Master", -1), 0u);

  std::vector<std::string> got = peer.requests();
  ASSERT_EQ(got.size(), 7u);
  const std::string cds = "<u:Browse xmlns:u=\"urn:schemas-upnp-org:service:ContentDirectory:1\">\r\n";
  std::string head = "POST /ctl?x=1 HTTP/1.1\r\nHOST: 127.0.0.1:" + std::to_string(peer.port()) +
                     "\r\nUSER-AGENT: DLNADOC/1.50\r\n";
  EXPECT_EQ(got[0].rfind(head, 0), 0u) << got[0];
  EXPECT_NE(got[0].find("\r\nSOAPACTION: \"urn:schemas-upnp-org:service:ContentDirectory:1#Browse\"\r\n"),
            std::string::npos);
  EXPECT_NE(body_of(got[1]).find(lines({"<ObjectID>a&lt;&quot;&amp;&apos;&gt;b</ObjectID>",
                                        "<BrowseFlag>BrowseMetadata</BrowseFlag>", "<Filter></Filter>",
                                        "<StartingIndex>0</StartingIndex>", "<RequestedCount>1</RequestedCount>",
                                        "<SortCriteria></SortCriteria>"})),
            std::string::npos);
  EXPECT_NE(body_of(got[2]).find(lines({"<u:Play xmlns:u=\"urn:schemas-upnp-org:service:AVTransport:1\">",
                                        "<InstanceID>0</InstanceID>", "<Speed>1</Speed>", "</u:Play>"})),
            std::string::npos);
  EXPECT_NE(got[2].find("SOAPACTION: \"urn:schemas-upnp-org:service:AVTransport:1#Play\""), std::string::npos);
  EXPECT_NE(body_of(got[3]).find(lines({"<InstanceID>3</InstanceID>", "<Channel></Channel>",
                                        "<DesiredVolume>-256</DesiredVolume>", "</u:SetVolumeDB>"})),
            std::string::npos);
  EXPECT_NE(body_of(got[4]).find(lines({"<RemoteProtocolInfo>http-get:*:*:*</RemoteProtocolInfo>",
                                        "<PeerConnectionManager></PeerConnectionManager>",
                                        "<PeerConnectionID>-1</PeerConnectionID>", "<Direction>Input</Direction>"})),
            std::string::npos);
  EXPECT_NE(body_of(got[5]).find(lines({"<u:X_ShareList xmlns:u=\"urn:schemas-upnp-org:service:ContentDirectory:1\">",
                                        "</u:X_ShareList>"})),
            std::string::npos);
  EXPECT_NE(got[5].find("#X_ShareList\"\r\n"), std::string::npos);
  EXPECT_NE(body_of(got[6]).find("<DesiredMute>-1</DesiredMute>\r\n"), std::string::npos);

  // CONTENT-LENGTH is the builder's body and the envelope.
  char *body = nullptr;
  ASSERT_EQ(avcp_cds_make_browse_direct_children_request("0", "dc:title,res", 5, 10, "+dc:title", &body), 1);
  std::string b = take(body);
  EXPECT_NE(got[0].find("\r\nCONTENT-LENGTH: " + std::to_string(b.size() + ENVELOPE_LEN) + "\r\n"), std::string::npos);
  EXPECT_EQ(body_of(got[0]).size(), b.size() + ENVELOPE_LEN);
  EXPECT_NE(body_of(got[0]).find(b), std::string::npos);
  EXPECT_EQ(b, cds + lines({"<ObjectID>0</ObjectID>", "<BrowseFlag>BrowseDirectChildren</BrowseFlag>",
                            "<Filter>dc:title,res</Filter>", "<StartingIndex>5</StartingIndex>",
                            "<RequestedCount>10</RequestedCount>", "<SortCriteria>+dc:title</SortCriteria>",
                            "</u:Browse>"}));
}

TEST(actions, answers_on_one_client)
{
  script_server peer({
      reply(response("Browse", "<Result>&lt;DIDL-Lite/&gt;</Result><NumberReturned>2</NumberReturned>"
                               "<TotalMatches>9</TotalMatches><UpdateID>4</UpdateID><UpdateID>5</UpdateID>")),
      reply(fault(701)),
      reply(response("Browse", "<Result>x</Result><NumberReturned>2</NumberReturned><TotalMatches>1</TotalMatches>"
                               "<UpdateID>4</UpdateID>")),
      reply(response("GetMediaInfo", "<NrTracks>1</NrTracks><MediaDuration>0:01:00</MediaDuration><CurrentURI>u"
                                     "</CurrentURI><CurrentURIMetaData/><NextURI/><NextURIMetaData/><PlayMedium>NETWORK"
                                     "</PlayMedium><RecordMedium>NOT_IMPLEMENTED</RecordMedium>")),
      reply(response("GetPositionInfo", "<Track>1</Track><TrackDuration>d</TrackDuration><TrackMetaData/>"
                                        "<TrackURI/><RelTime>r</RelTime><AbsTime>a</AbsTime><RelCount>+3</RelCount>"
                                        "<AbsCount>-2</AbsCount>")),
      reply(response("X_ShareList", "<PathList>/m/a\\,b,/m/c</PathList>")),
      reply(response("X_ShareList", "<PathList></PathList>")),
      reply(response("X_ShareState", "<State>TRUE</State>")),
      reply(response("X_ShareState", "<State>yes</State>")),
      reply(fault(805)),
      reply(response("GetMute", "<CurrentMute>true</CurrentMute>")),
      reply(response("GetMute", "<CurrentMute>1</CurrentMute>")),
      reply(response("GetVolume", "<CurrentVolume>65536</CurrentVolume>")),
      reply(response("GetVolumeDB", "<CurrentVolume>-256</CurrentVolume>")),
      reply(response("GetVolumeDBRange", "<MinValue>-100</MinValue>")),
      reply(response("", "")),
      reply(response("", "")),
      reply(response("GetTransferProgress", "<TransferStatus>IN_PROGRESS</TransferStatus><TransferLength>5000000000"
                                            "</TransferLength><TransferTotal>6000000000</TransferTotal>")),
  });
  http_client c = nullptr;
  ASSERT_TRUE(http_client_init(&c, peer.url("/control").c_str()));

  char *result = nullptr;
  uint32_t nr = 0, tm = 0, uid = 0;
  EXPECT_EQ(avcp_cds_browse_direct_children2(&c, "0", "*", 0, 10, "", &result, &nr, &tm, &uid), 0u);
  EXPECT_EQ(take(result), "<DIDL-Lite/>");
  EXPECT_EQ(nr * 100 + tm * 10 + uid, 294u);  // the first UpdateID counts

  // A fault passes its code and leaves the caller's string alone.
  char keep[] = "mine";
  result = keep;
  EXPECT_EQ(avcp_cds_browse_metadata2(&c, "0", "*", &result, &uid), 701u);
  EXPECT_EQ(result, keep);
  // The list form of a metadata browse demands one and one.
  EXPECT_EQ(avcp_cds_browse_metadata2(&c, "0", "*", &result, &uid), 501u);
  EXPECT_EQ(result, nullptr);

  // Without WriteStatus: every string handed out is taken back.
  uint32_t tracks = 0;
  char *s[8];
  EXPECT_EQ(avcp_avts_get_media_info2(&c, 0, &tracks, &s[0], &s[1], &s[2], &s[3], &s[4], &s[5], &s[6], &s[7]), 501u);
  for (char *p : s) EXPECT_EQ(p, nullptr);
  EXPECT_EQ(tracks, 1u);

  int32_t rel = 0, abs_count = 0;
  char *rel_time = nullptr;
  EXPECT_EQ(avcp_avts_get_position_info2(&c, 0, nullptr, nullptr, nullptr, nullptr, &rel_time, nullptr, &rel,
                                         &abs_count),
            0u);
  EXPECT_EQ(take(rel_time), "r");
  EXPECT_EQ(rel, 3);
  EXPECT_EQ(abs_count, -2);

  char **paths = nullptr;
  EXPECT_EQ(avcp_cds_share_list2(&c, &paths), 0u);
  ASSERT_NE(paths, nullptr);
  ASSERT_NE(paths[0], nullptr);
  ASSERT_NE(paths[1], nullptr);
  EXPECT_EQ(std::string(paths[0]) + "|" + paths[1], "/m/a,b|/m/c");
  EXPECT_EQ(paths[2], nullptr);
  sys_str_list_free(paths);
  EXPECT_EQ(avcp_cds_share_list2(&c, &paths), 0u);
  ASSERT_NE(paths, nullptr);
  EXPECT_EQ(paths[0], nullptr);
  sys_str_list_free(paths);

  int state = 7;
  EXPECT_EQ(avcp_cds_share_state2(&c, "/m", &state), 0u);
  EXPECT_EQ(state, 0);
  EXPECT_EQ(avcp_cds_share_state2(&c, "/m", &state), 0u);
  EXPECT_EQ(state, 1);
  EXPECT_EQ(avcp_cds_share2(&c, "/m"), 805u);

  // Mute is read as a number: "true" is no answer.
  int mute = 5;
  EXPECT_EQ(avcp_rcs_get_mute2(&c, 0, "Master", &mute), 501u);
  EXPECT_EQ(avcp_rcs_get_mute2(&c, 0, "Master", &mute), 0u);
  EXPECT_EQ(mute, 1);
  uint16_t volume = 9;
  EXPECT_EQ(avcp_rcs_get_volume2(&c, 0, "Master", &volume), 0u);
  EXPECT_EQ(volume, 0u);  // the low 16 bits
  int16_t db = 0, max_db = 1;
  EXPECT_EQ(avcp_rcs_get_volume_db2(&c, 0, "Master", &db), 0u);
  EXPECT_EQ(db, -256);
  EXPECT_EQ(avcp_rcs_get_volume_db_range2(&c, 0, "Master", &db, &max_db), 501u);
  EXPECT_EQ(db, -100);
  EXPECT_EQ(max_db, 1);

  // A 2xx answer without a response element: no arguments at all.
  char *caps = keep;
  EXPECT_EQ(avcp_cds_get_search_capabilities2(&c, &caps), 501u);
  EXPECT_EQ(caps, keep);
  EXPECT_EQ(avcp_avts_stop2(&c, 0), 0u);

  uint64_t length = 0, total = 0;
  EXPECT_EQ(avcp_cds_get_transfer_progress2(&c, 7, nullptr, &length, &total), 0u);
  EXPECT_EQ(length, 5000000000u);
  EXPECT_EQ(total, 6000000000u);
  http_client_free(&c);

  EXPECT_EQ(peer.requests().size(), 18u);
}

TEST(actions, null_argument_lists_read_as_empty_and_other_local_failures)
{
  // No listener, a URL the client refuses, and the lists of an answer
  // without a response element handed straight to the parsers.
  uint16_t port;
  {
    script_server gone({});
    port = gone.port();
  }
  std::string url = "http://127.0.0.1:" + std::to_string(port) + "/c";
  EXPECT_EQ(avcp_avts_stop(url.c_str(), 0), 501u);
  EXPECT_EQ(avcp_avts_stop("ftp://127.0.0.1/c", 0), 501u);
  EXPECT_EQ(avcp_avts_stop(nullptr, 0), 501u);

  char *result = nullptr;
  uint32_t n = 0;
  EXPECT_EQ(avcp_cds_parse_browse_direct_children_response(nullptr, nullptr, &result, &n, &n, &n), 0);
  EXPECT_EQ(avcp_cds_parse_get_system_update_id_response(nullptr, nullptr, &n), 0);
  char **paths = nullptr;
  EXPECT_EQ(avcp_cds_parse_share_list_response(nullptr, nullptr, &paths), 0);
  EXPECT_EQ(paths, nullptr);

  // A NULL result pointer still demands Result; UpdateID is demanded even
  // when not asked for.  A full reading frees every value.
  own::str_list names{}, values{};
  names.l = list({"Result", "NumberReturned", "TotalMatches"});
  values.l = list({"r", "1", "1"});
  EXPECT_EQ(avcp_cds_parse_browse_direct_children_response(names.l, values.l, nullptr, nullptr, nullptr, nullptr), 0);
  own::str_list names2{}, values2{};
  names2.l = list({"Result", "NumberReturned", "TotalMatches", "UpdateID", "Extra"});
  values2.l = list({"r", "1", "1", "3", "x"});
  EXPECT_EQ(avcp_cds_parse_browse_direct_children_response(names2.l, values2.l, nullptr, nullptr, nullptr, &n), 1);
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(values2.l[0], nullptr);
  EXPECT_EQ(values2.l[4], nullptr);
}
