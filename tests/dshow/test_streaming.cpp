// Filter libraries loaded by file name and run as a chain: source (pull
// pin, output queue), transform and rendered sink, with type agreement,
// allocator negotiation, seeking through the pass-throughs, EC_COMPLETE,
// aggregation, factory errors and the libraries' exported names.
#include <gtest/gtest.h>

#include <tarvo_dshow/base_mtype.h>

#include "../common/dshow_chain.h"
#include "test_filters.h"


#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

struct Got {
  REFERENCE_TIME start, stop;
  LONG length;
  bool bytes_ok;
  bool after_flush;
};

// Records every sample; can hold one sample until a flush begins.
class Recorder final : public TestSinkCallback {
 public:
  HRESULT Receive(IMediaSample *s) override
  {
    std::unique_lock<std::mutex> l(m);
    Got g{};
    s->GetTime(&g.start, &g.stop);
    g.length = s->GetActualDataLength();
    BYTE *p;
    s->GetPointer(&p);
    LONGLONG first = g.start / TEST_UNITS_PER_BYTE;
    g.bytes_ok = true;
    for (LONG i = 0; i < g.length; i++) g.bytes_ok &= p[i] == BYTE(~test_stream_byte(first + i));
    g.after_flush = end_flushes > 0;
    got.push_back(g);
    cond.notify_all();
    if (int(got.size()) == hold_at) cond.wait_for(l, 20s, [&] { return begin_flushes > 0; });
    return S_OK;
  }
  void BeginFlush() override
  {
    std::lock_guard<std::mutex> l(m);
    begin_flushes++;
    cond.notify_all();
  }
  void EndFlush() override
  {
    std::lock_guard<std::mutex> l(m);
    end_flushes++;
  }
  bool WaitForSamples(size_t n)
  {
    std::unique_lock<std::mutex> l(m);
    return cond.wait_for(l, 20s, [&] { return got.size() >= n; });
  }

  std::mutex m;
  std::condition_variable cond;
  std::vector<Got> got;
  int hold_at = -1;
  int begin_flushes = 0, end_flushes = 0;
};

