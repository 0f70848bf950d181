/* The configuration store under <data_home>/conf: one file per key (the
 * value is its first line), list files (one entry per line), flags (on when
 * the file exists) and folders of records (name and first line).
 *
 * Every call takes the data folder first and returns 1/0; strings handed
 * out are heap copies that the caller frees with sys_alloc_free (lists with
 * sys_str_list_free).  Values are written through a temporary file whose
 * name begins with ".tmp." and a rename, so that readers in other
 * processes see the old or the new value, never a part. */
#ifndef VENNARD_CONF_STORE_H
#define VENNARD_CONF_STORE_H

#include <stdint.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/utf8file.h> /* file_read_all */

#ifdef __cplusplus
extern "C" {
#endif

/* Keys, as paths below the conf folder. */
#define CONF_KEY_UPNP_PORT "upnp_port"
#define CONF_KEY_HTTP_PORT "http_port"
#define CONF_KEY_DMSM_PORT "dmsm_port"
#define CONF_KEY_UDN "udn"
#define CONF_KEY_FRIENDLY_NAME "friendly_name"
#define CONF_KEY_MAX_AGE "max_age"
#define CONF_KEY_UPNP_ROOT "upnp_root"
#define CONF_KEY_DESCRIPTION "upnp_root/description/av_msd.xml"
#define CONF_KEY_FILTER "filter"
#define CONF_KEY_DISABLE_IF "disable_if"
#define CONF_KEY_SPECIAL_OBJECT "special_object"
#define CONF_KEY_AUTO_RUN "auto_run"
#define CONF_KEY_SUSPEND_ACTION "suspend_action"
#define CONF_KEY_SUSPEND_TRANSPORT "suspend_transport"
#define CONF_KEY_ACCESS "access"
#define CONF_KEY_ACCESS_DEFAULT "access/default"
#define CONF_KEY_ACCESS_ALLOW "access/allow"
#define CONF_KEY_ACCESS_DENY "access/deny"
#define CONF_KEY_FILETYPE "filetype"
#define CONF_KEY_SHARE "sync/share"
#define CONF_KEY_SHARE_LIST "sync/share/list"
#define CONF_KEY_SHARE_DONE "sync/share_done"
#define CONF_KEY_SHARE_DATA "sync/data"
#define CONF_KEY_CONTENT_DB "data.xml"
#define CONF_KEY_CONTENT_DB_TMP ".tmp.data.xml"
#define CONF_KEY_CONTENT_DB_DEFAULT "data_default.xml"

#define CONF_MAX_AGE_DEFAULT 1800
/* "uuid:" and the 36 characters of a UUID. */
#define CONF_UDN_LENGTH 41

/* --- paths --- */

/* <data_home>/conf */
int conf_dir_path(const char *data_home, char **path);
/* <data_home>/conf/<key>; key may name a sub-folder ("access/default"). */
int conf_key_path(const char *data_home, const char *key, char **path);
/* <data_home>/conf/<key>/<name> */
int conf_key_item_path(const char *data_home, const char *key, const char *name, char **path);
/* access/.tmp.<name>: the temporary file of an access file. */
int conf_access_tmp_path(const char *data_home, const char *name, char **path);

/* --- readers --- */

/* The first line of a file: one trailing LF, then one trailing CR
 * removed; empty for an empty file.  0 when the file cannot be read. */
int conf_value_read_path(const char *path, char **value);
int conf_value_read(const char *data_home, const char *key, char **value);
/* The leading decimal digits of the value (none: 0); the low 16 bits. */
int conf_port_read(const char *data_home, const char *key, uint16_t *port);
/* max_age, CONF_MAX_AGE_DEFAULT when its file cannot be read. */
int conf_max_age_read(const char *data_home, uint32_t *seconds);
/* filter, disable_if: the non-empty lines; a missing file (or a folder of
 * that name) is an empty list. */
int conf_list_read(const char *data_home, const char *key, sys_str_list *list);
/* special_object: the same lines appended to pa as heap strings. */
int conf_list_append(const char *data_home, const char *key, sys_ptralloc_rec *pa);
/* sync/share/list: a missing file is a failure. */
int conf_share_list_read(const char *data_home, sys_str_list *list);
/* sync/share_done: a missing file is an empty list. */
int conf_share_done_read(const char *data_home, sys_str_list *list);
/* On when the key names an existing file that is not a folder. */
int conf_flag_read(const char *data_home, const char *key, int *on);
/* access/default: allow when the line is "allow" or a leading part of it
 * (the empty line included). */
int conf_access_default_read(const char *data_home, int *allow);
/* The records of a folder (access/allow, access/deny, filetype): names and
 * first lines, in parallel lists.  Names beginning with "." (temporary
 * files) are not records. */
int conf_folder_list(const char *data_home, const char *key, sys_str_list *names,
                     sys_str_list *values);
/* The UDN: the first line of udn when it is CONF_UDN_LENGTH bytes long,
 * else a new one, written to udn.  buf holds CONF_UDN_LENGTH + 1 bytes. */
int conf_udn_read(const char *data_home, char *buf);
/* The MIME type of a file from the filetype record of its extension. */
int conf_mimetype(const char *data_home, const char *path, char **type);
/* upnp_root/description/av_msd.xml, appended to sa. */
int conf_description_read(const char *data_home, sys_stralloc_rec *sa);
/* The local host name (from the native charset), a blank and the
 * description's friendlyName; the friendlyName alone when the host name
 * cannot be had. */
int conf_friendly_name_default(const char *description_name, char **name);

/* 1 for a file-type extension that may name a filetype record: 1 to
 * CONF_EXTENSION_MAX ASCII letters, digits, "-", "_" or "+". */
int conf_extension_valid(const char *ext);
/* 1 for a MAC address as the access files are named: six two-digit
 * hexadecimal bytes joined by "-" (letters of either case). */
int conf_mac_valid(const char *mac);

/* --- writers --- */

/* Writes text (no line end) through tmp_path, renamed over path; the old
 * file stays when anything fails. */
int conf_value_write_path(const char *path, const char *tmp_path, const char *text);
/* Writes a key's value through ".tmp.<name>" in the key's folder. */
int conf_value_write(const char *data_home, const char *key, const char *text);
int conf_access_default_write(const char *data_home, int allow);
/* access/allow/<mac> or access/deny/<mac> holding ip, written through
 * access/.tmp.<new UUID>. */
int conf_access_write(const char *data_home, int allow, const char *mac, const char *ip);
int conf_filetype_write(const char *data_home, const char *ext, const char *mime);
int conf_share_data_write(const char *data_home, const char *object_id, const char *folder);
int conf_share_data_remove(const char *data_home, const char *object_id);
/* Each entry and a LF, through sync/share/.tmp.list. */
int conf_share_list_write(const char *data_home, char *const *list);
/* Each entry and a LF, through sync/share_done.tmp. */
int conf_share_done_write(const char *data_home, char *const *list);
/* On: an empty file; off: no file.  The state it already has is kept. */
int conf_auto_run_write(const char *data_home, int on);
/* Deletes every entry of the folder whose name begins with ".". */
int conf_dot_entries_remove(const char *folder);

#ifdef __cplusplus
}
#endif
#endif
