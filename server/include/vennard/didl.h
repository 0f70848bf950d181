/* The server's DIDL-Lite model: its interned names, object records with
 * counted arrays, the strict parser, object checks, filters, search and
 * sort criteria over its records, the object-editing helpers and the two
 * writers (for a client, and for the content database file).
 *
 * The tokenizer, relation evaluation, value comparator and filter-entry
 * append are those of tarvo_avcp; relation nodes and sort keys are its
 * records, holding names of this table.  Results are 1/0 unless stated;
 * helpers that replace a value leave the record as it was when they fail. */
#ifndef VENNARD_DIDL_H
#define VENNARD_DIDL_H

#include <stdint.h>
#include <tarvo_avcp/avcp_didl.h>
#include <tarvo_avcp/avcp_didl_criteria.h>
#include <tarvo_msf.h>
#include <tarvo_util/http_server.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_str.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The server's name table, in table order: X(index suffix, text, value
 * type).  Namespaces first, then 63 element names, 38 attribute names and
 * the wildcard.  The private namespace and the runs of upnp names are
 * those of tarvo_avcp's table. */
#define DIDL_NAMES(X)                                                         \
  AVCP_DIDL_NAMES_UPNP(X)                                                     \
  X(EL_DLNA_CONTAINER_TYPE, "dlna:containerType", STRING)                     \
  X(EL_DLNA_TAKE_OUT, "dlna:takeOut", STRING)                                 \
  X(EL_TARVO_DYNAMIC, "tarvo:dynamic", STRING)                                \
  X(EL_TARVO_REFLECT_CHILD_PROPERTY, "tarvo:reflectChildProperty", STRING)    \
  X(EL_ARIB_OBJECT_TYPE, "arib:objectType", STRING)                           \
  X(EL_ARIB_LONG_DESCRIPTION, "arib:longDescription", STRING)                 \
  X(EL_ARIB_VIDEO_COMPONENT_TYPE, "arib:videoComponentType", UINT32)          \
  X(EL_ARIB_AUDIO_COMPONENT_TYPE, "arib:audioComponentType", UINT32)          \
  X(EL_ARIB_COPY_CONTROL_INFO, "arib:copyControlInfo", STRING)                \
  X(EL_ARIB_DATA_PROGRAM_INFO, "arib:dataProgramInfo", BOOLEAN)               \
  X(EL_ARIB_MULTI_VIEW_INFO, "arib:multiViewInfo", BOOLEAN)                   \
  X(EL_ARIB_CAPTION_INFO, "arib:captionInfo", BOOLEAN)                        \
  X(EL_ARIB_MULTI_ES_INFO, "arib:multiESInfo", BOOLEAN)                       \
  X(EL_ARIB_CA_PROGRAM_INFO, "arib:caProgramInfo", BOOLEAN)                   \
  AVCP_DIDL_NAMES_UPNP_ATTRIBUTES(X)                                          \
  X(AT_QUALITY_INDICATOR, "qualityIndicator", UINT32)                         \
  X(AT_SYNC, "sync", BOOLEAN)                                                 \
  X(AT_PRICE, "price", STRING)                                                \
  X(AT_AVAILABLE, "available", BOOLEAN)                                       \
  X(AT_DLNA_PROFILE_ID, "dlna:profileID", STRING)                             \
  X(AT_DLNA_IFO_FILE_URI, "dlna:ifoFileURI", STRING)                          \
  X(AT_DLNA_CLEARTEXT_SIZE, "dlna:cleartextSize", UINT64)                     \
  X(AT_TARVO_CONTAINER_UPDATE_ID, "tarvo:containerUpdateID", UNKNOWN)         \
  X(AT_TARVO_CHILDREN, "tarvo:children", UNKNOWN)                             \
  X(AT_TARVO_FILENAME, "tarvo:filename", STRING)                              \
  X(AT_TARVO_TIMESTAMP, "tarvo:timestamp", UINT64)                            \
  X(AT_TARVO_MAX_OBJECT_ID, "tarvo:maxObjectID", UNKNOWN)                     \
  X(AT_TARVO_REFERENCED, "tarvo:referenced", UNKNOWN)                         \
  X(AT_TARVO_PRIVATE, "tarvo:private", BOOLEAN)                               \
  X(AT_TARVO_FILTER, "tarvo:filter", STRING)                                  \
  X(AT_ARIB_RESOLUTION, "arib:resolution", STRING)                            \
  X(WILDCARD, "*", UNKNOWN)

