// links: tarvo_device tarvo_util
// The device's announcements and events as a peer sees them, in a network
// namespace of its own (root or user namespaces needed), over RUNS starts:
//   - start to first alive: the start's byebyes must not hold it back;
//   - a search sent once the start's byebyes are in: its answer's place
//     among the ten alives that are still going out;
//   - after 1,000 SUBSCRIBEs whose callbacks go nowhere, a new subscriber's
//     wait for its initial event (the pause before it included) and for
//     its UNSUBSCRIBE's answer;
//   - the end with four idle kept-alive clients and a begun request line.
// Each as min, median and slowest.
//   bench_device_gena_ssdp [RUNS (default 10)]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "gena_test.h"

using namespace gena_test;

namespace {

int64_t now_ms()
{
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void print(const char *what, std::vector<double> v, const char *unit)
{
  if (v.empty()) return std::printf("%-44s no samples\n", what), void();
  std::sort(v.begin(), v.end());
  std::printf("%-44s min %7.1f  median %7.1f  slowest %7.1f %s\n", what, v.front(), v[v.size() / 2], v.back(), unit);
}

size_t alives(const std::vector<message> &ms)
{
  return size_t(std::count_if(ms.begin(), ms.end(), [](const message &m) { return m.header("NTS") == "ssdp:alive"; }));
}

// One start: *first_alive_ms after the start call, *answer_place the alives
// out before the search's answer came (of ten).
bool announce_run(double *first_alive_ms, double *answer_place)
{
  udp group("127.0.0.1", 1900, true);
  device d;
  int64_t t0 = now_ms();
  if (!d.start(true)) return false;
  std::vector<message> byebyes = group.collect(30000, 10);
  udp client;
  if (byebyes.size() != 10 || !client.send(search("upnp:rootdevice"))) return false;
  std::vector<message> answer = client.collect(30000, 1), rest = group.collect(30000, 11);
  if (answer.empty() || alives(rest) != 10) return false;
  size_t before = 0, first = 0;
  for (const message &m : rest) {
    if (m.header("NTS") != "ssdp:alive") continue;
    if (!first) first = 1, *first_alive_ms = double(m.at_ms - t0);
    before += m.at_ms < answer[0].at_ms;
  }
  *answer_place = double(before);
  return true;
}

device_test::reply subscribe(uint16_t port, const std::string &callback)
{
  return device_test::exchange(port, subscribe_request("/event/test", "CALLBACK: " + callback + "\r\nNT: upnp:event\r\n"));
}

// Dead callbacks over eight kept-alive connections from 127.0.0.2.
bool flood(uint16_t port)
{
  const std::string dead = "<http://127.0.0.2:" + std::to_string(closed_port("127.0.0.2")) + "/cb>";
  const std::string request = subscribe_request("/event/test", "CALLBACK: " + dead + "\r\nNT: upnp:event\r\n");
  std::vector<int> conns;
  for (int i = 0; i < 8; i++) conns.push_back(device_test::connect_to(port, "127.0.0.2"));
  size_t answered = 0;
  for (int round = 0; round < 125; round++) {
    for (int s : conns) device_test::send_all(s, request);
    for (int s : conns) answered += device_test::read_reply(s).status == "200 OK";
  }
  for (int s : conns) close(s);
  return answered == 1000;
}

bool events_run(double *initial_ms, double *unsubscribe_ms)
{
  device d;
  if (!d.start(false) || !flood(d.port())) return false;
  callback_server cb;
  int64_t t0 = now_ms();
  device_test::reply a = subscribe(d.port(), "<" + cb.url() + ">");
  if (a.status != "200 OK" || cb.wait(1, 30000).size() != 1) return false;
  *initial_ms = double(cb.wait(1)[0].at_ms - t0);
  t0 = now_ms();
  device_test::reply u = device_test::exchange(
      d.port(), "UNSUBSCRIBE /event/test HTTP/1.1\r\nHOST: localhost\r\nSID: " + a.header("SID") + "\r\n\r\n");
  *unsubscribe_ms = double(now_ms() - t0);
  return u.status == "200 OK";
}

// The end of a device with four idle kept-alive clients and a begun
// request line: *end_ms from the call to its return.
bool end_run(double *end_ms)
{
  device d;
  if (!d.start(false)) return false;
  std::vector<int> clients;
  for (int i = 0; i < 4; i++) {
    clients.push_back(device_test::connect_to(d.port()));
    device_test::send_all(clients.back(), "GET / HTTP/1.1\r\nHost: localhost\r\n\r\n");
    if (device_test::read_reply(clients.back()).status != "200 OK") return false;
  }
  clients.push_back(device_test::connect_to(d.port()));
  device_test::send_all(clients.back(), "GET / HT");
  int64_t t0 = now_ms();
  tarvo_device_end(&d.ctx);
  d.started = false;
  *end_ms = double(now_ms() - t0);
  for (int c : clients) close(c);
  return true;
}

}  // namespace

int main(int argc, char **argv)
{
  int runs = argc > 1 ? std::atoi(argv[1]) : 10;
  std::string why = private_net();
  if (!why.empty()) {
    std::fprintf(stderr, "bench_device_gena_ssdp: no private network: %s\n", why.c_str());
    return 1;
  }
  std::vector<double> first, place, initial, unsub, end;
  for (int i = 0; i < runs; i++) {
    double a = 0, b = 0;
    if (announce_run(&a, &b)) first.push_back(a), place.push_back(b);
    if (events_run(&a, &b)) initial.push_back(a), unsub.push_back(b);
    if (end_run(&a)) end.push_back(a);
  }
  print("start to first alive", first, "ms");
  print("alives out before a search's answer (of 10)", place, "");
  print("initial event after 1,000 dead callbacks", initial, "ms");
  std::printf("%-44s (%u ms of it the pause before the initial event)\n", "", DEVICE_GENA_INITIAL_DELAY_MS);
  print("UNSUBSCRIBE after them", unsub, "ms");
  print("end with 4 idle clients and a begun line", end, "ms");
  return 0;
}
