// Object editing, copies and resource streams against a recording peer:
// the Elements and tag-value bytes sent, and the length and status rules
// of the streams.
#include <gtest/gtest.h>
#include <tarvo_avcp/tarvo_avcp.h>
#include <tarvo_util/sys_owner.h>

#include <string>
#include <vector>

#include "../util/script_server.h"
#include "soap_reply.h"

namespace {

using tarvo_test::request_body;
using tarvo_test::script_reply;
using tarvo_test::script_server;
using tarvo_test::soap_response;

script_reply reply(const std::string &bytes) { return {bytes, true, false}; }

// Text as an XML element's content.
std::string esc(const std::string &s)
{
  std::string o;
  for (char c : s) {
    switch (c) {
    case '&': o += "&amp;"; break;
    case '<': o += "&lt;"; break;
    case '>': o += "&gt;"; break;
    case '"': o += "&quot;"; break;
    case '\'': o += "&apos;"; break;
    default: o += c;
    }
  }
  return o;
}

std::string didl(bool begin)
{
  own::stralloc sa;
  if (!(begin ? avcp_didl_xml_begin(&sa.s) : avcp_didl_xml_end(&sa.s))) std::abort();
  return std::string(sa.s.buf, sa.s.len);
}

std::string arg(const std::string &request, const std::string &name)
{
  std::string body = request_body(request), open = "<" + name + ">", close = "</" + name + ">";
  size_t a = body.find(open);
  if (a == std::string::npos) return "(none)";
  a += open.size();
  return body.substr(a, body.find(close, a) - a);
}

std::string created(const std::string &didl_text)
{
  return soap_response("CreateObject", "<ObjectID>9</ObjectID><Result>" + esc(didl_text) + "</Result>");
}

avcp_didl_object *parse_one(const std::string &text)
{
  avcp_didl_object_list l = nullptr;
  if (!avcp_didl_parse(text.c_str(), &l) || !l[0]) std::abort();
  avcp_didl_object *o = l[0];
  l[0] = nullptr;
  avcp_didl_object_list_free(l);
  return o;
}

}  // namespace

