/* Ini files with the private-profile rules of the desktop programs:
 * sections and keys without case, blanks around them trimmed, a default
 * when missing, CR LF and LF lines read, every other line kept on write. */
#ifndef TARVO_PLATFORM_PROFILE_H
#define TARVO_PLATFORM_PROFILE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Longest line looked at; longer lines are kept on write but never match. */
#define PROFILE_LINE_MAX 4096
/* Largest ini file read or rewritten. */
#define PROFILE_FILE_MAX (1024 * 1024)

/* The value of key in section (one pair of matching quotes around it
 * removed), else def (NULL: empty) with trailing blanks removed, copied
 * into out with a NUL and cut to size - 1 bytes.  Returns the bytes
 * copied, without the NUL. */
size_t profile_get_string(const char *section, const char *key, const char *def, char *out, size_t size,
                          const char *path);

/* The leading decimal digits (an optional sign first) of the value; a value
 * without digits is 0; def when the key is missing. */
int profile_get_int(const char *section, const char *key, int def, const char *path);

/* Sets key = value in section, creating the file (mode 0644), the section
 * or the key as needed; value NULL removes the key, key NULL the whole
 * section.  The file is rewritten in place under an exclusive lock and
 * never through a symbolic link.  1 on success, 0 on failure. */
int profile_write_string(const char *section, const char *key, const char *value, const char *path);

#ifdef __cplusplus
}
#endif
#endif
