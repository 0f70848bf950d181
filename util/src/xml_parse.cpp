// The expat wrapper: names split into namespace and local name before they
// reach the caller's handlers.
#include <tarvo_util/util_limits.h>
#include <tarvo_util/xml.h>

#include <expat.h>

namespace {

XML_Parser parser_of(xml_parse_rec *rec) { return static_cast<XML_Parser>(rec->parser); }

xml_parse_rec *rec_of(void *user) { return static_cast<xml_parse_rec *>(user); }

// URI|local; expat refuses a namespace URI that holds the separator.
bool split_name(const char *name, xml_name_rec *out)
{
  out->ns = nullptr;
  out->local = nullptr;
  uint32_t len = sys_str_len(name);
  uint32_t bar = sys_str_chr(name, '|');
  if (bar == len) return sys_str_clone(name, &out->local);
  if (!sys_str_clone(name, &out->ns)) return false;
  out->ns[bar] = 0;
  if (sys_str_clone(name + bar + 1, &out->local)) return true;
  sys_alloc_free(out->ns);
  out->ns = nullptr;
  return false;
}

void free_name(xml_name_rec *n)
{
  sys_alloc_free(n->ns);
  sys_alloc_free(n->local);
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
  while (atts[2 * n]) n++;
  // One block: n + 1 name pointers, n + 1 value pointers, n name records.
  size_t ptrs = size_t(n) + 1;
  void *block = sys_alloc(ptrs * sizeof(xml_name_rec *) + ptrs * sizeof(char *) + n * sizeof(xml_name_rec));
  if (!block) return stop(rec);
  auto **names = static_cast<xml_name_rec **>(block);
  auto **values = reinterpret_cast<const char **>(static_cast<void *>(names + ptrs));
  auto *recs = reinterpret_cast<xml_name_rec *>(values + ptrs);
  xml_name_rec el;
  uint32_t made = 0;
  bool shown = false;
  if (split_name(name, &el)) {
    for (; made < n; made++) {
      if (!split_name(atts[2 * made], &recs[made])) break;
      names[made] = &recs[made];
      values[made] = atts[2 * made + 1];
    }
    names[made] = nullptr;
    values[made] = nullptr;
    shown = made == n;
    if (shown) rec->start_element(&el, names, values, rec->user);
    free_name(&el);
  }
  if (!shown) stop(rec);
  for (uint32_t i = 0; i < made; i++) free_name(&recs[i]);
  sys_alloc_free(block);
}

void XMLCALL on_end(void *user, const XML_Char *name)
{
  xml_parse_rec *rec = rec_of(user);
  xml_name_rec el;
  if (!split_name(name, &el)) return stop(rec);
  rec->end_element(&el, rec->user);
  free_name(&el);
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
