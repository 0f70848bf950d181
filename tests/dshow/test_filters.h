// What the tests share with the three test filter libraries: class ids,
// media subtypes, the data the source reads, and the sink's interface.
#ifndef TARVO_TESTS_DSHOW_TEST_FILTERS_H
#define TARVO_TESTS_DSHOW_TEST_FILTERS_H

#include <tarvo_dshow/base_mtype.h>

#include <algorithm>
#include <initializer_list>

TARVO_GUID(CLSID_TestSource, 0x7A1C0001, 0x5E2B, 0x4C11, 0x9D, 0x3E, 0x1F, 0x2A, 0x3B, 0x4C, 0x5D, 0x01);
TARVO_GUID(CLSID_TestTransform, 0x7A1C0002, 0x5E2B, 0x4C11, 0x9D, 0x3E, 0x1F, 0x2A, 0x3B, 0x4C, 0x5D, 0x02);
TARVO_GUID(CLSID_TestSink, 0x7A1C0003, 0x5E2B, 0x4C11, 0x9D, 0x3E, 0x1F, 0x2A, 0x3B, 0x4C, 0x5D, 0x03);
TARVO_GUID(IID_ITestSink, 0x7A1C0010, 0x5E2B, 0x4C11, 0x9D, 0x3E, 0x1F, 0x2A, 0x3B, 0x4C, 0x5D, 0x10);

// The source offers B then A; the transform takes only A in, and sends A
// or C out; the sink offers D (which the transform refuses) then C.
TARVO_GUID(MEDIASUBTYPE_TestA, 0x7A1C0020, 0x5E2B, 0x4C11, 0x9D, 0x3E, 0x1F, 0x2A, 0x3B, 0x4C, 0x5D, 0x20);
TARVO_GUID(MEDIASUBTYPE_TestB, 0x7A1C0021, 0x5E2B, 0x4C11, 0x9D, 0x3E, 0x1F, 0x2A, 0x3B, 0x4C, 0x5D, 0x21);
TARVO_GUID(MEDIASUBTYPE_TestC, 0x7A1C0022, 0x5E2B, 0x4C11, 0x9D, 0x3E, 0x1F, 0x2A, 0x3B, 0x4C, 0x5D, 0x22);
TARVO_GUID(MEDIASUBTYPE_TestD, 0x7A1C0023, 0x5E2B, 0x4C11, 0x9D, 0x3E, 0x1F, 0x2A, 0x3B, 0x4C, 0x5D, 0x23);

// The source's stream: TEST_STREAM_BYTES bytes, byte k being
// test_stream_byte(k), one byte lasting 1 us (10 units of time); it reads
// and delivers blocks of TEST_BLOCK bytes.
constexpr LONGLONG TEST_STREAM_BYTES = 65536 + 100;
constexpr LONG TEST_BLOCK = 4096;
constexpr REFERENCE_TIME TEST_UNITS_PER_BYTE = 10;
inline BYTE test_stream_byte(LONGLONG k) { return BYTE(k * 7 + 3); }

// The sink's wishes for its allocator.
constexpr LONG TEST_SINK_BUFFERS = 5;
constexpr LONG TEST_SINK_ALIGN = 16;

// A pin's list of stream types by position.
inline HRESULT test_media_type(int position, std::initializer_list<GUID> subtypes, CMediaType *pmt)
{
  if (position < 0) return E_INVALIDARG;
  if (size_t(position) >= subtypes.size()) return VFW_S_NO_MORE_ITEMS;
  pmt->InitMediaType();
  pmt->SetType(&MEDIATYPE_Stream);
  pmt->SetSubtype(subtypes.begin() + position);
  pmt->SetFormatType(&FORMAT_None);
  return S_OK;
}

inline bool test_stream_type(const CMediaType *pmt, std::initializer_list<GUID> subtypes)
{
  return pmt->majortype == MEDIATYPE_Stream &&
         std::find(subtypes.begin(), subtypes.end(), pmt->subtype) != subtypes.end();
}

// At least min_buffers buffers of a block each.
inline HRESULT test_decide_buffer_size(IMemAllocator *alloc, ALLOCATOR_PROPERTIES *request, LONG min_buffers)
{
  request->cBuffers = std::max<LONG>(request->cBuffers, min_buffers);
  request->cbBuffer = std::max<LONG>(request->cbBuffer, TEST_BLOCK);
  ALLOCATOR_PROPERTIES actual;
  HRESULT hr = alloc->SetProperties(request, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < TEST_BLOCK ? E_FAIL : S_OK;
}

class TestSinkCallback {
 public:
  virtual ~TestSinkCallback() = default;
  virtual HRESULT Receive(IMediaSample *sample) = 0;
  virtual void BeginFlush() = 0;
  virtual void EndFlush() = 0;
};

class ITestSink : public IUnknown {
 public:
  virtual HRESULT SetCallback(TestSinkCallback *callback) = 0;
  /* The allocator its input pin was given. */
  virtual HRESULT GetAllocatorProperties(ALLOCATOR_PROPERTIES *props) = 0;
};

#endif
