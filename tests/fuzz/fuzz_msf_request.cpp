// links: corda_common tarvo_util
// The plug-ins' request reader on an arbitrary list of header lines (one
// per input line; the first byte picks the version and the variant): it
// either refuses with one of its status lines or fills values that lie
// inside the lines.
#include <corda_common/msf_common.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool inside(const char *p, const std::vector<std::string> &lines)
{
  if (!p) return true;
  for (const std::string &l : lines)
    if (p >= l.data() && p <= l.data() + l.size()) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if (!size) return 0;
  std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);
  std::vector<std::string> lines;
  for (size_t at = 0; at <= text.size();) {
    size_t lf = text.find('\n', at);
    if (lf == std::string::npos) lf = text.size();
    lines.push_back(text.substr(at, lf - at));
    at = lf + 1;
  }
  std::vector<char *> headers;
  for (std::string &l : lines)
    if (l.find('\0') == std::string::npos) headers.push_back(l.data());
  headers.push_back(nullptr);
  http_request_startline_rec start{};
  start.method = const_cast<char *>(data[0] & 1 ? "HEAD" : "GET");
  start.version = const_cast<char *>(data[0] & 2 ? "HTTP/1.0" : "HTTP/1.1");
  plugin_http_get_request q{};
  q.startline = &start;
  q.headers = headers.data();
  q.socket = -1;
  msf_request_rec r;
  const char *refused = msf_request_check(&r, &q, data[0] & 4 ? MSF_READER_PLAYLIST : MSF_READER_TRANSCODE);
  if (refused && r.req.keep_alive) std::abort();
  if (refused && std::strncmp(refused, "4", 1)) std::abort();
  const http_server_request_rec &v = r.req;
  for (const char *p : {v.if_modified_since, v.range, v.if_range, v.time_seek_range, v.play_speed})
    if (!inside(p, lines)) std::abort();
  return 0;
}
