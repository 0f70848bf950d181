// Event subscriptions: the request checks, callback URLs, the initial event
// and NOTIFY messages, renewal, expiry and cancellation.
#include "gena_test.h"

#include <chrono>
#include <tarvo_util/sys_time.h>
#include <unistd.h>

using namespace gena_test;

namespace {

struct header_case {
  std::vector<std::string> lines;
  int unsubscribe;
  int http10;
  const char *status;  // nullptr: accepted
};

const char *check(const header_case &t, device_gena_request *rq)
{
  std::vector<char *> lines;
  for (const std::string &l : t.lines) lines.push_back(const_cast<char *>(l.c_str()));
  lines.push_back(nullptr);
  return device_gena_headers(lines.data(), t.unsubscribe, t.http10, rq);
}

TEST(GenaHeaders, AnswersInTheOrderTheHeadersAreChecked)
{
  const header_case cases[] = {
      {{"HOST:h", "CALLBACK:<http://10.0.0.2/cb>", "NT:upnp:event"}, 0, 0, nullptr},
      {{"CALLBACK:<http://10.0.0.2/cb>", "NT:upnp:event"}, 0, 0,
       "400 HTTP/1.1 requests must include a host name"},
      {{"CALLBACK:<http://10.0.0.2/cb>", "NT:upnp:event"}, 0, 1, nullptr},
      {{"HOST:h", "NT:upnp:event"}, 0, 0, "412 I need Callback"},
      {{"HOST:h", "CALLBACK:http://10.0.0.2/cb", "NT:upnp:event"}, 0, 0, "412 I need Callback"},
      {{"HOST:h", "CALLBACK:<http://10.0.0.2/cb", "NT:upnp:event"}, 0, 0, "412 I need Callback"},
      {{"HOST:h", "CALLBACK:<http://10.0.0.2/cb>"}, 0, 0, "400 I need NT"},
      {{"HOST:h", "CALLBACK:<http://10.0.0.2/cb>", "NT:upnp:events"}, 0, 0, "412 invalid NT"},
      {{"HOST:h", "TRANSFER-ENCODING:gzip"}, 0, 0, "505 I do not accept Transfer-Encoding"},
      {{"HOST:h", "CONTENT-LENGTH:12x"}, 0, 0, "412 invalid Content-Length"},
      {{"HOST:h", "CONTENT-LENGTH:99999999999999999999999"}, 0, 0, "412 invalid Content-Length"},
      // Renewals
      {{"HOST:h", "SID:uuid:1"}, 0, 0, nullptr},
      {{"HOST:h", "SID:uuid:1", "NT:upnp:event"}, 0, 0, "400 bad request"},
      {{"HOST:h", "SID:uuid:1", "CALLBACK:<http://10.0.0.2/>"}, 0, 0, "400 bad request"},
      // Cancellations: NT and CALLBACK are refused as soon as they are seen.
      {{"HOST:h", "SID:uuid:1"}, 1, 0, nullptr},
      {{"HOST:h"}, 1, 0, "412 I need SID"},
      {{"NT:upnp:event", "CONTENT-LENGTH:x"}, 1, 0, "400 bad request"},
      {{"CALLBACK:<http://10.0.0.2/>"}, 1, 0, "400 bad request"},
      {{"SID:uuid:1"}, 1, 0, "400 HTTP/1.1 requests must include a host name"},
  };
  for (const header_case &t : cases) {
    device_gena_request rq{};
    const char *got = check(t, &rq);
    EXPECT_STREQ(got, t.status) << t.lines[0] << " " << t.lines.size() << " unsub " << t.unsubscribe;
    device_gena_request_free(&rq);
  }
}

TEST(GenaHeaders, KeepsSidCallbacksAndKeepAlive)
{
  device_gena_request rq{};
  ASSERT_EQ(check({{"HOST:h", "SID:uuid:abc  ", "Connection:Close"}, 0, 0, nullptr}, &rq), nullptr);
  EXPECT_STREQ(rq.sid, "uuid:abc");
  EXPECT_EQ(rq.keep_alive, 0);
  device_gena_request_free(&rq);

  ASSERT_EQ(check({{"HOST:h", "NT:upnp:event", "CONTENT-LENGTH:5",
                    "CALLBACK:junk <http://10.0.0.2:8/a b?q=1> and <http://10.0.0.3/c>"},
                   0, 0, nullptr},
                  &rq),
            nullptr);
  EXPECT_EQ(rq.keep_alive, 1);
  EXPECT_EQ(rq.has_length, 1);
  EXPECT_EQ(rq.length, 5u);
  ASSERT_NE(rq.callbacks, nullptr);
  // A path that needs escaping is escaped; the others stay as sent.
  EXPECT_EQ(std::string(rq.callbacks[0]).rfind("http://10.0.0.2:8/a%20b?q=1", 0), 0u);
  EXPECT_STREQ(rq.callbacks[1], "http://10.0.0.3/c");
  EXPECT_EQ(rq.callbacks[2], nullptr);
  device_gena_request_free(&rq);
}

TEST(GenaCallbacks, OnlyTheSubscriberOrItsSubnetAndAtMostFour)
{
  connection_addresses addr{};
  sys_ip4_scan("10.0.0.1", addr.local_ip);
  sys_ip4_scan("192.168.5.9", addr.remote_ip);
  const uint8_t mask[4] = {255, 255, 255, 0};
  auto filtered = [&](std::vector<std::string> urls) {
    device_gena_request rq{};
    auto *list = static_cast<sys_str_list>(sys_alloc_zero((urls.size() + 1) * sizeof(char *)));
    for (size_t i = 0; i < urls.size(); i++) sys_str_clone(urls[i].c_str(), &list[i]);
    rq.callbacks = list;
    std::vector<std::string> kept;
    int r = device_gena_callbacks_filter(&rq, &addr, mask);
    for (char **u = rq.callbacks; u && *u; u++) kept.push_back(*u);
    EXPECT_EQ(r, !kept.empty());
    device_gena_request_free(&rq);
    return kept;
  };
  EXPECT_EQ(filtered({"http://192.168.5.9:4004/cb", "http://10.0.0.77/x", "HTTP://10.0.0.1:1/"}),
            (std::vector<std::string>{"http://192.168.5.9:4004/cb", "http://10.0.0.77/x",
                                      "HTTP://10.0.0.1:1/"}));
  EXPECT_TRUE(filtered({"http://10.0.1.1/", "http://192.168.5.10/", "http://host.example/",
                        "https://10.0.0.2/", "http://10.0.0.2:0/", "http://10.0.0.2:65536/",
                        "http://10.0.0.2.5/", "http://8.8.8.8/"})
                  .empty());
  EXPECT_EQ(filtered({"http://8.8.8.8/", "http://10.0.0.2/1", "http://10.0.0.2/2", "http://10.0.0.2/3",
                      "http://10.0.0.2/4", "http://10.0.0.2/5"}),
            (std::vector<std::string>{"http://10.0.0.2/1", "http://10.0.0.2/2", "http://10.0.0.2/3",
                                      "http://10.0.0.2/4"}));
}

TEST(GenaPropertySet, BuildsEscapedProperties)
{
  sys_stralloc_rec sa{};
  ASSERT_TRUE(sys_stralloc_copys(&sa, "old"));
  ASSERT_TRUE(property_set_xml_begin(&sa));
  ASSERT_TRUE(property_set_xml_add(&sa, "A", "x<y&\"z\""));
  ASSERT_TRUE(property_set_xml_add(&sa, "B", ""));
  ASSERT_TRUE(property_set_xml_end(&sa));
  EXPECT_EQ(std::string(sa.buf, sa.len),
            "<e:propertyset xmlns:e=\"urn:schemas-upnp-org:event-1-0\">\n"
            "<e:property>\n<A>x&lt;y&amp;&quot;z&quot;</A>\r\n</e:property>\n"
            "<e:property>\n<B></B>\r\n</e:property>\n"
            "</e:propertyset>\n");
  sys_stralloc_free(&sa);
}

TEST(GenaEvents, RefusedWithoutARunningDevice)
{
  EXPECT_EQ(tarvo_device_event_notify(nullptr, kServiceId, "x"), 0);
  tarvo_device_ctx *ctx = nullptr;
  EXPECT_EQ(tarvo_device_event_notify(&ctx, kServiceId, "x"), 0);
  tarvo_device_disable_ssdp(&ctx);  // made, not started
  EXPECT_EQ(tarvo_device_event_notify(&ctx, kServiceId, "x"), 0);
  // A start that fails frees the context, GENA's and SSDP's parts unused.
  EXPECT_EQ(tarvo_device_start(&ctx, nullptr, 0, nullptr, nullptr, 0, nullptr), 0);
  EXPECT_EQ(ctx, nullptr);
}

// --- with a running device ---

class Gena : public ::testing::Test {
 protected:
  void SetUp() override
  {
    GENA_NEED_NET();
    ASSERT_TRUE(d.start(false));
  }

