// Pieces shared by the source files of the server's DIDL-Lite model.
#pragma once

#include <vennard/didl.h>
#include <vennard/vennard_limits.h>

#include <tarvo_util/sys_owner.h>
#include <tarvo_util/xml.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Storage kept by the server itself (packed objects, index entries): under
// the address sanitizer its free pieces are poisoned, and the leak check
// looks for heap pointers in a range that is not the heap.
#if defined(__SANITIZE_ADDRESS__)
#define DIDL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DIDL_ASAN 1
#endif
#endif
#ifdef DIDL_ASAN
#include <sanitizer/asan_interface.h>
#include <sanitizer/lsan_interface.h>
#define DIDL_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define DIDL_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#define DIDL_ROOT_REGION(p, n) __lsan_register_root_region(p, n)
#else
#define DIDL_POISON(p, n) ((void)(p), (void)(n))
#define DIDL_UNPOISON(p, n) ((void)(p), (void)(n))
#define DIDL_ROOT_REGION(p, n) ((void)(p), (void)(n))
#endif

namespace didl {

inline const char *name_of(int index) { return didl_name_table[index]; }

// Interned name equal to text, or nullptr.
const char *element_find(std::string_view text);
const char *attribute_find(std::string_view text);

inline const char *name_at(const didl_attributes *a, uint32_t i) { return static_cast<const char *>(a->names.buf[i]); }
inline const char *value_at(const didl_attributes *a, uint32_t i) { return static_cast<const char *>(a->values.buf[i]); }

// --- values kept once (didl_shared.cpp) ---

// The arena of the values and name lists kept once.
extern char g_arena[DIDL_SHARED_VALUES_SIZE];
// "", "0" and "1" for every name: the commonest values of all.
inline constexpr char kSmall[] = "\0" "0\0" "1";

inline bool inside(const void *p, const void *begin, size_t size)
{
  auto *c = static_cast<const char *>(p), *b = static_cast<const char *>(begin);
  return std::greater_equal<const char *>()(c, b) && std::less<const char *>()(c, b + size);
}
// The value or name list is kept once, not the record's own.
inline bool shared(const void *p) { return inside(p, g_arena, sizeof g_arena) || inside(p, kSmall, sizeof kSmall); }
// A value for a record: the shared copy where there is one, else a heap
// copy.  name: the attribute or element whose value it is, or nullptr.
bool value_new(const char *name, const char *text, char **out);
// A copy of a record's value: shared ones are shared again.
bool value_copy(const char *name, const char *value, char **out);
// The record's list of attribute names becomes the shared copy of it.
void names_share(sys_ptralloc_rec *names);

// --- packed blocks (didl_packed.cpp) ---

// The room of a new block of the packed range, of at least n bytes, or
// nullptr; block_free takes the room back.
char *block_new(size_t n);
void block_free(void *p);
// The address lies in the packed range.
bool packed(const void *p);

// Appends a property the object then owns; grows the array by little.
bool property_push(didl_object *object, didl_property *property);
// A property's text as the record keeps it (shared when it repeats).
bool text_new(const char *element, const char *text, char **out);
// Room for n attributes.
bool attributes_ready(didl_attributes *attributes, uint32_t n);

// A file name attribute whose bytes XML cannot hold, as the database file
// and the answers carry it; and back: false when stored is not such a
// form (it is then the name itself).
bool filename_escape(const char *raw, std::string *out);
bool filename_unescape(const char *stored, std::string *out);

// The third of a protocolInfo's four fields, read in place; false when it
// has not exactly four.
inline bool content_format(std::string_view v, std::string_view *out)
{
  size_t a = v.find(':'), b = a == v.npos ? a : v.find(':', a + 1), d = b == v.npos ? b : v.find(':', b + 1);
  if (d == v.npos || v.find(':', d + 1) != v.npos) return false;
  *out = v.substr(b + 1, d - b - 1);
  return true;
}

// The interned URI of a namespace the model knows, or nullptr.
const char *namespace_known(std::string_view uri);

// The parser's handlers, for a reader of its own that calls them as the
// expat wrapper would: names split into namespace (the interned URI where
// the model knows it) and local name, the declarations left out.  Once
// *failed is set the rest of the text is of no use.
struct parse_events {
  xml_parse_start_element_handler start;
  xml_parse_end_element_handler end;
  xml_parse_text_handler text;
  void *user;
  const bool *failed;
};
// A reader of a whole text: false when it cannot read all of it.
using text_reader = bool (*)(const parse_events &events, const char *text, size_t len);
// A reader's own keeping of some objects: take is shown each object as it
// is read, unpacked, with the count of objects listed before it; true when
// it kept the object in a form of its own (the object is then freed, not
// listed).
struct object_filter {
  bool (*take)(void *user, const didl_object *object, uint32_t position);
  void *user;
  // Asked after each object: true ends the parse, which then fails.
  bool (*stop)(void *user) = nullptr;
};
// Every object of a DIDL-Lite text held whole, as didl_parse gives them,
// read by reader (expat when it is nullptr), less those filter took.
bool parse_text(const char *text, size_t len, bool check, text_reader reader, sys_ptralloc_rec *objects,
                const object_filter *filter = nullptr);

// An object held between readers as a short encoding in a block of the
// packed range (its shared values and name lists named by their place,
// its own values as their bytes): nullptr when it names an element the
// table does not hold or a list of attribute names that is not shared, or
// on exhaustion.  skip: an attribute of the object left out, or nullptr.
char *object_encode(const didl_object *object, const char *skip = nullptr);
// The object of an encoding, made in room(user, n), asked for once: its
// records and arrays there, its values the shared ones and the encoding's
// own bytes, so it lives as long as both.  Nothing of it may be edited
// or freed.
didl_object *object_decode(const char *encoding, void *(*room)(void *user, size_t n), void *user);
// The object's own attribute of that name in an encoding, read without
// making the object (as long as the encoding lives), or nullptr.
const char *encoded_attribute(const char *encoding, const char *name);
void encoding_free(char *encoding);
// Frees what an unpacked object holds but its record and arrays, which
// stay for the next object made in it; its property records, emptied
// likewise, go to spares (those beyond a few dozen are freed).
void object_empty(didl_object *object, std::vector<didl_property *> *spares);

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
