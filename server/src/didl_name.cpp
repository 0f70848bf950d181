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

const unsigned char kValueType[DIDL_NAME_COUNT] = {
#define NAME_TYPE(id, text, type) type,
    DIDL_NAMES(NAME_TYPE)
#undef NAME_TYPE
};

constexpr std::string_view kNameView[DIDL_NAME_COUNT] = {
#define NAME_VIEW(id, text, type) text,
    DIDL_NAMES(NAME_VIEW)
#undef NAME_VIEW
};

const char *find_in(std::string_view text, int first, int end)
{
  for (int i = first; i < end; i++)
    if (kNameView[i] == text) return didl_name_table[i];
  return nullptr;
}

int type_of(const char *name)
{
  for (int i = 0; i < DIDL_NAME_COUNT; i++)
    if (didl_name_table[i] == name) return kValueType[i];
  return AVCP_DIDL_TYPE_UNKNOWN;
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
  if (pair->attribute) return type_of(pair->attribute);
  if (pair->element) return type_of(pair->element);
  return AVCP_DIDL_TYPE_UNKNOWN;
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
