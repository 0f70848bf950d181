/* Bounds of the HTML view, each with its reason. */
#ifndef TARVO_HTML_LIMITS_H
#define TARVO_HTML_LIMITS_H

/* A posted event snapshot: six short texts, a value at most a text field's. */
#define HTML_SNAPSHOT_MAX (64u * 1024u)
/* Elements whose events one view captures: a page's handful of controls. */
#define HTML_CAPTURE_MAX 256u
/* A name in a capture entry (id, class, tag, event). */
#define HTML_CAPTURE_NAME_MAX 256u
/* Program time a script may run before its run fails (an open alert does
 * not count): a page script that takes longer is hung. */
#define HTML_SCRIPT_TIMEOUT_MS 10000u
/* Alerts kept for the automation socket. */
#define HTML_ALERTS_MAX 1024u

#endif
