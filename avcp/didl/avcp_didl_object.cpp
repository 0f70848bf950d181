// Finders over parsed records, class and boolean tests, and release.
#include "avcp_didl_impl.h"

#include <cstring>

namespace avcp_didl {

bool names_object(const avcp_didl_name_pair &pair)
{
  return !pair.element || pair.element == AVCP_DIDL_NAME(EL_CONTAINER) || pair.element == AVCP_DIDL_NAME(EL_ITEM);
}

const char *object_attribute(const avcp_didl_object *object, const avcp_didl_name_pair &pair)
{
  if (!pair.attribute || (pair.element && pair.element != object->element)) return nullptr;
  return avcp_didl_attribute_find(object->attribute_names, object->attribute_values, pair.attribute);
}

}  // namespace avcp_didl

namespace {

bool same_name(const char *a, const char *b)
{
  return a == b || (a && b && !std::strcmp(a, b));
}

}  // namespace

extern "C" {

uint32_t avcp_didl_attribute_find_index(const char *const *names, const char *name)
{
  uint32_t i = 0;
  if (!names) return 0;
  for (; names[i]; i++)
    if (same_name(names[i], name)) break;
  return i;
}

const char *avcp_didl_attribute_find(const char *const *names, char *const *values, const char *name)
{
  if (!names || !values) return nullptr;
  return values[avcp_didl_attribute_find_index(names, name)];
}

avcp_didl_property *avcp_didl_property_find(const avcp_didl_object *object, const char *element_name)
{
  if (!object || !object->properties) return nullptr;
  for (avcp_didl_property **p = object->properties; *p; p++)
    if (same_name((*p)->element, element_name)) return *p;
  return nullptr;
}

avcp_didl_property *avcp_didl_property_find2(const avcp_didl_object *object, const char *element_name,
                                             const char *text)
{
  if (!object || !object->properties) return nullptr;
  for (avcp_didl_property **p = object->properties; *p; p++)
    if (same_name((*p)->element, element_name) && same_name((*p)->text, text)) return *p;
  return nullptr;
}

int avcp_didl_derived_from(const char *class_text, const char *base)
{
  if (!class_text || !base) return 0;
  size_t n = std::strlen(base);
  return !std::strncmp(class_text, base, n) && (class_text[n] == 0 || class_text[n] == '.');
}

int avcp_didl_boolean_value(const char *text)
{
  if (!text) return 0;
  return !std::strcmp(text, "1") || !std::strcmp(text, "true") || !std::strcmp(text, "yes");
}

void avcp_didl_property_free(avcp_didl_property *property)
{
  if (!property) return;
  sys_alloc_free(property->attribute_names);
  sys_str_list_free(property->attribute_values);
  sys_alloc_free(property->text);
  sys_alloc_free(property);
}

void avcp_didl_object_free(avcp_didl_object *object)
{
  if (!object) return;
  sys_alloc_free(object->attribute_names);
  sys_str_list_free(object->attribute_values);
  if (object->properties)
    for (avcp_didl_property **p = object->properties; *p; p++) avcp_didl_property_free(*p);
  sys_alloc_free(object->properties);
  sys_alloc_free(object);
}

void avcp_didl_object_list_free(avcp_didl_object_list list)
{
  if (!list) return;
  for (avcp_didl_object **o = list; *o; o++) avcp_didl_object_free(*o);
  sys_alloc_free(list);
}

}  // extern "C"
