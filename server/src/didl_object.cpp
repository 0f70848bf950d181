// Object and property records: copies, release, and the editing helpers of
// attributes, properties and comma-separated lists.
#include "didl_impl.h"

#include <tarvo_util/sys_str.h>

#include <cstring>
#include <vector>

namespace {

using didl::block_free;
using didl::name_at;
using didl::names_share;
using didl::packed;
using didl::shared;
using didl::value_at;
using didl::value_copy;
using didl::value_new;

// A shared list of names, and the arrays of a packed object, have no room
// of their own (capacity 0): the record copies one before it grows it.
bool borrowed(const sys_ptralloc_rec *pa) { return pa->buf && !pa->a; }

// Array room for n pointers.  Records hold a handful each, and there are
// many records: the array grows by a quarter, not by the general slack.
bool room_for(sys_ptralloc_rec *pa, uint32_t n)
{
  if (!n || (pa->buf && pa->a >= n)) return true;
  uint32_t cap = n + n / 4;
  if (borrowed(pa)) {
    auto *own = static_cast<void **>(sys_alloc(size_t(cap) * sizeof(void *)));
    if (!own) return false;
    std::memcpy(own, pa->buf, size_t(pa->len) * sizeof(void *));
    pa->buf = own;
    pa->a = cap;
    return true;
  }
  void *buf = pa->buf;
  if (!sys_alloc_re(&buf, size_t(pa->buf ? pa->a : 0) * sizeof(void *), size_t(cap) * sizeof(void *))) return false;
  if (!pa->buf) pa->len = 0;
  pa->buf = static_cast<void **>(buf);
  pa->a = cap;
  return true;
}

void fit(sys_ptralloc_rec *pa)
{
  if (!pa->buf || pa->a == pa->len || !pa->len || borrowed(pa)) return;
  void *buf = pa->buf;
  if (!sys_alloc_re(&buf, size_t(pa->len) * sizeof(void *), size_t(pa->len) * sizeof(void *))) return;
  pa->buf = static_cast<void **>(buf);
  pa->a = pa->len;
}

void attributes_free(didl_attributes *a)
{
  for (uint32_t i = 0; i < a->values.len; i++) didl_value_free(static_cast<char *>(a->values.buf[i]));
  if (!borrowed(&a->names)) sys_ptralloc_free(&a->names);
  if (!borrowed(&a->values)) sys_ptralloc_free(&a->values);
  *a = didl_attributes{};
}

// Appends a name and a value that is the record's already.
bool attribute_push(didl_attributes *a, const char *name, char *value)
{
  uint32_t n = a->names.len + 1;
  if (!room_for(&a->names, n) || !room_for(&a->values, n)) return false;
  a->names.buf[a->names.len++] = const_cast<char *>(name);
  a->values.buf[a->values.len++] = value;
  return true;
}

bool attributes_clone(const didl_attributes *from, didl_attributes *to)
{
  if (!room_for(&to->names, from->names.len) || !room_for(&to->values, from->names.len)) return false;
  for (uint32_t i = 0; i < from->names.len; i++) {
    char *v;
    if (!value_copy(name_at(from, i), value_at(from, i), &v)) return false;
    if (!attribute_push(to, name_at(from, i), v)) {
      didl_value_free(v);
      return false;
    }
  }
  return true;
}

// A heap string of a and b joined by sep (none when a is empty).
bool joined(std::string_view a, char sep, std::string_view b, char **out)
{
  size_t n = a.size() + (a.empty() ? 0 : 1) + b.size();
  char *s = static_cast<char *>(sys_alloc(n + 1));
  if (!s) return false;
  char *p = s;
  if (!a.empty()) {
    std::memcpy(p, a.data(), a.size());
    p += a.size();
    *p++ = sep;
  }
  if (!b.empty()) std::memcpy(p, b.data(), b.size());
  s[n] = 0;
  *out = s;
  return true;
}

bool class_allowed(const didl_object *container, int list_element, const char *class_text)
{
  const char *element = didl::name_of(list_element);
  bool listed = false;
  for (uint32_t i = 0; i < container->properties.len; i++) {
    const didl_property *p = property_at(container, i);
    if (p->element != element) continue;
    listed = true;
    bool derived = avcp_didl_boolean_value(didl_attribute_get(&p->attributes, DIDL_NAME(AT_INCLUDE_DERIVED)));
    if (derived ? avcp_didl_derived_from(class_text, p->text) : !std::strcmp(class_text, p->text)) return true;
  }
  return !listed;
}

}  // namespace

