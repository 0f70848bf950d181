// links: vennard_core
// What players get from the media server: BrowseDirectChildren of a
// container of 10,000 items (default sort; RequestedCount 0 and 50) from 8
// clients at once, and loopback downloads of a 1 GB sparse file by 1 and
// by 16 clients at once.  Runs in a network namespace of its own (root or
// user namespaces needed).  Usage: bench_media [seconds per Browse run
// [direct: Browse through the ContentDirectory handler itself, no HTTP and
// no download, so that the answer's own cost is measured [RequestedCount
// (default 0 and 50, twice)]]]
#include <vennard/connection_manager.h>
#include <vennard/content_directory.h>
#include <vennard/device_manager.h>
#include <vennard/server.h>

#include <tarvo_util/soap.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/xml.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tarvo_test.h"

namespace {

using clock_type = std::chrono::steady_clock;
constexpr const char *kCdsType = "urn:schemas-upnp-org:service:ContentDirectory:1";
constexpr uint32_t kChildren = 10000;
constexpr uint64_t kFileSize = uint64_t(1) << 30;

bool fail(const char *what)
{
  std::fprintf(stderr, "bench_media: %s\n", what);
  return false;
}

// scripts/layout-data, found above the program's folder.
std::string layout_script()
{
  std::filesystem::path p = std::filesystem::read_symlink("/proc/self/exe").parent_path();
  for (; !p.empty() && p != p.root_path(); p = p.parent_path())
    if (std::filesystem::exists(p / "scripts/layout-data")) return (p / "scripts/layout-data").string();
  return "";
}

struct bench_server {
  server_rec s{};
  std::string home, album;
  uint16_t upnp_port = 0;
  bool content = false, device = false;
  device_service_handler cds{};

  bool start()
  {
    char dir[] = "/tmp/tarvo-bench-XXXXXX";
    std::string script = layout_script();
    if (!mkdtemp(dir) || script.empty()) return fail("no scratch folder or no scripts/layout-data");
    home = dir;
    if (std::system((script + " '" + home + "' >/dev/null").c_str()) != 0) return fail("layout-data failed");
    upnp_port = uint16_t(std::stoul(read(home + "/conf/upnp_port")));
    if (!sys_str_clone(home.c_str(), &s.data_home) || !cm_state_start(&s)) return fail("ConnectionManager");
    content = content_db_start(&s, home.c_str(), "Tarvo Media Server");
    if (!content || !access_control_start(&s)) return fail("content database");
    device_service_handler cm, dm;
    cds_handler_init(&s, &cds);
    cm_handler_init(&s, &cm);
    devmgr_handler_init(&s, &dm);
    device_service_handler *handlers[] = {&cds, &cm, &dm, nullptr};
    std::string description = read(home + "/conf/upnp_root/description/av_msd.xml");
    tarvo_device_disable_ssdp(&s.device);
    device = tarvo_device_start(&s.device, nullptr, upnp_port, nullptr, description.c_str(), 1800, handlers);
    if (device) server_device_ready_set(&s);
    return device || fail("device stack");
  }

  ~bench_server()
  {
    if (device) {
      server_device_ready_clear(&s);
      tarvo_device_end(&s.device);
    }
    if (content) {
      access_control_stop(&s);
      content_db_stop(&s);
    }
    cm_state_stop(&s);
    sys_alloc_free(s.data_home);
    if (!home.empty()) std::filesystem::remove_all(home);
  }

  static std::string read(const std::string &path)
  {
    std::ifstream f(path);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }

  std::string create(const std::string &parent, const std::string &object)
  {
    sys_stralloc_rec sa{};
    didl_xml_begin(&sa, 1);
    std::string text = std::string(sa.buf, sa.len) + object + "</DIDL-Lite>";
    sys_stralloc_free(&sa);
    char *id = nullptr;
    std::string out;
    if (content_db_create(&s, parent.c_str(), text.c_str(), 1, &id, nullptr) == 0 && id) out = id;
    sys_alloc_free(id);
    return out;
  }