  // A new subscription with callbacks (each in <>); the answer.
  device_test::reply subscribe(const std::string &callbacks, const std::string &path = "/event/test")
  {
    return device_test::exchange(d.port(), subscribe_request(path, "CALLBACK: " + callbacks + "\r\nNT: upnp:event\r\n"));
  }

  device_test::reply unsubscribe(const std::string &sid, const std::string &path = "/event/test")
  {
    return device_test::exchange(
        d.port(), "UNSUBSCRIBE " + path + " HTTP/1.1\r\nHOST: localhost\r\nSID: " + sid + "\r\n\r\n");
  }

  device_test::reply renew(const std::string &sid, const std::string &path = "/event/test")
  {
    return device_test::exchange(d.port(), subscribe_request(path, "SID: " + sid + "\r\n"));
  }

  device_subscription *find(const std::string &sid)
  {
    int32_t i = device_subscription_find(d.ctx, sid.c_str());
    return i < 0 ? nullptr : static_cast<device_subscription *>(d.ctx->subscriptions.buf[i]);
  }

  device d;
};

TEST_F(Gena, InitialEventThenNotificationsInOrder)
{
  callback_server cb;
  device_test::reply a = subscribe("<" + cb.url("/cb?x=1") + ">");
  ASSERT_EQ(a.status, "200 OK");
  std::string sid = a.header("SID");
  EXPECT_EQ(sid.size(), DEVICE_SID_LEN);
  EXPECT_EQ(sid.rfind("uuid:", 0), 0u);
  EXPECT_EQ(a.header("TIMEOUT"), "Second-300");
  EXPECT_EQ(a.header("CONTENT-LENGTH"), "0");

  std::vector<message> got = cb.wait(1);
  ASSERT_EQ(got.size(), 1u);
  const std::string body = kInitialBody;
  EXPECT_EQ(got[0].start, "NOTIFY /cb?x=1 HTTP/1.1");
  EXPECT_EQ(got[0].headers,
            (std::vector<std::string>{"HOST: 127.0.0.1:" + std::to_string(cb.port),
                                      "CONTENT-LENGTH: " + std::to_string(body.size()),
                                      "CONTENT-TYPE: text/xml;charset=\"utf-8\"", "NT: upnp:event",
                                      "NTS: upnp:propchange", "SID: " + sid, "SEQ: 0",
                                      "CONNECTION: close"}));
  EXPECT_EQ(got[0].body, body);

  EXPECT_TRUE(tarvo_device_event_notify(&d.ctx, kServiceId, "<one/>"));
  EXPECT_TRUE(tarvo_device_event_notify(&d.ctx, kOtherId, "<not for it/>"));
  EXPECT_TRUE(tarvo_device_event_notify(&d.ctx, kServiceId, "<two/>"));
  got = cb.wait(3);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[1].header("SEQ"), "1");
  EXPECT_EQ(got[1].body, "<one/>");
  EXPECT_EQ(got[2].header("SEQ"), "2");
  EXPECT_EQ(got[2].body, "<two/>");
  usleep(300000);
  EXPECT_EQ(cb.count(), 3u);
}

