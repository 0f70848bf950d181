// Test transform filter: takes subtype A, sends A or C, and inverts every
// byte, so that a test can tell transformed data from the source's.
#include <tarvo_dshow/base_transform.h>

#include "test_filters.h"

#include <new>

namespace {

class TestTransform final : public CTransformFilter {
 public:
  explicit TestTransform(LPUNKNOWN outer) : CTransformFilter("TestTransform", outer, CLSID_TestTransform) {}

  static CUnknown *CreateInstance(LPUNKNOWN outer, HRESULT *phr)
  {
    auto *f = new (std::nothrow) TestTransform(outer);
    if (!f) *phr = E_OUTOFMEMORY;
    return f;
  }

  HRESULT CheckInputType(const CMediaType *in) override
  {
    return in->majortype == MEDIATYPE_Stream && in->subtype == MEDIASUBTYPE_TestA ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT CheckTransform(const CMediaType *, const CMediaType *out) override
  {
    bool ok = out->majortype == MEDIATYPE_Stream &&
              (out->subtype == MEDIASUBTYPE_TestA || out->subtype == MEDIASUBTYPE_TestC);
    return ok ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT GetMediaType(int position, CMediaType *pmt) override
  {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    pmt->InitMediaType();
    pmt->SetType(&MEDIATYPE_Stream);
    pmt->SetSubtype(&MEDIASUBTYPE_TestA);
    pmt->SetFormatType(&FORMAT_None);
    return S_OK;
  }
  HRESULT DecideBufferSize(IMemAllocator *alloc, ALLOCATOR_PROPERTIES *request) override
  {
    request->cBuffers = std::max<LONG>(request->cBuffers, 2);
    request->cbBuffer = std::max<LONG>(request->cbBuffer, TEST_BLOCK);
    ALLOCATOR_PROPERTIES actual;
    HRESULT hr = alloc->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < TEST_BLOCK ? E_FAIL : S_OK;
  }
  HRESULT Transform(IMediaSample *in, IMediaSample *out) override
  {
    BYTE *src, *dst;
    in->GetPointer(&src);
    out->GetPointer(&dst);
    LONG n = in->GetActualDataLength();
    if (n > out->GetSize()) return E_FAIL;
    for (LONG i = 0; i < n; i++) dst[i] = BYTE(~src[i]);
    out->SetActualDataLength(n);
    return S_OK;
  }
};

const AMOVIESETUP_MEDIATYPE pin_types[] = {{&MEDIATYPE_Stream, &MEDIASUBTYPE_NULL}};
const AMOVIESETUP_PIN pins[] = {
  {u"Input", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, u"Output", 1, pin_types},
  {u"Output", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, u"Input", 1, pin_types},
};
const AMOVIESETUP_FILTER setup = {&CLSID_TestTransform, u"Test transform", MERIT_DO_NOT_USE, 2, pins};
const CFactoryTemplate templates[] = {
  {u"Test transform", &CLSID_TestTransform, TestTransform::CreateInstance, nullptr, &setup},
};

}  // namespace

TARVO_DSHOW_CLASS_OBJECT(templates, 1)
TARVO_DSHOW_REGISTRATION
