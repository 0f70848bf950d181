// A PCM source that pushes the caller's bytes from the caller's thread, and
// a sink that takes any type and drops it: the ends of a chain around one
// audio filter in tests and fuzz targets.
#ifndef TARVO_TESTS_COMMON_PCM_CHAIN_H
#define TARVO_TESTS_COMMON_PCM_CHAIN_H

#include <tarvo_dshow/base_filter.h>

#include <algorithm>
#include <cstring>
#include <vector>

TARVO_GUID(CLSID_PcmSource, 0x7A1C0101, 0x5E2B, 0x4C11, 0x9D, 0x3E, 0x1F, 0x2A, 0x3B, 0x4C, 0x5D, 0x01);
TARVO_GUID(CLSID_NullSink, 0x7A1C0102, 0x5E2B, 0x4C11, 0x9D, 0x3E, 0x1F, 0x2A, 0x3B, 0x4C, 0x5D, 0x02);

inline CMediaType audio_type(const void *format, ULONG length)
{
  CMediaType mt;
  mt.InitMediaType();
  mt.SetType(&MEDIATYPE_Audio);
  mt.SetSubtype(&MEDIASUBTYPE_PCM);
  mt.SetFormatType(&FORMAT_WaveFormatEx);
  mt.SetFormat(static_cast<const BYTE *>(format), length);
  return mt;
}

class PcmPin final : public CBaseOutputPin {
 public:
  PcmPin(CBaseFilter *f, CCritSec *lock, HRESULT *phr) : CBaseOutputPin("PcmPin", f, lock, phr, u"Output") {}
  HRESULT CheckMediaType(const CMediaType *mt) override { return *mt == type ? S_OK : S_FALSE; }
  HRESULT GetMediaType(int position, CMediaType *mt) override
  {
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    *mt = type;
    return S_OK;
  }
  HRESULT DecideBufferSize(IMemAllocator *alloc, ALLOCATOR_PROPERTIES *request) override
  {
    request->cBuffers = 2;
    request->cbBuffer = buffer;
    ALLOCATOR_PROPERTIES actual;
    return alloc->SetProperties(request, &actual);
  }
  // Delivers data in samples of at most `buffer` bytes, then the end; the
  // first failing delivery's code, or S_OK.
  HRESULT Push(const BYTE *data, size_t size)
  {
    HRESULT result = S_OK;
    for (size_t at = 0; at < size && result == S_OK; at += size_t(buffer)) {
      IMediaSample *s = nullptr;
      result = GetDeliveryBuffer(&s, nullptr, nullptr, 0);
      if (FAILED(result)) break;
      BYTE *p;
      s->GetPointer(&p);
      LONG n = LONG(std::min(size - at, size_t(buffer)));
      std::memcpy(p, data + at, size_t(n));
      s->SetActualDataLength(n);
      result = Deliver(s);
      s->Release();
    }
    DeliverEndOfStream();
    return result;
  }

  CMediaType type;
  LONG buffer = 4410 * 4;
};

class PcmSource final : public CBaseFilter {
 public:
  PcmSource() : CBaseFilter("PcmSource", nullptr, &m_lock, CLSID_PcmSource), pin(this, &m_lock, &m_hr) {}
  int GetPinCount() override { return 1; }
  CBasePin *GetPin(int n) override { return n == 0 ? &pin : nullptr; }

  CCritSec m_lock;
  HRESULT m_hr = S_OK;
  PcmPin pin;
};

class NullSinkPin final : public CRenderedInputPin {
 public:
  NullSinkPin(CBaseFilter *f, CCritSec *lock, HRESULT *phr) : CRenderedInputPin("NullSinkPin", f, lock, phr, u"In") {}
  HRESULT CheckMediaType(const CMediaType *) override { return S_OK; }
};

class NullSink final : public CBaseFilter {
 public:
  NullSink() : CBaseFilter("NullSink", nullptr, &m_lock, CLSID_NullSink), pin(this, &m_lock, &m_hr) {}
  int GetPinCount() override { return 1; }
  CBasePin *GetPin(int n) override { return n == 0 ? &pin : nullptr; }

  CCritSec m_lock;
  HRESULT m_hr = S_OK;
  NullSinkPin pin;
};

#endif