TEST(edit, create_update_and_copy_bytes)
{
  const std::string head = "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" "
                           "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
                           "xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\">";
  const std::string one = head + "<container id=\"9\" parentID=\"P\"><dc:title>t</dc:title></container></DIDL-Lite>";
  script_server peer({reply(created(one)), reply(created(one)), reply(soap_response("UpdateObject", "")),
                      reply(soap_response("UpdateObject", "")), reply(soap_response("UpdateObject", "")),
                      reply(created(head + "</DIDL-Lite>")), reply(soap_response("UpdateObject", ""))},
                     true);
  http_client c = nullptr;
  ASSERT_TRUE(http_client_init(&c, peer.url("/cd").c_str()));
  avcp_didl_object *o = nullptr;
  EXPECT_EQ(tarvo_avcp_cds_create_container(&c, "P", "A<&B", "object.container.storageFolder.x", &o), 0u);
  ASSERT_NE(o, nullptr);
  avcp_didl_object_free(o);
  EXPECT_EQ(tarvo_avcp_cds_create_container(&c, "P", "t", "object.container.album", nullptr), 0u);

  const char *names[] = {"x", nullptr}, *values[] = {"1\"", nullptr};
  EXPECT_EQ(tarvo_avcp_cds_add_property(&c, "9", "dc:title", "a,b\\c", names, values), 0u);
  const char *adds[] = {"upnp:genre", "dc:date", nullptr}, *texts[] = {"Jazz", "2001", nullptr};
  EXPECT_EQ(tarvo_avcp_cds_update_property(&c, "9", adds, texts, nullptr, nullptr, nullptr), 0u);
  avcp_didl_object *src = parse_one(
      head + "<item id=\"s\" parentID=\"q\" restricted=\"1\"><dc:title>T</dc:title><upnp:class>object.item</upnp:class>"
             "<upnp:searchClass>object.item</upnp:searchClass><upnp:createClass>object.item</upnp:createClass>"
             "<upnp:writeStatus>WRITABLE</upnp:writeStatus>"
             "<res protocolInfo=\"http-get:*:audio/mpeg:*\" importUri=\"http://x/i\" size=\"5\">http://x/r</res>"
             "</item></DIDL-Lite>");
  avcp_didl_property *res = avcp_didl_property_find(src, "res");
  ASSERT_NE(res, nullptr);
  const char *drop[] = {"size", nullptr}, *change[] = {"protocolInfo", nullptr}, *to[] = {"p2", nullptr},
             *add[] = {"duration", nullptr}, *add_v[] = {"0:01", nullptr};
  EXPECT_EQ(tarvo_avcp_cds_update_attribute(&c, "9", res, add, add_v, drop, change, to), 0u);
  o = reinterpret_cast<avcp_didl_object *>(1);
  EXPECT_EQ(tarvo_avcp_cds_copy_object(&c, "D", src, &o), 501u);  // the answer holds no object
  EXPECT_EQ(o, reinterpret_cast<avcp_didl_object *>(1));
  EXPECT_EQ(tarvo_avcp_cds_remove_attribute(&c, "9", res, "importUri"), 0u);
  avcp_didl_object_free(src);
  http_client_free(&c);

  std::vector<std::string> got = peer.requests();
  ASSERT_EQ(got.size(), 7u);
  const std::string start = didl(true), end = didl(false);
  EXPECT_EQ(arg(got[0], "ContainerID"), "P");
  EXPECT_EQ(arg(got[0], "Elements"),
            esc(start + "<container id=\"\" restricted=\"0\" parentID=\"P\">\r\n<dc:title>A&lt;&amp;B</dc:title>\r\n"
                        "<upnp:class>object.container.storageFolder.x</upnp:class>\r\n"
                        "<upnp:storageUsed>-1</upnp:storageUsed>\r\n</container>\r\n" + end));
  EXPECT_EQ(arg(got[1], "Elements").find("storageUsed"), std::string::npos);
  EXPECT_EQ(arg(got[2], "ObjectID"), "9");
  EXPECT_EQ(arg(got[2], "CurrentTagValue"), "");
  EXPECT_EQ(arg(got[2], "NewTagValue"), esc("<dc:title x=\"1&quot;\">a\\,b\\\\c</dc:title>"));
  EXPECT_EQ(arg(got[3], "CurrentTagValue"), ",");
  EXPECT_EQ(arg(got[3], "NewTagValue"), esc("<upnp:genre>Jazz</upnp:genre>\r\n,<dc:date>2001</dc:date>\r\n"));
  const std::string res_now = "<res protocolInfo=\"http-get:*:audio/mpeg:*\" importUri=\"http://x/i\" size=\"5\">"
                              "http://x/r</res>";
  EXPECT_EQ(arg(got[4], "CurrentTagValue"), esc(res_now));
  EXPECT_EQ(arg(got[4], "NewTagValue"),
            esc("<res protocolInfo=\"p2\" importUri=\"http://x/i\" duration=\"0:01\">http://x/r</res>"));
  EXPECT_EQ(arg(got[5], "ContainerID"), "D");
  EXPECT_EQ(arg(got[5], "Elements"),
            esc(start + "<item id=\"\" restricted=\"0\" parentID=\"D\">\r\n<dc:title>T</dc:title>\r\n"
                        "<upnp:class>object.item</upnp:class>\r\n"
                        "<res protocolInfo=\"http-get:*:audio/mpeg:*\" size=\"5\"/>\r\n</item>\r\n" + end));
  EXPECT_EQ(arg(got[6], "NewTagValue"),
            esc("<res protocolInfo=\"http-get:*:audio/mpeg:*\" size=\"5\">http://x/r</res>"));
}

TEST(edit, storage_figures)
{
  auto meta = [](const std::string &cls, const std::string &extra) {
    std::string d = "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" "
                    "xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\"><container id=\"s\"><upnp:class>" +
                    cls + "</upnp:class>" + extra + "</container></DIDL-Lite>";
    return reply(soap_response("Browse", "<Result>" + esc(d) +
                                             "</Result><NumberReturned>1</NumberReturned><TotalMatches>1</TotalMatches>"
                                             "<UpdateID>1</UpdateID>"));
  };
  const std::string figures = "<upnp:storageTotal>100</upnp:storageTotal><upnp:storageUsed>-1</upnp:storageUsed>"
                              "<upnp:storageFree>+40</upnp:storageFree>";
  script_server peer({meta("object.container.storageVolume", figures), meta("object.container.album", figures),
                      meta("object.container.storageFolder", "<upnp:storageTotal>7</upnp:storageTotal>")});
  http_client c = nullptr;
  ASSERT_TRUE(http_client_init(&c, peer.url("/cd").c_str()));
  int64_t total = 0, used = 0, free_bytes = 0;
  EXPECT_EQ(tarvo_avcp_cds_storage_usage(&c, "s", &total, &used, &free_bytes), 0u);
  EXPECT_EQ(total, 100);
  EXPECT_EQ(used, -1);
  EXPECT_EQ(free_bytes, 40);
  EXPECT_EQ(tarvo_avcp_cds_storage_usage(&c, "s", &total, &used, &free_bytes), 501u);
  EXPECT_EQ(tarvo_avcp_cds_storage_usage(&c, "s", &total, &used, &free_bytes), 501u);  // figures missing
  EXPECT_EQ(total, 7);
  http_client_free(&c);
  EXPECT_EQ(arg(peer.requests()[0], "Filter"), "");
}

