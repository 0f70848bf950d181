// The strict DIDL-Lite parser of the server: the content database file,
// objects from clients and from plug-ins.
#include "didl_impl.h"

#include <vennard/vennard_limits.h>

#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_log.h>
#include <tarvo_util/xml.h>

#include <array>
#include <cstring>
#include <iterator>
#include <utility>

namespace {

using didl::name_of;

// The namespace of a name as its place in the name table: one of the six
// the model knows, kNoNamespace, or kOtherNamespace.  Lengths first: the
// known URIs share long beginnings.
constexpr int kNoNamespace = -2, kOtherNamespace = -1;
constexpr int kKnownNamespaces[] = {DIDL_NS_DIDL_LITE, DIDL_NS_UPNP, DIDL_NS_DC,
                                    DIDL_NS_DLNA,      DIDL_NS_TARVO, DIDL_NS_ARIB};

int ns_code(std::string_view ns)
{
  static const auto lengths = [] {
    std::array<size_t, std::size(kKnownNamespaces)> l{};
    for (size_t i = 0; i < l.size(); i++) l[i] = std::strlen(name_of(kKnownNamespaces[i]));
    return l;
  }();
  for (size_t i = 0; i < lengths.size(); i++)
    if (ns.size() == lengths[i] && !std::memcmp(ns.data(), name_of(kKnownNamespaces[i]), ns.size()))
      return kKnownNamespaces[i];
  return kOtherNamespace;
}

int ns_code(const char *ns)
{
  if (!ns) return kNoNamespace;
  // The database file's own reader hands over the table's URIs.
  for (int k : kKnownNamespaces)
    if (ns == name_of(k)) return k;
  return ns_code(std::string_view(ns));
}

// The table's prefix of an element's namespace; nullptr for one whose
// elements the model does not know (DLNA's and foreign ones included).
const char *element_prefix(int ns)
{
  switch (ns) {
    case DIDL_NS_DIDL_LITE: return "";
    case DIDL_NS_UPNP: return "upnp:";
    case DIDL_NS_DC: return "dc:";
    case DIDL_NS_TARVO: return "tarvo:";
    case DIDL_NS_ARIB: return "arib:";
    default: return nullptr;
  }
}

// The prefix of an attribute's namespace; nullptr for a namespace whose
// attributes are no concern of the model.
const char *attribute_prefix(int ns)
{
  switch (ns) {
    case kNoNamespace:
    case DIDL_NS_DIDL_LITE:
    case DIDL_NS_UPNP:
    case DIDL_NS_DC: return "";
    case DIDL_NS_DLNA: return "dlna:";
    case DIDL_NS_TARVO: return "tarvo:";
    case DIDL_NS_ARIB: return "arib:";
    default: return nullptr;
  }
}

// Joins prefix and the n bytes of local and finds it with find; nullptr
// when it is too long to be in the table.
const char *find_prefixed(std::string_view prefix, const char *local, size_t n,
                          const char *(*find)(std::string_view))
{
  char buf[DIDL_NAME_MAX];
  if (prefix.size() + n > sizeof buf) return nullptr;
  std::memcpy(buf, prefix.data(), prefix.size());
  std::memcpy(buf + prefix.size(), local, n);
  return find(std::string_view(buf, prefix.size() + n));
}

// The interned names a parse has found, by namespace and local name: a
// database file names the same few dozen elements and attributes hundreds
// of thousands of times.
class name_memo {
  static constexpr size_t kLocalMax = 28, kSlots = 128;
  struct slot {
    const char *name = nullptr;  // nullptr: empty
    int ns = 0;
    uint32_t len = 0;
    char local[kLocalMax];
  };
  std::array<slot, kSlots> slots_{};
  const char *(*find_)(std::string_view);
  const char *(*prefix_)(int);

