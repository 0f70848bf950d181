// Filters: which attributes and properties a DIDL-Lite answer carries.
#include "avcp_didl_impl.h"

#include <tarvo_avcp/avcp_didl_criteria.h>

namespace {

const char *name_of(int index) { return avcp_didl_name_table[index]; }

void entries_free(sys_ptralloc_rec *entries)
{
  for (uint32_t i = 0; i < entries->len; i++) sys_alloc_free(entries->buf[i]);
  sys_ptralloc_free(entries);
}

// The entries every filter keeps, {element, attribute} by table index
// (-1: none).
const int kAlwaysKept[][2] = {
    {AVCP_DIDL_EL_CONTAINER, AVCP_DIDL_AT_ID},
    {AVCP_DIDL_EL_CONTAINER, AVCP_DIDL_AT_PARENT_ID},
    {AVCP_DIDL_EL_CONTAINER, AVCP_DIDL_AT_RESTRICTED},
    {AVCP_DIDL_EL_ITEM, AVCP_DIDL_AT_ID},
    {AVCP_DIDL_EL_ITEM, AVCP_DIDL_AT_PARENT_ID},
    {AVCP_DIDL_EL_ITEM, AVCP_DIDL_AT_RESTRICTED},
    {AVCP_DIDL_EL_DC_TITLE, -1},
    {AVCP_DIDL_EL_UPNP_CLASS, -1},
    {AVCP_DIDL_EL_UPNP_STORAGE_TOTAL, -1},
    {AVCP_DIDL_EL_UPNP_STORAGE_USED, -1},
    {AVCP_DIDL_EL_UPNP_STORAGE_FREE, -1},
    {AVCP_DIDL_EL_UPNP_STORAGE_MAX_PARTITION, -1},
    {AVCP_DIDL_EL_UPNP_STORAGE_MEDIUM, -1},
};

bool entry_fits(const avcp_didl_name_pair &entry, const avcp_didl_name_pair &name)
{
  if (entry.element == name_of(AVCP_DIDL_WILDCARD)) return true;
  if (!name.element && !name.attribute) return false;
  bool element_fits = entry.element == name.element ||
                      (!entry.element && (name.element == name_of(AVCP_DIDL_EL_CONTAINER) ||
                                          name.element == name_of(AVCP_DIDL_EL_ITEM)));
  return element_fits && (!name.attribute || name.attribute == entry.attribute);
}

}  // namespace

extern "C" {

int avcp_didl_filter_entry_append(sys_ptralloc_rec *entries, const char *element, const char *attribute)
{
  auto *pair = static_cast<avcp_didl_name_pair *>(sys_alloc(sizeof(avcp_didl_name_pair)));
  if (!pair) return 0;
  *pair = {element, attribute};
  if (sys_ptralloc_append(entries, pair)) return 1;
  sys_alloc_free(pair);
  return 0;
}

int avcp_didl_filter_parse(avcp_didl_filter *handle, const char *filter_text)
{
  *handle = nullptr;
  if (!filter_text) return 0;
  sys_ptralloc_rec entries{};
  bool res = false, res_protocol_info = false;
  std::string_view rest(filter_text);
  bool ok = true;
  // A comma at the very end does not open another piece.
  while (ok && !rest.empty()) {
    size_t comma = rest.find(',');
    std::string_view piece = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    avcp_didl_name_pair pair{name_of(AVCP_DIDL_WILDCARD), nullptr};
    if (piece != "*") pair = avcp_didl::pair_from(piece);
    if (pair.element == name_of(AVCP_DIDL_EL_RES)) {
      res = true;
      if (pair.attribute == name_of(AVCP_DIDL_AT_PROTOCOL_INFO)) res_protocol_info = true;
    }
    ok = avcp_didl_filter_entry_append(&entries, pair.element, pair.attribute);
  }
  for (const auto &k : kAlwaysKept)
    ok = ok && avcp_didl_filter_entry_append(&entries, name_of(k[0]), k[1] < 0 ? nullptr : name_of(k[1]));
  if (res && !res_protocol_info)
    ok = ok && avcp_didl_filter_entry_append(&entries, name_of(AVCP_DIDL_EL_RES), name_of(AVCP_DIDL_AT_PROTOCOL_INFO));
  ok = ok && sys_ptralloc_append(&entries, nullptr);
  if (!ok) {
    entries_free(&entries);
    return 0;
  }
  *handle = reinterpret_cast<avcp_didl_filter>(entries.buf);
  return 1;
}

int avcp_didl_filter_match(const avcp_didl_filter *handle, const char *name_text)
{
  if (!handle || !*handle) return 1;
  if (!name_text) return 0;
  avcp_didl_name_pair name = avcp_didl::pair_from(std::string_view(name_text));
  for (avcp_didl_name_pair **e = *handle; *e; e++)
    if (entry_fits(**e, name)) return 1;
  return 0;
}

void avcp_didl_filter_free(avcp_didl_filter *handle)
{
  if (!handle || !*handle) return;
  for (avcp_didl_name_pair **e = *handle; *e; e++) sys_alloc_free(*e);
  sys_alloc_free(*handle);
  *handle = nullptr;
}

}  // extern "C"
