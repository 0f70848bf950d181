// links: corda_m3u corda_common tarvo_util
// The M3U reader on arbitrary playlist text, in a folder holding a few
// files: every kept entry is an absolute path that names a regular file,
// and paths and names pair up.  Then the plug-in serves the playlist and
// each entry: the playlist lists exactly the media entries, and only they
// are served.
#include <corda_m3u/corda_m3u.h>
#include <tarvo_msf.h>
#include <tarvo_util/dlna.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include "fuzz_scratch.h"

namespace {

struct playground {
  std::filesystem::path dir = fuzz_scratch::folder("m3u-fuzz-");
  playground()
  {
    std::filesystem::create_directories(dir / "b" / "e.mp3");
    for (const char *f : {"a.mp3", "b/c.flac", "b/d", ".x"}) std::ofstream(dir / f) << "";
  }
};

void check(bool ok)
{
  if (!ok) std::abort();
}

bool media(const char *name)
{
  const char *t = mimetype_from_path_static(name);
  return mimetype_major_equal(t, "audio") || mimetype_major_equal(t, "video") || mimetype_major_equal(t, "image") ||
         !std::strcmp(t, "application/ogg");
}

// The whole answer of the plug-in to a GET of path.
std::string serve(const std::string &playlist, const std::string &path)
{
  int sv[2];
  check(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) == 0);
  std::string answer;
  std::thread reader([&] {
    char buf[8192];
    for (ssize_t n; (n = read(sv[1], buf, sizeof buf)) > 0;) answer.append(buf, size_t(n));
  });
  char host[] = "host:127.0.0.1";
  char *headers[] = {host, nullptr};
  http_request_startline_rec start{};
  start.method = const_cast<char *>("GET");
  start.version = const_cast<char *>("HTTP/1.1");
  start.uri.path = const_cast<char *>(path.c_str());
  plugin_http_get_request q{};
  q.startline = &start;
  q.headers = headers;
  q.addresses = {{127, 0, 0, 1}, 1, {127, 0, 0, 1}, 2};
  q.socket = sv[0];
  q.mime_type = "audio/x-mpegurl";
  q.content_features = "*";
  q.path = playlist.c_str();
  tarvo_msf_http_get(&q);
  close(sv[0]);
  reader.join();
  close(sv[1]);
  return answer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  static playground pg;
  std::string list = (pg.dir / "b" / "list.m3u").string();
  {
    std::ofstream f(list, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char *>(data), std::streamsize(size));
  }
  sys_str_list paths = nullptr, names = nullptr;
  check(corda_m3u_parse(list.c_str(), "/x", &paths, &names) == 1);
  size_t i = 0;
  for (; paths[i]; i++) {
    struct stat st;
    check(names[i] && paths[i][0] == '/' && stat(paths[i], &st) == 0 && S_ISREG(st.st_mode));
    check(std::strncmp(names[i], "/x/", 3) == 0);
  }
  check(!names[i]);

  std::string listed;
  for (size_t k = 0; names[k]; k++)
    if (media(names[k])) listed += "http://127.0.0.1:1/p" + std::string(names[k] + 2) + "\r\n";
  std::string whole = serve(list, "/p");
  check(whole.rfind("HTTP/1.1 200 ", 0) == 0 && whole.size() >= listed.size() &&
        whole.compare(whole.size() - listed.size(), listed.size(), listed) == 0);
  for (size_t k = 0; names[k] && k < 4; k++) {
    std::string answer = serve(list, "/p" + std::string(names[k] + 2));
    check(answer.rfind(media(names[k]) ? "HTTP/1.1 200 " : "HTTP/1.1 404 ", 0) == 0);
  }
  sys_str_list_free(paths);
  sys_str_list_free(names);
  return 0;
}
