/* The depth-driven walk over one XML document that the foundation's
 * description, service and SOAP readers use, for readers elsewhere that
 * fill records from a document.  C++ only. */
#ifndef TARVO_UTIL_XML_WALK_H
#define TARVO_UTIL_XML_WALK_H

#ifdef __cplusplus
#include <stdint.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/xml.h>

// True when name is local in namespace ns (NULL: in no namespace).
bool xml_name_is(const xml_name_rec *name, const char *ns, const char *local);

// The value of the attribute whose local name is local, in no namespace or
// in ns; NULL when absent.
const char *xml_attribute(const xml_name_rec *const *names, const char *const *values, const char *ns,
                          const char *local);

// A walk over one document driven by depth.  A reader derives from it and
// sees only the elements it has not skipped; the subtree of a skipped
// element, its text included, never reaches it.  Character data is
// collected between tags: on_end finds the text directly before the end
// tag in `text`.
struct xml_walk {
  xml_parse_rec rec{};
  uint32_t depth = 0;      // open elements, the current one included
  uint32_t skip_from = 0;  // depth of the skipped element, 0 for none
  bool failed = false;
  sys_stralloc_rec text{};

  virtual void on_start(const xml_name_rec *name, const xml_name_rec *const *attr_names,
                        const char *const *attr_values) = 0;
  virtual void on_end(const xml_name_rec *name) = 0;
  virtual ~xml_walk() { sys_stralloc_free(&text); }

  void skip() { skip_from = depth; }
  // Stops the parse; the run reports failure.
  void fail();
  // A heap copy of the collected text, trimmed when asked; on exhaustion
  // the walk fails and false comes back.
  bool take_text(char **out, bool trim);
};

// Parses the NUL-terminated document with namespace processing; true when
// expat accepted it and the reader did not fail.
bool xml_walk_run(xml_walk *w, const char *xml);
// The same over length bytes, which need no NUL.
bool xml_walk_run(xml_walk *w, const char *xml, uint32_t length);

#endif
#endif
