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
    return test_stream_type(in, {MEDIASUBTYPE_TestA}) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT CheckTransform(const CMediaType *, const CMediaType *out) override
  {
    return test_stream_type(out, {MEDIASUBTYPE_TestA, MEDIASUBTYPE_TestC}) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT GetMediaType(int position, CMediaType *pmt) override
  {
    return test_media_type(position, {MEDIASUBTYPE_TestA}, pmt);
  }
  HRESULT DecideBufferSize(IMemAllocator *alloc, ALLOCATOR_PROPERTIES *request) override
  {
    return test_decide_buffer_size(alloc, request, 2);
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
