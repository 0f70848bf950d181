// links: tollamy_core tarvo_util
// The hosts-file reader of the web administration program on arbitrary
// bytes: the first line is the address asked for, the rest the file.  A
// name found is one whole field of the text, of bounded length.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tollamy_hosts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  std::string in(reinterpret_cast<const char *>(data), size);
  size_t eol = in.find('\n');
  std::string addr = in.substr(0, eol == std::string::npos ? in.size() : eol);
  addr = addr.c_str();
  std::string text = eol == std::string::npos ? std::string() : in.substr(eol + 1);
  std::string name;
  if (!tollamy_hosts_name(text.data(), uint32_t(text.size()), addr.c_str(), &name)) return 0;
  if (name.empty() || name.size() > TOLLAMY_HOST_NAME_MAX || name.find_first_of(" \t\r\n\f\v#") != std::string::npos ||
      addr.empty())
    std::abort();
  if (text.find(name) == std::string::npos) std::abort();
  return 0;
}
