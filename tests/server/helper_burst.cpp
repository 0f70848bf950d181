// The burst, the TV-like client and the slow header of burst_test.h.
#include "burst_test.h"

#include <atomic>
#include <latch>
#include <filesystem>
#include <memory>
#include <poll.h>
#include <thread>

#include "tarvo_live.h"

namespace burst_test {

namespace {

std::string item(const std::string &file, const char *mime)
{
  return "<item id=\"\" parentID=\"Container:UserFiles\" restricted=\"0\"><dc:title>a</dc:title>"
         "<upnp:class>object.item</upnp:class><res protocolInfo=\"http-get:*:" + std::string(mime) +
         ":*\" tarvo:filename=\"" + file + "\"></res></item>";
}

std::string get(const std::string &path, const std::string &extra)
{
  return "GET " + path + " HTTP/1.1\r\nHOST: 127.0.0.1\r\n" + extra + "\r\n";
}

std::string soap_browse(uint16_t port)
{
  std::string body =
      "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
      "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><u:Browse "
      "xmlns:u=\"urn:schemas-upnp-org:service:ContentDirectory:1\"><ObjectID>0</ObjectID><BrowseFlag>"
      "BrowseDirectChildren</BrowseFlag><Filter>*</Filter><StartingIndex>0</StartingIndex><RequestedCount>10"
      "</RequestedCount><SortCriteria></SortCriteria></u:Browse></s:Body></s:Envelope>";
  return "POST /control/ContentDirectory HTTP/1.1\r\nHOST: 127.0.0.1:" + std::to_string(port) +
         "\r\nCONTENT-TYPE: text/xml; charset=\"utf-8\"\r\nSOAPACTION: \"urn:schemas-upnp-org:service:"
         "ContentDirectory:1#Browse\"\r\nCONTENT-LENGTH: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// One request on *c, opened again from `from` while the server closes it
// unanswered or says 503 (each such time a retry).
void exchange(std::unique_ptr<media_test::client> *c, uint16_t port, const char *from, const std::string &req,
              tv_result *out)
{
  for (int attempt = 0; attempt < 4; attempt++) {
    if (!*c) *c = std::make_unique<media_test::client>(port, from);
    media_test::client::answer a{};
    if ((*c)->send(req)) a = (*c)->read_answer(false, tarvo_test::kLiveMs);
    std::string status = a.ok ? a.status() : "";
    if (a.ok && status != "503 Service Unavailable") {
      if (status != "200 OK" && status != "206 Partial Content" && status != "206 partial content") out->failed++;
      std::string conn = a.header("CONNECTION");
      if (conn == "close" || conn == "Close") c->reset();
      return;
    }
    c->reset();
    out->retries++;
  }
  out->failed++;
}

// A subscription to one of the three services, its events sent back to
// the subscriber's own address.
std::string subscribe(uint32_t n, const char *from)
{
  static const char *const services[] = {"ContentDirectory", "ConnectionManager", "X_DeviceManager"};
  std::string s = services[n % 3];
  return "SUBSCRIBE /event/" + s + " HTTP/1.1\r\nHOST: 127.0.0.1\r\nCALLBACK: <http://" + from + ":9/" + s +
         ">\r\nNT: upnp:event\r\nTIMEOUT: Second-300\r\n\r\n";
}

}  // namespace

bool make(media_test::fixture &f, requests *r)
{
  std::string pic = f.srv.data.dir / "p.jpg", part = f.srv.data.dir / "m.mp3";
  tarvo_test::write_file(pic, std::string(2000, 'p'));
  tarvo_test::write_file(part, std::string(200000, 'm'));
  if (!f.start()) return false;
  std::string a = f.res_path(f.create("Container:UserFiles", item(pic, "image/jpeg")));
  std::string b = f.res_path(f.create("Container:UserFiles", item(part, "audio/mpeg")));
  r->media_port = f.http_port;
  r->device_port = f.upnp_port;
  r->picture = get(a, "Connection: close\r\n");
  r->thumb = get(a, "");
  r->media_part = get(b, "Range: bytes=1000-60999\r\n");
  r->desc = get("/", "Connection: close\r\n");
  r->desc_kept = get("/", "");
  r->browse = soap_browse(f.upnp_port);
  return !a.empty() && !b.empty();
}

uint32_t burst(uint16_t port, const std::string &request, uint32_t n, const char *from)
{
  std::atomic<uint32_t> ok{0};
  std::latch connected(n);
  std::vector<std::thread> t;
  for (uint32_t i = 0; i < n; i++)
    t.emplace_back([&] {
      media_test::client c(port, from);
      // Every connection is open before any sends.
      connected.arrive_and_wait();
      if (c.send(request) && c.read_answer(false, tarvo_test::kLiveMs).status() == "200 OK") ok++;
    });
  for (auto &x : t) x.join();
  return ok;
}

tv_result tv(const requests &r, uint32_t media_conns, uint32_t device_conns, uint32_t rounds, const char *from)
{
  std::vector<tv_result> got(media_conns + device_conns);
  std::latch connected(media_conns + device_conns);
  std::vector<std::thread> t;
  for (uint32_t i = 0; i < media_conns + device_conns; i++)
    t.emplace_back([&, i] {
      bool media = i < media_conns;
      uint16_t port = media ? r.media_port : r.device_port;
      std::unique_ptr<media_test::client> c;
      std::vector<std::string> seq = media ? std::vector<std::string>{r.thumb, r.media_part}
                                           : std::vector<std::string>{r.browse, r.desc_kept};
      if (!media) seq.insert(seq.begin(), subscribe(i - media_conns, from));
      c = std::make_unique<media_test::client>(port, from);
      connected.arrive_and_wait();
      for (uint32_t k = 0; k < rounds; k++) {
        got[i].requests++;
        exchange(&c, port, from, seq[k % seq.size()], &got[i]);
      }
    });
  for (auto &x : t) x.join();
  tv_result all;
  for (const tv_result &g : got) {
    all.requests += g.requests;
    all.retries += g.retries;
    all.failed += g.failed;
  }
  return all;
}

}  // namespace burst_test

namespace burst_test {

size_t slow_header(uint16_t port, const char *from, const std::vector<std::string> &pieces, int gap_ms)
{
  media_test::client c(port, from);
  for (size_t i = 0; i < pieces.size(); i++) {
    // An answer before the header is whole, or the close, ends it.
    pollfd p{c.fd, POLLIN, 0};
    if (!c.send(pieces[i]) || poll(&p, 1, gap_ms) != 0) return i + 1;
  }
  return pieces.size();
}

std::vector<std::string> slow_get(const std::string &path)
{
  std::string line = "GET " + path + " HTTP/1.1\r\n";
  size_t q = line.size() / 4;
  return {line.substr(0, q), line.substr(q, q), line.substr(2 * q, q), line.substr(3 * q),
          "HOST: 127.0.0.1\r\n", "X-A: 1\r\n", "X-B: 1\r\n", "X-C: 1\r\n", "\r\n"};
}

}  // namespace burst_test