TEST(edit, resource_streams)
{
  script_server peer({
      reply("HTTP/1.1 201 Created\r\nCONTENT-LENGTH: 0\r\n\r\n"),
      reply("HTTP/1.1 201 Created\r\nCONTENT-LENGTH: 0\r\n\r\n"),
  });
  script_server reader({
      reply("HTTP/1.1 200 OK\r\nCONTENT-LENGTH: -5\r\n\r\n"),
      reply("HTTP/1.1 200 OK\r\n\r\nhello"),
      reply("HTTP/1.1 404 Not Found\r\nCONTENT-LENGTH: 0\r\n\r\n"),
  });
  std::string url = peer.url("/import/1");
  tarvo_avcp_resource_stream *s = nullptr;
  ASSERT_EQ(tarvo_avcp_open_resource_write(&s, url.c_str(), 10), 1);
  EXPECT_EQ(tarvo_avcp_read_resource(&s, nullptr, 0, nullptr), 0);  // a write stream
  EXPECT_EQ(tarvo_avcp_write_resource(&s, "0123456789A", 11), 0);   // beyond the length
  EXPECT_EQ(tarvo_avcp_write_resource(&s, "01234", 5), 1);
  EXPECT_EQ(tarvo_avcp_write_resource(&s, "56789", 5), 1);
  EXPECT_EQ(tarvo_avcp_write_resource(&s, "x", 1), 0);
  EXPECT_EQ(tarvo_avcp_close_resource(&s), 1);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(tarvo_avcp_close_resource(&s), 0);  // a second close frees nothing
  EXPECT_EQ(tarvo_avcp_write_resource(&s, "x", 1), 0);
  // Nine bytes of ten: the close fails without waiting for an answer.
  ASSERT_EQ(tarvo_avcp_open_resource_write(&s, url.c_str(), 10), 1);
  EXPECT_EQ(tarvo_avcp_write_resource(&s, "012345678", 9), 1);
  EXPECT_EQ(tarvo_avcp_close_resource(&s), 0);
  EXPECT_EQ(tarvo_avcp_open_resource_write(&s, url.c_str(), -1), 0);

  url = reader.url("/r");
  int64_t length = 0;
  s = reinterpret_cast<tarvo_avcp_resource_stream *>(1);
  EXPECT_EQ(tarvo_avcp_open_resource_read(&s, nullptr, url.c_str(), &length), 0);  // "-5" is no length
  EXPECT_EQ(s, nullptr);
  ASSERT_EQ(tarvo_avcp_open_resource_read(&s, nullptr, url.c_str(), &length), 1);
  EXPECT_EQ(length, -1);
  EXPECT_EQ(tarvo_avcp_write_resource(&s, "x", 1), 0);  // a read stream
  char buf[16];
  uint32_t got = 0;
  EXPECT_EQ(tarvo_avcp_read_resource(&s, buf, sizeof buf, &got), 1);
  EXPECT_EQ(std::string(buf, got), "hello");
  EXPECT_EQ(tarvo_avcp_close_resource(&s), 1);
  EXPECT_EQ(tarvo_avcp_read_resource(&s, buf, sizeof buf, &got), 0);
  EXPECT_EQ(tarvo_avcp_open_resource_read(&s, nullptr, url.c_str(), nullptr), 0);  // 404
  EXPECT_EQ(tarvo_avcp_open_resource_read(&s, nullptr, "ftp://x/", nullptr), 0);

  std::vector<std::string> got_requests = peer.requests();
  ASSERT_GE(got_requests.size(), 1u);
  EXPECT_EQ(got_requests[0], "POST /import/1 HTTP/1.1\r\nHOST: 127.0.0.1:" + std::to_string(peer.port()) +
                                 "\r\nCONTENT-LENGTH: 10\r\nCONNECTION: close\r\n\r\n0123456789");
}
