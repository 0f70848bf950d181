/* The title editor's pieces: the search criteria that find a file's object
 * on the server, the title trimming, and the sidecar writer. */
#ifndef BRAXEN_BRAXEN_SIDECAR_H
#define BRAXEN_BRAXEN_SIDECAR_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* res@tarvo:filename = "<path>" with backslash and double quote written
 * after a backslash, as the server's criteria reader reads them, and a path
 * that XML cannot carry in its "%" form (xml_gen_filename_append); NULL for
 * an empty path or no memory.  Freed with sys_alloc_free. */
char *braxen_filename_criteria(const char *path);
/* The length of path without a final ".didl" (any case). */
uint32_t braxen_media_length(const char *path);
/* Cuts TAB, LF, CR, blank and U+3000 from both ends of the UTF-8 text in
 * place. */
void braxen_trim_title(char *text);
/* Writes the sidecar of the media file path (path + ".didl") for title
 * through a temporary file "$TMPDIR/didlXXXXXX", which is removed in every
 * case.  S_OK; E_INVALIDARG when the temporary file cannot be made or
 * written; E_FAIL when it cannot be copied over the sidecar. */
int32_t braxen_write_sidecar(const char *path, const char *title);

#ifdef __cplusplus
}
#endif
#endif
