// Clusters: objects grouped by the value of one name, or by a part of
// their date.
#include "avcp_didl_impl.h"

#include <tarvo_avcp/avcp_didl_cluster.h>
#include <tarvo_util/sys_time.h>

#include <cstring>

namespace {

// One group: its objects and its key (text for clusters, number for date
// clusters).
struct group {
  sys_ptralloc_rec objects;
  const char *text;
  int32_t number;
};

struct grouping {
  sys_ptralloc_rec groups;

  void release()
  {
    for (uint32_t i = 0; i < groups.len; i++) {
      auto *g = static_cast<group *>(groups.buf[i]);
      sys_ptralloc_free(&g->objects);
      sys_alloc_free(g);
    }
    sys_ptralloc_free(&groups);
  }

  // Appends the object to the first group that fits, or to a new one at
  // the end.
  template <class Fits> bool put(avcp_didl_object *object, Fits fits, const char *text, int32_t number)
  {
    for (uint32_t i = 0; i < groups.len; i++) {
      auto *g = static_cast<group *>(groups.buf[i]);
      if (fits(*g)) return sys_ptralloc_append(&g->objects, object);
    }
    auto *g = static_cast<group *>(sys_alloc_zero(sizeof(group)));
    if (!g) return false;
    g->text = text;
    g->number = number;
    if (sys_ptralloc_append(&g->objects, object) && sys_ptralloc_append(&groups, g)) return true;
    sys_ptralloc_free(&g->objects);
    sys_alloc_free(g);
    return false;
  }

  // Moves every group's objects into a new result; the groups stay, empty.
  // Everything that can fail happens before the first group is touched.
  template <class Result, class Key> bool final(Result ***out, Key key)
  {
    auto **results = static_cast<Result **>(sys_alloc_zero((size_t(groups.len) + 1) * sizeof(Result *)));
    bool ok = results != nullptr;
    for (uint32_t i = 0; ok && i < groups.len; i++) {
      results[i] = static_cast<Result *>(sys_alloc_zero(sizeof(Result)));
      ok = results[i] && sys_ptralloc_readyplus(&static_cast<group *>(groups.buf[i])->objects, 1);
    }
    if (!ok) {
      for (uint32_t i = 0; results && i < groups.len; i++) sys_alloc_free(results[i]);
      sys_alloc_free(results);
      return false;
    }
    for (uint32_t i = 0; i < groups.len; i++) {
      auto *g = static_cast<group *>(groups.buf[i]);
      sys_ptralloc_append(&g->objects, nullptr);
      key(*results[i], *g);
      results[i]->objects = reinterpret_cast<avcp_didl_object **>(g->objects.buf);
      g->objects = sys_ptralloc_rec{};
    }
    *out = results;
    return true;
  }
};

template <class Result> void results_free(Result **results)
{
  if (!results) return;
  for (Result **r = results; *r; r++) {
    sys_alloc_free((*r)->objects);
    sys_alloc_free(*r);
  }
  sys_alloc_free(results);
}

// Sign of a key order as the result sorts want it: s when ascending, -s
// otherwise; "missing" keys go last when ascending.
template <class Result, class Missing, class Order>
int result_compare(const void *a, const void *b, void *ctx, Missing missing, Order order)
{
  const Result *x = *static_cast<Result *const *>(a);
  const Result *y = *static_cast<Result *const *>(b);
  int s = *static_cast<int *>(ctx) ? 1 : -1;
  bool mx = missing(*x), my = missing(*y);
  if (mx || my) return mx == my ? 0 : mx ? s : -s;
  int r = order(*x, *y);
  return s * (r < 0 ? -1 : r > 0);
}

template <class Result> void results_sort(Result **results, uint32_t count, int ascending, sort_quick_cmp cmp)
{
  if (!results) return;
  int asc = ascending != 0;
  sort_quick(results, count, sizeof(Result *), &asc, cmp);
}

// Year, month, day of a date text, or false when it does not begin with
// digits, "-", digits, "-", digits.
bool date_read(const char *s, int32_t ymd[3])
{
  for (int k = 0; k < 3; k++) {
    if (k && *s++ != '-') return false;
    uint32_t n = 0;
    int64_t v = 0;
    for (; s[n] >= '0' && s[n] <= '9'; n++) {
      v = v * 10 + (s[n] - '0');
      // A number too long for the field is no date.
      if (v > INT32_MAX) return false;
    }
    if (!n) return false;
    ymd[k] = int32_t(v);
    s += n;
  }
  return true;
}

int32_t weekday(const int32_t ymd[3])
{
  sys_caltime_rec cal{};
  cal.year = ymd[0];
  cal.month = ymd[1];
  cal.day = ymd[2];
  int64_t t;
  sys_caltime_rec local{};
  if (!sys_caltime_local_to(&cal, &t) || !sys_caltime_local_from(&local, &t)) return -1;
  return local.weekday;
}

}  // namespace

struct avcp_didl_cluster {
  avcp_didl_name_pair key;
  grouping g;
};

struct avcp_didl_date_cluster {
  int part;
  int prefer_scheduled;
  const char *date_name;
  const char *scheduled_name;
  grouping g;
};

