// The interned name table, its lookups and the value-type table.
#include "avcp_didl_impl.h"

#include <cstring>

extern "C" {

const char *const avcp_didl_name_table[AVCP_DIDL_NAME_COUNT] = {
#define NAME_TEXT(id, text, type) text,
    AVCP_DIDL_NAMES(NAME_TEXT)
#undef NAME_TEXT
};

}  // extern "C"

namespace {

const unsigned char kValueType[AVCP_DIDL_NAME_COUNT] = {
#define NAME_TYPE(id, text, type) type,
    AVCP_DIDL_NAMES(NAME_TYPE)
#undef NAME_TYPE
};

constexpr std::string_view kNameView[AVCP_DIDL_NAME_COUNT] = {
#define NAME_VIEW(id, text, type) text,
    AVCP_DIDL_NAMES(NAME_VIEW)
#undef NAME_VIEW
};

const char *find_in(std::string_view text, int first, int end)
{
  for (int i = first; i < end; i++)
    if (kNameView[i] == text) return avcp_didl_name_table[i];
  return nullptr;
}

}  // namespace

namespace avcp_didl {

const char *element_find(std::string_view text)
{
  return find_in(text, AVCP_DIDL_EL_DIDL_LITE, AVCP_DIDL_AT_ID);
}

const char *attribute_find(std::string_view text)
{
  return find_in(text, AVCP_DIDL_AT_ID, AVCP_DIDL_WILDCARD);
}

avcp_didl_name_pair pair_from(std::string_view element, std::string_view attribute)
{
  avcp_didl_name_pair pair{nullptr, nullptr};
  if (!element.empty()) {
    pair.element = element_find(element);
    if (!pair.element) return pair;
  }
  if (!attribute.empty()) {
    pair.attribute = attribute_find(attribute);
    if (!pair.attribute) pair.element = nullptr;
  }
  return pair;
}

avcp_didl_name_pair pair_from(std::string_view name)
{
  size_t at = name.find('@');
  if (at == std::string_view::npos) return pair_from(name, {});
  return pair_from(name.substr(0, at), name.substr(at + 1));
}

bool is_name(const char *p, int index)
{
  const char *n = avcp_didl_name_table[index];
  return p == n || (p && !std::strcmp(p, n));
}

}  // namespace avcp_didl

extern "C" {

const char *avcp_didl_element_name_find(const char *text)
{
  return text ? avcp_didl::element_find(text) : nullptr;
}

const char *avcp_didl_attribute_name_find(const char *text)
{
  return text ? avcp_didl::attribute_find(text) : nullptr;
}

void avcp_didl_property_parameter_set(const char *element_text, const char *attribute_text,
                                      avcp_didl_name_pair *pair)
{
  *pair = avcp_didl::pair_from(element_text ? element_text : "", attribute_text ? attribute_text : "");
}

void avcp_didl_split_name_attribute(char *text, char **name_out, char **attribute_out)
{
  char *at = std::strchr(text, '@');
  *name_out = text;
  if (at) {
    *at = 0;
    *attribute_out = at + 1;
  } else {
    *attribute_out = text + std::strlen(text);
  }
}

int avcp_didl_value_type(const avcp_didl_name_pair *pair)
{
  // Names outside the table (another build's, say) have no known type.
  auto code = [](const char *name) -> int {
    for (int i = 0; i < AVCP_DIDL_NAME_COUNT; i++)
      if (avcp_didl_name_table[i] == name) return kValueType[i];
    return AVCP_DIDL_TYPE_UNKNOWN;
  };
  if (pair->attribute) return code(pair->attribute);
  if (pair->element) return code(pair->element);
  return AVCP_DIDL_TYPE_UNKNOWN;
}

}  // extern "C"
