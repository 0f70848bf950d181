/* Character tests of the AV control point. */
#ifndef TARVO_AVCP_CHAR_H
#define TARVO_AVCP_CHAR_H

#ifdef __cplusplus
extern "C" {
#endif

/* 1 for TAB, LF, VT, FF, CR and the blank; bytes from 128 up never are. */
int avcp_char_is_space(signed char c);

#ifdef __cplusplus
}
#endif
#endif
