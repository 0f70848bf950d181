// Control requests: actions, state-variable queries, faults, header
// checks and the batch extension.
#include "device_test.h"

#include <future>
#include <gtest/gtest.h>
#include <tarvo_util/soap.h>
#include <tarvo_util/util_limits.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace device_test;

namespace {

const std::string kPath = "/control/test";

std::string post(const std::string &headers, const std::string &body)
{
  return "POST " + kPath + " HTTP/1.1\r\n" + headers + "\r\n" + body;
}

TEST(DeviceSoap, ActionAnsweredWithTheHandlersBody)
{
  device d;
  ASSERT_TRUE(d.start());
  reply r = exchange(d.port(), soap_request(kPath, kServiceType, "Echo", "<In>hi</In><N>2</N>"));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.status, "200 OK");
  EXPECT_EQ(r.header("CONTENT-TYPE"), "text/xml;charset=\"utf-8\"");
  EXPECT_EQ(r.header("CONTENT-LENGTH"), std::to_string(r.body.size()));
  EXPECT_NE(std::find(r.headers.begin(), r.headers.end(), "EXT:"), r.headers.end());
  EXPECT_EQ(r.body.rfind(soap_xml_begin(), 0), 0u);
  EXPECT_NE(r.body.find("<Out>hi</Out>"), std::string::npos);
  EXPECT_EQ(r.body.substr(r.body.size() - soap_xml_end_len()), soap_xml_end());
  std::lock_guard<std::mutex> lock(d.seen.mu);
  ASSERT_EQ(d.seen.actions.size(), 1u);
  EXPECT_EQ(d.seen.actions[0], "Echo(In=hi,N=2)");
  EXPECT_EQ(d.seen.udn, kUdn);
  EXPECT_EQ(d.seen.service_type, kServiceType);
  EXPECT_EQ(d.seen.service_id, kServiceId);
  EXPECT_EQ(d.seen.remote, "127.0.0.1");
}

// A description may give its control URL as an absolute path.
TEST(DeviceSoap, AbsoluteControlUrl)
{
  device d;
  d.desc = description();
  size_t at = d.desc.find("<controlURL>control/test");
  ASSERT_NE(at, std::string::npos);
  d.desc.insert(at + 12, "/");
  ASSERT_TRUE(d.start());
  reply r = exchange(d.port(), soap_request(kPath, kServiceType, "Echo", "<In>abs</In>"));
  EXPECT_EQ(r.status, "200 OK");
  EXPECT_NE(r.body.find("<Out>abs</Out>"), std::string::npos);
}

