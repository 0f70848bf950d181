// links: tarvo_util
// SOAP bodies as they arrive from the network: the argument reader and the
// fault reader, whose lists must always pair up.
#include <tarvo_util/soap.h>

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  std::string xml(reinterpret_cast<const char *>(data), size);
  sys_str_list names = nullptr, values = nullptr;
  if (soap_parse(xml.c_str(), &names, &values)) {
    if (!names != !values) std::abort();
    size_t n = 0;
    for (; names && names[n]; n++)
      if (!values[n]) std::abort();
    if (names && values[n]) std::abort();
  } else if (names || values) {
    std::abort();
  }
  sys_str_list_free(names);
  sys_str_list_free(values);
  uint32_t code = 0;
  if (soap_fault_parse(xml.c_str(), &code) && !code) std::abort();
  return 0;
}