/* Index of each name in didl_name_table: DIDL_EL_RES and so on. */
enum didl_name_index {
#define DIDL_NAME_ENUM_(id, text, type) DIDL_##id,
  DIDL_NAMES(DIDL_NAME_ENUM_)
#undef DIDL_NAME_ENUM_
  DIDL_NAME_COUNT
};

/* Names in the server's records point into this table and are compared
 * by pointer. */
extern const char *const didl_name_table[DIDL_NAME_COUNT];
#define DIDL_NAME(id) (didl_name_table[DIDL_##id])

/* The object and property records (didl_object, didl_property,
 * didl_attributes) are those of <tarvo_msf.h>, which plug-ins read.  In the
 * server, attribute and element names point into didl_name_table and are
 * compared by pointer; values and texts belong to the record and are
 * released with didl_value_free (the helpers below do so). */

/* --- names --- */

/* The interned name equal to text, or NULL. */
const char *didl_element_find(const char *text);
const char *didl_attribute_find(const char *text);
/* The value type (avcp_didl_value_type_code) of a pair of this table: its
 * attribute's, else its element's, else unknown. */
int didl_value_type(const avcp_didl_name_pair *pair);

/* A name pair from a request.  "*" without attribute is the wildcard; an
 * empty name leaves the element NULL.  0 for an unknown element, for
 * tarvo:dynamic and tarvo:reflectChildProperty, for the attributes the
 * server keeps to itself, and for tarvo:filename, tarvo:private and
 * tarvo:filter unless allow_private.  An unknown attribute gives
 * (NULL, NULL) and 1. */
int didl_name_pair_checked(const char *name, const char *attribute, int allow_private,
                           avcp_didl_name_pair *pair);

/* --- parsing and checks --- */

/* Every object of a DIDL-Lite file, in file order, into *objects (which
 * must be empty; free with didl_object_array_free).  check: each object
 * must pass didl_object_check.  On failure nothing is handed out. */
int didl_parse(const char *path, int check, sys_ptralloc_rec *objects);
/* The one object of a DIDL-Lite text; 0 unless it holds exactly one. */
int didl_parse_one(const char *text, int check, didl_object **object);

/* 1 when the object may be stored: its required attributes and properties
 * are there, each property passes didl_property_check, only multi-valued
 * properties repeat, the class fits the element and storage classes have
 * their storage properties. */
int didl_object_check(const didl_object *object);
/* 1 when one property may be stored: the attributes it needs are there
 * and every attribute value and its text can be written as XML. */
int didl_property_check(const didl_property *property);
/* 1 for the property names an object may hold more than once. */
int didl_multi_valued_property(const char *element);

/* --- filters --- */

typedef struct didl_filter {
  avcp_didl_name_pair **entries; /* NULL-terminated; owned */
  int32_t all_interfaces;        /* "ALLIP" was asked for */
} didl_filter;

/* filter must be zero-filled or freed; on failure it is left empty. */
int didl_filter_parse(didl_filter *filter, const char *text, int allow_private);
/* 1 when the filter lets the name through (attribute NULL: the element
 * itself).  A NULL filter, or one without entries, lets everything
 * through. */
int didl_filter_match(const didl_filter *filter, const char *element, const char *attribute);
void didl_filter_free(didl_filter *filter);

