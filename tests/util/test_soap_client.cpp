// The SOAP client against scripted servers on loopback.
#include <gtest/gtest.h>

#include <tarvo_util/http_client.h>
#include <tarvo_util/soap.h>
#include <tarvo_util/sys_socket.h>

#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "script_server.h"

namespace {

using ms = std::chrono::milliseconds;
using tarvo_test::script_reply;
using tarvo_test::script_server;

script_reply answer(const std::string &bytes) { return {bytes}; }
const script_reply kHangUp{"", true};  // closes without a word
const script_reply kSilent{"", false, true};

// A port where nothing listens any more.
uint16_t closed_port()
{
  int fd = -1;
  uint8_t ip[4] = {127, 0, 0, 1};
  uint16_t port = 0;
  if (!sys_socket_tcp(&fd) || !sys_socket_bind4(fd, ip, 0) || !sys_socket_local4(fd, ip, &port)) std::abort();
  sys_socket_close(fd);
  return port;
}

const std::string kBegin = "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"\r\n"
                           "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">\r\n<s:Body>\r\n";
const std::string kEnd = "</s:Body>\r\n</s:Envelope>\r\n";
const char *kType = "urn:schemas-upnp-org:service:ContentDirectory:1";

std::string http(const std::string &status, const std::string &body)
{
  return "HTTP/1.1 " + status + "\r\nCONTENT-TYPE: text/xml\r\nCONTENT-LENGTH: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

std::string browse_ok()
{
  return http("200 OK", kBegin + "<u:BrowseResponse xmlns:u=\"" + kType +
                            "\"><Result> x </Result><NumberReturned>1</NumberReturned></u:BrowseResponse>" + kEnd);
}

std::string fault(const std::string &code)
{
  return http("500 Internal Server Error",
              kBegin + "<s:Fault><detail><UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\">" + code +
                  "</UPnPError></detail></s:Fault>" + kEnd);
}

struct lists {
  sys_str_list names = nullptr, values = nullptr;
  ~lists()
  {
    sys_str_list_free(names);
    sys_str_list_free(values);
  }
  std::vector<std::string> get(sys_str_list l) const
  {
    std::vector<std::string> v;
    for (; l && *l; l++) v.push_back(*l);
    return v;
  }
};

struct client_holder {
  http_client c = nullptr;
  explicit client_holder(const std::string &url) { EXPECT_TRUE(http_client_init(&c, url.c_str())); }
  ~client_holder() { http_client_free(&c); }
};

class SoapClient : public ::testing::Test {
protected:
  static void SetUpTestSuite() { platform_init(); }
};

TEST_F(SoapClient, PostRequestBytesAndResponseArguments)
{
  script_server s({answer(browse_ok())});
  lists out;
  const char *extra[] = {"X-A: 1", nullptr};
  EXPECT_EQ(soap_client_action(s.url("/ctl?q=1").c_str(), kType, "Browse", const_cast<char *const *>(extra), "",
                               &out.names, &out.values),
            0u);
  EXPECT_EQ(out.get(out.names), (std::vector<std::string>{"Result", "NumberReturned"}));
  EXPECT_EQ(out.get(out.values), (std::vector<std::string>{"x", "1"}));
  ASSERT_EQ(s.requests().size(), 1u);
  EXPECT_EQ(s.requests()[0], "POST /ctl?q=1 HTTP/1.1\r\nHOST: 127.0.0.1:" + std::to_string(s.port()) +
                               "\r\nUSER-AGENT: DLNADOC/1.50\r\nCONTENT-LENGTH: 163\r\n"
                               "CONTENT-TYPE: text/xml; charset=\"utf-8\"\r\n"
                               "SOAPACTION: \"" + kType + "#Browse\"\r\nCONNECTION: close\r\nX-A: 1\r\n\r\n" +
                               kBegin + kEnd);
}

TEST_F(SoapClient, FaultCodesAndUnreadableAnswers)
{
  script_server s({answer(fault("<errorCode>714</errorCode>")), answer(fault("<errorDescription>x</errorDescription>")),
                   answer(fault("<errorCode>0</errorCode>")), answer(http("200 OK", "<not-soap/>")),
                   answer(http("200 OK", "<broken"))});
  lists out;
  EXPECT_EQ(soap_client_action(s.url().c_str(), kType, "Browse", nullptr, "", &out.names, &out.values), 714u);
  EXPECT_EQ(out.names, nullptr);
  EXPECT_EQ(soap_client_action(s.url().c_str(), kType, "Browse", nullptr, "", nullptr, nullptr), 501u);
  EXPECT_EQ(soap_client_action(s.url().c_str(), kType, "Browse", nullptr, "", nullptr, nullptr), 501u);
  EXPECT_EQ(soap_client_action(s.url().c_str(), kType, "Browse", nullptr, "", &out.names, &out.values), 501u);
  // Without lists the body is not looked at.
  EXPECT_EQ(soap_client_action(s.url().c_str(), kType, "Browse", nullptr, "", nullptr, nullptr), 0u);
  EXPECT_EQ(soap_client_action("ftp://127.0.0.1/x", kType, "Browse", nullptr, "", nullptr, nullptr), 501u);
}

TEST_F(SoapClient, MethodNotAllowedLeadsToMPost)
{
  script_server s({answer(http("405 Method Not Allowed", "")),
                   answer("HTTP/1.1 100 Continue\r\n\r\n" + browse_ok())});
  const std::string body = "<u:Browse xmlns:u=\"x\"></u:Browse>\r\n";
  lists out;
  EXPECT_EQ(soap_client_action(s.url("/ctl").c_str(), kType, "Browse", nullptr, body.c_str(), &out.names, &out.values),
            0u);
  EXPECT_EQ(out.get(out.values), (std::vector<std::string>{"x", "1"}));
  ASSERT_EQ(s.requests().size(), 2u);
  EXPECT_EQ(s.connections(), (std::vector<int>{1, 2}));
  EXPECT_EQ(s.requests()[1], "M-POST /ctl HTTP/1.1\r\nHOST: 127.0.0.1:" + std::to_string(s.port()) +
                               "\r\nUSER-AGENT: DLNADOC/1.50\r\nCONTENT-LENGTH: " + std::to_string(163 + body.size()) +
                               "\r\nCONTENT-TYPE: text/xml; charset=\"utf-8\"\r\n"
                               "MAN: \"http://schemas.xmlsoap.org/soap/envelope/\"; ns=01\r\n"
                               "01-SOAPACTION: \"" + kType + "#Browse\"\r\nCONNECTION: close\r\n\r\n" + kBegin +
                               body + kEnd);
}

TEST_F(SoapClient, RetriesOnceOnAClosedConnectionButNotAfterATimeout)
{
  {
    script_server s({kHangUp, answer(browse_ok())});
    client_holder c(s.url());
    EXPECT_EQ(soap_client_action2(&c.c, kType, "Browse", nullptr, "", nullptr, nullptr), 0u);
    EXPECT_EQ(s.connections(), (std::vector<int>{1, 2}));
  }
  {
    script_server s({kHangUp, kHangUp, answer(browse_ok())});
    client_holder c(s.url());
    EXPECT_EQ(soap_client_action2(&c.c, kType, "Browse", nullptr, "", nullptr, nullptr), 501u);
    EXPECT_EQ(s.requests().size(), 2u);
  }
  {
    script_server s({kSilent, answer(browse_ok())});
    client_holder c(s.url());
    http_client_set_read_timeout(&c.c, 300);
    EXPECT_EQ(soap_client_action2(&c.c, kType, "Browse", nullptr, "", nullptr, nullptr), 501u);
    EXPECT_TRUE(http_client_is_read_timeout(&c.c));
    std::this_thread::sleep_for(ms(100));
    EXPECT_EQ(s.requests().size(), 1u);
  }
}

TEST_F(SoapClient, AnswerBodiesAreBounded)
{
  // A length beyond the cap is refused before anything is read (the cap
  // on streamed bodies is the one the caller's-buffer test below meets).
  script_server s({answer("HTTP/1.1 200 OK\r\nCONTENT-LENGTH: 67108865\r\n\r\n")});
  EXPECT_EQ(soap_client_action(s.url().c_str(), kType, "Browse", nullptr, "", nullptr, nullptr), 501u);
}

TEST_F(SoapClient, ActionIntoTheCallersBuffer)
{
  std::string fits = kBegin + "<u:R xmlns:u=\"urn:u\"><A>1</A></u:R>" + kEnd;
  script_server s({answer(http("200 OK", fits)), answer(http("200 OK", fits + " ")),
                   answer("HTTP/1.1 200 OK\r\nTRANSFER-ENCODING: chunked\r\n\r\n" + std::to_string(fits.size() + 1) +
                          "\r\n" + fits + " \r\n0\r\n\r\n"),
                   answer(fault("<errorCode>402</errorCode>"))});
  std::vector<char> buf(fits.size() + 1, 'z');
  client_holder c(s.url());
  EXPECT_EQ(soap_client_action_buf(&c.c, buf.data(), uint32_t(buf.size()), kType, "R", nullptr, ""), 0u);
  EXPECT_EQ(std::string(buf.data()), fits);
  // One byte more does not fit with its NUL, by length or chunked; the
  // device has answered, so the action is not sent again.
  EXPECT_EQ(soap_client_action_buf(&c.c, buf.data(), uint32_t(buf.size()), kType, "R", nullptr, ""), 501u);
  EXPECT_EQ(soap_client_action_buf(&c.c, buf.data(), uint32_t(buf.size()), kType, "R", nullptr, ""), 501u);
  std::vector<char> big(4096);
  EXPECT_EQ(soap_client_action_buf(&c.c, big.data(), uint32_t(big.size()), kType, "R", nullptr, ""), 402u);
  EXPECT_EQ(s.requests().size(), 4u);
}

parallel_soap_client_result_rec **run_parallel(parallel_soap_client_rec *pc, std::vector<std::string> urls, int *ok)
{
  std::vector<char *> u;
  for (std::string &s : urls) u.push_back(s.data());
  u.push_back(nullptr);
  parallel_soap_client_result_rec **r = nullptr;
  *ok = parallel_soap_client_action(pc, u.data(), kType, "Browse", nullptr, "", &r);
  return r;
}

TEST_F(SoapClient, ParallelActionWaitsAtMostItsTimeout)
{
  script_server good({answer(browse_ok())});
  script_server faulty({answer(fault("<errorCode>402</errorCode>"))});
  script_server moved({answer(http("405 Method Not Allowed", "")), answer(browse_ok())});
  script_server silent({kSilent});
  std::string refused = "http://127.0.0.1:" + std::to_string(closed_port()) + "/c";

  parallel_soap_client_rec pc;
  parallel_soap_client_init(&pc);
  EXPECT_EQ(pc.timeout_ms, 30000);
  const ms untouched(pc.timeout_ms);
  parallel_soap_client_set_timeout(&pc, 1000);
  int ok = 0;
  auto t0 = std::chrono::steady_clock::now();
  parallel_soap_client_result_rec **r =
      run_parallel(&pc,
                   {good.url(), faulty.url(), silent.url(), moved.url(), refused},
                   &ok);
  auto took = std::chrono::steady_clock::now() - t0;
  ASSERT_TRUE(ok);
  EXPECT_GE(took, ms(900));
  EXPECT_LT(took, untouched);  // not a speed: the timeout set is the one kept
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r[0]->state, PARALLEL_SOAP_ANSWERED);
  EXPECT_EQ(r[0]->error_code, 0u);
  ASSERT_NE(r[0]->out_values, nullptr);
  EXPECT_STREQ(r[0]->out_values[0], "x");
  EXPECT_EQ(r[1]->state, PARALLEL_SOAP_ANSWERED);
  EXPECT_EQ(r[1]->error_code, 402u);
  EXPECT_TRUE(r[2]->state == PARALLEL_SOAP_AWAITING_POST || r[2]->state == PARALLEL_SOAP_CONNECTING_POST);
  EXPECT_EQ(r[2]->error_code, 0u);
  EXPECT_EQ(r[3]->state, PARALLEL_SOAP_ANSWERED);
  EXPECT_EQ(r[3]->error_code, 0u);
  EXPECT_EQ(r[4]->state, PARALLEL_SOAP_FAILED);
  EXPECT_EQ(r[4]->error_code, 501u);
  EXPECT_STREQ(r[4]->control_url, refused.c_str());
  EXPECT_EQ(r[5], nullptr);
  ASSERT_EQ(moved.requests().size(), 2u);
  EXPECT_EQ(moved.requests()[1].rfind("M-POST / HTTP/1.1\r\n", 0), 0u);
  parallel_soap_client_result_list_free(r);
}

TEST_F(SoapClient, ParallelActionEndsEarlyWhenAllAnswered)
{
  script_server a({answer(browse_ok())});
  script_server b({answer(browse_ok())});
  parallel_soap_client_rec pc;
  parallel_soap_client_init(&pc);
  int ok = 0;
  auto t0 = std::chrono::steady_clock::now();
  parallel_soap_client_result_rec **r = run_parallel(&pc, {a.url(), b.url()}, &ok);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, ms(pc.timeout_ms));  // not a speed: not waited out
  ASSERT_TRUE(ok);
  EXPECT_EQ(r[0]->state, PARALLEL_SOAP_ANSWERED);
  EXPECT_EQ(r[1]->state, PARALLEL_SOAP_ANSWERED);
  parallel_soap_client_result_list_free(r);

  // A URL the client refuses stops the call before anything is sent.
  r = run_parallel(&pc, {a.url(), "https://127.0.0.1/x"}, &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(r, nullptr);
}

TEST_F(SoapClient, ParallelActionCanBeCancelled)
{
  script_server silent({kSilent});
  parallel_soap_client_rec pc;
  parallel_soap_client_init(&pc);
  std::thread stopper([&] {
    std::this_thread::sleep_for(ms(200));
    parallel_soap_client_set_cancel(&pc, 1);
  });
  int ok = 1;
  auto t0 = std::chrono::steady_clock::now();
  parallel_soap_client_result_rec **r = run_parallel(&pc, {silent.url()}, &ok);
  auto took = std::chrono::steady_clock::now() - t0;
  stopper.join();
  EXPECT_FALSE(ok);
  EXPECT_EQ(r, nullptr);
  EXPECT_TRUE(parallel_soap_client_is_canceled(&pc));
  EXPECT_LT(took, ms(pc.timeout_ms));  // not waited out
}

}  // namespace
