/* The registry stand-in: keys are folders below $TARVO_REGISTRY_ROOT (else
 * /var/lib/tarvo/registry), named by their path such as
 * "HKEY_LOCAL_MACHINE/SYSTEM/CurrentControlSet/Control/Session Manager";
 * each value is one file in its key's folder, named by the value ("@" for
 * the default value), holding a 4-byte little-endian type and the raw data.
 * Results are the system's error codes: 0, REGISTRY_NOT_FOUND, ... */
#ifndef TARVO_PLATFORM_REGISTRY_H
#define TARVO_PLATFORM_REGISTRY_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define REGISTRY_SZ 1u /* UTF-8 text with its NUL */
#define REGISTRY_EXPAND_SZ 2u
#define REGISTRY_BINARY 3u
#define REGISTRY_DWORD 4u
#define REGISTRY_MULTI_SZ 7u /* UTF-16LE strings, each with its NUL, then one more NUL */

#define REGISTRY_OK 0u
#define REGISTRY_NOT_FOUND 2u
#define REGISTRY_ACCESS_DENIED 5u
#define REGISTRY_INVALID_PARAMETER 87u
#define REGISTRY_MORE_DATA 234u
#define REGISTRY_IO_ERROR 1117u

/* Largest value file read (4-byte type included). */
#define REGISTRY_VALUE_MAX (1u << 20)

/* Reads value `name` (NULL or "": the default value) of `key`.  *size holds
 * the capacity of data and becomes the data's length; with data NULL only
 * the length is given.  REGISTRY_MORE_DATA (with the length in *size and
 * data untouched) when it does not fit.  type may be NULL. */
uint32_t registry_query_value(const char *key, const char *name, uint32_t *type, void *data, uint32_t *size);
/* Writes the value whole (creating the key's folders): a temporary file
 * beside it renamed over it, so that a reader sees the old or the new
 * value, never a part. */
uint32_t registry_set_value(const char *key, const char *name, uint32_t type, const void *data, uint32_t size);
uint32_t registry_delete_value(const char *key, const char *name);
/* REGISTRY_OK when the key exists (create: made with its parents). */
uint32_t registry_open_key(const char *key, int create);
/* Removes the key with its values and subkeys. */
uint32_t registry_delete_key(const char *key);

#ifdef __cplusplus
}
#endif
#endif
