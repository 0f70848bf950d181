/* Limits of the AV control-point library: sizes and counts, in one place.
 * Each area keeps its own block. */
#ifndef TARVO_AVCP_LIMITS_H
#define TARVO_AVCP_LIMITS_H

/* --- DIDL-Lite object model --- */

/* Bytes handed to the XML parser per call when a document is parsed. */
#define AVCP_DIDL_PARSE_PIECE 1024u

/* Longest prefixed name that the name table can hold ("upnp:" plus the
 * longest local name, with room to spare); longer names are unknown. */
#define AVCP_DIDL_NAME_MAX 64u

/* Stack entries a search match keeps without going to the heap. */
#define AVCP_DIDL_SEARCH_STACK_INLINE 32u

/* --- action layer --- */

/* Longest argument name or fixed argument text of the action tables
 * ("CurrentGreenVideoBlackLevel" has 27), with room to spare. */
#define AVCP_ACTION_NAME_MAX 64u

#endif