namespace didl {

bool names_object(const avcp_didl_name_pair &pair)
{
  return !pair.element || pair.element == DIDL_NAME(EL_CONTAINER) || pair.element == DIDL_NAME(EL_ITEM);
}

bool property_push(didl_object *object, didl_property *property)
{
  if (!room_for(&object->properties, object->properties.len + 1)) return false;
  object->properties.buf[object->properties.len++] = property;
  return true;
}

bool attributes_ready(didl_attributes *attributes, uint32_t n)
{
  return room_for(&attributes->names, n) && room_for(&attributes->values, n);
}

const char *object_attribute(const didl_object *object, const avcp_didl_name_pair &pair)
{
  if (!pair.attribute || (pair.element && pair.element != object->element)) return nullptr;
  return didl_attribute_get(&object->attributes, pair.attribute);
}

void object_empty(didl_object *object, std::vector<didl_property *> *spares)
{
  auto empty = [](didl_attributes &a) {
    for (uint32_t i = 0; i < a.values.len; i++) didl_value_free(static_cast<char *>(a.values.buf[i]));
    // A shared list of names is not the record's own.
    if (borrowed(&a.names)) a.names = {};
    a.names.len = a.values.len = 0;
  };
  empty(object->attributes);
  for (uint32_t i = 0; i < object->properties.len; i++) {
    didl_property *p = property_at(object, i);
    if (spares->size() >= DIDL_SPARE_PROPERTIES) {
      didl_property_free(p);
      continue;
    }
    empty(p->attributes);
    didl_value_free(p->text);
    p->text = nullptr;
    try {
      spares->push_back(p);
    } catch (...) {
      didl_property_free(p);
    }
  }
  object->properties.len = 0;
}

}  // namespace didl

