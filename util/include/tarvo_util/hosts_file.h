/* The local name table: "/etc/hosts", or the file $TARVO_HOSTS_FILE names.
 * Programs that show client names read it instead of asking the network. */
#ifndef TARVO_UTIL_HOSTS_FILE_H
#define TARVO_UTIL_HOSTS_FILE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Longer files are not read: a hosts file is a short table. */
#define HOSTS_FILE_MAX 1048576u

/* The file to read. */
const char *hosts_file_path(void);
/* The first name on the first line of a hosts-format text whose address is
 * addr (comments after '#' ignored): its length, with *name pointing into
 * data; 0 when there is none. */
uint32_t hosts_text_name(const char *data, uint32_t size, const char *addr, const char **name);

#ifdef __cplusplus
}
#endif
#endif
