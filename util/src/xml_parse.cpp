// The expat wrapper: names split into namespace and local name before they
// reach the caller's handlers.
#include <tarvo_util/util_limits.h>
#include <tarvo_util/xml.h>

#include <cstddef>
#include <cstring>
#include <expat.h>

namespace {

XML_Parser parser_of(xml_parse_rec *rec) { return static_cast<XML_Parser>(rec->parser); }

xml_parse_rec *rec_of(void *user) { return static_cast<xml_parse_rec *>(user); }

// URI|local, copied to at (room for the name and its NUL) and cut there;
// expat refuses a namespace URI that holds the separator.  The bytes used.
size_t split_name(const char *name, char *at, xml_name_rec *out)
{
  size_t len = std::strlen(name);
  std::memcpy(at, name, len + 1);
  auto *bar = static_cast<char *>(std::memchr(at, '|', len));
  out->ns = nullptr;
  out->local = at;
  if (bar) {
    *bar = 0;
    out->ns = at;
    out->local = bar + 1;
  }
  return len + 1;
}

// A tag the caller cannot be shown ends the parse with failure: a reader
// that missed it would take what follows for something else.
void stop(xml_parse_rec *rec)
{
  XML_StopParser(parser_of(rec), XML_FALSE);
}

void XMLCALL on_start(void *user, const XML_Char *name, const XML_Char **atts)
{
  xml_parse_rec *rec = rec_of(user);
  uint32_t n = 0;
  size_t text = std::strlen(name) + 1;
  for (; atts[2 * n]; n++) text += std::strlen(atts[2 * n]) + 1;
  // One block: n + 1 name pointers, n + 1 value pointers, n + 1 name
  // records, then the names' bytes.
  size_t ptrs = size_t(n) + 1;
  size_t size = ptrs * (sizeof(xml_name_rec *) + sizeof(char *) + sizeof(xml_name_rec)) + text;
  // Most tags fit on the stack: a large document has a tag every few
  // dozen bytes.
  alignas(std::max_align_t) char small[1024];
  void *block = size <= sizeof small ? small : sys_alloc(size);
  if (!block) return stop(rec);
  auto **names = static_cast<xml_name_rec **>(block);
  auto **values = reinterpret_cast<const char **>(static_cast<void *>(names + ptrs));
  auto *recs = reinterpret_cast<xml_name_rec *>(values + ptrs);
  char *at = reinterpret_cast<char *>(recs + ptrs);
  at += split_name(name, at, &recs[n]);
  for (uint32_t i = 0; i < n; i++) {
    at += split_name(atts[2 * i], at, &recs[i]);
    names[i] = &recs[i];
    values[i] = atts[2 * i + 1];
  }
  names[n] = nullptr;
  values[n] = nullptr;
  rec->start_element(&recs[n], names, values, rec->user);
  if (block != small) sys_alloc_free(block);
}

void XMLCALL on_end(void *user, const XML_Char *name)
{
  xml_parse_rec *rec = rec_of(user);
  char local[256];
  size_t len = std::strlen(name) + 1;
  char *at = len <= sizeof local ? local : static_cast<char *>(sys_alloc(len));
  if (!at) return stop(rec);
  xml_name_rec el;
  split_name(name, at, &el);
  rec->end_element(&el, rec->user);
  if (at != local) sys_alloc_free(at);
}

void XMLCALL on_ns_start(void *user, const XML_Char *prefix, const XML_Char *uri)
{
  xml_parse_rec *rec = rec_of(user);
  rec->namespace_start(prefix, uri, rec->user);
}

void XMLCALL on_ns_end(void *user, const XML_Char *prefix)
{
  xml_parse_rec *rec = rec_of(user);
  rec->namespace_end(prefix, rec->user);
}

void XMLCALL on_cdata_start(void *user)
{
  xml_parse_rec *rec = rec_of(user);
  rec->cdata_start(rec->user);
}

void XMLCALL on_cdata_end(void *user)
{
  xml_parse_rec *rec = rec_of(user);
  rec->cdata_end(rec->user);
}

void XMLCALL on_text(void *user, const XML_Char *s, int len)
{
  xml_parse_rec *rec = rec_of(user);
  rec->text(s, uint32_t(len), rec->user);
}

void XMLCALL on_default(void *user, const XML_Char *s, int len)
{
  xml_parse_rec *rec = rec_of(user);
  rec->default_text(s, uint32_t(len), rec->user);
}

int create(xml_parse_rec *rec, void *user, bool ns)
{
  *rec = xml_parse_rec{};
  rec->user = user;
  XML_Parser p = ns ? XML_ParserCreateNS(nullptr, '|') : XML_ParserCreate(nullptr);
  if (!p) return 0;
  XML_SetUserData(p, rec);
  rec->parser = p;
  return 1;
}

}  // namespace

extern "C" {

int xml_parse_create(xml_parse_rec *rec, void *user) { return create(rec, user, true); }

int xml_parse_create_nonamespace(xml_parse_rec *rec, void *user) { return create(rec, user, false); }

void xml_parse_set_element_handler(xml_parse_rec *rec, xml_parse_start_element_handler start,
                                   xml_parse_end_element_handler end)
{
  rec->start_element = start;
  rec->end_element = end;
  XML_SetElementHandler(parser_of(rec), start ? on_start : nullptr, end ? on_end : nullptr);
}

void xml_parse_set_namespace_handler(xml_parse_rec *rec, xml_parse_namespace_start_handler start,
                                     xml_parse_namespace_end_handler end)
{
  rec->namespace_start = start;
  rec->namespace_end = end;
  XML_SetNamespaceDeclHandler(parser_of(rec), start ? on_ns_start : nullptr, end ? on_ns_end : nullptr);
}

void xml_parse_set_cdata_handler(xml_parse_rec *rec, xml_parse_cdata_start_handler start,
                                 xml_parse_cdata_end_handler end)
{
  rec->cdata_start = start;
  rec->cdata_end = end;
  XML_SetCdataSectionHandler(parser_of(rec), start ? on_cdata_start : nullptr, end ? on_cdata_end : nullptr);
}

void xml_parse_set_text_handler(xml_parse_rec *rec, xml_parse_text_handler fn)
{
  rec->text = fn;
  XML_SetCharacterDataHandler(parser_of(rec), fn ? on_text : nullptr);
}

void xml_parse_set_default_handler(xml_parse_rec *rec, xml_parse_text_handler fn)
{
  rec->default_text = fn;
  XML_SetDefaultHandler(parser_of(rec), fn ? on_default : nullptr);
}

int xml_parse_feed(xml_parse_rec *rec, const char *data, uint32_t len, int is_final)
{
  XML_Parser p = parser_of(rec);
  do {
    uint32_t piece = len < XML_PARSE_PIECE_MAX ? len : XML_PARSE_PIECE_MAX;
    len -= piece;
    if (XML_Parse(p, data, int(piece), is_final && !len) != XML_STATUS_OK) return 0;
    data += piece;
  } while (len);
  return 1;
}

int xml_parse_get_error_code(xml_parse_rec *rec) { return int(XML_GetErrorCode(parser_of(rec))); }

void xml_parse_free(xml_parse_rec *rec)
{
  if (rec->parser) XML_ParserFree(parser_of(rec));
  rec->parser = nullptr;
}

}  // extern "C"