TEST_F(Gena, EventQueuedBeforeTheInitialEventWaitsForIt)
{
  callback_server cb;
  // With the queue's writer lock held here, the connection thread stores
  // the subscription and answers, and then waits to queue the initial
  // event: an event reported now is queued ahead of it.
  sys_mutex_lock(&d.ctx->queue_mutex);
  int s = device_test::connect_to(d.port());
  ASSERT_GE(s, 0);
  device_test::send_all(s, subscribe_request("/event/test", "CALLBACK: <" + cb.url() + ">\r\nNT: upnp:event\r\n"));
  device_test::reply a = device_test::read_reply(s);
  ASSERT_EQ(a.status, "200 OK");
  EXPECT_TRUE(tarvo_device_event_notify(&d.ctx, kServiceId, "<early/>"));
  usleep(300000);
  EXPECT_EQ(cb.count(), 0u) << "an event reached the subscriber before its initial event";
  sys_mutex_unlock(&d.ctx->queue_mutex);
  close(s);
  EXPECT_TRUE(tarvo_device_event_notify(&d.ctx, kServiceId, "<late/>"));
  std::vector<message> got = cb.wait(3);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].header("SEQ"), "0");
  EXPECT_EQ(got[0].body, kInitialBody);
  EXPECT_EQ(got[1].header("SEQ"), "1");
  EXPECT_EQ(got[1].body, "<early/>");
  EXPECT_EQ(got[2].header("SEQ"), "2");
  EXPECT_EQ(got[2].body, "<late/>");
}

