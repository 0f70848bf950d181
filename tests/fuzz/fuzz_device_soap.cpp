// links: tarvo_device tarvo_util
// A control request as it reaches the device: header lines (split at
// CR LF, normalised) into the request facts, and the body into the
// argument lists that a handler receives.
#include "../../upnp/device/device_impl.h"

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  std::string_view in(reinterpret_cast<const char *>(data), size);
  size_t end = in.find("\r\n\r\n");
  std::string_view head = in.substr(0, end);
  std::string body(end == in.npos ? std::string_view() : in.substr(end + 4));

  std::vector<std::string> lines;
  for (size_t pos = 0; pos <= head.size();) {
    size_t next = head.find("\r\n", pos);
    if (next == head.npos) next = head.size();
    std::string line(head.substr(pos, next - pos));
    line.resize(http_header_normalize(line.data(), uint32_t(line.size())));
    if (!line.empty()) lines.push_back(line);
    pos = next + 2;
  }
  std::vector<char *> list;
  for (std::string &l : lines) list.push_back(l.data());
  list.push_back(nullptr);
  device_soap_request rq;
  const char *status = device_soap_headers(list.data(), size & 1, &rq);
  if (!status && !rq.batch_command && (!rq.service_type || !rq.action)) std::abort();
  if (!status && !rq.chunked && rq.length > DEVICE_SOAP_BODY_MAX) std::abort();
  device_soap_request_free(&rq);

  sys_str_list names = nullptr, values = nullptr;
  if (device_soap_args(body.c_str(), &names, &values)) {
    if (!names || !values) std::abort();
    size_t n = 0;
    while (names[n]) n++;
    for (size_t i = 0; i < n; i++)
      if (!values[i]) std::abort();
    if (values[n]) std::abort();
  }
  sys_str_list_free(names);
  sys_str_list_free(values);
  return 0;
}
