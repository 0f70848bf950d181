/* Child processes with piped standard input and output, and the process
 * environment. */
#ifndef TARVO_UTIL_SYS_PROCESS_H
#define TARVO_UTIL_SYS_PROCESS_H

#include <stdint.h>
#include <tarvo_util/sys_thread.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Starts program with the argument vector argv (NULL-terminated, argv[0]
 * included) as it is, the environment envp (NULL-terminated, NULL for none)
 * followed by "SYSTEMROOT=" and the value of this process's SystemRoot, in
 * folder cwd (NULL: this process's folder).  The child's standard input is a
 * pipe whose write end comes back in child_stdin_write, its standard output
 * a pipe whose read end comes back in child_stdout_read; its standard error
 * is ours.  The child inherits no other descriptor.  sys_process_join
 * (sys_thread.h) waits for the child and reaps it. */
int sys_process_create(sys_process_handle *process, int *child_stdout_read, int *child_stdin_write,
                       const char *program, char *const *argv, char *const *envp, const char *cwd);

/* The value of the environment variable name (case-sensitive), pointing
 * into the environment; NULL when unset or name is NULL. */
const char *sys_env_get(const char *name);

#ifdef __cplusplus
}
#endif
#endif
