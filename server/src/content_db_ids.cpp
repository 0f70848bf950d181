// Ids of the index: the codes that lists hold for them, and an entry
// found by its id, its code or its object.
#include "content_db_impl.h"

#include <tarvo_util/sys_str.h>

#include <algorithm>
#include <cstring>

namespace cdb {

bool canonical_number(std::string_view id, uint64_t *value)
{
  if (id.empty() || (id.size() > 1 && id[0] == '0')) return false;
  return id_number(id, value) && *value < CONTENT_ID_TEXT;
}

bool is_special(server_rec *s, std::string_view id)
{
  const sys_ptralloc_rec &sp = db(s).special;
  for (uint32_t i = 0; i < sp.len; i++)
    if (id == static_cast<const char *>(sp.buf[i])) return true;
  return false;
}

bool id_number(std::string_view id, uint64_t *value)
{
  if (id.empty()) return false;
  uint64_t v = 0;
  // Up to 19 digits fit in 64 bits: a load reads millions of ids.
  bool may_overflow = id.size() > 19;
  for (char c : id) {
    if (c < '0' || c > '9') return false;
    uint64_t d = uint64_t(c - '0');
    if (may_overflow && v > (UINT64_MAX - d) / 10) return false;
    v = v * 10 + d;
  }
  *value = v;
  return true;
}

bool id_code(server_rec *s, std::string_view id, bool add, uint64_t *code)
{
  if (canonical_number(id, code)) return true;
  sys_ptralloc_rec &t = db(s).id_texts;
  for (uint32_t i = 0; i < t.len; i++)
    if (id == static_cast<const char *>(t.buf[i])) {
      *code = CONTENT_ID_TEXT | i;
      return true;
    }
  if (!add) return false;
  sys_stralloc_rec sa{};
  if (!sys_stralloc_copyb(&sa, id.data(), uint32_t(id.size())) || !sys_stralloc_append(&sa, "") ||
      !sys_ptralloc_append(&t, sa.buf)) {
    sys_stralloc_free(&sa);
    return false;
  }
  *code = CONTENT_ID_TEXT | (t.len - 1);
  return true;
}

const char *code_text(server_rec *s, uint64_t code, char *buffer)
{
  if (!(code & CONTENT_ID_TEXT)) {
    buffer[sys_str_fmt_uint64(buffer, code)] = 0;
    return buffer;
  }
  uint64_t i = code & ~CONTENT_ID_TEXT;
  return i < db(s).id_texts.len ? static_cast<const char *>(db(s).id_texts.buf[i]) : nullptr;
}

bool code_append(server_rec *s, uint64_t code, sys_stralloc_rec *out)
{
  char buf[CONTENT_DB_NUMBER_SIZE];
  const char *text = code_text(s, code, buf);
  return text && sys_stralloc_cats(out, text);
}

namespace {

// The position of a plain number among the entries after the root.
uint32_t find_number(server_rec *s, uint64_t v)
{
  content_db_rec &d = db(s);
  uint32_t count = d.index.len, lo = d.root + 1, hi = count;
  while (lo < hi) {
    uint32_t mid = lo + (hi - lo) / 2;
    if (entry_at(s, mid)->number < v) lo = mid + 1;
    else hi = mid;
  }
  return lo < count && entry_at(s, lo)->number == v ? lo : count;
}

}  // namespace

uint32_t find_id(server_rec *s, std::string_view id)
{
  content_db_rec &d = db(s);
  uint32_t count = d.index.len;
  if (id.empty() || d.root >= count) return count;
  if (id == "0") return d.root;
  if (is_special(s, id)) {
    for (uint32_t i = 0; i < d.root; i++) {
      const char *own = id_of(entry_at(s, i)->object);
      if (own && id == own) return i;
    }
    return count;
  }
  uint64_t v;
  if (!id_number(id, &v)) return count;
  return find_number(s, v);
}

uint32_t find_code(server_rec *s, uint64_t code)
{
  if (!(code & CONTENT_ID_TEXT)) {
    content_db_rec &d = db(s);
    if (code && d.root < d.index.len && !d.special_numbers) return find_number(s, code);
    char buf[CONTENT_DB_NUMBER_SIZE];
    return find_id(s, std::string_view(buf, sys_str_fmt_uint64(buf, code)));
  }
  uint64_t i = code & ~CONTENT_ID_TEXT;
  if (i >= db(s).id_texts.len) return db(s).index.len;
  return find_id(s, static_cast<const char *>(db(s).id_texts.buf[i]));
}

position_finder::position_finder(server_rec *s) : s_(s)
{
  content_db_rec &d = db(s);
  if (d.root + 1 < d.index.len) {
    uint32_t first = d.root + 1, n = d.index.len - first;
    uint64_t largest = entry_at(s, d.index.len - 1)->number;  // the numbers are in order
    if (largest / CONTENT_DB_CHECK_SPAN <= n) {
      by_number_.assign(size_t(largest) + 1, 0);
      // The first of equal numbers, as find_number gives it.
      for (uint32_t i = n; i-- > 0;) by_number_[entry_at(s, first + i)->number] = i + 1;
    } else {
      numbers_.reserve(n);
      for (uint32_t i = first; i < d.index.len; i++) numbers_.push_back(entry_at(s, i)->number);
    }
  }
  // The few ids that are texts (the special containers') stand in many lists.
  texts_.reserve(d.id_texts.len);
  for (uint32_t i = 0; i < d.id_texts.len; i++) texts_.push_back(find_id(s, static_cast<const char *>(d.id_texts.buf[i])));
}

uint32_t position_finder::number(uint64_t v, uint32_t *hint) const
{
  if (!by_number_.empty()) {
    uint32_t place = v < by_number_.size() ? by_number_[v] : 0;
    return place ? db(s_).root + place : db(s_).index.len;
  }
  size_t n = numbers_.size(), lo = 0, hi = n;
  const uint64_t *at = numbers_.data();
  if (*hint < n && at[*hint] < v) {
    // From the last hit onwards in growing steps: a list's next object
    // mostly lies a few places further on.
    size_t step = 1;
    lo = *hint + 1;
    while (lo + step < n && at[lo + step - 1] < v) {
      lo += step;
      step *= 2;
    }
    hi = std::min(n, lo + step);
  } else if (*hint < n && at[*hint] == v && (*hint == 0 || at[*hint - 1] < v)) {
    return db(s_).root + 1 + *hint;
  }
  // The first of equal numbers, as find_number gives it.
  size_t i = size_t(std::lower_bound(at + lo, at + hi, v) - at);
  if (i >= n || at[i] != v) return db(s_).index.len;
  *hint = uint32_t(i);
  return db(s_).root + 1 + *hint;
}

uint32_t position_finder::code(uint64_t code, uint32_t *hint) const
{
  if (!(code & CONTENT_ID_TEXT) && code && !db(s_).special_numbers && db(s_).root < db(s_).index.len)
    return number(code, hint);
  uint64_t text = code & ~CONTENT_ID_TEXT;
  if ((code & CONTENT_ID_TEXT) && text < texts_.size()) return texts_[text];
  return find_code(s_, code);
}

uint32_t position_finder::id(const char *id, uint32_t *hint) const
{
  uint64_t v;
  // The root's and the special containers' ids, and any that is not a
  // number, the way find_id looks for them.
  if (!id || db(s_).special_numbers || db(s_).root >= db(s_).index.len || !std::strcmp(id, "0") ||
      !id_number(id, &v))
    return find_id(s_, id ? id : "");
  return number(v, hint);
}

content_entry *live_entry(server_rec *s, std::string_view id)
{
  uint32_t pos = find_id(s, id);
  if (pos >= db(s).index.len || removed(entry_at(s, pos))) return nullptr;
  return entry_at(s, pos);
}

content_entry *live_code(server_rec *s, uint64_t code)
{
  uint32_t pos = find_code(s, code);
  if (pos >= db(s).index.len || removed(entry_at(s, pos))) return nullptr;
  return entry_at(s, pos);
}

content_entry *entry_of(server_rec *s, const didl_object *o)
{
  if (!o) return nullptr;
  const char *id = id_of(o);
  uint32_t pos = find_id(s, id ? id : "");
  if (pos < db(s).index.len && entry_at(s, pos)->object == o) return entry_at(s, pos);
  // Two objects of one id (a file edited by hand): look for this one.
  for (uint32_t i = 0; i < db(s).index.len; i++)
    if (entry_at(s, i)->object == o) return entry_at(s, i);
  return nullptr;
}

}  // namespace cdb
