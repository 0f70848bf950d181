/* Named objects shared between the desktop programs: a mutex that guards a
 * single instance, an auto-reset event between the windows of a process,
 * and a small shared section.  Every descriptor is close-on-exec. */
#ifndef TARVO_PLATFORM_NAMED_H
#define TARVO_PLATFORM_NAMED_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Longest object name (the mutex's socket name must fit sun_path). */
#define NAMED_NAME_MAX 80
/* Size of a named section. */
#define NAMED_SECTION_SIZE 4096u

/* Scope of a name: every user of the machine, or the calling user only. */
#define NAMED_SCOPE_USER 0
#define NAMED_SCOPE_GLOBAL 1

/* Takes the mutex `name`: on success *fd is the owner's descriptor, which
 * the kernel frees when the process ends, and 1 is returned.  When another
 * process holds it, *exists is 1 and 0 is returned; other failures leave
 * *exists 0.  The descriptor becomes readable when a second instance asks
 * the owner to show itself (named_mutex_activate). */
int named_mutex_create(const char *name, int scope, int *fd, int *exists);
/* Reads one request from the owner's descriptor: 1 when it was "activate". */
int named_mutex_take_request(int fd);
/* Asks the owner of the mutex to show its window: 1 when it was told. */
int named_mutex_activate(const char *name, int scope);
void named_mutex_close(int fd);

/* An auto-reset event of this process, created unsignalled on the first
 * open of its name and shared by every later open until the last close. */
typedef struct named_event_rec named_event_rec;
named_event_rec *named_event_open(const char *name);
void named_event_set(named_event_rec *e);
/* 1 when the event was signalled within timeout_ms (and is now reset). */
int named_event_wait(named_event_rec *e, uint32_t timeout_ms);
void named_event_close(named_event_rec *e);

/* A NAMED_SECTION_SIZE section: created (mode 0644, zero-filled when new)
 * and mapped for writing, or opened read-only.  *map is unmapped with
 * named_section_close, which also removes the name when created. */
typedef struct named_section_rec named_section_rec;
named_section_rec *named_section_create(const char *name, int scope, void **map);
named_section_rec *named_section_open(const char *name, int scope, const void **map);
void named_section_close(named_section_rec *s);

#ifdef __cplusplus
}
#endif
#endif
