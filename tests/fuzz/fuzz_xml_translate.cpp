// links: tarvo_util
// The value translator: whatever it accepts it must write as a document
// that parses again, with the listed values in place.
#include <tarvo_util/xml.h>

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  std::string xml(reinterpret_cast<const char *>(data), size);
  const char *names[] = {"friendlyName", "a", nullptr};
  const char *values[] = {"x<&\"'y", "", nullptr};
  char *out = nullptr;
  if (!xml_translate_value(xml.c_str(), const_cast<char *const *>(names), const_cast<char *const *>(values), 1,
                           &out))
    return 0;
  xml_parse_rec rec;
  if (xml_parse_create_nonamespace(&rec, nullptr)) {
    if (!xml_parse_feed(&rec, out, sys_str_len(out), 1)) std::abort();
    xml_parse_free(&rec);
  }
  char *again = nullptr;
  if (!xml_translate_value(out, const_cast<char *const *>(names), const_cast<char *const *>(values), 1, &again))
    std::abort();
  sys_alloc_free(again);
  sys_alloc_free(out);
  return 0;
}
