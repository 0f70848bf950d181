/* Filters, search criteria and sort criteria over DIDL-Lite objects.
 * Each parsed record is reached through a handle: a pointer variable that
 * the caller owns and passes by address to every call. */
#ifndef TARVO_AVCP_DIDL_CRITERIA_H
#define TARVO_AVCP_DIDL_CRITERIA_H

#include <stdint.h>
#include <tarvo_avcp/avcp_didl.h>
#include <tarvo_util/sys_alloc.h>

#ifdef __cplusplus
extern "C" {
#endif

/* --- filters --- */

/* NULL-terminated array of owned pairs.  ("*", NULL) is the wildcard; an
 * element of NULL stands for container or item. */
typedef avcp_didl_name_pair **avcp_didl_filter;

/* Allocates one pair and appends it to a growing array of pairs. */
int avcp_didl_filter_entry_append(sys_ptralloc_rec *entries, const char *element, const char *attribute);
int avcp_didl_filter_parse(avcp_didl_filter *handle, const char *filter_text);
/* name_text: element, element@attribute or @attribute.  A NULL handle
 * address, or an empty handle, lets everything through. */
int avcp_didl_filter_match(const avcp_didl_filter *handle, const char *name_text);
void avcp_didl_filter_free(avcp_didl_filter *handle);

/* --- search criteria --- */

/* The interned search words, in table order. */
enum avcp_didl_search_word_index {
  AVCP_DIDL_SW_AND,
  AVCP_DIDL_SW_OR,
  AVCP_DIDL_SW_EQ,
  AVCP_DIDL_SW_NE,
  AVCP_DIDL_SW_LT,
  AVCP_DIDL_SW_LE,
  AVCP_DIDL_SW_GT,
  AVCP_DIDL_SW_GE,
  AVCP_DIDL_SW_CONTAINS,
  AVCP_DIDL_SW_DOES_NOT_CONTAIN,
  AVCP_DIDL_SW_DERIVED_FROM,
  AVCP_DIDL_SW_EXISTS,
  AVCP_DIDL_SW_OPEN,
  AVCP_DIDL_SW_CLOSE,
  AVCP_DIDL_SW_TRUE,
  AVCP_DIDL_SW_FALSE,
  AVCP_DIDL_SW_COUNT
};
extern const char *const avcp_didl_search_word_table[AVCP_DIDL_SW_COUNT];

typedef struct avcp_didl_search_relation {
  const char *element;   /* interned; NULL with attribute NULL: unknown name */
  const char *attribute; /* interned or NULL */
  const char *op;        /* an interned operator word */
  char *operand;         /* owned; "true" or "false" for exists */
} avcp_didl_search_relation;

/* nodes owns every relation; postfix holds relations and the interned
 * words "and" and "or".  An empty postfix sequence matches everything. */
typedef struct avcp_didl_search_criteria {
  sys_ptralloc_rec nodes;
  sys_ptralloc_rec postfix;
} avcp_didl_search_criteria;

/* Reads one token from text at *position (which moves past it) into token,
 * which then holds the NUL-terminated text (len not counting the NUL).  At
 * the end of the text the token is empty.  Quoted mode: a string in double
 * quotes, backslash escaping the next character; 0 when it does not open
 * with a quote or is not closed, or memory runs out. */
int avcp_didl_search_criteria_token_read(const char *text, int quoted, uint32_t *position,
                                         sys_stralloc_rec *token);
/* 1 for "or", 2 for "and", 0 for anything else. */
int avcp_didl_search_criteria_precedence(const char *op);
/* One relation against one value (NULL: the object has none). */
int avcp_didl_search_criteria_relation_eval(const avcp_didl_search_relation *node, const char *value);
int avcp_didl_search_criteria_parse(avcp_didl_search_criteria **handle, const char *criteria_text);
/* A NULL handle address, or an empty handle, matches everything. */
int avcp_didl_search_criteria_match(avcp_didl_search_criteria *const *handle, const avcp_didl_object *object);
void avcp_didl_search_criteria_free(avcp_didl_search_criteria **handle);

/* --- sort criteria --- */

typedef struct avcp_didl_sort_key {
  int ascending; /* 1 for "+", 0 for "-" */
  int type;      /* avcp_didl_value_type_code of the pair */
  const char *element;
  const char *attribute;
} avcp_didl_sort_key;

typedef struct avcp_didl_sort_criteria {
  sys_ptralloc_rec keys; /* of owned avcp_didl_sort_key */
} avcp_didl_sort_criteria;

int avcp_didl_sort_criteria_parse(avcp_didl_sort_criteria **handle, const char *sort_text);
/* Orders two values of one key (NULL: no value): negative when a comes
 * first, 0 when the key does not decide.  Missing values go last for an
 * ascending key and first for a descending one. */
int avcp_didl_sort_value_compare(const avcp_didl_sort_key *key, const char *a, const char *b);
/* sort_quick comparator: a and b point at avcp_didl_object pointers,
 * criteria is the avcp_didl_sort_criteria. */
int avcp_didl_sort_compare(const void *a, const void *b, void *criteria);
void avcp_didl_sort(avcp_didl_sort_criteria *const *handle, avcp_didl_object **objects, uint32_t count);
void avcp_didl_sort_criteria_free(avcp_didl_sort_criteria **handle);

#ifdef __cplusplus
}
#endif
#endif
