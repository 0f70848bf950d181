// The MP3 parser filter loaded from its library and run between a reader
// source and a recording sink: frame times, the first segment, seeking to
// a byte offset, the seeking answers and a source that is still growing.
#include <gtest/gtest.h>

#include <quorrin/quorrin.h>
#include <tarvo_dshow/base_filter.h>

#include "filter_test.h"
#include "helper_mp3.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

using namespace std::chrono_literals;

TARVO_GUID(CLSID_Mp3TestSource, 0x3C5D0001, 0x1A2B, 0x4C3D, 0x8E, 0x9F, 0x10, 0x21, 0x32, 0x43, 0x54, 0x01);
TARVO_GUID(CLSID_Mp3TestSink, 0x3C5D0002, 0x1A2B, 0x4C3D, 0x8E, 0x9F, 0x10, 0x21, 0x32, 0x43, 0x54, 0x02);

// An output pin that is a reader over bytes in memory, as a file source's
// is; it notes where each block read starts.
class ReaderPin final : public CBasePin, public IAsyncReader {
 public:
  ReaderPin(CBaseFilter *f, CCritSec *lock, HRESULT *phr) : CBasePin("ReaderPin", f, lock, phr, u"Output", PINDIR_OUTPUT) {}
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override
  {
    if (riid == IID_IAsyncReader) return GetInterface(static_cast<IAsyncReader *>(this), ppv);
    return CBasePin::NonDelegatingQueryInterface(riid, ppv);
  }
  HRESULT CheckMediaType(const CMediaType *pmt) override { return pmt->majortype == MEDIATYPE_Stream ? S_OK : S_FALSE; }
  HRESULT GetMediaType(int i, CMediaType *pmt) override
  {
    if (i != 0) return VFW_S_NO_MORE_ITEMS;
    pmt->InitMediaType();
    pmt->SetType(&MEDIATYPE_Stream);
    pmt->SetSubtype(&MEDIASUBTYPE_MPEG1Audio);
    return S_OK;
  }
  HRESULT BeginFlush() override { return E_UNEXPECTED; }
  HRESULT EndFlush() override { return E_UNEXPECTED; }

  HRESULT RequestAllocator(IMemAllocator *preferred, ALLOCATOR_PROPERTIES *props, IMemAllocator **actual) override
  {
    if (!preferred) return E_FAIL;
    ALLOCATOR_PROPERTIES got;
    HRESULT hr = preferred->SetProperties(props, &got);
    if (FAILED(hr)) return hr;
    preferred->AddRef();
    *actual = preferred;
    return S_OK;
  }
  HRESULT Request(IMediaSample *, DWORD_PTR) override { return E_NOTIMPL; }
  HRESULT WaitForNext(DWORD, IMediaSample **, DWORD_PTR *) override { return E_NOTIMPL; }
  HRESULT SyncReadAligned(IMediaSample *s) override
  {
    REFERENCE_TIME start, stop;
    if (FAILED(s->GetTime(&start, &stop))) return VFW_E_SAMPLE_TIME_NOT_SET;
    BYTE *p;
    s->GetPointer(&p);
    LONGLONG from = start / UNITS;
    LONG want = LONG(std::min<LONGLONG>((stop - start) / UNITS, s->GetSize()));
    {
      std::lock_guard<std::mutex> l(m);
      reads.push_back(from);
    }
    HRESULT hr = SyncRead(from, want, p);
    LONG got = LONG(std::clamp<LONGLONG>(LONGLONG(data.size()) - from, 0, want));
    s->SetActualDataLength(got);
    return FAILED(hr) ? hr : (got < want ? S_FALSE : S_OK);
  }
  HRESULT SyncRead(LONGLONG pos, LONG len, BYTE *buf) override
  {
    LONGLONG a = available, lim = a < 0 ? LONGLONG(data.size()) : a;
    if (pos < 0 || pos > lim) return E_FAIL;
    LONG n = LONG(std::min<LONGLONG>(len, lim - pos));
    std::memcpy(buf, data.data() + pos, size_t(n));
    return n == len ? S_OK : S_FALSE;
  }
  HRESULT Length(LONGLONG *total, LONGLONG *avail) override
  {
    *total = LONGLONG(data.size());
    LONGLONG a = available;
    *avail = a < 0 ? *total : a;
    return S_OK;
  }