 public:
  name_memo(const char *(*find)(std::string_view), const char *(*prefix)(int)) : find_(find), prefix_(prefix) {}
  // The interned name, or nullptr when the model has no such name.
  const char *lookup(int ns, const char *local)
  {
    size_t n = std::strlen(local);
    slot *sl = nullptr;
    if (n && n <= kLocalMax) {
      auto c = [&](size_t i) { return size_t(static_cast<unsigned char>(local[i])); };
      sl = &slots_[(n * 131 + c(0) * 31 + c(n - 1) * 7 + size_t(ns + 2) * 17) % kSlots];
      if (sl->name && sl->ns == ns && sl->len == n && !std::memcmp(sl->local, local, n)) return sl->name;
    }
    const char *prefix = prefix_(ns);
    const char *found = prefix ? find_prefixed(prefix, local, n, find_) : nullptr;
    if (found && sl) {
      sl->name = found;
      sl->ns = ns;
      sl->len = uint32_t(n);
      std::memcpy(sl->local, local, n);
    }
    return found;
  }
};

struct parse_state {
  bool check = false;
  bool pack = false;  // objects kept as they are read (the database file)
  bool fatal = false;
  bool done = false;  // the root has ended
  const didl::object_filter *filter = nullptr;
  int64_t depth = 0;
  didl_object *object = nullptr;
  // An object the filter took, emptied for the next one: its record and
  // arrays serve again rather than go back to the allocator.
  didl_object *spare = nullptr;
  std::vector<didl_property *> spare_properties;
  // An item whose attributes are those of a reference (id, parentID,
  // refID, restricted, perhaps tarvo:private), held as read until its end
  // shows whether it has properties: the filter is shown it without an
  // object being made for it.
  bool ref_pending = false;
  uint32_t ref_count = 0;
  const char *ref_names[5] = {};
  std::string ref_text;
  didl_property *property = nullptr;
  sys_stralloc_rec text{};
  uint32_t cuts = 0, attribute_cuts = 0;
  sys_ptralloc_rec objects{};
  name_memo elements{didl::element_find, element_prefix};
  name_memo attributes{didl::attribute_find, attribute_prefix};

  ~parse_state()
  {
    if (cuts)
      sys_log_print(SYS_LOG_WARNING, "DIDL-Lite: %u element texts longer than %u bytes cut", unsigned(cuts),
                    unsigned(DIDL_PROPERTY_TEXT_MAX));
    if (attribute_cuts)
      sys_log_print(SYS_LOG_WARNING, "DIDL-Lite: %u attribute values longer than %u bytes cut",
                    unsigned(attribute_cuts), unsigned(DIDL_ATTRIBUTE_VALUE_MAX));
    didl_object_free(object);
    didl_object_free(spare);
    for (didl_property *p : spare_properties) didl_property_free(p);
    didl_property_free(property);
    didl_object_array_free(&objects);
    sys_stralloc_free(&text);
  }

  // A value longer than any the server writes (a file edited by other
  // hands) is cut at a character, as texts are, into cut; the lists of
  // ids, which no requester is shown, stay whole.
  const char *value_cut(const char *name, const char *value, std::string *cut)
  {
    size_t n = strnlen(value, DIDL_ATTRIBUTE_VALUE_MAX + 1);
    if (n <= DIDL_ATTRIBUTE_VALUE_MAX || name == DIDL_NAME(AT_TARVO_CHILDREN) ||
        name == DIDL_NAME(AT_TARVO_REFERENCED))
      return value;
    attribute_cuts++;
    n = DIDL_ATTRIBUTE_VALUE_MAX;
    while (n && (static_cast<unsigned char>(value[n]) & 0xC0) == 0x80) n--;
    cut->assign(value, n);
    return cut->c_str();
  }

  bool take_attributes(didl_attributes *to, const xml_name_rec *const *names, const char *const *values)
  {
    uint32_t n = 0;
    while (names[n]) n++;
    if (n && !didl::attributes_ready(to, n)) return false;
    for (uint32_t i = 0; names[i]; i++) {
      // Attributes of foreign namespaces are passed over; unknown ones of
      // the model's own fail the parse.
      int ns = ns_code(names[i]->ns);
      if (!attribute_prefix(ns)) continue;
      const char *name = attributes.lookup(ns, names[i]->local);
      if (!name) return false;
      std::string cut, raw;
      const char *value = value_cut(name, values[i], &cut);
      if (name == DIDL_NAME(AT_TARVO_FILENAME) && didl::filename_unescape(value, &raw)) value = raw.c_str();
      if (!didl_attribute_add(to, name, value)) return false;
    }
    return true;
  }

  // A record for the next object: the spare one, else a new one.
  didl_object *object_new()
  {
    return spare ? std::exchange(spare, nullptr) : static_cast<didl_object *>(sys_alloc_zero(sizeof(didl_object)));
  }