  // An album of kChildren tracks, and a 1 GB file: its URL path.
  bool fill(std::string *big_path)
  {
    std::string file = home + "/big.mpg";
    int fd = open(file.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0 || ftruncate(fd, off_t(kFileSize)) != 0) return fail("sparse file");
    close(fd);
    if (!content_db_lock(&s)) return false;
    album = create("Container:UserFiles", "<container id=\"\" parentID=\"Container:UserFiles\" restricted=\"0\">"
                                          "<dc:title>Album</dc:title>"
                                          "<upnp:class>object.container.album.musicAlbum</upnp:class></container>");
    bool ok = !album.empty();
    for (uint32_t i = 0; ok && i < kChildren; i++) {
      std::string n = std::to_string((i * 7919u) % kChildren);
      ok = !create(album, "<item id=\"\" parentID=\"" + album + "\" restricted=\"0\"><dc:title>Track " + n +
                              "</dc:title><upnp:class>object.item.audioItem.musicTrack</upnp:class>"
                              "<upnp:album>Album</upnp:album><upnp:originalTrackNumber>" + n +
                              "</upnp:originalTrackNumber><res protocolInfo=\"http-get:*:audio/mpeg:*\" "
                              "tarvo:filename=\"/music/" + n + ".mp3\"></res></item>")
                  .empty();
    }
    std::string big = ok ? create("Container:UserFiles",
                                  "<item id=\"\" parentID=\"Container:UserFiles\" restricted=\"0\"><dc:title>big"
                                  "</dc:title><upnp:class>object.item.videoItem</upnp:class>"
                                  "<res protocolInfo=\"http-get:*:video/mpeg:*\" tarvo:filename=\"" + file +
                                      "\"></res></item>")
                         : "";
    const didl_object *o = big.empty() ? nullptr : content_db_get(&s, big.c_str());
    const didl_property *res = o ? didl_property_first(o, DIDL_NAME(EL_RES)) : nullptr;
    if (res) *big_path = res->text;
    content_db_unlock(&s);
    return (ok && res) || fail("content");
  }
};

std::string browse_body(const std::string &id, uint32_t count)
{
  sys_stralloc_rec sa{};
  soap_xml_request_begin(&sa, kCdsType, "Browse");
  for (auto [name, value] : {std::pair<const char *, std::string>{"ObjectID", id},
                             {"BrowseFlag", "BrowseDirectChildren"},
                             {"Filter", "*"},
                             {"StartingIndex", "0"},
                             {"RequestedCount", std::to_string(count)},
                             {"SortCriteria", ""}})
    xml_gen_element_append(&sa, name, value.c_str());
  soap_xml_request_end(&sa, "Browse");
  std::string body(sa.buf, sa.len);
  sys_stralloc_free(&sa);
  return body;
}

void browse_run(const bench_server &b, uint32_t count, double seconds)
{
  std::string url = "http://127.0.0.1:" + std::to_string(b.upnp_port) + "/control/ContentDirectory";
  std::string body = browse_body(b.album, count);
  std::atomic<uint64_t> done{0}, failed{0};
  auto end = clock_type::now() + std::chrono::duration<double>(seconds);
  std::vector<std::thread> clients;
  auto t0 = clock_type::now();
  for (int i = 0; i < 8; i++)
    clients.emplace_back([&] {
      while (clock_type::now() < end) {
        uint32_t code = soap_client_action(url.c_str(), kCdsType, "Browse", nullptr, body.c_str(), nullptr, nullptr);
        (code ? failed : done)++;
      }
    });
  for (auto &t : clients) t.join();
  double took = std::chrono::duration<double>(clock_type::now() - t0).count();
  std::printf("Browse %u children, RequestedCount %u, 8 clients: %.1f answers/s, %.2f ms each (%llu failed)\n",
              kChildren, count, double(done) / took, took * 8 * 1000 / double(done ? done.load() : 1),
              static_cast<unsigned long long>(failed.load()));
}

// Browse answers made by the handler itself from 8 threads at once, pages
// walking through the album (count 0: the whole album each time): answers
// per second, the handler's time per answer and the answer's size.
void browse_direct(const bench_server &b, uint32_t count, double seconds)
{
  device_request_info info{};
  info.addr = connection_addresses{{127, 0, 0, 1}, b.upnp_port, {127, 0, 0, 1}, 40000};
  info.service_type = kCdsType;
  info.service_id = b.cds.service_id;
  std::atomic<uint64_t> done{0}, failed{0}, bytes{0};
  std::atomic<double> busy{0};
  auto end = clock_type::now() + std::chrono::duration<double>(seconds);
  std::vector<std::thread> threads;
  auto t0 = clock_type::now();
  for (uint32_t k = 0; k < 8; k++)
    threads.emplace_back([&, k] {
      uint32_t start = k * 977 % kChildren;
      double spent = 0;
      while (clock_type::now() < end) {
        std::string from = std::to_string(count ? start : 0), n = std::to_string(count);
        const char *names[] = {"ObjectID", "BrowseFlag", "Filter", "StartingIndex", "RequestedCount", "SortCriteria",
                               nullptr};
        const char *values[] = {b.album.c_str(), "BrowseDirectChildren", "*", from.c_str(), n.c_str(), "", nullptr};
        char *body = nullptr;
        auto a = clock_type::now();
        uint32_t code = b.cds.action(&info, "Browse", const_cast<char **>(names), const_cast<char **>(values),
                                     b.cds.user, &body);
        spent += std::chrono::duration<double>(clock_type::now() - a).count();
        if (code || !body) failed++;
        else done++, bytes += std::strlen(body);
        sys_alloc_free(body);
        start = (start + count) % kChildren;
      }
      busy += spent;
    });
  for (auto &t : threads) t.join();
  double took = std::chrono::duration<double>(clock_type::now() - t0).count();
  uint64_t n = done ? done.load() : 1;
  std::printf("Browse %u children, RequestedCount %u, handler, 8 threads: %.1f answers/s, %.3f ms each, "
              "%.0f bytes each (%llu failed)\n",
              kChildren, count, double(done) / took, busy.load() * 1000 / double(n), double(bytes) / double(n),
              static_cast<unsigned long long>(failed.load()));
  std::fflush(stdout);
}

// Reads one whole answer; the bytes of its body.
uint64_t download(uint16_t port, const std::string &path)
{
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
  uint64_t got = 0;
  std::string req = "GET " + path + " HTTP/1.1\r\nHOST: 127.0.0.1\r\nCONNECTION: close\r\n\r\n";
  if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
      send(fd, req.data(), req.size(), MSG_NOSIGNAL) == ssize_t(req.size())) {
    std::vector<char> buf(1 << 20);
    for (ssize_t n; (n = recv(fd, buf.data(), buf.size(), 0)) > 0;) got += uint64_t(n);
  }
  close(fd);
  return got;
}

