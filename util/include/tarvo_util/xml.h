/* XML text writers, the expat wrapper and the value translator. */
#ifndef TARVO_UTIL_XML_H
#define TARVO_UTIL_XML_H

#include <stdint.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_str.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Writers: each appends to sa and returns 1, or 0 when memory runs out
 * (what was appended before stays).  Nothing is NUL-terminated. */

/* s with '"', '&', '\'', '<' and '>' written as &quot; &amp; &apos; &lt;
 * &gt;; every other byte unchanged. */
int xml_gen_encode_append(sys_stralloc_rec *sa, const char *s);
/* The same over n bytes of s. */
int xml_gen_encode_appendb(sys_stralloc_rec *sa, const char *s, uint32_t n);
/* n bytes of s escaped as above, and the result escaped once more ("&" as
 * "&amp;amp;"): text of a document that is itself the escaped value of
 * another, written in one pass. */
int xml_gen_encode_twice_appendb(sys_stralloc_rec *sa, const char *s, uint32_t n);
/* "<name>", the escaped text (none for NULL or ""), "</name>\r\n". */
int xml_gen_element_append(sys_stralloc_rec *sa, const char *name, const char *text);
/* " name=\"", the escaped value, "\"". */
int xml_gen_attribute_append(sys_stralloc_rec *sa, const char *name, const char *value);
/* In place: CR and LF become blanks, then bytes 9-13 and blanks are cut
 * from both ends. */
void xml_gen_text_trim(sys_stralloc_rec *sa);
/* 1 when s is well-formed UTF-8 of characters an XML document may hold
 * (nothing below 0x20, no surrogates, no U+FFFE or U+FFFF), else 0. */
int xml_gen_is_legal_value(const char *s);
/* A heap copy of s (free with sys_alloc_free) in which each byte that does
 * not begin a legal character, as xml_gen_is_legal_value has them, becomes
 * U+FFFD: a name for showing, whatever bytes it came from. */
int xml_gen_legal_copy(const char *s, char **out);
/* The same for a text of several lines: TAB, LF and CR are allowed too. */
int xml_gen_is_legal_text(const char *s);
/* A file name as XML can carry it, appended to sa: the name itself when it
 * is a legal value, else "%" followed by the name with '%', control bytes
 * and bytes from 0x7F up as %XX (a stored path otherwise begins with '/'). */
int xml_gen_filename_append(sys_stralloc_rec *sa, const char *name);
/* Back from that form: 1 when stored is "%..." of a name that is not a
 * legal value, whose bytes are then written to out (room for strlen(stored)
 * bytes and the NUL; not overlapping stored); else 0, out holding nothing
 * of use: stored is the name itself. */
int xml_filename_decode(const char *stored, char *out);

/* A name as the parser hands it over: ns is the namespace URI (NULL when
 * the name has none), local the local name.  Both are freed by the wrapper
 * after the handler returns. */
typedef struct {
  char *ns;
  char *local;
} xml_name_rec;

/* Handlers; each receives the record's user data last.  attr_names and
 * attr_values are parallel NULL-terminated arrays.  Text is not
 * NUL-terminated and one run may come in several calls. */
typedef void (*xml_parse_start_element_handler)(const xml_name_rec *name, const xml_name_rec *const *attr_names,
                                                const char *const *attr_values, void *user);
typedef void (*xml_parse_end_element_handler)(const xml_name_rec *name, void *user);
typedef void (*xml_parse_namespace_start_handler)(const char *prefix, const char *uri, void *user);
typedef void (*xml_parse_namespace_end_handler)(const char *prefix, void *user);
typedef void (*xml_parse_cdata_start_handler)(void *user);
typedef void (*xml_parse_cdata_end_handler)(void *user);
typedef void (*xml_parse_text_handler)(const char *data, uint32_t len, void *user);

/* Caller storage for one parser.  It must stay at one address from create
 * to free: expat holds its address.  parser is expat's XML_Parser. */
typedef struct {
  xml_parse_start_element_handler start_element;
  xml_parse_end_element_handler end_element;
  xml_parse_namespace_start_handler namespace_start;
  xml_parse_namespace_end_handler namespace_end;
  xml_parse_cdata_start_handler cdata_start;
  xml_parse_cdata_end_handler cdata_end;
  xml_parse_text_handler text;
  void *user;
  void *parser;
  /* The markup no other handler takes, as read (declaration, comments,
   * blanks outside the root; CDATA markers when no CDATA handler is set). */
  xml_parse_text_handler default_text;
} xml_parse_rec;

/* With namespace processing (names arrive as URI|local); 1/0. */
int xml_parse_create(xml_parse_rec *rec, void *user);
int xml_parse_create_nonamespace(xml_parse_rec *rec, void *user);
void xml_parse_set_element_handler(xml_parse_rec *rec, xml_parse_start_element_handler start,
                                   xml_parse_end_element_handler end);
void xml_parse_set_namespace_handler(xml_parse_rec *rec, xml_parse_namespace_start_handler start,
                                     xml_parse_namespace_end_handler end);
void xml_parse_set_cdata_handler(xml_parse_rec *rec, xml_parse_cdata_start_handler start,
                                 xml_parse_cdata_end_handler end);
void xml_parse_set_text_handler(xml_parse_rec *rec, xml_parse_text_handler fn);
/* References to entities stay unexpanded and reach this handler as read. */
void xml_parse_set_default_handler(xml_parse_rec *rec, xml_parse_text_handler fn);
/* One chunk; is_final 1 on the last.  1 parsed, 0 error (a tag that could
 * not be handed to the handlers for want of memory is one). */
int xml_parse_feed(xml_parse_rec *rec, const char *data, uint32_t len, int is_final);
/* expat's error code of the last failure. */
int xml_parse_get_error_code(xml_parse_rec *rec);
void xml_parse_free(xml_parse_rec *rec);

/* Copies the document xml, replacing the text of every element named in
 * element_names with the matching entry of new_values (escaped when escape
 * is non-zero, raw markup otherwise).  *out is a NUL-terminated heap string
 * (sys_alloc_free); 1, or 0 on a parse error or exhaustion (*out
 * untouched). */
int xml_translate_value(const char *xml, char *const *element_names, char *const *new_values, int escape,
                        char **out);

#ifdef __cplusplus
}
#endif
#endif
