/* Path composition for the desktop programs. */
#ifndef TARVO_PLATFORM_PATH_H
#define TARVO_PLATFORM_PATH_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Longest path composed (the system's limit). */
#define PATH_APPEND_MAX 4096u

/* Appends `more` to the path in buf (size bytes) with one "/" between
 * them, however many either side has, then removes "." components and
 * resolves ".." against the components before it (never above the root
 * of an absolute path).  0, with buf unchanged, when the result does not
 * fit. */
int path_append(char *buf, uint32_t size, const char *more);

/* The folder of the running program: $TARVO_SERVICE_DIR when set, else the
 * folder of /proc/self/exe.  0 when it does not fit. */
int path_program_folder(char *buf, uint32_t size);

/* The program-files folder: $TARVO_PROGRAM_FILES when set, else /opt. */
int special_folder_program_files(char *buf, uint32_t size);

#ifdef __cplusplus
}
#endif
#endif
