/* The Windows Media header reader that plug-ins use: a WMTag is read from
 * the header objects of an ASF file (WMA, WMV) and answers the collection
 * id that names the album-art pictures of the album. */
#ifndef TARVO_TAG_ASF_H
#define TARVO_TAG_ASF_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct WMTag WMTag;

/* Reads the ASF header of an open file positioned at offset 0, forward up to
 * the Data object (the media data is never read); the file stays open and
 * its position is left anywhere.  NULL when the file is not ASF, its header
 * is malformed or refused (video carried as binary media), or memory runs
 * out.  Freed with WMTag_Delete. */
WMTag *WMTag_New(int file);
/* The WM/WMCollectionID of the file as 36 lower-case characters, hex
 * groups 8-4-4-4-12 joined by '-', no braces; NULL when the file has none.
 * The text belongs to the object; the caller may change its letters in
 * place. */
char *WMTag_GetWMCollectionID(WMTag *tag);
/* NULL is allowed. */
void WMTag_Delete(WMTag *tag);

#ifdef __cplusplus
}
#endif

#endif
