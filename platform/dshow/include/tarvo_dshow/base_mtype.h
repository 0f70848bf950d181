/* Media types: the CMediaType record with its own format block, and the
 * helpers for types handed out in task memory. */
#ifndef TARVO_DSHOW_BASE_MTYPE_H
#define TARVO_DSHOW_BASE_MTYPE_H

#include <tarvo_dshow/dshow.h>

/* Frees the format block (and the interface) of a type, not the type. */
void FreeMediaType(AM_MEDIA_TYPE &mt);
/* Frees a type from CreateMediaType or an enumerator, block included. */
void DeleteMediaType(AM_MEDIA_TYPE *pmt);
/* A copy of src in task memory; NULL when memory runs out. */
AM_MEDIA_TYPE *CreateMediaType(const AM_MEDIA_TYPE *src);
/* Deep copy into an empty target; E_OUTOFMEMORY leaves it empty. */
HRESULT CopyMediaType(AM_MEDIA_TYPE *target, const AM_MEDIA_TYPE *source);

class CMediaType : public AM_MEDIA_TYPE {
 public:
  CMediaType();
  explicit CMediaType(const GUID *majortype);
  CMediaType(const AM_MEDIA_TYPE &src, HRESULT *phr = nullptr);
  CMediaType(const CMediaType &src);
  ~CMediaType();

  /* A copy whose block could not be had is left empty (IsValid false). */
  CMediaType &operator=(const AM_MEDIA_TYPE &src);
  CMediaType &operator=(const CMediaType &src);
  bool operator==(const CMediaType &other) const;
  bool operator!=(const CMediaType &other) const { return !(*this == other); }

  HRESULT Set(const AM_MEDIA_TYPE &src);
  bool IsValid() const { return majortype != GUID_NULL; }
  const GUID *Type() const { return &majortype; }
  void SetType(const GUID *t) { majortype = *t; }
  const GUID *Subtype() const { return &subtype; }
  void SetSubtype(const GUID *t) { subtype = *t; }
  const GUID *FormatType() const { return &formattype; }
  void SetFormatType(const GUID *t) { formattype = *t; }
  bool IsFixedSize() const { return bFixedSizeSamples != FALSE; }
  bool IsTemporalCompressed() const { return bTemporalCompression != FALSE; }
  ULONG GetSampleSize() const { return IsFixedSize() ? lSampleSize : 0; }
  void SetSampleSize(ULONG size);
  void SetVariableSize();
  void SetTemporalCompression(BOOL compressed) { bTemporalCompression = compressed; }

  BYTE *Format() const { return pbFormat; }
  ULONG FormatLength() const { return cbFormat; }
  /* A block of length bytes (the old one kept when as long); NULL when
   * memory runs out. */
  BYTE *AllocFormatBuffer(ULONG length);
  BYTE *ReallocFormatBuffer(ULONG length);
  bool SetFormat(const BYTE *format, ULONG length);
  void ResetFormatBuffer();
  void InitMediaType();

  /* Whether this type is only partly given: a NULL major type, subtype or
   * (with a format) format type matches anything. */
  bool IsPartiallySpecified() const;
  /* Whether the given parts of partial agree with this type. */
  bool MatchesPartial(const CMediaType *partial) const;
};

#endif
