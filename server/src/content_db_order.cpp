// Orders of containers' children kept for Browse: a page of a large
// container then costs its own objects, not a sort of every child.  Kept
// as id codes, so that an order never points at a freed object; the
// container's changes (bump_container) and every reload forget them.
// Each code keeps the index position it was last found at: a destroy
// elsewhere closes the index up, so a position is only a guess, checked
// against the entry there before it is used.
#include "content_db_impl.h"

#include <vennard/vennard_limits.h>

#include <tarvo_util/sys_str.h>

#include <algorithm>
#include <new>
#include <string>
#include <vector>

struct content_db_orders {
  struct kept {
    uint64_t container;
    std::string key;
    std::vector<uint64_t> ids;
    std::vector<uint32_t> at;  // index positions of ids, as last found
    uint64_t used;
  };
  std::vector<kept> orders;
  uint64_t clock = 0;
  size_t ids = 0;  // in all orders
};

using namespace cdb;

namespace {

bool code_of(server_rec *s, const didl_object *o, uint64_t *code)
{
  const char *id = o ? id_of(o) : nullptr;
  return id && id_code(s, id, false, code);
}

// The entry a code stands for, when it is still at the position it was
// found at: the same id, and for a number the first entry of it, as the
// search would find.
bool still_at(server_rec *s, uint64_t code, uint32_t pos)
{
  const content_db_rec &d = db(s);
  if (pos >= d.index.len) return false;
  const content_entry *e = entry_at(s, pos);
  if (!(code & CONTENT_ID_TEXT))
    return pos > d.root && e->number == code && (pos == d.root + 1 || entry_at(s, pos - 1)->number < code);
  uint64_t t = code & ~CONTENT_ID_TEXT;
  const char *id = pos < d.root ? id_of(e->object) : nullptr;
  return pos < d.root && t < d.id_texts.len && id && !sys_str_diff(id, static_cast<const char *>(d.id_texts.buf[t]));
}

// The live entry of a kept code; its position is found again when it has
// moved.
content_entry *kept_entry(server_rec *s, uint64_t code, uint32_t *pos)
{
  if (!still_at(s, code, *pos)) *pos = find_code(s, code);
  if (*pos >= db(s).index.len || removed(entry_at(s, *pos))) return nullptr;
  return entry_at(s, *pos);
}

void drop(content_db_orders *k, size_t i)
{
  k->ids -= k->orders[i].ids.size();
  k->orders.erase(k->orders.begin() + std::ptrdiff_t(i));
}

size_t find(const content_db_orders *k, uint64_t container, const char *key)
{
  for (size_t i = 0; i < k->orders.size(); i++)
    if (k->orders[i].container == container && k->orders[i].key == key) return i;
  return k->orders.size();
}

// Drops the least recently used orders until one of n ids fits.
void room_make(content_db_orders *k, size_t n)
{
  while (!k->orders.empty() &&
         (k->orders.size() >= CONTENT_DB_ORDERS_MAX || k->ids + n > CONTENT_DB_ORDER_IDS_MAX)) {
    auto oldest = std::min_element(k->orders.begin(), k->orders.end(),
                                   [](const auto &a, const auto &b) { return a.used < b.used; });
    drop(k, size_t(oldest - k->orders.begin()));
  }
}

}  // namespace

namespace cdb {

void orders_free(server_rec *s)
{
  delete db(s).orders;
  db(s).orders = nullptr;
}

}  // namespace cdb

extern "C" {

int content_db_order_page(server_rec *s, const didl_object *container, const char *key, uint64_t first,
                          uint64_t count, sys_ptralloc_rec *objects, uint64_t *total)
{
  content_db_orders *k = db(s).orders;
  uint64_t code;
  if (!k || !key || !code_of(s, container, &code)) return 0;
  size_t i = find(k, code, key);
  if (i == k->orders.size()) return 0;
  content_db_orders::kept &o = k->orders[i];
  o.used = ++k->clock;
  uint64_t n = o.ids.size();
  uint64_t from = std::min(first, n), to = count ? std::min(from + std::min(count, n), n) : n;
  uint32_t had = objects->len;
  for (uint64_t at = from; at < to; at++) {
    content_entry *e = kept_entry(s, o.ids[at], &o.at[at]);
    didl_object *made = e ? object_of(s, e) : nullptr;
    if (!made || !sys_ptralloc_append(objects, made)) {
      objects->len = had;
      drop(k, i);
      return 0;
    }
  }
  *total = n;
  return 1;
}

int content_db_order_keep(server_rec *s, const didl_object *container, const char *key,
                          didl_object *const *objects, uint32_t count)
{
  uint64_t code;
  if (!key || count > CONTENT_DB_ORDER_IDS_MAX || !code_of(s, container, &code)) return 0;
  try {
    content_db_orders::kept o{code, key, {}, {}, 0};
    o.ids.resize(count);
    o.at.resize(count);
    for (uint32_t i = 0; i < count; i++) {
      if (!code_of(s, objects[i], &o.ids[i])) return 0;
      o.at[i] = find_code(s, o.ids[i]);
    }
    if (!db(s).orders) db(s).orders = new content_db_orders;
    content_db_orders *k = db(s).orders;
    size_t same = find(k, code, key);
    if (same < k->orders.size()) drop(k, same);
    room_make(k, count);
    o.used = ++k->clock;
    k->orders.push_back(std::move(o));
    k->ids += count;
    return 1;
  } catch (const std::bad_alloc &) {
    return 0;
  }
}

void content_db_order_forget(server_rec *s, const didl_object *container)
{
  content_db_orders *k = db(s).orders;
  if (!k) return;
  uint64_t code;
  if (!container) {
    k->orders.clear();
    k->ids = 0;
  } else if (code_of(s, container, &code)) {
    for (size_t i = k->orders.size(); i-- > 0;)
      if (k->orders[i].container == code) drop(k, i);
  }
}

}  // extern "C"