  bool ref_held(const xml_name_rec *const *names, const char *const *values)
  {
    static const char *const kShape[] = {DIDL_NAME(AT_ID), DIDL_NAME(AT_PARENT_ID), DIDL_NAME(AT_REF_ID),
                                         DIDL_NAME(AT_RESTRICTED), DIDL_NAME(AT_TARVO_PRIVATE)};
    uint32_t n = 0;
    while (names[n]) n++;
    if (n < 4 || n > 5) return false;
    ref_text.clear();
    for (uint32_t i = 0; i < n; i++) {
      int ns = ns_code(names[i]->ns);
      // An overlong value is cut on the way to an object.
      if (!attribute_prefix(ns) || attributes.lookup(ns, names[i]->local) != kShape[i] ||
          strnlen(values[i], DIDL_ATTRIBUTE_VALUE_MAX + 1) > DIDL_ATTRIBUTE_VALUE_MAX)
        return false;
      ref_text.append(values[i]);
      ref_text += '\0';
    }
    for (uint32_t i = 0; i < n; i++) ref_names[i] = kShape[i];
    ref_count = n;
    return true;
  }

  // The values held, in their order.
  void ref_values(const char **out) const
  {
    const char *v = ref_text.data();
    for (uint32_t i = 0; i < ref_count; i++, v += std::strlen(v) + 1) out[i] = v;
  }

  // The held item as an object after all.
  bool ref_make()
  {
    ref_pending = false;
    object = object_new();
    if (!object) return false;
    object->element = DIDL_NAME(EL_ITEM);
    const char *values[5];
    ref_values(values);
    if (!didl::attributes_ready(&object->attributes, ref_count)) return false;
    for (uint32_t i = 0; i < ref_count; i++)
      if (!didl_attribute_add(&object->attributes, ref_names[i], values[i])) return false;
    return true;
  }

  // A text longer than any the server makes (a file edited by other
  // hands) is cut at a character: whole, it could make every answer that
  // holds its object too large to send.
  void text_cut()
  {
    if (text.len <= DIDL_PROPERTY_TEXT_MAX) return;
    cuts++;
    text.len = DIDL_PROPERTY_TEXT_MAX;
    while (text.len && (static_cast<unsigned char>(text.buf[text.len]) & 0xC0) == 0x80) text.len--;
    xml_gen_text_trim(&text);
  }

  bool start(const xml_name_rec *name, const xml_name_rec *const *names, const char *const *values)
  {
    depth++;
    const char *el = elements.lookup(ns_code(name->ns), name->local);
    bool is_object = el == DIDL_NAME(EL_CONTAINER) || el == DIDL_NAME(EL_ITEM);
    if (depth == 1) return el == DIDL_NAME(EL_DIDL_LITE) && !done;
    if (depth == 2) {
      if (!is_object) return false;
      if (filter && !check && el == DIDL_NAME(EL_ITEM) && ref_held(names, values)) return ref_pending = true;
      object = object_new();
      if (!object) return false;
      object->element = el;
      return take_attributes(&object->attributes, names, values);
    }
    if (depth > 3 || !el || is_object || el == DIDL_NAME(EL_DIDL_LITE)) return false;
    if (ref_pending && !ref_make()) return false;
    if (spare_properties.empty()) {
      property = static_cast<didl_property *>(sys_alloc_zero(sizeof(didl_property)));
    } else {
      property = spare_properties.back();
      spare_properties.pop_back();
    }
    if (!property) return false;
    property->element = el;
    text.len = 0;
    return take_attributes(&property->attributes, names, values);
  }

