// Event subscriptions: the request checks, callback URLs, the initial event
// and NOTIFY messages, renewal, expiry and cancellation.
#include "gena_test.h"
#include "tarvo_live.h"

#include <algorithm>
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

// A CALLBACK header that large serves no subscriber; it would only make
// every NOTIFY costly.
TEST(GenaHeaders, OversizedCallbackIsRefusedWith412)
{
  auto callback_of = [](size_t value_len) {
    return "CALLBACK:<http://10.0.0.2/" + std::string(value_len - 18, 'a') + ">";
  };
  for (auto [len, status] : {std::pair<size_t, const char *>{DEVICE_GENA_CALLBACK_HEADER_MAX, nullptr},
                             {DEVICE_GENA_CALLBACK_HEADER_MAX + 1, "412 Precondition Failed"},
                             {6000, "412 Precondition Failed"}}) {
    device_gena_request rq{};
    EXPECT_STREQ(check({{"HOST:h", callback_of(len), "NT:upnp:event"}, 0, 0, status}, &rq), status) << len;
    device_gena_request_free(&rq);
  }
}

// Events go only to the host that subscribed: a callback at a third
// address would let any client aim NOTIFY traffic at it (CVE-2020-12695).
TEST(GenaCallbacks, CallbackToAThirdHostIsRefused)
{
  uint8_t peer[4];
  sys_ip4_scan("192.168.5.9", peer);
  auto filtered = [&](std::vector<std::string> urls) {
    device_gena_request rq{};
    auto *list = static_cast<sys_str_list>(sys_alloc_zero((urls.size() + 1) * sizeof(char *)));
    for (size_t i = 0; i < urls.size(); i++) sys_str_clone(urls[i].c_str(), &list[i]);
    rq.callbacks = list;
    std::vector<std::string> kept;
    int r = device_gena_callbacks_filter(&rq, peer);
    for (char **u = rq.callbacks; u && *u; u++) kept.push_back(*u);
    EXPECT_EQ(r, !kept.empty());
    device_gena_request_free(&rq);
    return kept;
  };
  EXPECT_EQ(filtered({"http://192.168.5.9:4004/cb", "http://192.168.5.10/x", "HTTP://192.168.5.9:1/"}),
            (std::vector<std::string>{"http://192.168.5.9:4004/cb", "HTTP://192.168.5.9:1/"}));
  // Neighbours on the subscriber's own subnet are third hosts too.
  EXPECT_TRUE(filtered({"http://192.168.5.10/", "http://192.168.5.1/", "http://host.example/",
                        "http://localhost/", "https://192.168.5.9/", "http://192.168.5.9:0/",
                        "http://192.168.5.9:65536/", "http://192.168.5.9.5/", "http://8.8.8.8/"})
                  .empty());
  EXPECT_EQ(filtered({"http://8.8.8.8/", "http://192.168.5.9/1", "http://192.168.5.9/2",
                      "http://192.168.5.9/3", "http://192.168.5.9/4", "http://192.168.5.9/5"}),
            (std::vector<std::string>{"http://192.168.5.9/1", "http://192.168.5.9/2",
                                      "http://192.168.5.9/3", "http://192.168.5.9/4"}));
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
    others = threads();
    ASSERT_TRUE(d.start(false));
  }

  // A new subscription with callbacks (each in <>); the answer.
  device_test::reply subscribe(const std::string &callbacks, const std::string &path = "/event/test")
  {
    return device_test::exchange(d.port(), subscribe_request(path, "CALLBACK: " + callbacks + "\r\nNT: upnp:event\r\n"));
  }

  // The same from another address.
  device_test::reply subscribe_from(const char *ip, const std::string &callbacks)
  {
    int s = device_test::connect_to(d.port(), ip);
    device_test::send_all(s, subscribe_request("/event/test", "CALLBACK: " + callbacks + "\r\nNT: upnp:event\r\n"));
    device_test::reply r = device_test::read_reply(s);
    close(s);
    return r;
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
  std::vector<int> others;  // the program's threads before the device started
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

TEST_F(Gena, InitialEventComesFirstAfterItsPause)
{
  callback_server cb;
  int64_t t0 = std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
                   .count();
  ASSERT_EQ(subscribe("<" + cb.url() + ">").status, "200 OK");
  // Reported during the pause: it waits for the initial event.
  EXPECT_TRUE(tarvo_device_event_notify(&d.ctx, kServiceId, "<early/>"));
  std::vector<message> got = cb.wait(2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].header("SEQ"), "0");
  EXPECT_EQ(got[0].body, kInitialBody);
  EXPECT_GE(got[0].at_ms - t0, int64_t(DEVICE_GENA_INITIAL_DELAY_MS) - 20);
  EXPECT_EQ(got[1].header("SEQ"), "1");
  EXPECT_EQ(got[1].body, "<early/>");
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

// CVE-2020-12695: a client subscribes on behalf of a third host, here
// 127.0.0.1 asked for by 127.0.0.2, to aim NOTIFY traffic at it.
TEST_F(Gena, CallbackToAThirdAddressIsRefused)
{
  callback_server victim;
  EXPECT_EQ(subscribe_from("127.0.0.2", "<" + victim.url() + ">").status, "412 I need Callback");
  EXPECT_EQ(subscribe_from("127.0.0.2", "<http://127.0.0.2:1/><" + std::string(6000, 'x') + ">").status,
            "412 Precondition Failed");
  device_test::reply a = subscribe("<http://10.1.2.3/cb><http://localhost:" +
                                   std::to_string(victim.port) + "/><" + victim.url() + ">");
  ASSERT_EQ(a.status, "200 OK");
  ASSERT_EQ(victim.wait(1).size(), 1u);
  sys_mutex_lock(&d.ctx->sub_mutex);
  device_subscription *sub = find(a.header("SID"));
  ASSERT_NE(sub, nullptr);
  ASSERT_NE(sub->callbacks, nullptr);
  EXPECT_EQ(sub->callbacks[0], victim.url());
  EXPECT_EQ(sub->callbacks[1], nullptr);
  EXPECT_EQ(d.ctx->subscriptions.len, 1u);
  sys_mutex_unlock(&d.ctx->sub_mutex);
}

TEST_F(Gena, OneAddressKeepsOnlyItsShareOfSubscriptions)
{
  callback_server cb;
  std::vector<std::string> sids;
  for (uint32_t i = 0; i <= DEVICE_GENA_PEER_SUBSCRIPTIONS_MAX; i++)
    sids.push_back(subscribe("<" + cb.url() + ">").header("SID"));
  // The oldest made room for the newest; other addresses keep theirs.
  EXPECT_EQ(renew(sids[0]).status, "412 invalid SID");
  EXPECT_EQ(renew(sids[1]).status, "200 OK");
  EXPECT_EQ(renew(sids.back()).status, "200 OK");
  sys_mutex_lock(&d.ctx->sub_mutex);
  EXPECT_EQ(d.ctx->subscriptions.len, DEVICE_GENA_PEER_SUBSCRIPTIONS_MAX);
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

int64_t now_ms()
{
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Not a speed: a NOTIFY to a subscriber that never answers gives up
// DEVICE_GENA_SEND_TIMEOUT_MS after it went out (at notified_ms), and what
// waited for it comes after that.  A second of it is left to the test's
// own steps.
void before_the_notify_gives_up(int64_t notified_ms)
{
  EXPECT_LT(now_ms() - notified_ms, int64_t(DEVICE_GENA_SEND_TIMEOUT_MS) - 1000) << "waited for the silent subscriber";
}

TEST_F(Gena, SubscriberThatNeverAnswersHoldsUpNoRequest)
{
  callback_server stuck, other;
  stuck.silent = true;
  std::string sid = subscribe("<" + stuck.url() + ">").header("SID");
  ASSERT_EQ(stuck.wait(1).size(), 1u);  // its initial NOTIFY now waits for an answer
  int64_t notified = now_ms();
  EXPECT_EQ(renew(sid).status, "200 OK");
  EXPECT_EQ(subscribe("<" + other.url() + ">").status, "200 OK");
  EXPECT_EQ(unsubscribe(sid).status, "200 OK");
  before_the_notify_gives_up(notified);
}

TEST_F(Gena, EndCutsANotifyTheSubscriberNeverAnswers)
{
  callback_server cb;
  cb.silent = true;
  ASSERT_EQ(subscribe("<" + cb.url() + ">").status, "200 OK");
  ASSERT_EQ(cb.wait(1).size(), 1u);
  int64_t notified = cb.wait(1)[0].at_ms;
  tarvo_device_end(&d.ctx);
  d.started = false;
  before_the_notify_gives_up(notified);
}

TEST_F(Gena, StalledSubscribersDelayNoOtherSubscriber)
{
  // Callbacks that take each NOTIFY and never answer: three subscriptions
  // from one address, one from another.
  callback_server stuck2("127.0.0.2"), stuck3("127.0.0.3"), healthy;
  stuck2.silent = stuck3.silent = true;
  for (int i = 0; i < 3; i++) ASSERT_EQ(subscribe_from("127.0.0.2", "<" + stuck2.url() + ">").status, "200 OK");
  ASSERT_EQ(subscribe_from("127.0.0.3", "<" + stuck3.url() + ">").status, "200 OK");
  ASSERT_EQ(stuck2.wait(1).size(), 1u);
  int64_t notified = stuck2.wait(1)[0].at_ms;
  ASSERT_EQ(stuck3.wait(1).size(), 1u);

  ASSERT_EQ(subscribe("<" + healthy.url() + ">").status, "200 OK");
  ASSERT_EQ(healthy.wait(1).size(), 1u);
  for (int i = 0; i < 3; i++) EXPECT_TRUE(tarvo_device_event_notify(&d.ctx, kServiceId, "<e/>"));
  std::vector<message> got = healthy.wait(4);
  ASSERT_EQ(got.size(), 4u);
  before_the_notify_gives_up(notified);
  EXPECT_EQ(got[3].header("SEQ"), "3");
  // One exchange at a time per address: the first is still waiting.
  EXPECT_EQ(stuck2.count(), 1u);
}

// 1,000 SUBSCRIBEs whose callbacks go nowhere (a closed port), sent over
// eight kept-alive connections, then a new subscriber.
TEST_F(Gena, FloodOfDeadCallbacksStallsNobody)
{
  const size_t idle = threads().size();
  const std::string dead = "<http://127.0.0.2:" + std::to_string(closed_port("127.0.0.2")) + "/cb>";
  const std::string request = subscribe_request("/event/test", "CALLBACK: " + dead + "\r\nNT: upnp:event\r\n");
  std::vector<int> conns;
  for (int i = 0; i < 8; i++) conns.push_back(device_test::connect_to(d.port(), "127.0.0.2"));
  size_t most = 0, answered = 0;
  for (int round = 0; round < 125; round++) {
    for (int s : conns) device_test::send_all(s, request);
    for (int s : conns) answered += device_test::read_reply(s).status == "200 OK";
    most = std::max(most, threads().size());
  }
  for (int s : conns) close(s);
  EXPECT_EQ(answered, 1000u);
  EXPECT_LE(most, idle + conns.size()) << "threads beyond one per connection";

  // How soon it is served after the flood is bench_device_gena_ssdp's.
  callback_server cb;
  device_test::reply a = subscribe("<" + cb.url() + ">");
  ASSERT_EQ(a.status, "200 OK");
  ASSERT_EQ(cb.wait(1, tarvo_test::kLiveMs).size(), 1u);
  EXPECT_EQ(unsubscribe(a.header("SID")).status, "200 OK");

  size_t now = 0;
  tarvo_test::eventually([&] { return (now = threads().size()) <= idle + 1; });  // + cb's own
  EXPECT_LE(now, idle + 1) << "threads left after the flood";
}

// With no client the senders sleep for good and the timer thread wakes
// only for its address check.
TEST_F(Gena, IdleDeviceSleeps)
{
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the thread sanitizer starts a thread of its own that wakes often";
#endif
  std::vector<int> device_threads = threads();
  std::erase_if(device_threads, [&](int tid) { return std::ranges::count(others, tid) != 0; });
  callback_server cb;  // a subscriber, quiet after its initial event
  ASSERT_EQ(subscribe("<" + cb.url() + ">").status, "200 OK");
  ASSERT_EQ(cb.wait(1).size(), 1u);
  usleep(200000);
  std::vector<std::pair<int, long>> before;
  for (int tid : device_threads) before.emplace_back(tid, wakeups(tid));
  usleep(4000000);
  std::vector<long> woke;
  for (auto [tid, n] : before) woke.push_back(wakeups(tid) - n);
  std::sort(woke.rbegin(), woke.rend());
  // The busiest may be the accept loop; then comes the timer thread, at
  // one address check every DEVICE_ADDRESS_CHECK_S, and then nobody.
  ASSERT_GE(woke.size(), 3u);
  EXPECT_LE(woke[1], 4 / DEVICE_ADDRESS_CHECK_S + 1);
  EXPECT_EQ(woke[2], 0) << "a third thread woke while idle";
}

}  // namespace
