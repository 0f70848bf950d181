/* Folders that the system's shell would name. */
#ifndef TARVO_PLATFORM_SPECIAL_FOLDER_H
#define TARVO_PLATFORM_SPECIAL_FOLDER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The common application-data folder: $TARVO_COMMON_APPDATA when set,
 * else /var/lib; written with a NUL into buf.  0 when it does not fit. */
int special_folder_common_appdata(char *buf, uint32_t size);

#ifdef __cplusplus
}
#endif
#endif