/* --- search criteria --- */

/* nodes owns avcp_didl_search_relation records naming this table; postfix
 * holds them and tarvo_avcp's interned "and" and "or". */
typedef avcp_didl_search_criteria didl_search;

/* record must be zero-filled or freed; on failure it is left empty. */
int didl_search_parse(didl_search *record, const char *text, int allow_private);
/* 1 when the object matches; an empty record matches everything. */
int didl_search_match(const didl_search *record, const didl_object *object);
/* Cuts each server URL prefix (NULL-terminated list) from the front of
 * operands of URI names, where the prefix is followed by the end or "/". */
void didl_search_strip_prefixes(didl_search *record, char *const *prefixes);
void didl_search_free(didl_search *record);

/* --- sort criteria --- */

/* keys owns avcp_didl_sort_key records naming this table. */
typedef avcp_didl_sort_criteria didl_sort_criteria;

/* record must be zero-filled or freed; on failure it is left empty. */
int didl_sort_parse(didl_sort_criteria *record, const char *text, int allow_private);
/* Sorts object pointers in place; the order of equal objects is not
 * defined. */
void didl_sort(const didl_sort_criteria *record, didl_object **objects, uint32_t count);
/* The value of each key for an object (NULL where it has none), one per
 * key, into values. */
void didl_sort_values(const didl_sort_criteria *record, const didl_object *object, const char **values);
/* Sorts items of the caller's in place by their values (those of item i
 * at values + i * keys), in the order didl_sort gives their objects; 0
 * on exhaustion (the items stay as they were). */
int didl_sort_by_values(const didl_sort_criteria *record, void **items, const char **values, uint32_t count);
void didl_sort_free(didl_sort_criteria *record);

/* --- records and editing --- */

int didl_object_clone(const didl_object *object, didl_object **out);
int didl_property_clone(const didl_property *property, didl_property **out);
/* NULL is accepted. */
void didl_object_free(didl_object *object);
void didl_property_free(didl_property *property);
/* Frees every object, from the last down, and the array itself. */
void didl_object_array_free(sys_ptralloc_rec *objects);

/* Value of an attribute by interned name, NULL when absent. */
const char *didl_attribute_get(const didl_attributes *attributes, const char *name);
/* Index of an attribute by interned name; the count when absent. */
uint32_t didl_attribute_index(const didl_attributes *attributes, const char *name);
/* Replaces the value of an attribute, or appends the attribute. */
int didl_attribute_set(didl_attributes *attributes, const char *name, const char *value);
/* Appends a name and a copy of the value. */
int didl_attribute_add(didl_attributes *attributes, const char *name, const char *value);
/* Removes the first attribute of that name; 0 when there is none. */
int didl_attribute_remove(didl_attributes *attributes, const char *name);
/* Appends "," and text to the attribute's value; no comma when the value
 * is empty; sets the attribute when it is absent. */
int didl_attribute_list_append(didl_attributes *attributes, const char *name, const char *text);
/* Removes the first entry equal to entry from a comma-separated list, in
 * place, with its comma; 0 when it is not there. */
int didl_list_remove(char *list, const char *entry);
/* Adds amount to the attribute's decimal value (absent or unreadable
 * counts as 0); a result below 0 becomes 0. */
int didl_counter_add(didl_attributes *attributes, const char *name, int64_t amount);

/* First property / its index (the count when absent) by interned
 * element name. */
didl_property *didl_property_first(const didl_object *object, const char *element);
uint32_t didl_property_index(const didl_object *object, const char *element);
/* Appends a property with an element name and a copy of text; *out (may
 * be NULL) receives it. */
int didl_property_add(didl_object *object, const char *element, const char *text, didl_property **out);
/* Same element, text and set of attributes with the same values. */
int didl_property_equal(const didl_property *a, const didl_property *b);
/* Index in properties of a property equal to property; the count when
 * there is none. */