  bool end()
  {
    if (depth == 3) {
      xml_gen_text_trim(&text);
      text_cut();
      if (!sys_stralloc_readyplus(&text, 1)) return false;
      text.buf[text.len] = 0;
      if (!didl::text_new(property->element, text.buf, &property->text) || !didl::property_push(object, property))
        return false;
      property = nullptr;
    } else if (depth == 2) {
      if (filter && filter->stop && filter->stop(filter->user)) return false;
      bool shown = false;
      if (ref_pending) {
        // A record on the stack over the held values.
        const char *v[5];
        ref_values(v);
        didl_object view{{{reinterpret_cast<void **>(const_cast<char **>(ref_names)), ref_count, 0},
                          {reinterpret_cast<void **>(const_cast<char **>(v)), ref_count, 0}},
                         DIDL_NAME(EL_ITEM),
                         {}};
        if (filter->take(filter->user, &view, objects.len)) {
          ref_pending = false;
          depth--;
          return true;
        }
        if (!ref_make()) return false;
        shown = true;
      }
      if (check && !didl_object_check(object)) return false;
      if (!shown && filter && filter->take(filter->user, object, objects.len)) {
        didl::object_empty(object, &spare_properties);
        didl_object_free(spare);
        spare = std::exchange(object, nullptr);
        depth--;
        return true;
      }
      if (pack) didl_object_pack(&object);
      else didl_object_fit(object);
      if (!sys_ptralloc_append(&objects, object)) return false;
      object = nullptr;
    } else if (depth == 1) {
      done = true;
    } else {
      return false;
    }
    depth--;
    return true;
  }
};

parse_state *state_of(void *user) { return static_cast<parse_state *>(user); }

void on_start(const xml_name_rec *name, const xml_name_rec *const *names, const char *const *values, void *user)
{
  parse_state *st = state_of(user);
  if (!st->fatal && !st->start(name, names, values)) st->fatal = true;
}

void on_end(const xml_name_rec *, void *user)
{
  parse_state *st = state_of(user);
  if (!st->fatal && !st->end()) st->fatal = true;
}

void on_text(const char *data, uint32_t len, void *user)
{
  parse_state *st = state_of(user);
  if (!st->fatal && st->depth == 3 && !sys_stralloc_catb(&st->text, data, len)) st->fatal = true;
}

// One parser over the state; feed hands it the input and returns false on
// a read or parse failure.
template <class Feed> bool parse(parse_state *st, Feed feed)
{
  xml_parse_rec rec;
  if (!xml_parse_create(&rec, st)) return false;
  xml_parse_set_element_handler(&rec, on_start, on_end);
  xml_parse_set_text_handler(&rec, on_text);
  bool ok = feed(&rec);
  xml_parse_free(&rec);
  return ok && !st->fatal && st->done;
}

}  // namespace

namespace didl {

const char *namespace_known(std::string_view uri)
{
  int k = ns_code(uri);
  return k == kOtherNamespace ? nullptr : name_of(k);
}

bool parse_text(const char *text, size_t len, bool check, text_reader reader, sys_ptralloc_rec *objects,
                const object_filter *filter)
{
  parse_state st;
  st.check = check;
  st.filter = filter;
  st.pack = true;
  bool ok;
  if (reader) {
    ok = reader({on_start, on_end, on_text, &st, &st.fatal}, text, len) && !st.fatal && st.done;
  } else {
    ok = len <= UINT32_MAX && parse(&st, [&](xml_parse_rec *rec) {
      return xml_parse_feed(rec, text, uint32_t(len), 1) != 0;
    });
  }
  if (!ok) return false;
  *objects = st.objects;
  st.objects = sys_ptralloc_rec{};
  return true;
}

}  // namespace didl

extern "C" {

int didl_parse(const char *path, int check, sys_ptralloc_rec *objects)
{
  int fd;
  if (!sys_file_open_read(&fd, path)) return 0;
  char *buf = static_cast<char *>(sys_alloc(DIDL_FILE_PIECE));
  parse_state st;
  st.check = check != 0;
  st.pack = true;
  bool ok = buf && parse(&st, [&](xml_parse_rec *rec) {
    for (;;) {
      uint32_t got = 0;
      if (!sys_file_read(fd, buf, DIDL_FILE_PIECE, &got)) return false;
      if (!xml_parse_feed(rec, buf, got, got == 0)) return false;
      if (!got) return true;
    }
  });
  sys_alloc_free(buf);
  sys_file_close(fd);
  if (!ok) return 0;
  *objects = st.objects;
  st.objects = sys_ptralloc_rec{};
  return 1;
}

int didl_parse_one(const char *text, int check, didl_object **object)
{
  if (!text) return 0;
  size_t n = std::strlen(text);
  if (n > UINT32_MAX) return 0;
  parse_state st;
  st.check = check != 0;
  if (!parse(&st, [&](xml_parse_rec *rec) { return xml_parse_feed(rec, text, uint32_t(n), 1) != 0; }) ||
      st.objects.len != 1)
    return 0;
  *object = static_cast<didl_object *>(st.objects.buf[0]);
  st.objects.len = 0;
  return 1;
}

}  // extern "C"
