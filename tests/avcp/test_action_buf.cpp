// Browse and Search answers parsed in the caller's buffer: what counts,
// what is skipped, what fails, and the exact bound of the buffer.
#include <gtest/gtest.h>
#include <tarvo_avcp/avcp_action_buf.h>

#include <string>
#include <vector>

#include "../util/script_server.h"

namespace {

const std::string ENV_OPEN = "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\">";
const std::string RESPONSE_OPEN = "<u:BrowseResponse xmlns:u=\"urn:schemas-upnp-org:service:ContentDirectory:1\">";

std::string envelope(const std::string &args, const std::string &before_body = "")
{
  return ENV_OPEN + before_body + "<s:Body>" + RESPONSE_OPEN + args + "</u:BrowseResponse></s:Body></s:Envelope>";
}

const std::string NUMBERS = "<NumberReturned>2</NumberReturned><TotalMatches>10</TotalMatches><UpdateID>7</UpdateID>";

struct parsed {
  int ok;
  std::string result;
  uint32_t nr = 0, tm = 0, uid = 0;
};

// The body in a buffer of exactly size bytes (at least the body and its
// NUL, so that AddressSanitizer sees every byte written past size).
parsed parse(const std::string &body, size_t size = 0)
{
  std::vector<char> buf(body.begin(), body.end());
  buf.push_back(0);
  uint32_t given = uint32_t(size ? size : buf.size());
  parsed p;
  p.nr = p.tm = p.uid = 99;
  p.ok = avcp_cds_parse_browse_direct_children_response_buf(buf.data(), given, &p.nr, &p.tm, &p.uid);
  if (p.ok) p.result = buf.data();
  // Nothing at or past size was written.
  if (given < buf.size()) {
    EXPECT_EQ(std::string(buf.data() + given, body.size() - given), body.substr(given));
  }
  return p;
}

}  // namespace

TEST(action_buf, reads_the_first_of_each_and_skips_what_is_not_its_own)
{
  // Numbers before Result, blanks before a number, text after its digits,
  // a repeated Result, a Header, an unknown argument with children.
  parsed p = parse(envelope("<NumberReturned>\t\r\n 2</NumberReturned><Other><a>1</a></Other>"
                            "<Result>&lt;DIDL-Lite&gt;&amp;&lt;/DIDL-Lite&gt;</Result><Result>second</Result>"
                            "<TotalMatches>10 items</TotalMatches><UpdateID>7</UpdateID><UpdateID>8</UpdateID>",
                            "<s:Header><x:h xmlns:x=\"urn:h\"><y/></x:h></s:Header>"));
  EXPECT_EQ(p.ok, 1);
  EXPECT_EQ(p.result, "<DIDL-Lite>&</DIDL-Lite>");
  EXPECT_EQ(p.nr * 100 + p.tm * 10 + p.uid, 307u);
  // An empty Result is a Result.
  p = parse(envelope("<Result></Result>" + NUMBERS));
  EXPECT_EQ(p.ok, 1);
  EXPECT_EQ(p.result, "");

  // Failures store no number.
  for (const std::string &bad : {
           envelope("<Result>x</Result><NumberReturned>2</NumberReturned><TotalMatches>1</TotalMatches>"),
           envelope("<u:Result>x</u:Result>" + NUMBERS),             // a namespaced argument is none of the four
           envelope("<Result>x<b>y</b></Result>" + NUMBERS),          // an element inside an argument
           envelope("<Result>x</Result><NumberReturned> </NumberReturned><TotalMatches>1</TotalMatches>"
                    "<UpdateID>7</UpdateID>"),                        // a number without digits
           "<Envelope><Body>" + RESPONSE_OPEN + "<Result>x</Result>" + NUMBERS + "</u:BrowseResponse></Body></Envelope>",
           envelope("<Result>x</Result>" + NUMBERS).substr(10),       // not XML
       }) {
    parsed f = parse(bad);
    EXPECT_EQ(f.ok, 0) << bad;
    EXPECT_EQ(f.nr, 99u);
  }
}

