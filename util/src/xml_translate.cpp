// xml_translate_value: copies a document, replacing the text of chosen
// elements.
#include <tarvo_util/xml.h>

#include <expat.h>

#include "xml_internal.h"

namespace {

struct translate_state {
  char *const *names;
  char *const *values;
  bool escape;
  const char *pending = nullptr;  // the new value of the open listed element
  bool in_cdata = false;
  bool failed = false;
  sys_stralloc_rec out{};
  XML_Parser parser = nullptr;

  void check(bool ok)
  {
    if (ok || failed) return;
    failed = true;
    XML_StopParser(parser, XML_FALSE);
  }
};

translate_state *state_of(void *user) { return static_cast<translate_state *>(user); }

// expat is called directly: without namespace processing names need no
// splitting, and no allocation of a wrapper can drop a tag from the copy.
void XMLCALL on_start(void *user, const XML_Char *name, const XML_Char **atts)
{
  translate_state *t = state_of(user);
  if (t->failed) return;
  bool ok = sys_stralloc_cats(&t->out, "<") && sys_stralloc_cats(&t->out, name);
  for (uint32_t i = 0; ok && atts[i]; i += 2) ok = xml_gen_attribute_append(&t->out, atts[i], atts[i + 1]);
  t->check(ok && sys_stralloc_cats(&t->out, ">"));
  uint32_t k = sys_str_list_find(t->names, name);
  if (t->names[k]) t->pending = t->values[k];
}

void XMLCALL on_end(void *user, const XML_Char *name)
{
  translate_state *t = state_of(user);
  if (t->failed) return;
  bool ok = true;
  if (t->pending) {
    ok = t->escape ? xml_gen_encode_append(&t->out, t->pending) : sys_stralloc_cats(&t->out, t->pending);
    t->pending = nullptr;
  }
  t->check(ok && sys_stralloc_cats(&t->out, "</") && sys_stralloc_cats(&t->out, name) &&
           sys_stralloc_cats(&t->out, ">"));
}

// Inside a CDATA section the text stays as it was: escaping it there would
// change the value.
void XMLCALL on_text(void *user, const XML_Char *data, int len)
{
  translate_state *t = state_of(user);
  if (t->failed || t->pending) return;
  t->check(t->in_cdata ? sys_stralloc_catb(&t->out, data, uint32_t(len))
                      : xml_gen_encode_appendb(&t->out, data, uint32_t(len)));
}

void XMLCALL on_cdata_start(void *user)
{
  translate_state *t = state_of(user);
  if (t->failed) return;
  t->in_cdata = true;
  t->check(sys_stralloc_cats(&t->out, "<![CDATA["));
}

void XMLCALL on_cdata_end(void *user)
{
  translate_state *t = state_of(user);
  if (t->failed) return;
  t->in_cdata = false;
  t->check(sys_stralloc_cats(&t->out, "]]>"));
}

// Declaration, comments, processing instructions, the document type:
// copied as they stand.  Entity references are expanded through the
// other handlers, so that their replacement text is checked and the copy
// never holds a reference whose expansion is not well-formed.
void XMLCALL on_default(void *user, const XML_Char *s, int len)
{
  translate_state *t = state_of(user);
  if (t->failed) return;
  t->check(sys_stralloc_catb(&t->out, s, uint32_t(len)));
}

}  // namespace

extern "C" int xml_translate_value(const char *xml, char *const *element_names, char *const *new_values,
                                   int escape, char **out)
{
  translate_state t{element_names, new_values, escape != 0};
  t.parser = XML_ParserCreate(nullptr);
  if (!t.parser) return 0;
  XML_SetUserData(t.parser, &t);
  XML_SetElementHandler(t.parser, on_start, on_end);
  XML_SetCharacterDataHandler(t.parser, on_text);
  XML_SetCdataSectionHandler(t.parser, on_cdata_start, on_cdata_end);
  XML_SetDefaultHandlerExpand(t.parser, on_default);
  xml_parse_rec rec{};
  rec.parser = t.parser;
  bool ok = xml_parse_feed(&rec, xml, sys_str_len(xml), 1) && !t.failed && sys_stralloc_append(&t.out, "");
  xml_parse_free(&rec);
  if (!ok) {
    sys_stralloc_free(&t.out);
    return 0;
  }
  *out = t.out.buf;
  return 1;
}
