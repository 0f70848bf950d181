// The depth-driven walk that the description, service and SOAP readers
// share.
#include "text_build.h"
#include "xml_internal.h"

#include <expat.h>

namespace {

xml_walk *walk_of(void *user) { return static_cast<xml_walk *>(user); }

void on_start(const xml_name_rec *name, const xml_name_rec *const *attr_names, const char *const *attr_values,
              void *user)
{
  xml_walk *w = walk_of(user);
  if (w->failed) return;
  w->depth++;
  w->text.len = 0;
  if (!w->skip_from) w->on_start(name, attr_names, attr_values);
}

void on_end(const xml_name_rec *name, void *user)
{
  xml_walk *w = walk_of(user);
  if (w->failed) return;
  if (!w->skip_from)
    w->on_end(name);
  else if (w->skip_from == w->depth)
    w->skip_from = 0;
  w->depth--;
  w->text.len = 0;
}

void on_text(const char *data, uint32_t len, void *user)
{
  xml_walk *w = walk_of(user);
  if (w->failed || w->skip_from) return;
  if (!sys_stralloc_catb(&w->text, data, len)) w->fail();
}

}  // namespace

bool xml_name_is(const xml_name_rec *name, const char *ns, const char *local)
{
  if (sys_str_diff(name->local, local)) return false;
  if (!ns || !name->ns) return !ns && !name->ns;
  return !sys_str_diff(name->ns, ns);
}

const char *xml_attribute(const xml_name_rec *const *names, const char *const *values, const char *ns,
                          const char *local)
{
  for (uint32_t i = 0; names[i]; i++)
    if (xml_name_is(names[i], nullptr, local) || (ns && xml_name_is(names[i], ns, local))) return values[i];
  return nullptr;
}

void xml_walk::fail()
{
  if (failed) return;
  failed = true;
  XML_StopParser(static_cast<XML_Parser>(rec.parser), XML_FALSE);
}

bool xml_walk::take_text(char **out, bool trim)
{
  if (trim) xml_gen_text_trim(&text);
  if (tarvo::heap_copy(std::string_view(text.buf, text.len), out)) return true;
  fail();
  return false;
}

bool xml_walk_run(xml_walk *w, const char *xml) { return xml_walk_run(w, xml, sys_str_len(xml)); }

bool xml_walk_run(xml_walk *w, const char *xml, uint32_t length)
{
  if (!xml_parse_create(&w->rec, w)) return false;
  xml_parse_set_element_handler(&w->rec, on_start, on_end);
  xml_parse_set_text_handler(&w->rec, on_text);
  bool ok = xml_parse_feed(&w->rec, xml, length, 1) && !w->failed;
  xml_parse_free(&w->rec);
  return ok;
}