TEST_F(Gena, LaterCallbackTakesOverWhenEarlierOnesFail)
{
  callback_server refusing, taking;
  refusing.status = "412 Precondition Failed";
  device_test::reply a = subscribe("<http://127.0.0.1:1/closed><" + refusing.url() + "><" + taking.url() + ">");
  ASSERT_EQ(a.status, "200 OK");
  ASSERT_EQ(taking.wait(1).size(), 1u);
  EXPECT_TRUE(tarvo_device_event_notify(&d.ctx, kServiceId, "<e/>"));
  std::vector<message> got = taking.wait(2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1].header("SEQ"), "1");
  EXPECT_EQ(refusing.count(), 2u);
}

TEST_F(Gena, CallbacksElsewhereAreRefused)
{
  callback_server cb;
  EXPECT_EQ(subscribe("<http://10.1.2.3/cb><http://localhost:" + std::to_string(cb.port) + "/>").status,
            "412 I need Callback");
  device_test::reply a = subscribe("<http://10.1.2.3/cb><" + cb.url() + ">");
  ASSERT_EQ(a.status, "200 OK");
  ASSERT_EQ(cb.wait(1).size(), 1u);
  sys_mutex_lock(&d.ctx->sub_mutex);
  device_subscription *sub = find(a.header("SID"));
  ASSERT_NE(sub, nullptr);
  ASSERT_NE(sub->callbacks, nullptr);
  EXPECT_EQ(sub->callbacks[0], cb.url());
  EXPECT_EQ(sub->callbacks[1], nullptr);
  sys_mutex_unlock(&d.ctx->sub_mutex);
}

TEST_F(Gena, SubscriptionsAreCapped)
{
  // Fill the list up to its limit with subscriptions that have nowhere to go.
  sys_mutex_lock(&d.ctx->sub_mutex);
  for (uint32_t i = 0; i < DEVICE_GENA_SUBSCRIPTIONS_MAX; i++) {
    auto *sub = static_cast<device_subscription *>(sys_alloc_zero(sizeof(device_subscription)));
    sub->service_id = kServiceId;
    sys_str_copy(sub->sid, ("uuid:filler-" + std::to_string(i)).c_str());
    sub->expiry = INT64_MAX;
    ASSERT_TRUE(sys_ptralloc_append(&d.ctx->subscriptions, sub));
  }
  sys_mutex_unlock(&d.ctx->sub_mutex);
  callback_server cb;
  EXPECT_EQ(subscribe("<" + cb.url() + ">").status, "500 unable to accept");
  EXPECT_EQ(unsubscribe("uuid:filler-7").status, "200 OK");
  EXPECT_EQ(subscribe("<" + cb.url() + ">").status, "200 OK");
}

TEST_F(Gena, RenewalKeepsTheSubscriptionOnAnyEventUrl)
{
  callback_server cb;
  int s = device_test::connect_to(d.port());
  device_test::send_all(s, subscribe_request("/event/test", "CALLBACK: <" + cb.url() + ">\r\nNT: upnp:event\r\n"));
  device_test::reply a = device_test::read_reply(s);
  std::string sid = a.header("SID");
  ASSERT_EQ(a.status, "200 OK");
  EXPECT_EQ(a.header("CONNECTION"), "");
  int64_t now = 0;
  sys_time_now(&now);
  sys_mutex_lock(&d.ctx->sub_mutex);
  ASSERT_NE(find(sid), nullptr);
  EXPECT_NEAR(double(find(sid)->expiry), double(now + 300), 2.0);
  find(sid)->expiry = now + 10;
  sys_mutex_unlock(&d.ctx->sub_mutex);

  // The same connection serves the renewal, addressed to the other service.
  device_test::send_all(s, subscribe_request("/event/other", "SID: " + sid + "\r\nConnection: close\r\n"));
  device_test::reply r = device_test::read_reply(s);
  close(s);
  EXPECT_EQ(r.status, "200 OK");
  EXPECT_EQ(r.header("SID"), sid);
  EXPECT_EQ(r.header("TIMEOUT"), "Second-300");
  EXPECT_EQ(r.header("CONNECTION"), "close");
  sys_mutex_lock(&d.ctx->sub_mutex);
  EXPECT_NEAR(double(find(sid)->expiry), double(now + 300), 2.0);
  sys_mutex_unlock(&d.ctx->sub_mutex);

  EXPECT_EQ(renew("uuid:nobody").status, "412 invalid SID");
  EXPECT_EQ(renew(sid, "/event/none").status, "404 not found");
}

