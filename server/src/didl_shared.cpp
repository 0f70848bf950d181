// Values and lists of attribute names kept once for every record, in an
// arena that records point into and never free.
#include "didl_impl.h"

#include <tarvo_util/sys_str.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <unordered_set>

namespace didl {

// The values most records repeat (flags, parent ids, classes, protocolInfo,
// genres, artists, albums) and their lists of attribute names are kept once
// for the life of the process, in an arena that the records point into and
// never free: a library of tens of thousands of items would otherwise hold
// each of them tens of thousands of times.  The arena is zero-filled
// storage that only takes memory as it is used; once it is full, records
// keep their own copies.
alignas(void *) char g_arena[DIDL_SHARED_VALUES_SIZE];

namespace {

struct shared_store {
  std::mutex mutex;
  std::unordered_set<std::string_view> values;
  size_t used = 0;
  // Lists of attribute names, as the bytes of their pointers: every
  // reference item, and most items of a kind, name the same attributes.
  std::unordered_set<std::string_view> name_lists;
};

// Never destroyed: a thread may still make records while the process
// exits.
shared_store &store()
{
  static shared_store *s = new shared_store;
  return *s;
}

// Names whose values repeat across records.  Values edited in place (URIs,
// whose server prefix is cut from the front) are never among them.
bool shared_name(const char *name)
{
  // The names looked up once: a load asks for every value it reads.
  static const auto names = [] {
    std::array<const char *, 16> n{};
    size_t k = 0;
    for (int i : {DIDL_AT_PARENT_ID, DIDL_AT_RESTRICTED, DIDL_AT_SEARCHABLE, DIDL_AT_PROTOCOL_INFO,
                  DIDL_AT_INCLUDE_DERIVED, DIDL_AT_DLNA_PROFILE_ID, DIDL_AT_TARVO_FILTER, DIDL_EL_UPNP_CLASS,
                  DIDL_EL_UPNP_CREATE_CLASS, DIDL_EL_UPNP_SEARCH_CLASS, DIDL_EL_UPNP_GENRE, DIDL_EL_UPNP_ARTIST,
                  DIDL_EL_UPNP_ALBUM, DIDL_EL_DC_CREATOR, DIDL_EL_UPNP_WRITE_STATUS, DIDL_EL_UPNP_STORAGE_MEDIUM})
      n[k++] = name_of(i);
    return n;
  }();
  return std::find(names.begin(), names.end(), name) != names.end();
}

// The shared copy of text, or nullptr when it is not kept (too long, a
// control byte that the load would mend in place, or the arena is full).
const char *shared_copy(std::string_view text)
{
  if (text.empty() || text.size() > DIDL_SHARED_VALUE_MAX) return nullptr;
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20) return nullptr;
  // The copies found last, by a few of their bytes: a load or a scan asks
  // for the same few values (parent ids, classes, protocolInfo) over and
  // over.  Copies are never freed, so one remembered stays good.
  static_assert((DIDL_VALUE_CACHE_SLOTS & (DIDL_VALUE_CACHE_SLOTS - 1)) == 0, "a slot is taken by a mask");
  static thread_local std::array<std::string_view, DIDL_VALUE_CACHE_SLOTS> recent;
  auto byte = [&text](size_t i) { return size_t(static_cast<unsigned char>(text[i])); };
  size_t slot = text.size() * 131 + byte(0) * 31 + byte(text.size() - 1) * 7 + byte(text.size() / 2);
  std::string_view &seen = recent[slot & (DIDL_VALUE_CACHE_SLOTS - 1)];
  if (seen == text) return seen.data();
  shared_store &st = store();
  std::lock_guard<std::mutex> lock(st.mutex);
  auto it = st.values.find(text);
  if (it != st.values.end()) {
    seen = *it;
    return it->data();
  }
  if (sizeof g_arena - st.used < text.size() + 1) return nullptr;
  char *copy = g_arena + st.used;
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = 0;
  try {
    st.values.insert(std::string_view(copy, text.size()));
  } catch (...) {
    return nullptr;
  }
  st.used += text.size() + 1;
  seen = std::string_view(copy, text.size());
  return copy;
}

}  // namespace

bool value_new(const char *name, const char *text, char **out)
{
  std::string_view t(text ? text : "");
  const char *copy = nullptr;
  if (t.empty()) copy = kSmall;
  else if (t == "0") copy = kSmall + 1;
  else if (t == "1") copy = kSmall + 3;
  else if (name && shared_name(name)) copy = shared_copy(t);
  if (copy) {
    *out = const_cast<char *>(copy);
    return true;
  }
  return sys_str_clone(text ? text : "", out) != 0;
}

bool value_copy(const char *name, const char *value, char **out)
{
  if (value && shared(value)) {
    *out = const_cast<char *>(value);
    return true;
  }
  return value_new(name, value, out);
}

void names_share(sys_ptralloc_rec *names)
{
  if (!names->len || shared(names->buf)) return;
  std::string_view bytes(reinterpret_cast<const char *>(names->buf), size_t(names->len) * sizeof(void *));
  shared_store &st = store();
  std::lock_guard<std::mutex> lock(st.mutex);
  auto it = st.name_lists.find(bytes);
  if (it == st.name_lists.end()) {
    // In the arena too, aligned for pointers.
    size_t at = (st.used + alignof(void *) - 1) & ~(alignof(void *) - 1);
    if (st.name_lists.size() >= DIDL_SHARED_NAME_LISTS_MAX || sizeof g_arena - at < bytes.size()) return;
    char *copy = g_arena + at;
    std::memcpy(copy, bytes.data(), bytes.size());
    try {
      it = st.name_lists.insert(std::string_view(copy, bytes.size())).first;
    } catch (...) {
      return;
    }
    st.used = at + bytes.size();
  }
  if (names->a) sys_ptralloc_free(names);
  names->buf = reinterpret_cast<void **>(const_cast<char *>(it->data()));
  names->a = 0;
}

bool text_new(const char *element, const char *text, char **out) { return value_new(element, text, out); }

}  // namespace didl

extern "C" {

int didl_value_shared(const void *value) { return didl::shared(value); }

}  // extern "C"