extern "C" {

int avcp_didl_cluster_init(avcp_didl_cluster **handle, const char *key_text)
{
  *handle = nullptr;
  if (!key_text) return 0;
  avcp_didl_name_pair key = avcp_didl::pair_from(std::string_view(key_text));
  if (!key.attribute && avcp_didl::names_object(key)) return 0;
  auto *c = static_cast<avcp_didl_cluster *>(sys_alloc_zero(sizeof(avcp_didl_cluster)));
  if (!c) return 0;
  c->key = key;
  *handle = c;
  return 1;
}

int avcp_didl_cluster_add(avcp_didl_cluster **handle, avcp_didl_object *object)
{
  return avcp_didl_cluster_add2(handle, object, 1);
}

int avcp_didl_cluster_add2(avcp_didl_cluster **handle, avcp_didl_object *object, int exact)
{
  if (!handle || !*handle || !object) return 0;
  avcp_didl_cluster *c = *handle;
  auto put = [&](const char *value) {
    auto fits = [&](const group &g) {
      if (!value || !g.text) return value == g.text;
      return exact ? !std::strcmp(value, g.text) : !sys_str_case_diff(value, g.text);
    };
    return c->g.put(object, fits, value, 0);
  };
  if (avcp_didl::names_object(c->key))
    return put(avcp_didl_attribute_find(object->attribute_names, object->attribute_values, c->key.attribute));
  bool any = false;
  if (object->properties)
    for (avcp_didl_property **p = object->properties; *p; p++) {
      if ((*p)->element != c->key.element) continue;
      const char *v = c->key.attribute
                          ? avcp_didl_attribute_find((*p)->attribute_names, (*p)->attribute_values, c->key.attribute)
                          : (*p)->text;
      if (!v) continue;
      any = true;
      if (!put(v)) return 0;
    }
  return any || put(nullptr);
}

int avcp_didl_cluster_final(avcp_didl_cluster **handle, avcp_didl_cluster_result ***results_out)
{
  if (!handle || !*handle) return 0;
  return (*handle)->g.final(results_out, [](avcp_didl_cluster_result &r, const group &g) { r.key = g.text; });
}

int avcp_didl_cluster_result_compare(const void *a, const void *b, void *ctx)
{
  return result_compare<avcp_didl_cluster_result>(
      a, b, ctx, [](const avcp_didl_cluster_result &r) { return !r.key; },
      [](const avcp_didl_cluster_result &x, const avcp_didl_cluster_result &y) {
        return sys_str_case_diff(x.key, y.key);
      });
}

void avcp_didl_cluster_result_sort(avcp_didl_cluster_result **results, uint32_t count, int ascending)
{
  results_sort(results, count, ascending, avcp_didl_cluster_result_compare);
}

void avcp_didl_cluster_result_list_free(avcp_didl_cluster_result **results)
{
  results_free(results);
}

void avcp_didl_cluster_free(avcp_didl_cluster **handle)
{
  if (!handle || !*handle) return;
  (*handle)->g.release();
  sys_alloc_free(*handle);
  *handle = nullptr;
}

int avcp_didl_date_cluster_init(avcp_didl_date_cluster **handle, int part, int prefer_scheduled)
{
  *handle = nullptr;
  if (!part) return 0;
  auto *c = static_cast<avcp_didl_date_cluster *>(sys_alloc_zero(sizeof(avcp_didl_date_cluster)));
  if (!c) return 0;
  c->part = part;
  c->prefer_scheduled = prefer_scheduled;
  c->date_name = AVCP_DIDL_NAME(EL_DC_DATE);
  c->scheduled_name = AVCP_DIDL_NAME(EL_UPNP_SCHEDULED_START_TIME);
  *handle = c;
  return 1;
}

int avcp_didl_date_cluster_add(avcp_didl_date_cluster **handle, avcp_didl_object *object)
{
  if (!handle || !*handle || !object) return 0;
  avcp_didl_date_cluster *c = *handle;
  const avcp_didl_property *p = c->prefer_scheduled ? avcp_didl_property_find(object, c->scheduled_name) : nullptr;
  if (!p) p = avcp_didl_property_find(object, c->date_name);
  int32_t key = -1, ymd[3];
  if (p && p->text && date_read(p->text, ymd)) {
    if (c->part >= AVCP_DIDL_DATE_YEAR && c->part <= AVCP_DIDL_DATE_DAY) key = ymd[c->part - 1] ? ymd[c->part - 1] : -1;
    else if (c->part == AVCP_DIDL_DATE_WEEKDAY) key = weekday(ymd);
  }
  return c->g.put(object, [key](const group &g) { return g.number == key; }, nullptr, key);
}

int avcp_didl_date_cluster_final(avcp_didl_date_cluster **handle, avcp_didl_date_cluster_result ***results_out)
{
  if (!handle || !*handle) return 0;
  return (*handle)->g.final(results_out, [](avcp_didl_date_cluster_result &r, const group &g) { r.key = g.number; });
}

int avcp_didl_date_cluster_result_compare(const void *a, const void *b, void *ctx)
{
  return result_compare<avcp_didl_date_cluster_result>(
      a, b, ctx, [](const avcp_didl_date_cluster_result &r) { return r.key == -1; },
      [](const avcp_didl_date_cluster_result &x, const avcp_didl_date_cluster_result &y) {
        return x.key < y.key ? -1 : x.key > y.key;
      });
}

void avcp_didl_date_cluster_result_sort(avcp_didl_date_cluster_result **results, uint32_t count, int ascending)
{
  results_sort(results, count, ascending, avcp_didl_date_cluster_result_compare);
}

void avcp_didl_date_cluster_result_list_free(avcp_didl_date_cluster_result **results)
{
  results_free(results);
}

void avcp_didl_date_cluster_free(avcp_didl_date_cluster **handle)
{
  if (!handle || !*handle) return;
  (*handle)->g.release();
  sys_alloc_free(*handle);
  *handle = nullptr;
}

}  // extern "C"
