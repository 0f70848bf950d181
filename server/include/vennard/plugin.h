/* The plug-in host: the record of one loaded plug-in, loading the
 * plug-ins named in the configuration key filter, and the calls through
 * which the server uses them.  The entry points and the records they
 * receive are those of <tarvo_msf.h>. */
#ifndef VENNARD_PLUGIN_H
#define VENNARD_PLUGIN_H

#include <stdint.h>
#include <tarvo_msf.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_dlib.h>

#ifdef __cplusplus
extern "C" {
#endif

struct server_rec;

/* One loaded plug-in; an entry point the library lacks is NULL. */
typedef struct plugin_record {
  /* its identity: the configuration line that loaded it, or for a line
   * naming a path, the file name without "lib" and ".so" */
  char *name;
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

/* Loads every plug-in that the list filter names, in list order, into
 * the content database's plug-in array (plugin_record pointers).  A line
 * whose library does not load, lacks tarvo_msf_init or tarvo_msf_free, or
 * whose tarvo_msf_init says 0, is skipped.  0 only when a loaded record
 * cannot be stored or the list cannot be read; nothing stays loaded
 * then. */
int plugins_load(struct server_rec *s);
/* Unloads every plug-in, from the last to the first, and empties the
 * array. */
void plugins_unload(struct server_rec *s);
/* One plug-in by its library name or path; NULL when it cannot be used. */
plugin_record *plugin_load(const char *name);
/* tarvo_msf_free, then the library and the record.  NULL accepted. */
void plugin_unload(plugin_record *record);
/* The first plug-in whose identity (its name) equals name (exact), or
 * NULL. */
plugin_record *plugin_find(const sys_ptralloc_rec *plugins, const char *name);

/* 1 when the resource p of object o can be answered as the Browse answer
 * offers it: it names no plug-in in tarvo:filter, names a loaded one that
 * serves resources, or is the file itself (no protocolInfo, or the MIME
 * type of the object's first resource of the same file).  0 for one that
 * would be the file's bytes under another MIME type. */
int plugin_resource_served(const sys_ptralloc_rec *plugins, const didl_object *o, const didl_property *p);

/* 1 when a plug-in, asked in list order, wants to (re)write the item of
 * path (tarvo_msf_as_is_updated with the stored timestamp and the
 * object; either may be NULL); else 0. */
int plugins_any_is_updated(const sys_ptralloc_rec *plugins, const char *path, const char *mime,
                           const uint64_t *timestamp, const didl_object *object);
/* Passes a new object through every plug-in that both asks to rewrite it
 * and rewrites, in list order, each on the previous one's text; the final
 * text replaces *object.  An answer that is not exactly one object is
 * logged and passed over: the next plug-in gets the text from before it.
 * 0 leaves *object as it was (memory ran out).  mime is NULL for a
 * folder's container. */
int plugins_rewrite(const sys_ptralloc_rec *plugins, const char *path, const char *mime,
                    didl_object **object);
/* The URL suffix that the plug-in named filter gives a resource of this
 * protocolInfo, copied into buf (size bytes with the NUL); 0 when no
 * plug-in has that name, it has no answer or the answer does not fit or
 * does not begin with ".". */
int plugin_dot_suffix(const sys_ptralloc_rec *plugins, const char *filter, const char *protocol_info,
                      char *buf, uint32_t size);

#ifdef __cplusplus
}
#endif
#endif