HRESULT create_from_file(LPCOLESTR file, REFCLSID clsid, IUnknown *outer, REFIID iid, void **out,
                         HMODULE *lib = nullptr)
{
  HMODULE h = CoLoadLibrary(file, TRUE);
  if (!h) return REGDB_E_CLASSNOTREG;
  auto get = reinterpret_cast<LPFNGETCLASSOBJECT>(GetProcAddress(h, "DllGetClassObject"));
  if (!get) return E_NOINTERFACE;
  IClassFactory *factory = nullptr;
  HRESULT hr = get(clsid, IID_IClassFactory, reinterpret_cast<void **>(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(outer, iid, out);
  factory->Release();
  if (lib) *lib = h;
  return hr;
}

GUID connection_subtype(IPin *pin)
{
  AM_MEDIA_TYPE mt{};
  if (FAILED(pin->ConnectionMediaType(&mt))) return GUID_NULL;
  GUID g = mt.subtype;
  FreeMediaType(mt);
  return g;
}

// The three test filters, connected source -> transform -> sink.
class Chain : public ::testing::Test {
 protected:
  void SetUp() override
  {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    ASSERT_EQ(create_from_file(u"dshow_testsource.ax", CLSID_TestSource, nullptr, IID_IBaseFilter, src.out()), S_OK);
    ASSERT_EQ(create_from_file(u"dshow_testtransform.dll", CLSID_TestTransform, nullptr, IID_IBaseFilter, xform.out()),
              S_OK);
    ASSERT_EQ(create_from_file(u"dshow_testsink.ax", CLSID_TestSink, nullptr, IID_IBaseFilter, sink.out(), &sink_lib),
              S_OK);
    for (IBaseFilter *f : {src.p, xform.p, sink.p}) ASSERT_EQ(f->JoinFilterGraph(&graph, u"f"), S_OK);
    src_out.p = chain_pin(src.p, PINDIR_OUTPUT);
    x_in.p = chain_pin(xform.p, PINDIR_INPUT);
    x_out.p = chain_pin(xform.p, PINDIR_OUTPUT);
    sink_in.p = chain_pin(sink.p, PINDIR_INPUT);
    ASSERT_TRUE(src_out.p && x_in.p && x_out.p && sink_in.p);
    ASSERT_EQ(src_out->Connect(x_in.p, nullptr), S_OK);
    ASSERT_EQ(x_out->Connect(sink_in.p, nullptr), S_OK);
    ASSERT_EQ(sink->QueryInterface(IID_ITestSink, test_sink.out()), S_OK);
    test_sink->SetCallback(&rec);
  }

  void TearDown() override
  {
    if (!sink.p) return;
    Stop();
    for (IPin *p : {src_out.p, x_in.p, x_out.p, sink_in.p})
      if (p) p->Disconnect();
    for (IBaseFilter *f : {src.p, xform.p, sink.p})
      if (f) f->JoinFilterGraph(nullptr, nullptr);
    CoUninitialize();
  }

  void Run()
  {
    for (IBaseFilter *f : {sink.p, xform.p, src.p}) ASSERT_EQ(f->Pause(), S_OK);
    for (IBaseFilter *f : {sink.p, xform.p, src.p}) ASSERT_EQ(f->Run(0), S_OK);
  }
  void Stop()
  {
    for (IBaseFilter *f : {sink.p, xform.p, src.p}) f->Stop();
  }

  ChainGraph graph;
  Recorder rec;
  HMODULE sink_lib = nullptr;
  Ref<IBaseFilter> src, xform, sink;
  Ref<IPin> src_out, x_in, x_out, sink_in;
  Ref<ITestSink> test_sink;
};

constexpr size_t blocks(LONGLONG bytes)
{
  return size_t((bytes + TEST_BLOCK - 1) / TEST_BLOCK);
}

// Every sample from `from` to the end of the stream, in order, with its
// times and transformed bytes.
void expect_stream_from(const std::vector<Got> &got, size_t first, LONGLONG from)
{
  ASSERT_EQ(got.size() - first, blocks(TEST_STREAM_BYTES - from));
  LONGLONG at = from;
  for (size_t i = first; i < got.size(); i++) {
    LONG expect = LONG(std::min<LONGLONG>(TEST_BLOCK, TEST_STREAM_BYTES - at));
    EXPECT_EQ(got[i].start, at * TEST_UNITS_PER_BYTE) << i;
    EXPECT_EQ(got[i].stop, (at + expect) * TEST_UNITS_PER_BYTE) << i;
    EXPECT_EQ(got[i].length, expect) << i;
    EXPECT_TRUE(got[i].bytes_ok) << i;
    at += expect;
  }
}

TEST_F(Chain, ConnectsWithAgreedTypesAndAllocatorThenDeliversEveryBlockAndCompletesOnce)
{
  // The transform's input takes only A, which the source offers second; the
  // sink offers D (refused) before C, and its types come before the
  // transform's own A.
  EXPECT_EQ(connection_subtype(src_out.p), MEDIASUBTYPE_TestA);
  EXPECT_EQ(connection_subtype(sink_in.p), MEDIASUBTYPE_TestC);
  ALLOCATOR_PROPERTIES props{};
  ASSERT_EQ(test_sink->GetAllocatorProperties(&props), S_OK);
  EXPECT_EQ(props.cBuffers, TEST_SINK_BUFFERS);
  EXPECT_EQ(props.cbAlign, TEST_SINK_ALIGN);
  EXPECT_GE(props.cbBuffer, TEST_BLOCK);
  EXPECT_EQ(src_out->Connect(x_in.p, nullptr), VFW_E_ALREADY_CONNECTED);

  Run();
  ASSERT_TRUE(graph.WaitFor(EC_COMPLETE));
  EXPECT_EQ(src_out->Disconnect(), VFW_E_NOT_STOPPED);
  Stop();
  std::lock_guard<std::mutex> l(rec.m);
  expect_stream_from(rec.got, 0, 0);
  EXPECT_EQ(graph.CountNow(EC_COMPLETE), 1);
  EXPECT_EQ(graph.CountNow(EC_ERRORABORT), 0);
}

TEST_F(Chain, SeekThroughThePassThroughsFlushesAndRestartsThePullPin)
{
  rec.hold_at = 3;  // the stream is mid-way when the seek comes
  Run();
  ASSERT_TRUE(rec.WaitForSamples(3));
  Ref<IMediaSeeking> seeking;
  ASSERT_EQ(sink->QueryInterface(IID_IMediaSeeking, seeking.out()), S_OK);
  LONGLONG duration = 0;
  ASSERT_EQ(seeking->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, TEST_STREAM_BYTES * TEST_UNITS_PER_BYTE);
  const LONGLONG from = 20000;
  LONGLONG at = from * TEST_UNITS_PER_BYTE;
  ASSERT_EQ(seeking->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
  ASSERT_TRUE(graph.WaitFor(EC_COMPLETE));
  Stop();

  std::lock_guard<std::mutex> l(rec.m);
  EXPECT_EQ(rec.begin_flushes, 1);
  EXPECT_EQ(rec.end_flushes, 1);
  size_t first = 0;
  while (first < rec.got.size() && !rec.got[first].after_flush) first++;
  EXPECT_GE(first, 3u);
  expect_stream_from(rec.got, first, from);
  EXPECT_EQ(graph.CountNow(EC_COMPLETE), 1);
}

TEST_F(Chain, StopInTheMiddleEndsEveryWaitAndTheFiltersGoAway)
{
  rec.hold_at = -1;
  Run();
  ASSERT_TRUE(rec.WaitForSamples(1));
  Stop();  // the source's worker and queue thread are joined here
  EXPECT_EQ(graph.CountNow(EC_ERRORABORT), 0);
  TearDown();
  for (auto *r : {&src_out, &x_in, &x_out, &sink_in}) {
    r->p->Release();
    r->p = nullptr;
  }
  test_sink.p->Release();
  test_sink.p = nullptr;
  for (auto *r : {&src, &xform}) {
    r->p->Release();
    r->p = nullptr;
  }
  auto can_unload = reinterpret_cast<LPFNCANUNLOADNOW>(GetProcAddress(sink_lib, "DllCanUnloadNow"));
  EXPECT_EQ(can_unload(), S_FALSE);
  sink.p->Release();
  sink.p = nullptr;
  EXPECT_EQ(can_unload(), S_OK);
}

// An outer object that hands every other interface to its inner one.
class Outer final : public IUnknown {
 public:
  HRESULT QueryInterface(REFIID riid, void **ppv) override
  {
    if (riid == IID_IUnknown) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    return inner->QueryInterface(riid, ppv);
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  IUnknown *inner = nullptr;
  ULONG refs = 1;
};

TEST(Factory, AggregatedFilterAnswersForTheOuterObject)
{
  Outer outer;
  ASSERT_EQ(create_from_file(u"dshow_testsink.ax", CLSID_TestSink, &outer, IID_IUnknown,
                             reinterpret_cast<void **>(&outer.inner)),
            S_OK);
  EXPECT_EQ(outer.refs, 1u);  // the inner object holds no reference on us
  IBaseFilter *filter = nullptr;
  ASSERT_EQ(outer.QueryInterface(IID_IBaseFilter, reinterpret_cast<void **>(&filter)), S_OK);
  EXPECT_EQ(outer.refs, 2u);  // counted on the outer object
  IUnknown *identity = nullptr;
  ASSERT_EQ(filter->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&identity)), S_OK);
  EXPECT_EQ(identity, static_cast<IUnknown *>(&outer));
  identity->Release();
  IPin *pin = chain_pin(filter, PINDIR_INPUT);
  ASSERT_NE(pin, nullptr);
  PIN_INFO info;
  ASSERT_EQ(pin->QueryPinInfo(&info), S_OK);
  EXPECT_EQ(std::u16string(info.achName), u"Input");
  info.pFilter->Release();
  pin->Release();
  EXPECT_EQ(outer.refs, 2u);
  filter->Release();
  EXPECT_EQ(outer.refs, 1u);
  outer.inner->Release();

  void *p = nullptr;
  EXPECT_EQ(create_from_file(u"dshow_testsink.ax", CLSID_TestSink, &outer, IID_IBaseFilter, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
}

TEST(Factory, UnknownClassesAndLibrariesAreRefused)
{
  const GUID unknown = {0x12345678, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
  void *p = &p;
  EXPECT_EQ(create_from_file(u"dshow_testsink.ax", unknown, nullptr, IID_IBaseFilter, &p), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(create_from_file(u"no_such_filter.ax", CLSID_TestSink, nullptr, IID_IBaseFilter, &p),
            REGDB_E_CLASSNOTREG);
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, &p), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(p, nullptr);
  // A class of the table: made from its library where the loader finds it
  // (beside the component-object library in a full build), else refused.
  const GUID resampler = {0x845A578B, 0x836A, 0x41F9, {0xA2, 0x2A, 0xD1, 0xE3, 0x1F, 0x26, 0xB1, 0xED}};
  HRESULT hr = CoCreateInstance(resampler, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, &p);
  if (SUCCEEDED(hr))
    static_cast<IBaseFilter *>(p)->Release();
  else
    EXPECT_EQ(hr, REGDB_E_CLASSNOTREG);
  CoUninitialize();
  EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, &p), CO_E_NOTINITIALIZED);
}

TEST(Factory, FilterLibrariesExportOnlyTheirEntryPoints)
{
  const char *bin = std::getenv("TARVO_BIN");
  ASSERT_NE(bin, nullptr);
  std::string dir = std::string(bin) + "/../tests/dshow/";
  const std::set<std::string> want = {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                                      "DllUnregisterServer"};
  for (const char *lib : {"libdshow_testsource.so", "libdshow_testtransform.so", "libdshow_testsink.so"}) {
    std::string cmd = "nm -D --defined-only " + dir + lib;
    FILE *f = popen(cmd.c_str(), "r");
    ASSERT_NE(f, nullptr);
    std::set<std::string> names;
    char line[512];
    while (std::fgets(line, sizeof line, f)) {
      std::string s(line);
      while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
      names.insert(s.substr(s.rfind(' ') + 1));
    }
    EXPECT_EQ(pclose(f), 0) << cmd;
    EXPECT_EQ(names, want) << lib;
  }
}

}  // namespace
