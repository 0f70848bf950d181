/* Bounds of the desktop layer, each with its reason. */
#ifndef TARVO_UI_LIMITS_H
#define TARVO_UI_LIMITS_H

/* A request line of the automation socket: commands are short. */
#define UI_AUTOMATION_LINE_MAX 4096u
/* Automation clients at once: a test drives one or two. */
#define UI_AUTOMATION_CLIENTS_MAX 8u
/* Windows listed by "windows": more than any program here makes. */
#define UI_AUTOMATION_WINDOWS_MAX 4096u
/* sun_path of a UNIX socket address, less its NUL. */
#define UI_AUTOMATION_PATH_MAX 107u

/* An ELF file whose version record is read: larger than any program here. */
#define UI_VERSION_FILE_MAX (512u * 1024u * 1024u)
/* The ".tarvo_version" section: two short texts. */
#define UI_VERSION_SECTION_MAX 4096u

#endif
