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

// The table's shape around the runs it shares with the server's table.
static_assert(AVCP_DIDL_EL_DIDL_LITE == 8 && AVCP_DIDL_EL_DLNA_CONTAINER_TYPE == 57 && AVCP_DIDL_AT_ID == 69 &&
              AVCP_DIDL_AT_QUALITY_INDICATOR == 91 && AVCP_DIDL_WILDCARD == 102);

const unsigned char kValueType[AVCP_DIDL_NAME_COUNT] = {
#define NAME_TYPE(id, text, type) AVCP_DIDL_TYPE_##type,
    AVCP_DIDL_NAMES(NAME_TYPE)
#undef NAME_TYPE
};

const char *find_in(std::string_view text, uint32_t first, uint32_t end)
{
  if (text.size() > UINT32_MAX) return nullptr;
  return avcp_didl_name_table_find(avcp_didl_name_table, first, end, text.data(), uint32_t(text.size()));
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
  return avcp_didl_name_table_value_type(avcp_didl_name_table, kValueType, AVCP_DIDL_NAME_COUNT, pair);
}

const char *avcp_didl_name_table_find(const char *const *table, uint32_t first, uint32_t end, const char *text,
                                      uint32_t length)
{
  // No name is empty; the first byte spares most names the length count.
  if (!length) return nullptr;
  std::string_view want(text, length);
  for (uint32_t i = first; i < end; i++)
    if (table[i][0] == want[0] && table[i] == want) return table[i];
  return nullptr;
}

int avcp_didl_name_table_value_type(const char *const *table, const unsigned char *types, uint32_t count,
                                    const avcp_didl_name_pair *pair)
{
  // Names outside the table (another table's, say) have no known type.
  const char *name = pair->attribute ? pair->attribute : pair->element;
  if (name)
    for (uint32_t i = 0; i < count; i++)
      if (table[i] == name) return types[i];
  return AVCP_DIDL_TYPE_UNKNOWN;
}

}  // extern "C"
