/* What crosses between the media server and its plug-ins: the server's
 * object and property records that plug-ins read, the request record of a
 * served resource, and the tarvo_msf_* entry points.  Plug-ins and the
 * server both include this header; nothing here depends on a 32-bit
 * layout.
 *
 * A plug-in is a shared library that exports tarvo_msf_init and
 * tarvo_msf_free and any of the others.  Text is UTF-8 and NUL-terminated;
 * strings and records handed to an entry point belong to the server and
 * live for the duration of the call only. */
#ifndef TARVO_MSF_H
#define TARVO_MSF_H

#include <stdint.h>
#include <tarvo_util/http_message.h>
#include <tarvo_util/http_server.h>
#include <tarvo_util/sys_alloc.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Output buffers handed to the rewrite and export entry points hold this
 * many bytes, the terminating NUL included. */
#define TARVO_MSF_BUFFER_SIZE 50000u

/* --- the server's records --- */

/* Parallel arrays: names holds the attribute names (const char *, as
 * written, "protocolInfo", "tarvo:filename"), values the values
 * (char *). */
typedef struct didl_attributes {
  sys_ptralloc_rec names;
  sys_ptralloc_rec values;
} didl_attributes;

/* One child element of an object: its name as written ("res",
 * "upnp:class", "upnp:albumArtURI"), its text ("" when it has none) and
 * its attributes. */
typedef struct didl_property {
  didl_attributes attributes;
  const char *element;
  char *text;
} didl_property;

/* One container or item: its attributes, element name ("container" or
 * "item") and properties (didl_property pointers, in document order). */
typedef struct didl_object {
  didl_attributes attributes;
  const char *element;
  sys_ptralloc_rec properties;
} didl_object;

/* --- a request for a resource that a plug-in serves --- */

typedef struct plugin_http_get_request {
  const http_request_startline_rec *startline; /* method, URI, version */
  char *const *headers;           /* normalised header lines, NULL-terminated */
  connection_addresses addresses; /* local then remote; addresses in network order, ports in host order */
  int socket;                     /* set to -1 when the plug-in closed or kept the socket */
  const char *mime_type;          /* of the resource */
  const char *content_features;   /* fourth field of its protocolInfo */
  uint32_t duration_ms;           /* 0 when unknown */
  const char *path;               /* the media file (tarvo:filename) */
  const char *didl;               /* the object as a DIDL-Lite document, as the requester sees it */
} plugin_http_get_request;

/* --- entry points --- */

/* Nonzero when the plug-in is ready; after 0 it is unloaded at once,
 * without tarvo_msf_free. */
typedef int (*tarvo_msf_init_fn)(void);
/* Called once before the library is freed. */
typedef void (*tarvo_msf_free_fn)(void);
/* The suffix, beginning with ".", of the URL of a resource with this
 * protocolInfo; copied at once.  NULL: the media file's own suffix. */
typedef const char *(*tarvo_msf_get_dot_suffix_fn)(const char *protocol_info);
/* Writes the whole HTTP answer on request->socket.  Nonzero: the
 * connection may serve another request. */
typedef int (*tarvo_msf_http_get_fn)(plugin_http_get_request *request);
/* Nonzero: buffer holds a NUL-terminated replacement for the object's
 * text, as a client of that connection sees it. */
typedef int (*tarvo_msf_export_xml_fn)(const connection_addresses *connection, const char *text,
                                       char *buffer, uint32_t capacity);
/* The same for the text stored in the database file. */
typedef int (*tarvo_msf_export_xml_db_fn)(const char *text, char *buffer, uint32_t capacity);
/* Looked up, never called. */
typedef int (*tarvo_msf_import_xml_db_fn)(const char *path, const char *text, char *buffer,
                                          uint32_t capacity);
/* Nonzero: *size is the size of the plug-in's resource for the file. */
typedef int (*tarvo_msf_get_size_fn)(const char *path, uint64_t *size);
/* Nonzero when the plug-in wants to (re)write the item of path.  mime is
 * NULL for a folder's container; timestamp (seconds since 1970, as last
 * recorded) is NULL before a rewrite; object is the server's record of
 * the object, or NULL, and may be read during the call only. */
typedef int (*tarvo_msf_as_is_updated_fn)(const char *path, const char *mime, const uint64_t *timestamp,
                                          const didl_object *object);
/* text is a DIDL-Lite document holding one object.  Nonzero: buffer holds
 * a NUL-terminated DIDL-Lite document with exactly one object that
 * replaces it. */
typedef int (*tarvo_msf_as_rewrite_fn)(const char *path, const char *mime, const char *text, char *buffer,
                                       uint32_t capacity);

/* The names plug-ins export them under. */
#if defined(__GNUC__)
#define TARVO_MSF_EXPORT __attribute__((visibility("default")))
#else
#define TARVO_MSF_EXPORT
#endif

TARVO_MSF_EXPORT int tarvo_msf_init(void);
TARVO_MSF_EXPORT void tarvo_msf_free(void);
TARVO_MSF_EXPORT const char *tarvo_msf_get_dot_suffix(const char *protocol_info);
TARVO_MSF_EXPORT int tarvo_msf_http_get(plugin_http_get_request *request);
TARVO_MSF_EXPORT int tarvo_msf_export_xml(const connection_addresses *connection, const char *text,
                                          char *buffer, uint32_t capacity);
TARVO_MSF_EXPORT int tarvo_msf_export_xml_db(const char *text, char *buffer, uint32_t capacity);
TARVO_MSF_EXPORT int tarvo_msf_import_xml_db(const char *path, const char *text, char *buffer,
                                             uint32_t capacity);
TARVO_MSF_EXPORT int tarvo_msf_get_size(const char *path, uint64_t *size);
TARVO_MSF_EXPORT int tarvo_msf_as_is_updated(const char *path, const char *mime, const uint64_t *timestamp,
                                             const didl_object *object);
TARVO_MSF_EXPORT int tarvo_msf_as_rewrite(const char *path, const char *mime, const char *text,
                                          char *buffer, uint32_t capacity);

#ifdef __cplusplus
}
#endif
#endif