  std::vector<BYTE> data;
  std::atomic<LONGLONG> available{-1};
  std::mutex m;
  std::vector<LONGLONG> reads;
};

using SourceFilter = OnePinFilter<ReaderPin>;

struct Got {
  REFERENCE_TIME start, stop;
  bool discontinuity, sync;
  LONG length;
};

class SinkPin final : public CBaseInputPin {
 public:
  SinkPin(CBaseFilter *f, CCritSec *lock, HRESULT *phr) : CBaseInputPin("SinkPin", f, lock, phr, u"In") {}
  HRESULT CheckMediaType(const CMediaType *pmt) override { return pmt->majortype == MEDIATYPE_Audio ? S_OK : S_FALSE; }
  HRESULT Receive(IMediaSample *s) override
  {
    HRESULT hr = CBaseInputPin::Receive(s);
    if (hr != S_OK) return hr;
    Got g{};
    s->GetTime(&g.start, &g.stop);
    g.discontinuity = s->IsDiscontinuity() == S_OK;
    g.sync = s->IsSyncPoint() == S_OK;
    g.length = s->GetActualDataLength();
    std::lock_guard<std::mutex> l(m);
    got.push_back(g);
    return S_OK;
  }
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override
  {
    std::lock_guard<std::mutex> l(m);
    segments.push_back({start, stop});
    (void)rate;
    return S_OK;
  }
  HRESULT EndOfStream() override
  {
    std::lock_guard<std::mutex> l(m);
    eos++;
    cond.notify_all();
    return S_OK;
  }
  bool WaitEos(int n)
  {
    std::unique_lock<std::mutex> l(m);
    return cond.wait_for(l, 20s, [&] { return eos >= n; });
  }
  std::mutex m;
  std::condition_variable cond;
  std::vector<Got> got;
  std::vector<std::pair<REFERENCE_TIME, REFERENCE_TIME>> segments;
  int eos = 0;
};

using SinkFilter = OnePinFilter<SinkPin>;

class ParserFilter : public ::testing::Test {
 protected:
  void SetUp() override
  {
    parser = test_load_filter(QUORRIN_LIB, CLSID_Mp3Parser, &lib);
    ASSERT_NE(parser, nullptr);
    HRESULT hr = S_OK;
    src = new SourceFilter(CLSID_Mp3TestSource, &hr);
    src->NonDelegatingAddRef();
    sink = new SinkFilter(CLSID_Mp3TestSink, &hr);
    sink->NonDelegatingAddRef();
  }
  void TearDown() override
  {
    if (parser) {
      sink->Stop();
      parser->Stop();
      if (out) {
        out->Disconnect();
        sink->pin.Disconnect();
        out->Release();
      }
      if (seek) seek->Release();
      IPin *in = nullptr;
      if (parser->FindPin(u"Input", &in) == S_OK) {
        in->Disconnect();
        in->Release();
      }
      src->pin.Disconnect();
      parser->Release();
    }
    sink->NonDelegatingRelease();
    src->NonDelegatingRelease();
  }
  HRESULT ConnectInput()
  {
    IPin *in = nullptr;
    EXPECT_EQ(parser->FindPin(u"Input", &in), S_OK);
    HRESULT hr = src->pin.Connect(in, nullptr);
    in->Release();
    return hr;
  }
  void ConnectAll()
  {
    ASSERT_EQ(ConnectInput(), S_OK);
    ASSERT_EQ(parser->FindPin(u"Output", &out), S_OK);
    ASSERT_EQ(out->Connect(&sink->pin, nullptr), S_OK);
    ASSERT_EQ(out->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void **>(&seek)), S_OK);
  }
  void Play()
  {
    ASSERT_EQ(sink->Run(0), S_OK);
    ASSERT_EQ(parser->Run(0), S_OK);
  }
  void Halt()
  {
    parser->Stop();
    sink->Stop();
  }

  void *lib = nullptr;
  IBaseFilter *parser = nullptr;
  SourceFilter *src = nullptr;
  SinkFilter *sink = nullptr;
  IPin *out = nullptr;
  IMediaSeeking *seek = nullptr;
};