TEST_F(Gena, ExpiredSubscriptionsAreSweptAway)
{
  callback_server cb;
  // The second time, events of the other service, closer together than
  // the timer thread's wait for a job, keep it busy all along.
  for (bool events : {false, true}) {
    std::string gone = subscribe("<" + cb.url() + ">").header("SID");
    std::string kept = subscribe("<" + cb.url() + ">").header("SID");
    int64_t now = 0;
    sys_time_now(&now);
    sys_mutex_lock(&d.ctx->sub_mutex);
    ASSERT_NE(find(gone), nullptr);
    find(gone)->expiry = now;
    sys_mutex_unlock(&d.ctx->sub_mutex);
    bool swept = false;
    for (int i = 0; i < 80 && !swept; i++) {
      if (events) {
        ASSERT_EQ(tarvo_device_event_notify(&d.ctx, kOtherId, kInitialBody), 1);
      }
      usleep(100000);
      sys_mutex_lock(&d.ctx->sub_mutex);
      swept = !find(gone);
      sys_mutex_unlock(&d.ctx->sub_mutex);
    }
    EXPECT_TRUE(swept) << "with events: " << events;
    EXPECT_EQ(renew(gone).status, "412 invalid SID");
    EXPECT_EQ(renew(kept).status, "200 OK");
  }
}

TEST_F(Gena, UnsubscribeEndsTheEvents)
{
  callback_server cb;
  std::string sid = subscribe("<" + cb.url() + ">").header("SID");
  ASSERT_EQ(cb.wait(1).size(), 1u);
  device_test::reply u = unsubscribe(sid, "/event/other");
  EXPECT_EQ(u.status, "200 OK");
  EXPECT_EQ(u.header("SID"), "");
  EXPECT_EQ(u.header("CONTENT-LENGTH"), "0");
  EXPECT_TRUE(tarvo_device_event_notify(&d.ctx, kServiceId, "<e/>"));
  usleep(500000);
  EXPECT_EQ(cb.count(), 1u);
  EXPECT_EQ(unsubscribe(sid).status, "412 invalid SID");
}

TEST_F(Gena, SeqWrapsToOne)
{
  callback_server cb;
  std::string sid = subscribe("<" + cb.url() + ">").header("SID");
  ASSERT_EQ(cb.wait(1).size(), 1u);
  sys_mutex_lock(&d.ctx->sub_mutex);
  find(sid)->seq = UINT32_MAX - 1;
  sys_mutex_unlock(&d.ctx->sub_mutex);
  tarvo_device_event_notify(&d.ctx, kServiceId, "<a/>");
  tarvo_device_event_notify(&d.ctx, kServiceId, "<b/>");
  std::vector<message> got = cb.wait(3);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[1].header("SEQ"), "4294967295");
  EXPECT_EQ(got[2].header("SEQ"), "1");
}

TEST_F(Gena, RefusingHandlerAnswers500)
{
  callback_server cb;
  d.refuse = true;
  EXPECT_EQ(subscribe("<" + cb.url() + ">").status, "500 unable to accept");
  EXPECT_EQ(d.ctx->subscriptions.len, 0u);
}

TEST_F(Gena, SubscriberThatNeverAnswersHoldsUpNoRequest)
{
  callback_server stuck, other;
  stuck.silent = true;
  std::string sid = subscribe("<" + stuck.url() + ">").header("SID");
  ASSERT_EQ(stuck.wait(1).size(), 1u);  // its initial NOTIFY now waits for an answer
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(renew(sid).status, "200 OK");
  EXPECT_EQ(subscribe("<" + other.url() + ">").status, "200 OK");
  EXPECT_EQ(unsubscribe(sid).status, "200 OK");
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
}

TEST_F(Gena, EndCutsANotifyTheSubscriberNeverAnswers)
{
  callback_server cb;
  cb.silent = true;
  ASSERT_EQ(subscribe("<" + cb.url() + ">").status, "200 OK");
  ASSERT_EQ(cb.wait(1).size(), 1u);
  auto t0 = std::chrono::steady_clock::now();
  tarvo_device_end(&d.ctx);
  d.started = false;
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
}

}  // namespace