extern "C" {

void didl_property_free(didl_property *property)
{
  if (!property) return;
  attributes_free(&property->attributes);
  didl_value_free(property->text);
  if (!packed(property)) sys_alloc_free(property);
}

void didl_object_free(didl_object *object)
{
  if (!object) return;
  attributes_free(&object->attributes);
  for (uint32_t i = 0; i < object->properties.len; i++) didl_property_free(property_at(object, i));
  if (!borrowed(&object->properties)) sys_ptralloc_free(&object->properties);
  if (packed(object)) block_free(object);
  else sys_alloc_free(object);
}

void didl_object_array_free(sys_ptralloc_rec *objects)
{
  if (!objects) return;
  for (uint32_t i = objects->len; i > 0; i--) didl_object_free(static_cast<didl_object *>(objects->buf[i - 1]));
  sys_ptralloc_free(objects);
  *objects = sys_ptralloc_rec{};
}

int didl_property_clone(const didl_property *property, didl_property **out)
{
  auto *p = static_cast<didl_property *>(sys_alloc_zero(sizeof(didl_property)));
  if (!p) return 0;
  p->element = property->element;
  if (!value_copy(property->element, property->text, &p->text) ||
      !attributes_clone(&property->attributes, &p->attributes)) {
    didl_property_free(p);
    return 0;
  }
  *out = p;
  return 1;
}

int didl_object_clone(const didl_object *object, didl_object **out)
{
  auto *o = static_cast<didl_object *>(sys_alloc_zero(sizeof(didl_object)));
  if (!o) return 0;
  o->element = object->element;
  bool ok = attributes_clone(&object->attributes, &o->attributes) &&
            (!object->properties.len || sys_ptralloc_ready(&o->properties, object->properties.len));
  for (uint32_t i = 0; ok && i < object->properties.len; i++) {
    didl_property *p;
    ok = didl_property_clone(property_at(object, i), &p);
    if (ok) o->properties.buf[o->properties.len++] = p;
  }
  if (!ok) {
    didl_object_free(o);
    return 0;
  }
  *out = o;
  return 1;
}

uint32_t didl_attribute_index(const didl_attributes *attributes, const char *name)
{
  uint32_t i = 0;
  while (i < attributes->names.len && name_at(attributes, i) != name) i++;
  return i;
}

const char *didl_attribute_get(const didl_attributes *attributes, const char *name)
{
  uint32_t i = didl_attribute_index(attributes, name);
  return i < attributes->names.len ? value_at(attributes, i) : nullptr;
}

int didl_attribute_add(didl_attributes *attributes, const char *name, const char *value)
{
  char *v;
  if (!value_new(name, value, &v)) return 0;
  if (attribute_push(attributes, name, v)) return 1;
  didl_value_free(v);
  return 0;
}

int didl_attribute_set(didl_attributes *attributes, const char *name, const char *value)
{
  uint32_t i = didl_attribute_index(attributes, name);
  if (i == attributes->names.len) return didl_attribute_add(attributes, name, value);
  char *v;
  if (!value_new(name, value, &v)) return 0;
  didl_value_free(static_cast<char *>(attributes->values.buf[i]));
  attributes->values.buf[i] = v;
  return 1;
}

int didl_attribute_remove(didl_attributes *attributes, const char *name)
{
  uint32_t i = didl_attribute_index(attributes, name);
  if (i == attributes->names.len) return 0;
  if (!room_for(&attributes->names, attributes->names.len)) return 0;
  didl_value_free(static_cast<char *>(attributes->values.buf[i]));
  sys_ptralloc_remove(&attributes->names, i);
  sys_ptralloc_remove(&attributes->values, i);
  return 1;
}

int didl_attribute_list_append(didl_attributes *attributes, const char *name, const char *text)
{
  uint32_t i = didl_attribute_index(attributes, name);
  if (i == attributes->names.len) return didl_attribute_add(attributes, name, text);
  char *v;
  if (!joined(value_at(attributes, i), ',', text ? text : "", &v)) return 0;
  didl_value_free(static_cast<char *>(attributes->values.buf[i]));
  attributes->values.buf[i] = v;
  return 1;
}

int didl_list_remove(char *list, const char *entry)
{
  std::string_view want(entry ? entry : "");
  size_t len = std::strlen(list);
  for (size_t start = 0;;) {
    size_t end = start;
    while (end < len && list[end] != ',') end++;
    if (std::string_view(list + start, end - start) == want) {
      // The entry leaves with the comma behind it, or the one before it
      // when it is the last.
      size_t from = start, to = end;
      if (to < len) to++;
      else if (from > 0) from--;
      std::memmove(list + from, list + to, len - to + 1);
      return 1;
    }
    if (end == len) return 0;
    start = end + 1;
  }
}

int didl_counter_add(didl_attributes *attributes, const char *name, int64_t amount)
{
  uint64_t v = 0;
  const char *old = didl_attribute_get(attributes, name);
  if (old) sys_str_scan_uint64(old, &v);
  if (amount < 0) {
    uint64_t m = uint64_t(0) - uint64_t(amount);
    v = v > m ? v - m : 0;
  } else {
    v = UINT64_MAX - v < uint64_t(amount) ? UINT64_MAX : v + uint64_t(amount);
  }
  char buf[24];
  buf[sys_str_fmt_uint64(buf, v)] = 0;
  return didl_attribute_set(attributes, name, buf);
}

uint32_t didl_property_index(const didl_object *object, const char *element)
{
  uint32_t i = 0;
  while (i < object->properties.len && property_at(object, i)->element != element) i++;
  return i;
}

didl_property *didl_property_first(const didl_object *object, const char *element)
{
  uint32_t i = didl_property_index(object, element);
  return i < object->properties.len ? property_at(object, i) : nullptr;
}

int didl_property_add(didl_object *object, const char *element, const char *text, didl_property **out)
{
  auto *p = static_cast<didl_property *>(sys_alloc_zero(sizeof(didl_property)));
  if (!p) return 0;
  p->element = element;
  if (!value_new(element, text, &p->text) || !didl::property_push(object, p)) {
    didl_property_free(p);
    return 0;
  }
  if (out) *out = p;
  return 1;
}

int didl_property_equal(const didl_property *a, const didl_property *b)
{
  if (a->element != b->element || std::strcmp(a->text, b->text) ||
      a->attributes.names.len != b->attributes.names.len)
    return 0;
  for (uint32_t i = 0; i < a->attributes.names.len; i++) {
    const char *v = didl_attribute_get(&b->attributes, name_at(&a->attributes, i));
    if (!v || std::strcmp(v, value_at(&a->attributes, i))) return 0;
  }
  return 1;
}

uint32_t didl_property_find_equal(const sys_ptralloc_rec *properties, const didl_property *property)
{
  uint32_t i = 0;
  while (i < properties->len && !didl_property_equal(static_cast<didl_property *>(properties->buf[i]), property)) i++;
  return i;
}

int didl_string_replace(char **s, const char *text)
{
  char *copy;
  if (!value_new(nullptr, text, &copy)) return 0;
  didl_value_free(*s);
  *s = copy;
  return 1;
}

void didl_value_free(char *value)
{
  if (!shared(value) && !packed(value)) sys_alloc_free(value);
}

void didl_object_fit(didl_object *object)
{
  names_share(&object->attributes.names);
  fit(&object->attributes.values);
  fit(&object->properties);
  for (uint32_t i = 0; i < object->properties.len; i++) {
    didl_property *p = property_at(object, i);
    names_share(&p->attributes.names);
    fit(&p->attributes.values);
  }
}

int didl_csv_next(const char *text, uint32_t *position, char *buffer, uint32_t size)
{
  const char *start = text + *position;
  if (!*start) return 0;
  uint32_t n = sys_str_chr(start, ',');
  if (n >= size) return 0;
  std::memcpy(buffer, start, n);
  buffer[n] = 0;
  *position += n + (start[n] == ',');
  return 1;
}

int didl_class_allowed_create(const didl_object *container, const char *class_text)
{
  return class_allowed(container, DIDL_EL_UPNP_CREATE_CLASS, class_text);
}

int didl_class_allowed_search(const didl_object *container, const char *class_text)
{
  return class_allowed(container, DIDL_EL_UPNP_SEARCH_CLASS, class_text);
}

int didl_required_property(const char *element)
{
  for (int i : {DIDL_EL_DC_TITLE, DIDL_EL_UPNP_CLASS, DIDL_EL_UPNP_STORAGE_TOTAL, DIDL_EL_UPNP_STORAGE_USED,
                DIDL_EL_UPNP_STORAGE_FREE, DIDL_EL_UPNP_STORAGE_MAX_PARTITION, DIDL_EL_UPNP_STORAGE_MEDIUM})
    if (element == didl::name_of(i)) return 1;
  return 0;
}

int didl_fixed_property(const char *element, int is_search)
{
  return element == DIDL_NAME(EL_UPNP_CLASS) || element == DIDL_NAME(EL_UPNP_CREATE_CLASS) ||
         (!is_search && element == DIDL_NAME(EL_UPNP_SEARCH_CLASS));
}

}  // extern "C"
