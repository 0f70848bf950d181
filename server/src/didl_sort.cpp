// Sort criteria over the server's records; values are ordered by the
// object model's comparator.
#include "didl_impl.h"

#include <tarvo_util/dlna.h>

namespace {

// The value a key reads from an object, or nullptr: an attribute of the
// object, else the first property of the key's element (with the
// attribute, the first such property that has it).
const char *key_value(const avcp_didl_sort_key *key, const didl_object *object)
{
  avcp_didl_name_pair pair{key->element, key->attribute};
  if (didl::names_object(pair)) return didl::object_attribute(object, pair);
  const char *found = nullptr;
  didl::property_values(object, pair, [&](const char *v) {
    found = v;
    return false;
  });
  return found;
}

int compare(const void *a, const void *b, void *criteria)
{
  const auto *oa = *static_cast<didl_object *const *>(a);
  const auto *ob = *static_cast<didl_object *const *>(b);
  const auto *c = static_cast<const didl_sort_criteria *>(criteria);
  for (uint32_t i = 0; i < c->keys.len; i++) {
    const auto *key = static_cast<const avcp_didl_sort_key *>(c->keys.buf[i]);
    int r = avcp_didl_sort_value_compare(key, key_value(key, oa), key_value(key, ob));
    if (r) return r;
  }
  return 0;
}

// An item with its key values read once, so that the sort compares
// values and never walks property lists again.
struct decorated {
  void *item;
  const char **values;
};

int compare_decorated(const void *a, const void *b, void *criteria)
{
  const auto *da = static_cast<const decorated *>(a);
  const auto *db = static_cast<const decorated *>(b);
  const auto *c = static_cast<const didl_sort_criteria *>(criteria);
  for (uint32_t i = 0; i < c->keys.len; i++) {
    const auto *key = static_cast<const avcp_didl_sort_key *>(c->keys.buf[i]);
    int r = avcp_didl_sort_value_compare(key, da->values[i], db->values[i]);
    if (r) return r;
  }
  return 0;
}

}  // namespace

extern "C" {

int didl_sort_parse(didl_sort_criteria *record, const char *text, int allow_private)
{
  *record = didl_sort_criteria{};
  if (!text) return 0;
  if (!*text) return 1;
  sys_str_list pieces = nullptr;
  if (!csv_split(text, &pieces)) return 0;
  didl_sort_criteria c{};
  bool ok = true;
  for (char **p = pieces; ok && *p; p++) {
    char sign = **p, *name, *attribute;
    avcp_didl_split_name_attribute(*p + (sign ? 1 : 0), &name, &attribute);
    avcp_didl_name_pair pair;
    ok = (sign == '+' || sign == '-') && didl_name_pair_checked(name, attribute, allow_private, &pair) &&
         didl_value_type(&pair) != AVCP_DIDL_TYPE_UNKNOWN;
    auto *key = ok ? static_cast<avcp_didl_sort_key *>(sys_alloc(sizeof(avcp_didl_sort_key))) : nullptr;
    if (key) *key = {sign == '+', didl_value_type(&pair), pair.element, pair.attribute};
    ok = key && sys_ptralloc_append(&c.keys, key);
    if (!ok) sys_alloc_free(key);
  }
  sys_str_list_free(pieces);
  if (!ok) {
    didl_sort_free(&c);
    return 0;
  }
  *record = c;
  return 1;
}

void didl_sort_values(const didl_sort_criteria *record, const didl_object *object, const char **values)
{
  for (uint32_t k = 0; k < record->keys.len; k++)
    values[k] = key_value(static_cast<const avcp_didl_sort_key *>(record->keys.buf[k]), object);
}

int didl_sort_by_values(const didl_sort_criteria *record, void **items, const char **values, uint32_t count)
{
  auto *entries = static_cast<decorated *>(sys_alloc(size_t(count) * sizeof(decorated)));
  if (!entries) return 0;
  for (uint32_t i = 0; i < count; i++) entries[i] = {items[i], const_cast<const char **>(values) + size_t(i) * record->keys.len};
  sort_quick(entries, count, sizeof(decorated), const_cast<didl_sort_criteria *>(record), compare_decorated);
  for (uint32_t i = 0; i < count; i++) items[i] = entries[i].item;
  sys_alloc_free(entries);
  return 1;
}

void didl_sort(const didl_sort_criteria *record, didl_object **objects, uint32_t count)
{
  if (!record || !objects || !record->keys.len) return;
  uint32_t nkeys = record->keys.len;
  auto *values = static_cast<const char **>(sys_alloc(size_t(count) * nkeys * sizeof(const char *)));
  for (uint32_t i = 0; values && i < count; i++) didl_sort_values(record, objects[i], values + size_t(i) * nkeys);
  // Without room for the read-ahead values, the plain sort still orders.
  if (!values || !didl_sort_by_values(record, reinterpret_cast<void **>(objects), values, count))
    sort_quick(objects, count, sizeof(didl_object *), const_cast<didl_sort_criteria *>(record), compare);
  sys_alloc_free(values);
}

void didl_sort_free(didl_sort_criteria *record)
{
  if (!record) return;
  for (uint32_t i = 0; i < record->keys.len; i++) sys_alloc_free(record->keys.buf[i]);
  sys_ptralloc_free(&record->keys);
  *record = didl_sort_criteria{};
}

}  // extern "C"
