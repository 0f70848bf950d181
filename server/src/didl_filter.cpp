// Filters of requests: which attributes and properties an answer carries,
// and whether resources are wanted for every interface.
#include "didl_impl.h"

#include <cstring>

namespace {

using didl::name_of;

// The entries every filter keeps, {element, attribute} by table index
// (-1: none).
const int kAlwaysKept[][2] = {
    {DIDL_EL_CONTAINER, DIDL_AT_ID},
    {DIDL_EL_CONTAINER, DIDL_AT_PARENT_ID},
    {DIDL_EL_CONTAINER, DIDL_AT_RESTRICTED},
    {DIDL_EL_ITEM, DIDL_AT_ID},
    {DIDL_EL_ITEM, DIDL_AT_PARENT_ID},
    {DIDL_EL_ITEM, DIDL_AT_RESTRICTED},
    {DIDL_EL_DC_TITLE, -1},
    {DIDL_EL_UPNP_CLASS, -1},
    {DIDL_EL_UPNP_STORAGE_TOTAL, -1},
    {DIDL_EL_UPNP_STORAGE_USED, -1},
    {DIDL_EL_UPNP_STORAGE_FREE, -1},
    {DIDL_EL_UPNP_STORAGE_MAX_PARTITION, -1},
    {DIDL_EL_UPNP_STORAGE_MEDIUM, -1},
};

void entries_free(avcp_didl_name_pair **entries, uint32_t n)
{
  for (uint32_t i = 0; i < n; i++) sys_alloc_free(entries[i]);
  sys_alloc_free(entries);
}

bool entry_fits(const avcp_didl_name_pair &entry, const char *element, const char *attribute)
{
  if (entry.element == DIDL_NAME(WILDCARD)) return true;
  if (!element && !attribute) return false;
  bool element_fits = entry.element == element || (!entry.element && (element == DIDL_NAME(EL_CONTAINER) ||
                                                                       element == DIDL_NAME(EL_ITEM)));
  return element_fits && (!attribute || attribute == entry.attribute);
}

}  // namespace

extern "C" {

int didl_filter_parse(didl_filter *filter, const char *text, int allow_private)
{
  *filter = didl_filter{};
  if (!text) return 0;
  char *copy;
  if (!sys_str_clone(text, &copy)) return 0;
  sys_ptralloc_rec entries{};
  bool res = false, res_protocol_info = false, all_interfaces = false, ok = true;
  // A comma at the very end does not open another piece.
  for (char *piece = copy; ok && *piece;) {
    char *comma = std::strchr(piece, ',');
    if (comma) *comma = 0;
    char *name, *attribute;
    avcp_didl_split_name_attribute(piece, &name, &attribute);
    avcp_didl_name_pair pair;
    if (didl_name_pair_checked(name, attribute, allow_private, &pair)) {
      if (pair.element == DIDL_NAME(EL_RES)) {
        res = true;
        if (pair.attribute == DIDL_NAME(AT_PROTOCOL_INFO)) res_protocol_info = true;
      }
      ok = avcp_didl_filter_entry_append(&entries, pair.element, pair.attribute);
    } else if (!std::strcmp(name, "ALLIP")) {
      all_interfaces = true;
    }
    if (!comma) break;
    piece = comma + 1;
  }
  sys_alloc_free(copy);
  for (const auto &k : kAlwaysKept)
    ok = ok && avcp_didl_filter_entry_append(&entries, name_of(k[0]), k[1] < 0 ? nullptr : name_of(k[1]));
  if (res && !res_protocol_info)
    ok = ok && avcp_didl_filter_entry_append(&entries, DIDL_NAME(EL_RES), DIDL_NAME(AT_PROTOCOL_INFO));
  ok = ok && sys_ptralloc_append(&entries, nullptr);
  auto **list = reinterpret_cast<avcp_didl_name_pair **>(entries.buf);
  if (!ok) {
    entries_free(list, entries.len);
    return 0;
  }
  *filter = {list, all_interfaces};
  return 1;
}

int didl_filter_match(const didl_filter *filter, const char *element, const char *attribute)
{
  if (!filter || !filter->entries) return 1;
  for (avcp_didl_name_pair **e = filter->entries; *e; e++)
    if (entry_fits(**e, element, attribute)) return 1;
  return 0;
}

void didl_filter_free(didl_filter *filter)
{
  if (!filter) return;
  if (filter->entries) {
    uint32_t n = 0;
    while (filter->entries[n]) n++;
    entries_free(filter->entries, n);
  }
  *filter = didl_filter{};
}

}  // extern "C"