void download_run(const bench_server &b, const std::string &path, int clients)
{
  std::vector<std::thread> t;
  std::atomic<uint64_t> bytes{0};
  auto t0 = clock_type::now();
  for (int i = 0; i < clients; i++) t.emplace_back([&] { bytes += download(b.s.http_port, path); });
  for (auto &x : t) x.join();
  double took = std::chrono::duration<double>(clock_type::now() - t0).count();
  std::printf("Download of 1 GB by %d client(s): %.2f s, %.0f MB/s in all (%.3f GB received)\n", clients, took,
              double(bytes) / took / 1e6, double(bytes) / double(kFileSize));
}

}  // namespace

int main(int argc, char **argv)
{
  double seconds = argc > 1 ? std::atof(argv[1]) : 5;
  bool direct = argc > 2 && !std::strcmp(argv[2], "direct");
  if (!tarvo_test::private_net().empty()) return fail(tarvo_test::private_net().c_str()), 1;
  bench_server b;
  std::string big;
  auto t0 = clock_type::now();
  if (!b.start() || !b.fill(&big)) return 1;
  std::printf("Made %u items in %.2f s\n", kChildren,
              std::chrono::duration<double>(clock_type::now() - t0).count());
  if (direct) {
    if (argc > 3) browse_direct(b, uint32_t(std::atoi(argv[3])), seconds);
    else
      for (uint32_t count : {0u, 50u, 0u, 50u}) browse_direct(b, count, seconds);
    return 0;
  }
  browse_run(b, 0, seconds);
  browse_run(b, 50, seconds);
  // The first pass also fills the page cache.
  download_run(b, big, 1);
  download_run(b, big, 1);
  download_run(b, big, 16);
  return 0;
}
