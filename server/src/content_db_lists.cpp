// The kept lists of ids (a container's children, an item's references):
// their blocks, their text in the file, and their objects.
#include "content_db_impl.h"

#include <algorithm>

namespace cdb {

namespace {

// Room for at least n codes in the list's block.
bool list_room(content_id_list *l, uint32_t n)
{
  uint32_t len = content_id_list_len(l), a = l->p ? l->p->a : 0;
  if (n <= a) return true;
  if (n > (UINT32_MAX - sizeof(content_id_block)) / sizeof(uint64_t)) return false;
  void *p = l->p;
  if (!sys_alloc_re(&p, l->p ? sizeof(content_id_block) + size_t(a) * sizeof(uint64_t) : 0,
                    sizeof(content_id_block) + size_t(n) * sizeof(uint64_t)))
    return false;
  l->p = static_cast<content_id_block *>(p);
  l->p->len = len;
  l->p->a = n;
  return true;
}

}  // namespace

bool list_append(content_id_list *l, uint64_t code)
{
  uint32_t len = content_id_list_len(l), a = l->p ? l->p->a : 0;
  // Most lists are short (the references of one file, a folder of a few
  // files): they grow by two codes at first, a block of the allocator's
  // next size; long ones by half.
  if (len == a && !list_room(l, a < 8 ? a + 2 - a % 2 : a + a / 2 + 8)) return false;
  l->p->codes[l->p->len++] = code;
  return true;
}

void list_pop(content_id_list *l)
{
  if (l->p && l->p->len) l->p->len--;
}

void list_free(content_id_list *l)
{
  sys_alloc_free(l->p);
  *l = content_id_list{};
}

bool list_parse(server_rec *s, const char *text, content_id_list *l)
{
  std::string_view rest(text ? text : "");
  // The file gives the whole list at once: room for just its codes.
  if (!rest.empty() && !list_room(l, content_id_list_len(l) + uint32_t(std::count(rest.begin(), rest.end(), ',')) + 1))
    return false;
  while (!rest.empty()) {
    size_t comma = rest.find(',');
    std::string_view id = rest.substr(0, comma);
    uint64_t code = 0;
    // Most are numbers of a few digits, their own codes: read in place.
    bool plain = !id.empty() && id.size() < 19 && (id.size() == 1 || id[0] != '0');
    for (size_t i = 0; plain && i < id.size(); i++) {
      plain = id[i] >= '0' && id[i] <= '9';
      code = code * 10 + uint64_t(id[i] - '0');
    }
    if ((!plain && !id_code(s, id, true, &code)) || !list_append(l, code)) return false;
    if (comma == rest.npos) break;
    rest.remove_prefix(comma + 1);
  }
  return true;
}

bool list_text(server_rec *s, const content_id_list *l, sys_stralloc_rec *out)
{
  const uint64_t *codes = content_id_list_codes(l);
  for (uint32_t i = 0; i < content_id_list_len(l); i++)
    if ((i && !sys_stralloc_cats(out, ",")) || !code_append(s, codes[i], out)) return false;
  return true;
}

// Drops from a list the codes of entries that the destroy removed.
void list_close_up(server_rec *s, content_id_list *l)
{
  uint32_t j = 0, n = content_id_list_len(l);
  uint64_t *codes = content_id_list_codes(l);
  for (uint32_t i = 0; i < n; i++) {
    uint32_t pos = find_code(s, codes[i]);
    if (pos < db(s).index.len && removed(entry_at(s, pos))) continue;
    codes[j++] = codes[i];
  }
  if (l->p) l->p->len = j;
}

// The objects of a list that still exist, appended in list order.
bool live_objects_append(server_rec *s, const content_id_list *l, sys_ptralloc_rec *objects)
{
  const uint64_t *codes = content_id_list_codes(l);
  for (uint32_t i = 0; i < content_id_list_len(l); i++) {
    content_entry *e = live_code(s, codes[i]);
    didl_object *o = e ? object_of(s, e) : nullptr;
    if (e && (!o || !sys_ptralloc_append(objects, o))) return false;
  }
  return true;
}

}  // namespace cdb
