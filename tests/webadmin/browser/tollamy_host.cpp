// A host for the browser test: the device stack serving a document root
// (static files and the CGI runner) on one loopback port, as the pages'
// fixture server (the local server's vendor actions kept in memory), until
// it is told to stop.  It starts with a known state: two shares, two file
// types, a client in each list, a Browse tree of its own and one backup
// task, and names its own description as the one backup server.
//   tollamy_host <document root> <port>
#include <signal.h>
#include <tarvo_device/tarvo_device.h>

#include "../test_tollamy_page_host.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
  if (argc != 3) {
    std::fprintf(stderr, "usage: tollamy_host <document root> <port>\n");
    return 2;
  }
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  page_host::server state;
  state.name = "Fixture Den";
  state.shares = {"/srv/media/Music", "/srv/media/Video"};
  state.types = {{"mp3", "audio/mpeg"}, {"jpg", "image/jpeg"}};
  state.allow = {{"02:00:00:00:00:01", "127.0.0.11"}};
  state.deny = {{"02:00:00:00:00:02", "127.0.0.12"}};
  state.tree = {{"c1", "0", "Music", true}, {"c2", "0", "Photos", true}, {"c3", "c2", "2024", true},
                {"i1", "c1", "Song", false}};
  state.tasks["t1"] = {page_host::kUdn, "c1", "", "WAITING"};
  state.next_task = 2;
  state.self_url = std::string("http://127.0.0.1:") + argv[2] + "/";
  const char *ids[] = {"urn:upnp-org:serviceId:ContentDirectory", TARVO_VENDOR_DEVMGR_ID, TARVO_VENDOR_BACKUP_ID};
  device_service_handler h[3];
  for (int i = 0; i < 3; i++)
    h[i] = device_service_handler{ids[i], page_host::on_action, page_host::on_query, page_host::on_subscribe,
                                  nullptr, nullptr, nullptr, &state};
  device_service_handler *list[] = {&h[0], &h[1], &h[2], nullptr};
  std::string xml = page_host::description();
  tarvo_device_ctx *ctx = nullptr;
  tarvo_device_disable_ssdp(&ctx);
  if (!tarvo_device_start(&ctx, nullptr, uint16_t(std::atoi(argv[2])), argv[1], xml.c_str(), 1800, list)) {
    std::fprintf(stderr, "tollamy_host: cannot start on port %s\n", argv[2]);
    return 1;
  }
  int sig = 0;
  sigwait(&stop, &sig);
  tarvo_device_end(&ctx);
  return 0;
}
