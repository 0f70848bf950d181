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

/* The common media folders. */
#define SPECIAL_FOLDER_MUSIC 1
#define SPECIAL_FOLDER_PICTURES 2
#define SPECIAL_FOLDER_VIDEO 3
/* $TARVO_COMMON_MUSIC, $TARVO_COMMON_PICTURES or $TARVO_COMMON_VIDEO when
 * set (empty: none), else the user's XDG folder of that kind (XDG_MUSIC_DIR,
 * XDG_PICTURES_DIR, XDG_VIDEOS_DIR of user-dirs.dirs, not the home folder
 * itself); written with a NUL into buf.  0 when there is none or it does
 * not fit. */
int special_folder_common_media(int kind, char *buf, uint32_t size);

#ifdef __cplusplus
}
#endif
#endif
