// links: tarvo_avcp tarvo_util
// Filters and sort criteria on arbitrary text: the first half of the
// input is the filter (or criteria), the rest a name to match.
#include <tarvo_avcp/avcp_didl.h>
#include <tarvo_avcp/avcp_didl_cluster.h>
#include <tarvo_avcp/avcp_didl_criteria.h>

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  std::string all(reinterpret_cast<const char *>(data), size);
  size_t cut = all.find('\n');
  std::string text = all.substr(0, cut), name = cut == std::string::npos ? "" : all.substr(cut + 1);
  avcp_didl_filter f = nullptr;
  if (avcp_didl_filter_parse(&f, text.c_str())) {
    avcp_didl_filter_match(&f, name.c_str());
    avcp_didl_filter_free(&f);
  }
  avcp_didl_sort_criteria *s = nullptr;
  if (avcp_didl_sort_criteria_parse(&s, text.c_str())) avcp_didl_sort_criteria_free(&s);
  avcp_didl_cluster *c = nullptr;
  if (avcp_didl_cluster_init(&c, name.c_str())) avcp_didl_cluster_free(&c);
  avcp_didl_name_pair pair;
  avcp_didl_property_parameter_set(text.c_str(), name.c_str(), &pair);
  return 0;
}
