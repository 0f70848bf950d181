/* The record of one loaded plug-in and the types of the entry points the
 * server calls.  Plug-ins export these functions under their tarvo_msf_*
 * names; an entry point the library lacks is NULL in the record. */
#ifndef VENNARD_PLUGIN_H
#define VENNARD_PLUGIN_H

#include <stdint.h>
#include <tarvo_util/http_server.h>
#include <tarvo_util/sys_dlib.h>

#ifdef __cplusplus
extern "C" {
#endif

struct didl_object;
struct plugin_http_get_request;

typedef int (*tarvo_msf_init_fn)(void);
typedef void (*tarvo_msf_free_fn)(void);
typedef const char *(*tarvo_msf_get_dot_suffix_fn)(const char *protocol_info);
typedef int (*tarvo_msf_http_get_fn)(struct plugin_http_get_request *request);
/* Nonzero: buffer holds a NUL-terminated replacement for text. */
typedef int (*tarvo_msf_export_xml_fn)(const connection_addresses *connection, const char *text, char *buffer,
                                       uint32_t capacity);
typedef int (*tarvo_msf_export_xml_db_fn)(const char *text, char *buffer, uint32_t capacity);
typedef int (*tarvo_msf_import_xml_db_fn)(const char *path, const char *text, char *buffer, uint32_t capacity);
typedef int (*tarvo_msf_get_size_fn)(const char *path, uint64_t *size);
typedef int (*tarvo_msf_as_is_updated_fn)(const char *path, const char *mime, const int64_t *timestamp,
                                          const struct didl_object *object);
typedef int (*tarvo_msf_as_rewrite_fn)(const char *path, const char *mime, const char *text, char *buffer,
                                       uint32_t capacity);

typedef struct plugin_record {
  char *name; /* the configuration line that loaded it: its identity */
  sys_dlib_handle library;
  tarvo_msf_free_fn free;
  tarvo_msf_get_dot_suffix_fn get_dot_suffix;
  tarvo_msf_http_get_fn http_get;
  tarvo_msf_export_xml_fn export_xml;
  tarvo_msf_export_xml_db_fn export_xml_db;
  tarvo_msf_import_xml_db_fn import_xml_db;
  tarvo_msf_get_size_fn get_size;
  tarvo_msf_as_is_updated_fn as_is_updated;
  tarvo_msf_as_rewrite_fn as_rewrite;
} plugin_record;

#ifdef __cplusplus
}
#endif
#endif
