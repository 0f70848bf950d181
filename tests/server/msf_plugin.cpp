// Test plug-ins: one source, built as several modules that differ by the
// MSF_<variant> definition.  Each entry point called appends
// "<variant>:<entry point>" as a line to the file named by
// $TARVO_TEST_PLUGIN_LOG.
#include <tarvo_msf.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

#if defined(MSF_FIRST)
const char *const kVariant = "first";
#elif defined(MSF_SECOND)
const char *const kVariant = "second";
#elif defined(MSF_NOFREE)
const char *const kVariant = "nofree";
#elif defined(MSF_INITFAIL)
const char *const kVariant = "initfail";
#elif defined(MSF_BROKEN)
const char *const kVariant = "broken";
#endif

void note(const char *entry)
{
  const char *path = std::getenv("TARVO_TEST_PLUGIN_LOG");
  if (!path) return;
  if (FILE *f = std::fopen(path, "a")) {
    std::fprintf(f, "%s:%s\n", kVariant, entry);
    std::fclose(f);
  }
}

[[maybe_unused]] int answer(const std::string &text, char *buffer, uint32_t capacity)
{
  if (text.size() + 1 > capacity) return 0;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return 1;
}

// The text with a property put before the object's end tag.
[[maybe_unused]] std::string with_property(const char *text, const std::string &property)
{
  std::string t = text;
  size_t end = t.rfind("</item>");
  if (end == std::string::npos) end = t.rfind("</container>");
  if (end != std::string::npos) t.insert(end, property);
  return t;
}

}  // namespace

extern "C" {

int tarvo_msf_init(void)
{
  note("init");
#if defined(MSF_INITFAIL)
  return 0;
#else
  return 1;
#endif
}

#if !defined(MSF_NOFREE)
void tarvo_msf_free(void) { note("free"); }
#endif

int tarvo_msf_as_is_updated(const char *, const char *, const uint64_t *timestamp, const didl_object *object)
{
  note(timestamp ? "is_updated_stored" : "is_updated");
  // The server's record is readable: a title that asks for no rewrite.
  for (uint32_t i = 0; object && i < object->properties.len; i++) {
    auto *p = static_cast<const didl_property *>(object->properties.buf[i]);
    if (!std::strcmp(p->element, "dc:title") && !std::strcmp(p->text, "keep")) return 0;
  }
  return 1;
}

int tarvo_msf_as_rewrite(const char *, const char *, const char *text, char *buffer, uint32_t capacity)
{
  note("rewrite");
  (void)text;
#if defined(MSF_FIRST)
  return answer(with_property(text, "<upnp:genre>first</upnp:genre>\r\n"), buffer, capacity);
#elif defined(MSF_SECOND)
  // Shows whether it was given the first plug-in's text.
  bool after_first = std::strstr(text, ">first<") != nullptr;
  return answer(with_property(text, after_first ? "<upnp:genre>second after first</upnp:genre>\r\n"
                                                : "<upnp:genre>second</upnp:genre>\r\n"),
                buffer, capacity);
#elif defined(MSF_BROKEN)
  return answer("<DIDL-Lite><item>", buffer, capacity);
#else
  return answer(text, buffer, capacity);
#endif
}

#if defined(MSF_FIRST)
const char *tarvo_msf_get_dot_suffix(const char *protocol_info)
{
  note("get_dot_suffix");
  return std::strstr(protocol_info, "audio/L16") ? ".lpcm" : nullptr;
}

int tarvo_msf_get_size(const char *, uint64_t *size)
{
  note("get_size");
  *size = 42;
  return 1;
}

int tarvo_msf_export_xml_db(const char *text, char *buffer, uint32_t capacity)
{
  note("export_xml_db");
  return answer(with_property(text, "<dc:description>exported</dc:description>\r\n"), buffer, capacity);
}

int tarvo_msf_import_xml_db(const char *, const char *, char *, uint32_t)
{
  note("import_xml_db");
  return 0;
}
#endif

#if defined(MSF_SECOND)
int tarvo_msf_http_get(plugin_http_get_request *request)
{
  note("http_get");
  return request->socket >= 0;
}
#endif

}  // extern "C"