// A body that is not SOAP, or that ends before its length, used to get no
// answer at all, which clients take for a network failure and retry.
TEST(DeviceSoap, MalformedBodyAnswered400)
{
  device d;
  ASSERT_TRUE(d.start());
  std::string head = "POST " + kPath + " HTTP/1.1\r\nHOST: 127.0.0.1\r\n"
                     "CONTENT-TYPE: text/xml\r\nSOAPACTION: \"" + std::string(kServiceType) + "#Echo\"\r\n";
  for (const std::string &body : {std::string("not xml"), std::string("<s:Envelope><s:Body>")}) {
    reply r = exchange(d.port(), head + "CONTENT-LENGTH: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    EXPECT_EQ(r.status, "400 Bad Request") << body;
    EXPECT_EQ(r.header("CONNECTION"), "close") << body;
  }
  int s = connect_to(d.port());
  send_all(s, head + "CONTENT-LENGTH: 100\r\n\r\n<s:Envelope>");
  shutdown(s, SHUT_WR);
  EXPECT_EQ(read_reply(s).status, "400 Bad Request");
  close(s);
  std::lock_guard<std::mutex> lock(d.seen.mu);
  EXPECT_TRUE(d.seen.actions.empty());
}

TEST(DeviceSoap, FaultsAndVersions)
{
  device d;
  ASSERT_TRUE(d.start());
  reply r = exchange(d.port(), soap_request(kPath, kServiceType, "Fail", ""));
  EXPECT_EQ(r.status, "500 Internal Server Error");
  uint32_t code = 0;
  EXPECT_EQ(soap_fault_parse(r.body.c_str(), &code), 1);
  EXPECT_EQ(code, 714u);

  // An older version of the served type reaches the handler; a newer one
  // does not.
  r = exchange(d.port(), soap_request(kPath, "urn:schemas-upnp-org:service:Test:1", "Echo", ""));
  EXPECT_EQ(r.status, "200 OK");
  r = exchange(d.port(), soap_request(kPath, "urn:schemas-upnp-org:service:Test:3", "Echo", ""));
  EXPECT_EQ(r.status, "401 invalid action");

  EXPECT_EQ(exchange(d.port(), soap_request("/", kServiceType, "Echo", "")).status, "404 not found");
  EXPECT_EQ(exchange(d.port(), soap_request("/control/none", kServiceType, "Echo", "")).status,
            "404 not found");
}

TEST(DeviceSoap, HandlersGetEmptyListsNeverNull)
{
  device d;
  ASSERT_TRUE(d.start());
  EXPECT_EQ(exchange(d.port(), soap_request(kPath, kServiceType, "Echo", "")).status, "200 OK");
  std::string body = "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\">"
                     "<s:Body></s:Body></s:Envelope>";
  reply r = exchange(d.port(), post("HOST: localhost\r\nSOAPACTION: \"" + std::string(kServiceType) +
                                        "#Echo\"\r\nCONTENT-LENGTH: " +
                                        std::to_string(body.size()) + "\r\n",
                                    body));
  EXPECT_EQ(r.status, "200 OK");
  std::lock_guard<std::mutex> lock(d.seen.mu);
  EXPECT_EQ(d.seen.actions.size(), 2u);
  EXPECT_FALSE(d.seen.lists_null);
}

TEST(DeviceSoap, QueryStateVariable)
{
  device d;
  ASSERT_TRUE(d.start());
  reply r = exchange(d.port(), soap_request(kPath, SOAP_CONTROL_NS, "QueryStateVariable",
                                            "<u:varName>Var</u:varName>"));
  EXPECT_EQ(r.status, "200 OK");
  EXPECT_NE(r.body.find("<return>a&lt;b&amp;c</return>"), std::string::npos);
  EXPECT_NE(r.body.find("QueryStateVariableResponse"), std::string::npos);

  r = exchange(d.port(), soap_request(kPath, SOAP_CONTROL_NS, "QueryStateVariable", ""));
  uint32_t code = 0;
  EXPECT_EQ(r.status, "500 Internal Server Error");
  EXPECT_EQ(soap_fault_parse(r.body.c_str(), &code), 1);
  EXPECT_EQ(code, 402u);

  // Under the service's own type it is an ordinary action.
  r = exchange(d.port(), soap_request(kPath, kServiceType, "QueryStateVariable", ""));
  EXPECT_EQ(r.status, "200 OK");
  std::lock_guard<std::mutex> lock(d.seen.mu);
  EXPECT_EQ(d.seen.actions.back(), "QueryStateVariable()");
}

TEST(DeviceSoap, HeaderErrors)
{
  device d;
  ASSERT_TRUE(d.start());
  const std::string type = kServiceType;
  const std::string ok_action = "SOAPACTION: \"" + type + "#Echo\"\r\n";
  struct bad {
    std::string headers, status;
  } cases[] = {
      {"HOST: localhost\r\nSOAPACTION: " + type + "#Echo\r\nCONTENT-LENGTH: 0\r\n", "412 invalid SOAPAction"},
      {"HOST: localhost\r\nSOAPACTION: \"" + type + "#\"\r\nCONTENT-LENGTH: 0\r\n", "412 invalid SOAPAction"},
      {"HOST: localhost\r\nCONTENT-LENGTH: 0\r\n", "412 I need SOAPAction"},
      {"HOST: localhost\r\n" + ok_action, "411 I need Content-Length"},
      {"HOST: localhost\r\n" + ok_action + "CONTENT-TYPE: text/html\r\nCONTENT-LENGTH: 0\r\n",
       "415 unsupported Content-Type"},
      {"HOST: localhost\r\n" + ok_action + "TRANSFER-ENCODING: gzip\r\n", "505 I do not accept Transfer-Encoding"},
      {"HOST: localhost\r\n" + ok_action + "CONTENT-LENGTH: 12abc\r\n", "412 invalid Content-Length"},
      {"HOST: localhost\r\n" + ok_action + "CONTENT-LENGTH: 99999999999999999999999\r\n",
       "412 invalid Content-Length"},
      {"HOST: localhost\r\n" + ok_action + "CONTENT-LENGTH: 5000000\r\n", "413 request entity too large"},
      {ok_action + "CONTENT-LENGTH: 0\r\n", "400 HTTP/1.1 requests must include a host name"},
      {"HOST: localhost\r\n" + ok_action + "BATCH-MODE: yes\r\nCONTENT-LENGTH: 0\r\n", "400 Invalid BATCH-MODE"},
      {"HOST: localhost\r\nBATCH-COMMAND: Later\r\nCONTENT-LENGTH: 0\r\n", "400 Invalid BATCH-COMMAND"},
      {"HOST: localhost\r\n" + ok_action + "BATCH_DELAY: -1\r\nCONTENT-LENGTH: 0\r\n", "412 Invalid BATCH_DELAY"},
      {"HOST: localhost\r\n" + ok_action + "EXPECT: later\r\nCONTENT-LENGTH: 0\r\n", "417 unsupported Expect"},
      {"HOST: localhost\r\n" + ok_action + "CONTENT-RANGE: bytes 0-1/2\r\nCONTENT-LENGTH: 0\r\n",
       "501 I do not accept Content-Range"},
  };
  // Each refusal pauses a second: ask them at once, as many as one
  // address may have open (past its share, its oldest connection still
  // without a whole header gives way, as it should on a busy machine).
  const size_t n = sizeof cases / sizeof cases[0];
  for (size_t first = 0; first < n; first += CONN_PER_ADDRESS_MAX) {
    std::vector<std::future<reply>> replies;
    for (size_t i = first; i < n && i < first + CONN_PER_ADDRESS_MAX; i++)
      replies.push_back(
          std::async(std::launch::async, [&, i] { return exchange(d.port(), post(cases[i].headers, "")); }));
    for (size_t k = 0; k < replies.size(); k++) {
      reply r = replies[k].get();
      EXPECT_EQ(r.status, cases[first + k].status) << cases[first + k].headers;
      EXPECT_EQ(r.header("CONNECTION"), "close");
    }
  }
  std::lock_guard<std::mutex> lock(d.seen.mu);
  EXPECT_TRUE(d.seen.actions.empty());
}

TEST(DeviceSoap, BatchExtension)
{
  device d;
  ASSERT_TRUE(d.start());
  reply r = exchange(d.port(), post("HOST: localhost\r\nBATCH-MODE: TRUE\r\nBATCH-COMMAND: acceptbatch\r\n"
                                    "BATCH_DELAY: 5\r\nCONTENT-LENGTH: 0\r\n", ""));
  EXPECT_EQ(r.status, "202 Accepted");
  EXPECT_EQ(r.header("CONTENT-LENGTH"), "0");
  r = exchange(d.port(), post("HOST: localhost\r\nBATCH-COMMAND: DeleteBatch\r\nCONTENT-LENGTH: 0\r\n", ""));
  EXPECT_EQ(r.status, "200 OK");
  r = exchange(d.port(), post("HOST: localhost\r\nBATCH-MODE: true\r\nBATCH-COMMAND: AcceptBatch\r\n"
                              "CONTENT-LENGTH: 0\r\n", ""));
  EXPECT_EQ(r.status, "202 Accepted");
  EXPECT_EQ(exchange(d.port(), soap_request(kPath, kServiceType, "Put", "<A>1</A>",
                                            "BATCH-MODE: true\r\n")).status,
            "202 Accepted");
  EXPECT_EQ(exchange(d.port(), soap_request(kPath, kServiceType, "Fail", "", "BATCH-MODE: true\r\n"))
                .status,
            "500 Internal Server Error");
  std::lock_guard<std::mutex> lock(d.seen.mu);
  EXPECT_EQ(d.seen.batch, (std::vector<std::string>{"accept:5", "delete", "accept:0", "Put(A=1)", "Fail()"}));
  EXPECT_TRUE(d.seen.actions.empty());
}

TEST(DeviceSoap, ExpectContinueChunkedBodiesAndKeepAlive)
{
  device d;
  ASSERT_TRUE(d.start());
  std::string full = soap_request(kPath, kServiceType, "Echo", "<In>one</In>", "EXPECT: 100-Continue\r\n");
  size_t split = full.find("\r\n\r\n") + 4;
  int s = connect_to(d.port());
  ASSERT_TRUE(send_all(s, full.substr(0, split)));
  reply interim = read_reply(s);
  EXPECT_EQ(interim.status, "100 continue");
  EXPECT_EQ(interim.header("CONTENT-LENGTH"), "0");
  ASSERT_TRUE(send_all(s, full.substr(split)));
  reply r = read_reply(s);
  EXPECT_EQ(r.status, "200 OK");
  EXPECT_NE(r.body.find("<Out>one</Out>"), std::string::npos);

  // The same connection serves a chunked request next.
  std::string chunked = soap_request(kPath, kServiceType, "Echo", "<In>two</In>");
  split = chunked.find("CONTENT-LENGTH");
  std::string body = chunked.substr(chunked.find("\r\n\r\n") + 4);
  std::string req = chunked.substr(0, split) + "TRANSFER-ENCODING: chunked\r\nCONNECTION: close\r\n\r\n";
  for (size_t i = 0; i < body.size(); i += 50) {
    std::string piece = body.substr(i, 50);
    char hex[16];
    snprintf(hex, sizeof hex, "%zx", piece.size());
    req += std::string(hex) + ";ext=1\r\n" + piece + "\r\n";
  }
  req += "0\r\nX-Trailer: 1\r\n\r\n";
  ASSERT_TRUE(send_all(s, req));
  r = read_reply(s);
  EXPECT_EQ(r.status, "200 OK");
  EXPECT_EQ(r.header("CONNECTION"), "close");
  EXPECT_NE(r.body.find("<Out>two</Out>"), std::string::npos);
  close(s);

  // HTTP/1.0 gets no interim answer.
  std::string old = full;
  old.replace(old.find("HTTP/1.1"), 8, "HTTP/1.0");
  r = exchange(d.port(), old);
  EXPECT_EQ(r.status, "200 OK");
}

TEST(DeviceSoap, ChunkedBodiesAreCapped)
{
  device d;
  ASSERT_TRUE(d.start());
  int s = connect_to(d.port());
  std::string head = soap_request(kPath, kServiceType, "Echo", "");
  head = head.substr(0, head.find("CONTENT-LENGTH")) + "TRANSFER-ENCODING: chunked\r\n\r\n";
  ASSERT_TRUE(send_all(s, head));
  std::string chunk(1 << 20, 'x');
  for (int i = 0; i < 5; i++)
    if (!send_all(s, "100000\r\n" + chunk + "\r\n")) break;
  reply r = read_reply(s);
  close(s);
  EXPECT_EQ(r.status, "413 request entity too large");
  std::lock_guard<std::mutex> lock(d.seen.mu);
  EXPECT_TRUE(d.seen.actions.empty());
}

}  // namespace
