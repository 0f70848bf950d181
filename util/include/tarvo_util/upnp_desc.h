/* UPnP device descriptions: the parsed tree, its copies, absolute URLs,
 * the XML written back, and device and service type URNs. */
#ifndef TARVO_UTIL_UPNP_DESC_H
#define TARVO_UTIL_UPNP_DESC_H

#include <stdint.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_str.h>

#ifdef __cplusplus
extern "C" {
#endif

#define UPNP_DESC_DEVICE_NS "urn:schemas-upnp-org:device-1-0"
#define UPNP_DESC_DLNA_NS "urn:schemas-dlna-org:device-1-0"

/* Every string is a heap copy, NULL when the element was absent. */
typedef struct {
  char *mimetype;
  char *width;
  char *height;
  char *depth;
  char *url;
} upnp_desc_icon_rec;

typedef struct {
  char *serviceType;
  char *serviceId;
  char *SCPDURL;
  char *controlURL;
  char *eventSubURL;
} upnp_desc_service_rec;

typedef struct {
  char *deviceType;
  char *friendlyName;
  char *manufacturer;
  char *manufacturerURL;
  char *modelDescription;
  char *modelName;
  char *modelNumber;
  char *modelURL;
  char *serialNumber;
  char *UDN;
  char *UPC;
  char *presentationURL;
  upnp_desc_icon_rec **icons;       /* NULL-terminated, or NULL */
  upnp_desc_service_rec **services; /* NULL-terminated, or NULL */
  sys_str_list X_DLNADOC;           /* every value in document order, or NULL */
  char *X_DLNACAP;
  char *X_DLNAVIRT;
} upnp_desc_device_rec;

/* devices: the root device first, then every embedded device at any depth
 * in document order; NULL-terminated. */
typedef struct {
  char *url_base;
  upnp_desc_device_rec **devices;
} upnp_desc_rec;

/* 1, or 0 with *desc NULL. */
int upnp_desc_parse(const char *xml, upnp_desc_rec **desc);
void upnp_desc_free(upnp_desc_rec *desc);
/* Deep copy; NULL gives NULL and 1; 0 on exhaustion. */
int upnp_desc_clone(const upnp_desc_rec *desc, upnp_desc_rec **copy);
void upnp_desc_device_free(upnp_desc_device_rec *device);
int upnp_desc_device_clone(const upnp_desc_device_rec *device, upnp_desc_device_rec **copy);
void upnp_desc_icon_free(upnp_desc_icon_rec *icon);
void upnp_desc_service_free(upnp_desc_service_rec *service);
int upnp_desc_icon_clone(const upnp_desc_icon_rec *icon, upnp_desc_icon_rec **copy);
int upnp_desc_service_clone(const upnp_desc_service_rec *service, upnp_desc_service_rec **copy);

/* Makes URLBase (a copy of description_url when missing or empty) and every
 * URL field absolute; 1/0 (0 leaves what was converted converted). */
int upnp_desc_absolute_uri(upnp_desc_rec *desc, const char *description_url);

/* The whole description as a NUL-terminated heap string; 1/0.  The second
 * form always writes the given URLBase. */
int upnp_desc_xml(const upnp_desc_rec *desc, char **out);
int upnp_desc_xml2(const upnp_desc_rec *desc, const char *url_base, char **out);
/* Appends the device at *device; with with_embedded, every device that
 * follows it in the array goes into its deviceList.  1/0. */
int upnp_desc_device_xml(sys_stralloc_rec *sa, upnp_desc_device_rec *const *device, int with_embedded);
int upnp_desc_icon_xml(sys_stralloc_rec *sa, const upnp_desc_icon_rec *icon);
int upnp_desc_service_xml(sys_stralloc_rec *sa, const upnp_desc_service_rec *service);

/* "urn:" domain ":device:" / ":service:" at the start of s. */
int upnp_urn_is_device(const char *s);
int upnp_urn_is_service(const char *s);
/* Equal up to the last ':', which stands at the same place in both. */
int upnp_urn_type_equal(const char *a, const char *b);
/* a equals b, or the same type with version(a) <= / >= version(b). */
int upnp_urn_version_le(const char *a, const char *b);
int upnp_urn_version_ge(const char *a, const char *b);

#ifdef __cplusplus
}
#endif
#endif
