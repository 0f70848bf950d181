// Media types and their format blocks in task memory.
#include <tarvo_dshow/base_mtype.h>

#include <algorithm>

void FreeMediaType(AM_MEDIA_TYPE &mt)
{
  if (mt.cbFormat || mt.pbFormat) CoTaskMemFree(mt.pbFormat);
  mt.cbFormat = 0;
  mt.pbFormat = nullptr;
  if (mt.pUnk) {
    mt.pUnk->Release();
    mt.pUnk = nullptr;
  }
}

void DeleteMediaType(AM_MEDIA_TYPE *pmt)
{
  if (!pmt) return;
  FreeMediaType(*pmt);
  CoTaskMemFree(pmt);
}

HRESULT CopyMediaType(AM_MEDIA_TYPE *target, const AM_MEDIA_TYPE *source)
{
  *target = *source;
  if (source->cbFormat && source->pbFormat) {
    target->pbFormat = static_cast<BYTE *>(CoTaskMemAlloc(source->cbFormat));
    if (!target->pbFormat) {
      target->cbFormat = 0;
      target->pUnk = nullptr;
      return E_OUTOFMEMORY;
    }
    std::memcpy(target->pbFormat, source->pbFormat, source->cbFormat);
  } else {
    target->cbFormat = 0;
    target->pbFormat = nullptr;
  }
  if (target->pUnk) target->pUnk->AddRef();
  return S_OK;
}

AM_MEDIA_TYPE *CreateMediaType(const AM_MEDIA_TYPE *src)
{
  auto *pmt = static_cast<AM_MEDIA_TYPE *>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (!pmt) return nullptr;
  if (FAILED(CopyMediaType(pmt, src))) {
    CoTaskMemFree(pmt);
    return nullptr;
  }
  return pmt;
}

CMediaType::CMediaType()
{
  InitMediaType();
}

CMediaType::CMediaType(const GUID *type)
{
  InitMediaType();
  majortype = *type;
}

CMediaType::CMediaType(const AM_MEDIA_TYPE &src, HRESULT *phr)
{
  InitMediaType();
  HRESULT hr = Set(src);
  if (phr && FAILED(hr)) *phr = hr;
}

CMediaType::CMediaType(const CMediaType &src) : AM_MEDIA_TYPE()
{
  InitMediaType();
  Set(src);
}

CMediaType::~CMediaType()
{
  FreeMediaType(*this);
}

void CMediaType::InitMediaType()
{
  std::memset(static_cast<AM_MEDIA_TYPE *>(this), 0, sizeof(AM_MEDIA_TYPE));
  lSampleSize = 1;
  bFixedSizeSamples = TRUE;
}

HRESULT CMediaType::Set(const AM_MEDIA_TYPE &src)
{
  if (&src == this) return S_OK;
  FreeMediaType(*this);
  HRESULT hr = CopyMediaType(this, &src);
  if (FAILED(hr)) InitMediaType();
  return hr;
}

CMediaType &CMediaType::operator=(const AM_MEDIA_TYPE &src)
{
  Set(src);
  return *this;
}

CMediaType &CMediaType::operator=(const CMediaType &src)
{
  Set(src);
  return *this;
}

bool CMediaType::operator==(const CMediaType &o) const
{
  return majortype == o.majortype && subtype == o.subtype && formattype == o.formattype &&
         cbFormat == o.cbFormat && (cbFormat == 0 || std::memcmp(pbFormat, o.pbFormat, cbFormat) == 0);
}

void CMediaType::SetSampleSize(ULONG size)
{
  if (size == 0) {
    SetVariableSize();
  } else {
    bFixedSizeSamples = TRUE;
    lSampleSize = size;
  }
}

void CMediaType::SetVariableSize()
{
  bFixedSizeSamples = FALSE;
}

BYTE *CMediaType::AllocFormatBuffer(ULONG length)
{
  if (length == 0) return nullptr;
  if (cbFormat == length) return pbFormat;
  auto *p = static_cast<BYTE *>(CoTaskMemAlloc(length));
  if (!p) return nullptr;
  CoTaskMemFree(pbFormat);
  pbFormat = p;
  cbFormat = length;
  return p;
}

BYTE *CMediaType::ReallocFormatBuffer(ULONG length)
{
  if (length == 0) return nullptr;
  if (cbFormat == length) return pbFormat;
  auto *p = static_cast<BYTE *>(CoTaskMemAlloc(length));
  if (!p) return nullptr;
  if (pbFormat) std::memcpy(p, pbFormat, std::min(length, cbFormat));
  CoTaskMemFree(pbFormat);
  pbFormat = p;
  cbFormat = length;
  return p;
}

bool CMediaType::SetFormat(const BYTE *format, ULONG length)
{
  if (length && !AllocFormatBuffer(length)) return false;
  if (length == 0) ResetFormatBuffer();
  if (length) std::memcpy(pbFormat, format, length);
  return true;
}

void CMediaType::ResetFormatBuffer()
{
  CoTaskMemFree(pbFormat);
  pbFormat = nullptr;
  cbFormat = 0;
}

bool CMediaType::IsPartiallySpecified() const
{
  return majortype == GUID_NULL || subtype == GUID_NULL || formattype == GUID_NULL;
}

bool CMediaType::MatchesPartial(const CMediaType *p) const
{
  if (p->majortype != GUID_NULL && majortype != p->majortype) return false;
  if (p->subtype != GUID_NULL && subtype != p->subtype) return false;
  if (p->formattype != GUID_NULL) {
    if (formattype != p->formattype || cbFormat != p->cbFormat) return false;
    if (cbFormat && std::memcmp(pbFormat, p->pbFormat, cbFormat) != 0) return false;
  }
  return true;
}
