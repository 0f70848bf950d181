// The checks an object must pass before the server stores it.
#include "didl_impl.h"

#include <tarvo_util/xml.h>

#include <cstring>
#include <initializer_list>

namespace {

using didl::name_of;

bool has(const didl_attributes *a, int name) { return didl_attribute_index(a, name_of(name)) < a->names.len; }

// Every value can be written into the database file and read back (a
// file's name in a form of its own where XML cannot hold its bytes).
bool values_legal(const didl_attributes *a)
{
  for (uint32_t i = 0; i < a->values.len; i++)
    if (!xml_gen_is_legal_value(didl::value_at(a, i)) && didl::name_at(a, i) != DIDL_NAME(AT_TARVO_FILENAME))
      return false;
  return true;
}

bool has_all(const didl_object *o, std::initializer_list<int> elements)
{
  for (int e : elements)
    if (!didl_property_first(o, name_of(e))) return false;
  return true;
}

bool class_fits(const didl_object *o)
{
  const didl_property *cls = didl_property_first(o, DIDL_NAME(EL_UPNP_CLASS));
  if (!cls || !didl_property_first(o, DIDL_NAME(EL_DC_TITLE))) return false;
  const char *c = cls->text;
  if (o->element == DIDL_NAME(EL_ITEM)) return avcp_didl_derived_from(c, "object.item");
  if (o->element != DIDL_NAME(EL_CONTAINER) || !avcp_didl_derived_from(c, "object.container")) return false;
  if (avcp_didl_derived_from(c, "object.container.storageSystem"))
    return has_all(o, {DIDL_EL_UPNP_STORAGE_TOTAL, DIDL_EL_UPNP_STORAGE_USED, DIDL_EL_UPNP_STORAGE_FREE,
                       DIDL_EL_UPNP_STORAGE_MAX_PARTITION, DIDL_EL_UPNP_STORAGE_MEDIUM});
  if (avcp_didl_derived_from(c, "object.container.storageVolume"))
    return has_all(o, {DIDL_EL_UPNP_STORAGE_TOTAL, DIDL_EL_UPNP_STORAGE_USED, DIDL_EL_UPNP_STORAGE_FREE,
                       DIDL_EL_UPNP_STORAGE_MEDIUM});
  if (avcp_didl_derived_from(c, "object.container.storageFolder")) return has_all(o, {DIDL_EL_UPNP_STORAGE_USED});
  return true;
}

}  // namespace

extern "C" {

int didl_multi_valued_property(const char *element)
{
  for (int e : {DIDL_EL_RES, DIDL_EL_DC_PUBLISHER, DIDL_EL_DC_CONTRIBUTOR, DIDL_EL_DC_RELATION, DIDL_EL_DC_RIGHTS,
                DIDL_EL_UPNP_CREATE_CLASS, DIDL_EL_UPNP_SEARCH_CLASS, DIDL_EL_UPNP_ARTIST, DIDL_EL_UPNP_ACTOR,
                DIDL_EL_UPNP_AUTHOR, DIDL_EL_UPNP_PRODUCER, DIDL_EL_UPNP_DIRECTOR, DIDL_EL_UPNP_GENRE,
                DIDL_EL_UPNP_ALBUM, DIDL_EL_UPNP_PLAYLIST, DIDL_EL_UPNP_ALBUM_ART_URI,
                DIDL_EL_UPNP_SCHEDULED_START_TIME, DIDL_EL_UPNP_SCHEDULED_END_TIME, DIDL_EL_UPNP_USER_ANNOTATION,
                DIDL_EL_ARIB_LONG_DESCRIPTION, DIDL_EL_ARIB_VIDEO_COMPONENT_TYPE, DIDL_EL_ARIB_AUDIO_COMPONENT_TYPE,
                DIDL_EL_ARIB_CAPTION_INFO})
    if (element == name_of(e)) return 1;
  return 0;
}

int didl_property_check(const didl_property *property)
{
  const didl_attributes *a = &property->attributes;
  const char *el = property->element;
  if (!values_legal(a) || !xml_gen_is_legal_value(property->text)) return 0;
  if (el == DIDL_NAME(EL_RES)) return has(a, DIDL_AT_PROTOCOL_INFO);
  if (el == DIDL_NAME(EL_DC_DATE)) {
    const char *t = property->text;
    return std::strlen(t) > 9 && t[4] == '-' && t[7] == '-';
  }
  if (el == DIDL_NAME(EL_DESC)) return has(a, DIDL_AT_ID) && has(a, DIDL_AT_NAME_SPACE);
  if (el == DIDL_NAME(EL_UPNP_SEARCH_CLASS) || el == DIDL_NAME(EL_UPNP_CREATE_CLASS))
    return has(a, DIDL_AT_INCLUDE_DERIVED);
  return 1;
}

int didl_object_check(const didl_object *object)
{
  const didl_attributes *a = &object->attributes;
  if (!has(a, DIDL_AT_ID) || !has(a, DIDL_AT_PARENT_ID) || !has(a, DIDL_AT_RESTRICTED) || !values_legal(a) ||
      !object->properties.len)
    return 0;
  for (uint32_t i = 0; i < object->properties.len; i++) {
    const didl_property *p = property_at(object, i);
    if (!didl_property_check(p)) return 0;
    if (!didl_multi_valued_property(p->element) && didl_property_index(object, p->element) < i) return 0;
  }
  return class_fits(object);
}

}  // extern "C"