TEST(action_buf, the_result_must_fit_with_its_nul_strictly_below_size)
{
  // The buffer's size may be smaller than the body: it bounds what the
  // parse writes, Result and number text alike.
  std::string text(2000, 'a');
  std::string body = envelope(NUMBERS + "<Result>" + text + "&amp;</Result>");
  size_t decoded = text.size() + 1;
  EXPECT_EQ(parse(body, decoded + 1).ok, 1);
  EXPECT_EQ(parse(body, decoded + 1).result, text + "&");
  EXPECT_EQ(parse(body, decoded).ok, 0);
  // A number's text goes after the Result's NUL and is bounded the same way.
  std::string late = envelope("<Result>" + text + "</Result><NumberReturned>2</NumberReturned>"
                              "<TotalMatches>10</TotalMatches><UpdateID>7</UpdateID>");
  EXPECT_EQ(parse(late, text.size() + 1 + 3).ok, 1);
  EXPECT_EQ(parse(late, text.size() + 1 + 2).ok, 0);
  EXPECT_EQ(parse(late, text.size() + 1).ok, 0);
  // A Result that fills the buffer, then an empty number: its NUL would
  // fall on the byte at size.
  EXPECT_EQ(parse(envelope("<Result>" + text + "</Result><NumberReturned></NumberReturned>"), text.size() + 1).ok, 0);
}

TEST(action_buf, pieces_at_the_boundary)
{
  // Bodies of 1024 and 1025 bytes: one final piece, or a full piece and one
  // byte.
  std::string base = envelope("<Result></Result>" + NUMBERS);
  for (size_t len : {size_t(1024), size_t(1025)}) {
    std::string text(len - base.size(), 'z');
    std::string body = envelope("<Result>" + text + "</Result>" + NUMBERS);
    ASSERT_EQ(body.size(), len);
    parsed p = parse(body);
    EXPECT_EQ(p.ok, 1);
    EXPECT_EQ(p.result, text);
  }
}

TEST(action_buf, senders_over_a_loopback_peer)
{
  std::string answer = envelope("<Result>&lt;DIDL-Lite/&gt;</Result><NumberReturned>0</NumberReturned>"
                                "<TotalMatches>3</TotalMatches><UpdateID>5</UpdateID>");
  std::string reply = "HTTP/1.1 200 OK\r\nCONTENT-LENGTH: " + std::to_string(answer.size()) + "\r\n\r\n" + answer;
  tarvo_test::script_server peer({{reply, true, false}}, true);
  http_client c = nullptr;
  ASSERT_TRUE(http_client_init(&c, peer.url("/cds").c_str()));
  std::vector<char> buf(4096);
  uint32_t nr = 9, tm = 9, uid = 9;
  // The buffer form of a metadata browse takes any counts.
  EXPECT_EQ(avcp_cds_browse_metadata_buf2(&c, buf.data(), uint32_t(buf.size()), "0", "*", &uid), 0u);
  EXPECT_STREQ(buf.data(), "<DIDL-Lite/>");
  EXPECT_EQ(uid, 5u);
  EXPECT_EQ(avcp_cds_search_buf2(&c, buf.data(), uint32_t(buf.size()), "0", "upnp:class derivedfrom \"object.item\"",
                                 "*", 0, 20, "", &nr, &tm, &uid),
            0u);
  EXPECT_EQ(nr * 10 + tm, 3u);
  // An answer that does not fit the buffer with its NUL.
  EXPECT_EQ(avcp_cds_browse_direct_children_buf2(&c, buf.data(), uint32_t(answer.size()), "0", "*", 0, 1, "", &nr,
                                                 &tm, &uid),
            501u);
  http_client_free(&c);
  std::vector<std::string> got = peer.requests();
  ASSERT_GE(got.size(), 2u);
  EXPECT_NE(got[0].find("#Browse\"\r\n"), std::string::npos);
  EXPECT_NE(got[0].find("<BrowseFlag>BrowseMetadata</BrowseFlag>\r\n"), std::string::npos);
  EXPECT_NE(got[1].find("#Search\"\r\n"), std::string::npos);
  EXPECT_NE(got[1].find("<SearchCriteria>upnp:class derivedfrom &quot;object.item&quot;</SearchCriteria>\r\n"),
            std::string::npos);
}