TEST_F(ParserFilter, FramesTimesSegmentsAndSeeking)
{
  // 48 kHz frames are 384 bytes at 128 kbit/s with no padding, so the
  // duration from the byte count is the frames' own.
  add_frames(src->pin.data, H_128_48, 1000);
  ConnectAll();
  REFERENCE_TIME dur = 0;
  ASSERT_EQ(seek->GetDuration(&dur), S_OK);
  EXPECT_EQ(dur, LONGLONG(src->pin.data.size()) * 80000000 / 128000);
  Play();
  ASSERT_TRUE(sink->pin.WaitEos(1));
  Halt();
  {
    std::lock_guard<std::mutex> l(sink->pin.m);
    ASSERT_EQ(sink->pin.got.size(), 1000u);
    for (size_t i = 0; i < 1000; i++) {
      const Got &g = sink->pin.got[i];
      ASSERT_EQ(g.start, REFERENCE_TIME(i) * 240000) << i;
      ASSERT_EQ(g.stop, g.start + 1);
      ASSERT_EQ(g.discontinuity, i == 0) << i;
      ASSERT_TRUE(g.sync);
      ASSERT_EQ(g.length, 384);
    }
    ASSERT_FALSE(sink->pin.segments.empty());
    EXPECT_EQ(sink->pin.segments.front().first, 0);
    EXPECT_EQ(sink->pin.segments.front().second, dur);
    sink->pin.got.clear();
    sink->pin.segments.clear();
  }
  {
    std::lock_guard<std::mutex> l(src->pin.m);
    src->pin.reads.clear();
  }
  // To 10 s: the reader starts at 10 s of 128 kbit/s, and the frames count
  // from there with a new segment.
  LONGLONG ten = 100000000;
  ASSERT_EQ(seek->SetPositions(&ten, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
  Play();
  ASSERT_TRUE(sink->pin.WaitEos(2));
  Halt();
  {
    std::lock_guard<std::mutex> l(src->pin.m);
    ASSERT_FALSE(src->pin.reads.empty());
    EXPECT_EQ(src->pin.reads.front(), 160000);
  }
  std::lock_guard<std::mutex> l(sink->pin.m);
  ASSERT_FALSE(sink->pin.got.empty());
  EXPECT_EQ(sink->pin.got.front().start, 0);
  EXPECT_TRUE(sink->pin.got.front().discontinuity);
  ASSERT_FALSE(sink->pin.segments.empty());
  EXPECT_EQ(sink->pin.segments.front().first, ten);
  // The frames from the first whole one at or behind byte 160000.
  size_t first = (160000 + 383) / 384;
  EXPECT_EQ(sink->pin.got.size(), 1000 - first);
}

TEST_F(ParserFilter, SeekingAnswersAndDeclaredDuration)
{
  IMp3ParserControl *ctl = nullptr;
  ASSERT_EQ(parser->QueryInterface(IID_IMp3ParserControl, reinterpret_cast<void **>(&ctl)), S_OK);
  LONGLONG d = 0;
  EXPECT_EQ(ctl->GetDeclaredDuration(&d), S_OK);
  EXPECT_EQ(d, -1);
  EXPECT_EQ(ctl->SetDeclaredDuration(nullptr), E_INVALIDARG);
  d = 1234567890;
  EXPECT_EQ(ctl->SetDeclaredDuration(&d), S_OK);
  ctl->Release();

  add_frames(src->pin.data, H_128_44, 50);
  ConnectAll();
  LONGLONG dur = 0, x = 0;
  EXPECT_EQ(seek->GetDuration(&dur), S_OK);
  EXPECT_EQ(dur, 1234567890);
  DWORD caps = 0;
  EXPECT_EQ(seek->GetCapabilities(&caps), S_OK);
  EXPECT_EQ(caps, 0x37u);
  DWORD ask = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanGetCurrentPos;
  EXPECT_EQ(seek->CheckCapabilities(&ask), S_FALSE);
  EXPECT_EQ(ask, DWORD(AM_SEEKING_CanSeekAbsolute));
  EXPECT_EQ(seek->GetCurrentPosition(&x), E_NOTIMPL);
  EXPECT_EQ(seek->SetRate(0), E_INVALIDARG);
  EXPECT_EQ(seek->SetRate(-1), E_INVALIDARG);
  double rate = 0;
  EXPECT_EQ(seek->GetRate(&rate), S_OK);
  EXPECT_EQ(rate, 1.0);
  EXPECT_EQ(seek->SetPositions(&x, 3, nullptr, 0), E_INVALIDARG);
  EXPECT_EQ(seek->SetPositions(&x, 0, &x, 4), E_INVALIDARG);
  EXPECT_EQ(seek->SetPositions(nullptr, AM_SEEKING_AbsolutePositioning, nullptr, 0), E_POINTER);
  EXPECT_EQ(seek->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME), S_OK);
  EXPECT_EQ(seek->SetTimeFormat(&FORMAT_WaveFormatEx), E_INVALIDARG);
  EXPECT_EQ(seek->IsFormatSupported(&FORMAT_WaveFormatEx), S_FALSE);

  auto reg = reinterpret_cast<HRESULT (*)()>(dlsym(lib, "DllRegisterServer"));
  ASSERT_NE(reg, nullptr);
  EXPECT_EQ(reg(), E_FAIL);
}

TEST_F(ParserFilter, GrowingSourceSeeksOnceComplete)
{
  add_frames(src->pin.data, H_128_44, 400);
  src->pin.available = 100000;
  ConnectAll();
  LONGLONG dur = 0, t = 0;
  DWORD caps = 1;
  EXPECT_EQ(seek->GetDuration(&dur), E_FAIL);
  EXPECT_EQ(seek->GetCapabilities(&caps), S_OK);
  EXPECT_EQ(caps, 0u);
  EXPECT_EQ(seek->SetPositions(&t, AM_SEEKING_AbsolutePositioning, nullptr, 0), E_FAIL);
  src->pin.available = -1;  // the file is complete now
  EXPECT_EQ(seek->GetDuration(&dur), S_OK);
  EXPECT_EQ(dur, LONGLONG(src->pin.data.size()) * 80000000 / 128000);
  EXPECT_EQ(seek->GetCapabilities(&caps), S_OK);
  EXPECT_EQ(caps, 0x37u);
}

// The output pin goes when the input disconnects, but its references count
// on the filter: a graph that took the filter's pins before disconnecting
// them released the output pin after it had been freed.
TEST_F(ParserFilter, OutputPinHeldAcrossAnInputDisconnectIsNotFreedUnderItsHolder)
{
  add_frames(src->pin.data, H_128_44, 50);
  ConnectAll();
  IPin *held = out;
  held->AddRef();
  IPin *in = nullptr;
  ASSERT_EQ(parser->FindPin(u"Input", &in), S_OK);
  ASSERT_EQ(in->Disconnect(), S_OK);
  in->Release();
  IPin *o = nullptr;
  EXPECT_EQ(parser->FindPin(u"Output", &o), VFW_E_NOT_FOUND);
  PIN_DIRECTION dir;
  EXPECT_EQ(held->QueryDirection(&dir), S_OK);
  EXPECT_EQ(dir, PINDIR_OUTPUT);
  EXPECT_EQ(held->ConnectedTo(&o), VFW_E_NOT_CONNECTED);
  held->Release();
  // Connected again: a new output pin, and the chain streams.
  sink->pin.Disconnect();
  out->Release();
  out = nullptr;
  seek->Release();
  seek = nullptr;
  src->pin.Disconnect();
  ConnectAll();
  Play();
  ASSERT_TRUE(sink->pin.WaitEos(1));
  Halt();
  std::lock_guard<std::mutex> l(sink->pin.m);
  EXPECT_EQ(sink->pin.got.size(), 50u);
}

TEST_F(ParserFilter, RefusedStreamLeavesNoOutput)
{
  add_frames(src->pin.data, H_L2_128_44, 20);
  EXPECT_TRUE(FAILED(ConnectInput()));
  EXPECT_FALSE(src->pin.IsConnected());
  IPin *o = nullptr;
  EXPECT_EQ(parser->FindPin(u"Output", &o), VFW_E_NOT_FOUND);
}

}  // namespace