uint32_t didl_property_find_equal(const sys_ptralloc_rec *properties, const didl_property *property);

/* Replaces the value or text *s of a record by a copy of text. */
int didl_string_replace(char **s, const char *text);
/* Frees a value or text of a record.  Values that many records repeat are
 * kept once and shared (never write into a value in place unless it was
 * made by the caller); this leaves those, and the values of a packed
 * object, which go with its block. */
void didl_value_free(char *value);
/* 1 when a value or a list of attribute names is one of those shared
 * copies, which live as long as the process: a copy of a record may point
 * at it instead of copying it. */
int didl_value_shared(const void *value);
/* Gives back the spare room of the object's arrays once it is built; its
 * lists of attribute names become copies shared with other records (the
 * helpers here copy a shared list before they change it, and nothing else
 * may write to one). */
void didl_object_fit(didl_object *object);
/* Packs a finished object into one block (its arrays, property records
 * and the values it does not share): *object becomes the packed record and
 * the old one is freed.  An object too large for a block, or when blocks
 * run out, is fitted instead.  A packed object is edited and freed through
 * these helpers like any other (what an edit grows or replaces gets
 * ordinary storage); its property records live as long as the object. */
void didl_object_pack(didl_object **object);
/* Copies the comma-separated piece at *position into buffer (size bytes
 * with the NUL) and moves *position past it and its comma.  0 at the end
 * of the text, and for a piece that does not fit (position unchanged). */
int didl_csv_next(const char *text, uint32_t *position, char *buffer, uint32_t size);

/* For a container: 1 when it lists no upnp:createClass (upnp:searchClass),
 * or one of them allows class_text (derived from it when includeDerived
 * is true, else equal). */
int didl_class_allowed_create(const didl_object *container, const char *class_text);
int didl_class_allowed_search(const didl_object *container, const char *class_text);
/* dc:title, upnp:class and the five upnp:storage properties. */
int didl_required_property(const char *element);
/* upnp:class, upnp:createClass, and upnp:searchClass unless is_search. */
int didl_fixed_property(const char *element, int is_search);

/* --- writers --- */

/* Appends the object as a client sees it: private attributes only for a
 * local requester, filtered, resources of files once per URL prefix
 * (NULL-terminated list) and, for a local requester, once more as an
 * internal file resource; then the plug-ins' tarvo_msf_export_xml for an
 * object with tarvo:dynamic.  plugins: the server's plugin_record
 * pointers, or NULL.  0 (out unchanged) when memory runs out or a value
 * cannot be written as XML. */
int didl_write_for_client(sys_stralloc_rec *out, const didl_object *object, char *const *url_prefixes,
                          const didl_filter *filter, int local, const connection_addresses *connection,
                          const sys_ptralloc_rec *plugins);
/* The same, escaped as the text of another document (as
 * xml_gen_encode_appendb would escape it), in one pass where no plug-in
 * hook applies. */
int didl_write_for_client_escaped(sys_stralloc_rec *out, const didl_object *object, char *const *url_prefixes,
                                  const didl_filter *filter, int local, const connection_addresses *connection,
                                  const sys_ptralloc_rec *plugins);
/* Appends the object in the database form: every attribute and property,
 * nothing prefixed; then tarvo_msf_export_xml_db for tarvo:dynamic.
 * 0 (out unchanged) as above. */
int didl_write(sys_stralloc_rec *out, const didl_object *object, const sys_ptralloc_rec *plugins);

/* Replaces out with the document's start tag; the tarvo namespace only
 * with with_private. */
int didl_xml_begin(sys_stralloc_rec *out, int with_private);
int didl_xml_end(sys_stralloc_rec *out);

#ifdef __cplusplus
}

/* The i-th property of an object, for the server's C++ code. */
inline didl_property *property_at(const didl_object *o, uint32_t i)
{
  return static_cast<didl_property *>(o->properties.buf[i]);
}
#endif
#endif
