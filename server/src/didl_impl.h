// Pieces shared by the source files of the server's DIDL-Lite model.
#pragma once

#include <vennard/didl.h>

#include <tarvo_util/sys_owner.h>

#include <string_view>

namespace didl {

inline const char *name_of(int index) { return didl_name_table[index]; }

// Interned name equal to text, or nullptr.
const char *element_find(std::string_view text);
const char *attribute_find(std::string_view text);

inline const char *name_at(const didl_attributes *a, uint32_t i) { return static_cast<const char *>(a->names.buf[i]); }
inline const char *value_at(const didl_attributes *a, uint32_t i) { return static_cast<const char *>(a->values.buf[i]); }

// Appends a property the object then owns; grows the array by little.
bool property_push(didl_object *object, didl_property *property);
// A property's text as the record keeps it (shared when it repeats).
bool text_new(const char *element, const char *text, char **out);
// Room for n attributes.
bool attributes_ready(didl_attributes *attributes, uint32_t n);

// The pair names the object itself: its element is NULL, "container" or
// "item".
bool names_object(const avcp_didl_name_pair &pair);
// The value a pair reads from an object: the object's attribute for a pair
// that names the object (nullptr when the pair names the other kind), else
// each property of the pair's element in turn, through visit(value) until
// it returns false.  Properties without the attribute give no value.
const char *object_attribute(const didl_object *object, const avcp_didl_name_pair &pair);
template <class Visit> void property_values(const didl_object *object, const avcp_didl_name_pair &pair, Visit visit)
{
  for (uint32_t i = 0; i < object->properties.len; i++) {
    const didl_property *p = property_at(object, i);
    if (p->element != pair.element) continue;
    const char *v = pair.attribute ? didl_attribute_get(&p->attributes, pair.attribute) : p->text;
    if (v && !visit(v)) return;
  }
}

}  // namespace didl
