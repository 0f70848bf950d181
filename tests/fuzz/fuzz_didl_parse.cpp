// links: tarvo_avcp tarvo_util
// The DIDL-Lite parser on arbitrary text; what it hands out is walked in
// full, searched, sorted and grouped.
#include <tarvo_avcp/avcp_didl.h>
#include <tarvo_avcp/avcp_didl_cluster.h>
#include <tarvo_avcp/avcp_didl_criteria.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  std::string text(reinterpret_cast<const char *>(data), size);
  avcp_didl_object_list list = nullptr;
  if (!avcp_didl_parse(text.c_str(), &list)) return 0;
  uint32_t n = 0;
  size_t total = 0;
  for (; list[n]; n++) {
    const avcp_didl_object *o = list[n];
    for (uint32_t i = 0; o->attribute_names[i]; i++) total += std::strlen(o->attribute_values[i]);
    for (avcp_didl_property **p = o->properties; *p; p++) {
      total += std::strlen((*p)->text);
      for (uint32_t i = 0; (*p)->attribute_names[i]; i++) total += std::strlen((*p)->attribute_values[i]);
    }
  }
  avcp_didl_search_criteria *c = nullptr;
  if (avcp_didl_search_criteria_parse(&c, "res@size > \"100\" or upnp:class derivedfrom \"object.item\"")) {
    for (uint32_t i = 0; i < n; i++) avcp_didl_search_criteria_match(&c, list[i]);
    avcp_didl_search_criteria_free(&c);
  }
  avcp_didl_sort_criteria *s = nullptr;
  if (avcp_didl_sort_criteria_parse(&s, "+dc:title,-res@size,+@id")) {
    avcp_didl_sort(&s, list, n);
    avcp_didl_sort_criteria_free(&s);
  }
  avcp_didl_date_cluster *d = nullptr;
  if (avcp_didl_date_cluster_init(&d, AVCP_DIDL_DATE_DAY, 1)) {
    for (uint32_t i = 0; i < n; i++) avcp_didl_date_cluster_add(&d, list[i]);
    avcp_didl_date_cluster_result **r = nullptr;
    if (avcp_didl_date_cluster_final(&d, &r)) avcp_didl_date_cluster_result_list_free(r);
    avcp_didl_date_cluster_free(&d);
  }
  avcp_didl_object_list_free(list);
  return total == SIZE_MAX;
}
