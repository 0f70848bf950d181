// Sort criteria and the comparator that orders objects by them.
#include "avcp_didl_impl.h"

#include <tarvo_avcp/avcp_didl_criteria.h>
#include <tarvo_util/dlna.h>

#include <cstring>

namespace {

void criteria_free(avcp_didl_sort_criteria *c)
{
  for (uint32_t i = 0; i < c->keys.len; i++) sys_alloc_free(c->keys.buf[i]);
  sys_ptralloc_free(&c->keys);
  sys_alloc_free(c);
}

template <class T> int three_way(T a, T b) { return a < b ? -1 : a > b; }

// A number of the key's kind read from text; false when nothing could be
// read.
template <class T> bool number_read(uint32_t (*scan)(const char *, T *), const char *s, T *v)
{
  *v = 0;
  return scan(s, v) > 0;
}

bool boolean_read(const char *s, int *v)
{
  *v = !std::strcmp(s, "1") || !std::strcmp(s, "true") || !std::strcmp(s, "yes");
  return *v || !std::strcmp(s, "0") || !std::strcmp(s, "false") || !std::strcmp(s, "no");
}

// Readable values before unreadable ones; two unreadable values are equal.
template <class T, class Read> int readable_compare(Read read, const char *a, const char *b)
{
  T x, y;
  bool ra = read(a, &x), rb = read(b, &y);
  if (ra && rb) return three_way(x, y);
  return ra == rb ? 0 : ra ? -1 : 1;
}

template <class T> int number_compare(uint32_t (*scan)(const char *, T *), const char *a, const char *b)
{
  return readable_compare<T>([scan](const char *s, T *v) { return number_read(scan, s, v); }, a, b);
}

// The value that a key reads from an object, or nullptr.
const char *key_value(const avcp_didl_sort_key *key, const avcp_didl_object *object)
{
  avcp_didl_name_pair pair{key->element, key->attribute};
  if (avcp_didl::names_object(pair)) return avcp_didl::object_attribute(object, pair);
  if (!object->properties) return nullptr;
  for (avcp_didl_property **p = object->properties; *p; p++) {
    if ((*p)->element != pair.element) continue;
    if (!pair.attribute) return (*p)->text;
    const char *v = avcp_didl_attribute_find((*p)->attribute_names, (*p)->attribute_values, pair.attribute);
    if (v) return v;
  }
  return nullptr;
}

}  // namespace

extern "C" {

int avcp_didl_sort_criteria_parse(avcp_didl_sort_criteria **handle, const char *sort_text)
{
  *handle = nullptr;
  if (!sort_text) return 0;
  auto *c = static_cast<avcp_didl_sort_criteria *>(sys_alloc_zero(sizeof(avcp_didl_sort_criteria)));
  if (!c) return 0;
  sys_str_list pieces = nullptr;
  bool ok = !*sort_text || csv_split(sort_text, &pieces);
  for (char **p = pieces; ok && p && *p; p++) {
    char sign = **p;
    auto *key = static_cast<avcp_didl_sort_key *>(sys_alloc_zero(sizeof(avcp_didl_sort_key)));
    ok = key && (sign == '+' || sign == '-') && sys_ptralloc_append(&c->keys, key);
    if (!ok) {
      sys_alloc_free(key);
      break;
    }
    avcp_didl_name_pair pair = avcp_didl::pair_from(std::string_view(*p + 1));
    *key = {sign == '+', avcp_didl_value_type(&pair), pair.element, pair.attribute};
  }
  sys_str_list_free(pieces);
  if (!ok) {
    criteria_free(c);
    return 0;
  }
  *handle = c;
  return 1;
}

int avcp_didl_sort_value_compare(const avcp_didl_sort_key *key, const char *a, const char *b)
{
  int r;
  if (!a || !b) {
    r = a == b ? 0 : a ? -1 : 1;
  } else {
    switch (key->type) {
      case AVCP_DIDL_TYPE_INT32: r = number_compare<int32_t>(sys_str_scan_int32, a, b); break;
      case AVCP_DIDL_TYPE_UINT32: r = number_compare<uint32_t>(sys_str_scan_uint32, a, b); break;
      case AVCP_DIDL_TYPE_INT64: r = number_compare<int64_t>(sys_str_scan_int64, a, b); break;
      case AVCP_DIDL_TYPE_UINT64: r = number_compare<uint64_t>(sys_str_scan_uint64, a, b); break;
      case AVCP_DIDL_TYPE_BOOLEAN: r = readable_compare<int>(boolean_read, a, b); break;
      default: r = three_way(sys_str_case_diff(a, b), 0); break;
    }
  }
  // The one place a descending key turns the order round, missing values
  // included.
  return key->ascending ? r : -r;
}

int avcp_didl_sort_compare(const void *a, const void *b, void *criteria)
{
  const auto *oa = *static_cast<avcp_didl_object *const *>(a);
  const auto *ob = *static_cast<avcp_didl_object *const *>(b);
  const auto *c = static_cast<const avcp_didl_sort_criteria *>(criteria);
  for (uint32_t i = 0; i < c->keys.len; i++) {
    const auto *key = static_cast<const avcp_didl_sort_key *>(c->keys.buf[i]);
    int r = avcp_didl_sort_value_compare(key, key_value(key, oa), key_value(key, ob));
    if (r) return r;
  }
  return 0;
}

void avcp_didl_sort(avcp_didl_sort_criteria *const *handle, avcp_didl_object **objects, uint32_t count)
{
  if (!handle || !*handle || !objects) return;
  sort_quick(objects, count, sizeof(avcp_didl_object *), *handle, avcp_didl_sort_compare);
}

void avcp_didl_sort_criteria_free(avcp_didl_sort_criteria **handle)
{
  if (!handle || !*handle) return;
  criteria_free(*handle);
  *handle = nullptr;
}

}  // extern "C"
