/* What the server start takes from its device description: the devices
 * with their names and services, and the service modules that some
 * services name.  Used while the server starts only. */
#ifndef VENNARD_SERVER_DESC_H
#define VENNARD_SERVER_DESC_H

#include <stdint.h>
#include <tarvo_device/tarvo_device.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_dlib.h>

#ifdef __cplusplus
extern "C" {
#endif

struct server_rec;

/* The namespace of the serviceModule attribute of a service element. */
#define SERVER_DESC_MODULE_NS "urn:schemas-tarvo-org:device-1-0"

/* One service; every string is a heap copy, service_module NULL when the
 * service names no module. */
typedef struct server_desc_service_rec {
  char *service_module;
  char *service_type;
  char *service_id;
} server_desc_service_rec;

/* One device, the root device or an embedded one; services is a
 * NULL-terminated array. */
typedef struct server_desc_device_rec {
  char *friendly_name;
  char *model_name;
  server_desc_service_rec **services;
} server_desc_device_rec;

/* devices: NULL-terminated, the root device first, then the embedded ones
 * in document order. */
typedef struct server_desc_rec {
  char *url_base;
  server_desc_device_rec **devices;
} server_desc_rec;

/* Parses a device description of length bytes (NUL not needed) into desc,
 * which must be zero-filled.  Only elements of UPNP_DESC_DEVICE_NS count;
 * the document element must be root with exactly one device; a serviceList
 * must hold a service; devices without friendlyName or modelName, or with a
 * service lacking serviceType or serviceId, are dropped, and at least one
 * must remain.  1/0; on failure desc is left empty. */
int description_read(const char *text, uint32_t length, server_desc_rec *desc);
/* Frees what description_read made and zero-fills desc. */
void description_free(server_desc_rec *desc);

/* --- service modules --- */

/* The entry points a service module exports. */
typedef device_service_handler *(*tarvo_sm_handler_init_fn)(struct server_rec *s);
typedef int (*tarvo_sm_start_fn)(struct server_rec *s);
typedef void (*tarvo_sm_end_fn)(void);

typedef struct service_module_rec {
  sys_dlib_handle library;
  tarvo_sm_end_fn end; /* NULL until found */
} service_module_rec;

/* Loads the modules of the device's services, in document order, into the
 * server record's module list, each one's handler record appended to
 * handlers (device_service_handler pointers).  On a failure every module is
 * unloaded again (handlers keeps what it had before) and 0 is returned. */
int service_modules_load(struct server_rec *s, const server_desc_device_rec *device, sys_ptralloc_rec *handlers);
/* tarvo_sm_end and the library of every module, the last first. */
void service_modules_unload(struct server_rec *s);

#ifdef __cplusplus
}
#endif
#endif
