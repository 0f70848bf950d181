/* Dynamic libraries.  A name without "/" is looked up as lib<name>.so, then
 * <name>.so, first in the running program's folder, then through the
 * loader's search; a name with "/" is loaded as it is.  Results are 1/0. */
#ifndef TARVO_UTIL_SYS_DLIB_H
#define TARVO_UTIL_SYS_DLIB_H

#ifdef __cplusplus
extern "C" {
#endif

typedef void *sys_dlib_handle;
typedef void (*sys_dlib_fn)(void);

int sys_dlib_load(sys_dlib_handle *lib, const char *path);
/* The address of the exported function name; cast it to its own type. */
int sys_dlib_name(sys_dlib_handle *lib, const char *name, sys_dlib_fn *fn);
int sys_dlib_free(sys_dlib_handle *lib);

#ifdef __cplusplus
}
#endif
#endif
