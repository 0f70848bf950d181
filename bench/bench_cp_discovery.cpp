// links: tarvo_cp tarvo_device tarvo_util
// Discovery at scale, in a network namespace of its own: 50 devices of the
// device stack (each its own UDN and port) on loopback; the time from one
// search (MX 1) to the 50th device reported added, and the time of one
// description fetch.
//   bench_cp_discovery [rounds]
#include <tarvo_cp/tarvo_cp.h>
#include "../upnp/device/device_impl.h"
#include <tarvo_util/sys_alloc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sched.h>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kDevices = 50;
constexpr const char *kType = "urn:schemas-upnp-org:device:MediaServer:1";

std::string description(int i)
{
  char udn[64];
  std::snprintf(udn, sizeof udn, "uuid:00000000-0000-0000-0000-%012d", i);
  return std::string("<?xml version=\"1.0\"?><root xmlns=\"urn:schemas-upnp-org:device-1-0\">"
                     "<specVersion><major>1</major><minor>0</minor></specVersion><device><deviceType>") +
         kType + "</deviceType><friendlyName>Bench " + std::to_string(i) +
         "</friendlyName><manufacturer>B</manufacturer><modelName>B</modelName><UDN>" + udn +
         "</UDN><serviceList><service><serviceType>urn:schemas-upnp-org:service:ContentDirectory:1</serviceType>"
         "<serviceId>urn:upnp-org:serviceId:ContentDirectory</serviceId><SCPDURL>scpd.xml</SCPDURL>"
         "<controlURL>control</controlURL><eventSubURL>event</eventSubURL></service></serviceList></device></root>";
}

std::atomic<int> added{0};

void on_added(const upnp_desc_device_rec *, const char *, const char *, void *) { added++; }

double ms_since(std::chrono::steady_clock::time_point t0)
{
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char **argv)
{
  int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
  if (unshare(CLONE_NEWNET) != 0 || std::system("ip link set lo up && ip link set lo multicast on")) {
    std::fprintf(stderr, "bench_cp_discovery: needs a network namespace of its own (run as root)\n");
    return 1;
  }
  std::vector<tarvo_device_ctx *> devices(kDevices, nullptr);
  for (int i = 0; i < kDevices; i++) {
    device_service_handler *none[] = {nullptr};
    tarvo_device_ctx **d = &devices[size_t(i)];
    if (!tarvo_device_start(d, nullptr, 0, nullptr, description(i).c_str(), 1800, none)) {
      std::fprintf(stderr, "device %d did not start\n", i);
      return 1;
    }
  }
  // The announcements of the start are over before the rounds begin.
  std::this_thread::sleep_for(std::chrono::seconds(2));
  std::vector<double> found;
  for (int r = 0; r < rounds; r++) {
    tarvo_cp_ctx *cp = nullptr;
    char target[] = "urn:schemas-upnp-org:device:MediaServer:1";
    char *targets[] = {target, nullptr};
    added = 0;
    tarvo_cp_set_discovery_handler(&cp, on_added, nullptr, nullptr, nullptr);
    if (!tarvo_cp_start(&cp, nullptr, 0, targets)) return 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the SSDP socket is open
    auto t0 = std::chrono::steady_clock::now();
    tarvo_cp_discovery_search_async(&cp, 1);
    while (added < kDevices && ms_since(t0) < 20000) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    found.push_back(added == kDevices ? ms_since(t0) : -1);
    tarvo_cp_end(&cp);
  }
  std::vector<double> fetch;
  char url[64];
  std::snprintf(url, sizeof url, "http://127.0.0.1:%u/", unsigned(devices[0]->http_port));
  for (int i = 0; i < 200; i++) {
    upnp_desc_rec *d = nullptr;
    auto t0 = std::chrono::steady_clock::now();
    if (!upnp_cp_get_desc(url, &d)) return 1;
    fetch.push_back(ms_since(t0));
    upnp_desc_free(d);
  }
  std::sort(found.begin(), found.end());
  std::sort(fetch.begin(), fetch.end());
  std::printf("search to the %dth added (MX 1): median %.1f ms, best %.1f ms, worst %.1f ms over %d rounds\n",
              kDevices, found[found.size() / 2], found.front(), found.back(), rounds);
  std::printf("one description fetch: median %.3f ms, best %.3f ms\n", fetch[fetch.size() / 2], fetch.front());
  for (tarvo_device_ctx *&d : devices) tarvo_device_end(&d);
  return 0;
}
