// The server's interned name table, its lookups, value types and the name
// check of requests.
#include "didl_impl.h"

#include <cstring>
#include <initializer_list>

extern "C" {

const char *const didl_name_table[DIDL_NAME_COUNT] = {
#define NAME_TEXT(id, text, type) text,
    DIDL_NAMES(NAME_TEXT)
#undef NAME_TEXT
};

}  // extern "C"

namespace {

// The table's shape as didl.h states it, around the runs it shares with
// tarvo_avcp's table.
static_assert(DIDL_EL_DIDL_LITE == 8 && DIDL_EL_DLNA_CONTAINER_TYPE == 57 && DIDL_AT_ID == 71 &&
              DIDL_AT_QUALITY_INDICATOR == 93 && DIDL_WILDCARD == 109);

const unsigned char kValueType[DIDL_NAME_COUNT] = {
#define NAME_TYPE(id, text, type) AVCP_DIDL_TYPE_##type,
    DIDL_NAMES(NAME_TYPE)
#undef NAME_TYPE
};

const char *find_in(std::string_view text, uint32_t first, uint32_t end)
{
  if (text.size() > UINT32_MAX) return nullptr;
  return avcp_didl_name_table_find(didl_name_table, first, end, text.data(), uint32_t(text.size()));
}

bool is_one_of(const char *name, std::initializer_list<int> indices)
{
  for (int i : indices)
    if (name == didl::name_of(i)) return true;
  return false;
}

}  // namespace

namespace didl {

const char *element_find(std::string_view text) { return find_in(text, DIDL_EL_DIDL_LITE, DIDL_AT_ID); }

const char *attribute_find(std::string_view text) { return find_in(text, DIDL_AT_ID, DIDL_WILDCARD); }

}  // namespace didl

extern "C" {

const char *didl_element_find(const char *text) { return text ? didl::element_find(text) : nullptr; }

const char *didl_attribute_find(const char *text) { return text ? didl::attribute_find(text) : nullptr; }

int didl_value_type(const avcp_didl_name_pair *pair)
{
  return avcp_didl_name_table_value_type(didl_name_table, kValueType, DIDL_NAME_COUNT, pair);
}

int didl_name_pair_checked(const char *name, const char *attribute, int allow_private, avcp_didl_name_pair *pair)
{
  *pair = {nullptr, nullptr};
  if (!name) name = "";
  if (!attribute) attribute = "";
  if (!std::strcmp(name, "*") && !*attribute) {
    pair->element = DIDL_NAME(WILDCARD);
    return 1;
  }
  const char *element = nullptr;
  if (*name) {
    element = didl::element_find(name);
    if (!element || is_one_of(element, {DIDL_EL_TARVO_DYNAMIC, DIDL_EL_TARVO_REFLECT_CHILD_PROPERTY})) return 0;
  }
  const char *at = nullptr;
  if (*attribute) {
    at = didl::attribute_find(attribute);
    if (!at) return 1;
    if (is_one_of(at, {DIDL_AT_TARVO_CONTAINER_UPDATE_ID, DIDL_AT_TARVO_MAX_OBJECT_ID, DIDL_AT_TARVO_CHILDREN,
                       DIDL_AT_TARVO_REFERENCED, DIDL_AT_TARVO_TIMESTAMP}))
      return 0;
    if (!allow_private && is_one_of(at, {DIDL_AT_TARVO_FILENAME, DIDL_AT_TARVO_PRIVATE, DIDL_AT_TARVO_FILTER}))
      return 0;
  }
  *pair = {element, at};
  return 1;
}

}  // extern "C"
