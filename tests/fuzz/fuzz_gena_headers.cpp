// links: tarvo_device tarvo_util
// SUBSCRIBE and UNSUBSCRIBE header blocks: the first byte chooses the
// method and the version, the rest is split into lines at LF and each is
// normalised as the header reader does; then the callback filter.
#include "../../upnp/device/device_gena_ssdp.h"

#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if (size < 1) return 0;
  int unsubscribe = data[0] & 1, http10 = (data[0] >> 1) & 1;
  std::vector<std::string> lines;
  std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
  for (size_t pos = 0; pos <= text.size();) {
    size_t end = text.find('\n', pos);
    if (end == text.npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    line.resize(http_header_normalize(line.data(), uint32_t(line.size())));
    lines.push_back(line.c_str());  // cut at a NUL, as a C string is
    pos = end + 1;
  }
  std::vector<char *> list;
  for (std::string &l : lines) list.push_back(l.data());
  list.push_back(nullptr);
  device_gena_request rq{};
  const char *status = device_gena_headers(list.data(), unsubscribe, http10, &rq);
  if (!status && !unsubscribe && !rq.sid) {
    if (!rq.callbacks || !rq.has_nt) std::abort();
    const uint8_t peer[4] = {192, 168, 1, 9};
    device_gena_callbacks_filter(&rq, peer);
    uint32_t n = 0;
    for (char **u = rq.callbacks; u && *u; u++) n++;
    if (n > DEVICE_GENA_CALLBACKS_MAX) std::abort();
  }
  device_gena_request_free(&rq);
  return 0;
}
