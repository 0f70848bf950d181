// links: tarvo_util
// Serves one large file over loopback through the server's request reader,
// the GET answer writer and sys_socket_sendfile, and reports the
// throughput seen by the client: as the media server sends it (TCP_NODELAY,
// the header corked with the first body bytes), with the header sent on
// its own as before, and with a plain read/send loop for comparison.  Each
// way runs the given number of rounds, interleaved; the best and the
// median are reported, since a busy machine spreads single runs widely.
//   bench_http_file [file] [megabytes] [rounds]
// Without a file a scratch file of the given size (default 1024 MB) is
// made in the temporary folder and removed afterwards.
#include <tarvo_util/http_message.h>
#include <tarvo_util/http_server.h>
#include <tarvo_util/sys_socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool make_file(const std::string &path, uint64_t bytes)
{
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  std::vector<char> block(1 << 20);
  for (size_t i = 0; i < block.size(); i++) block[i] = char(i * 131);
  bool ok = true;
  for (uint64_t done = 0; ok && done < bytes; done += block.size())
    ok = write(fd, block.data(), block.size()) == ssize_t(block.size());
  return close(fd) == 0 && ok;
}

enum class way { corked, sendfile, read_send };

const char *way_name(way w)
{
  return w == way::corked ? "corked" : w == way::sendfile ? "sendfile" : "read+send";
}

// One GET answered as the media server answers it.
bool serve(int listener, const std::string &path, way how)
{
  auto conn = std::make_unique<http_server_conn>();
  if (!sys_socket_accept4(listener, &conn->socket, conn->addr.remote_ip, &conn->addr.remote_port)) return false;
  conn->server_name = "bench";
  sys_socket_ndelay_on(conn->socket);
  bool corked = how == way::corked && sys_socket_nodelay_on(conn->socket) && sys_socket_cork(conn->socket, 1);
  sys_socketbuffer_init(&conn->in, conn->socket, conn->in_buf, sizeof conn->in_buf, 10000);
  sys_socketbuffer_init(&conn->out, conn->socket, conn->out_buf, sizeof conn->out_buf, 35000);
  sys_stralloc_rec line{};
  http_request_startline_rec rl{};
  http_server_request_rec req{};
  bool ok = http_header_readline(&conn->in, &line) && http_request_startline_parse(&rl, &line);
  conn->http11 = 1;
  ok = ok && http_server_read_get_request(conn.get(), nullptr, nullptr, &req);
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  ok = ok && fd >= 0 && fstat(fd, &st) == 0;
  http_server_range_rec range{0, 0, uint64_t(st.st_size)};
  int send_body = 0;
  ok = ok && http_server_write_get_response_header(&conn->out, 1, 0, &req, conn->server_name,
                                                   "application/octet-stream", st.st_mtime, &send_body, &range);
  if (ok && send_body) {
    if (corked) {
      // The first 64 KiB with the header, the rest uncorked.
      int64_t first = std::min<int64_t>(int64_t(range.length), 65536);
      ok = sys_socket_sendfile(conn->socket, fd, 0, first, nullptr) && sys_socket_cork(conn->socket, 0) &&
           sys_socket_sendfile(conn->socket, fd, first, int64_t(range.length) - first, nullptr);
      corked = false;
    } else if (how != way::read_send) {
      ok = sys_socket_sendfile(conn->socket, fd, int64_t(range.offset), int64_t(range.length), nullptr);
    } else {
      sys_socket_ndelay_off(conn->socket);
      std::vector<char> block(8192);
      for (ssize_t r; ok && (r = read(fd, block.data(), block.size())) > 0;)
        ok = sys_socket_allsend(conn->socket, block.data(), uint32_t(r));
    }
  }
  if (corked) sys_socket_cork(conn->socket, 0);
  if (fd >= 0) close(fd);
  http_server_get_request_free(&req);
  http_request_startline_free(&rl);
  sys_stralloc_free(&line);
  sys_socket_close(conn->socket);
  return ok;
}

// The client side: the bytes received after the header, and the seconds.
double fetch(uint16_t port, uint64_t expect, uint64_t *got)
{
  int s;
  if (!sys_socket_tcp(&s) || !sys_socket_connect4(s, sys_ip4_loopback(), port)) return -1;
  const char req[] = "GET /file HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  auto t0 = std::chrono::steady_clock::now();
  if (!sys_socket_allsend(s, req, sizeof req - 1)) return -1;
  std::vector<char> buf(1 << 20);
  std::string head;
  *got = 0;
  bool in_body = false;
  for (;;) {
    ssize_t r = recv(s, buf.data(), buf.size(), 0);
    if (r <= 0) break;
    if (in_body) {
      *got += uint64_t(r);
    } else {
      head.append(buf.data(), size_t(r));
      size_t e = head.find("\r\n\r\n");
      if (e != std::string::npos) {
        in_body = true;
        *got = head.size() - e - 4;
      }
    }
    if (*got >= expect) break;
  }
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  sys_socket_close(s);
  return secs;
}

}  // namespace

int main(int argc, char **argv)
{
  platform_init();
  uint64_t mb = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1024;
  std::string path = argc > 1 ? argv[1] : "";
  bool scratch = path.empty();
  if (scratch) {
    const char *tmp = std::getenv("TMPDIR");
    path = std::string(tmp && *tmp ? tmp : "/tmp") + "/bench_http_file." + std::to_string(getpid());
    if (!make_file(path, mb << 20)) {
      std::fprintf(stderr, "cannot make %s\n", path.c_str());
      return 1;
    }
  }
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return 1;
  uint64_t size = uint64_t(st.st_size);

  int l;
  uint16_t port;
  if (!sys_socket_tcp(&l) || !sys_socket_bind4(l, sys_ip4_loopback(), 0) || !sys_socket_listen(l, 4) ||
      !sys_socket_local4(l, nullptr, &port))
    return 1;
  int rounds = argc > 3 ? std::atoi(argv[3]) : 9;
  if (rounds < 1) rounds = 1;
  const way ways[] = {way::corked, way::sendfile, way::read_send};
  std::vector<double> rates[3];
  int status = 0;
  for (int round = 0; round < rounds; round++) {
    // Each round starts with another way, so that none always follows
    // the same one.
    for (int j = 0; j < 3; j++) {
      int k = (round + j) % 3;
      bool served = false;
      std::thread server([&] { served = serve(l, path, ways[k]); });
      uint64_t got = 0;
      double secs = fetch(port, size, &got);
      server.join();
      if (!served || got != size || secs <= 0) {
        std::fprintf(stderr, "round %d failed (%llu of %llu bytes)\n", round, (unsigned long long)got,
                     (unsigned long long)size);
        status = 1;
        continue;
      }
      rates[k].push_back(double(size) / 1e6 / secs);
    }
  }
  for (int k = 0; k < 3; k++) {
    std::vector<double> &r = rates[k];
    if (r.empty()) continue;
    std::sort(r.begin(), r.end());
    std::printf("%-9s %8.1f MB, %d rounds: best %8.1f MB/s, median %8.1f MB/s\n", way_name(ways[k]),
                double(size) / 1e6, int(r.size()), r.back(), r[r.size() / 2]);
  }
  sys_socket_close(l);
  if (scratch) unlink(path.c_str());
  return status;
}
