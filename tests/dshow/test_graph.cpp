// The filter graph made by its class id, over the test filters: names,
// connection, running to completion, seeking through the graph, aborts
// that end the wait, and a final Release that leaves no thread behind.
#include <gtest/gtest.h>

#include <tarvo_dshow/dshow_graph.h>

#include "sys_graph.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

HRESULT create_from_file(LPCOLESTR file, REFCLSID clsid, REFIID iid, void **out)
{
  HMODULE h = CoLoadLibrary(file, TRUE);
  if (!h) return REGDB_E_CLASSNOTREG;
  auto get = reinterpret_cast<LPFNGETCLASSOBJECT>(GetProcAddress(h, "DllGetClassObject"));
  IClassFactory *factory = nullptr;
  HRESULT hr = get ? get(clsid, IID_IClassFactory, reinterpret_cast<void **>(&factory)) : E_NOINTERFACE;
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(nullptr, iid, out);
  factory->Release();
  return hr;
}

std::u16string name_of(IBaseFilter *f)
{
  FILTER_INFO info{};
  f->QueryFilterInfo(&info);
  if (info.pGraph) info.pGraph->Release();
  return info.achName;
}

// Counts bytes and keeps the first sample's start; can hold the stream
// at one sample until opened.
class Recorder final : public TestSinkCallback {
 public:
  HRESULT Receive(IMediaSample *s) override
  {
    std::unique_lock<std::mutex> l(m);
    REFERENCE_TIME start = 0, stop = 0;
    s->GetTime(&start, &stop);
    if (samples++ == 0) first_start = start;
    bytes += s->GetActualDataLength();
    cond.notify_all();
    if (samples == hold_at) cond.wait(l, [&] { return open; });
    return S_OK;
  }
  void BeginFlush() override {}
  void EndFlush() override {}
  void Open()
  {
    std::lock_guard<std::mutex> l(m);
    open = true;
    cond.notify_all();
  }

  std::mutex m;
  std::condition_variable cond;
  int samples = 0, hold_at = -1;
  bool open = false;
  LONGLONG bytes = 0;
  REFERENCE_TIME first_start = -1;
};

class Graph : public ::testing::Test {
 protected:
  void SetUp() override
  {
    threads_before = thread_baseline();
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph,
                               reinterpret_cast<void **>(&fg)),
              S_OK);
    ASSERT_EQ(fg->QueryInterface(IID_IGraphBuilder, reinterpret_cast<void **>(&gb)), S_OK);
    ASSERT_EQ(fg->QueryInterface(IID_IMediaControl, reinterpret_cast<void **>(&mc)), S_OK);
    ASSERT_EQ(fg->QueryInterface(IID_IMediaEvent, reinterpret_cast<void **>(&me)), S_OK);
    ASSERT_EQ(create_from_file(u"dshow_testsource.ax", CLSID_TestSource, IID_IBaseFilter, reinterpret_cast<void **>(&src)), S_OK);
    ASSERT_EQ(create_from_file(u"dshow_testtransform.ax", CLSID_TestTransform, IID_IBaseFilter,
                               reinterpret_cast<void **>(&xform)),
              S_OK);
    ASSERT_EQ(create_from_file(u"dshow_testsink.ax", CLSID_TestSink, IID_IBaseFilter, reinterpret_cast<void **>(&sink)), S_OK);
    ITestSink *ts = nullptr;
    ASSERT_EQ(sink->QueryInterface(IID_ITestSink, reinterpret_cast<void **>(&ts)), S_OK);
    ts->SetCallback(&rec);
    ts->Release();
  }

  // Adds and connects the three filters: source and transform by name,
  // transform to sink by rendering its output.
  void Build()
  {
    ASSERT_EQ(fg->AddFilter(src, u"Same"), S_OK);
    ASSERT_EQ(fg->AddFilter(xform, u"Same"), S_OK);
    ASSERT_EQ(fg->AddFilter(sink, nullptr), S_OK);
    EXPECT_EQ(fg->AddFilter(sink, nullptr), VFW_E_FILTER_ACTIVE);
    IPin *so = chain_pin(src, PINDIR_OUTPUT), *xi = chain_pin(xform, PINDIR_INPUT), *xo = chain_pin(xform, PINDIR_OUTPUT);
    ASSERT_TRUE(so && xi && xo);
    EXPECT_EQ(fg->ConnectDirect(xi, so, nullptr), VFW_E_INVALID_DIRECTION);
    EXPECT_EQ(fg->ConnectDirect(so, xi, nullptr), S_OK);
    EXPECT_EQ(gb->Render(xo), S_OK);
    EXPECT_EQ(gb->Render(xo), VFW_E_CANNOT_RENDER);  // the only free input is taken
    for (IPin *p : {so, xi, xo}) p->Release();
  }

  void TearDown() override
  {
    for (IUnknown *u : std::initializer_list<IUnknown *>{src, xform, sink, me, mc, gb})
      if (u) u->Release();
    if (fg) {
      EXPECT_EQ(fg->Release(), 0u);
    }
    CoUninitialize();
    // The final Release stopped the graph and joined its streaming threads.
    EXPECT_EQ(thread_count(), threads_before);
  }

  int threads_before = 0;
  Recorder rec;
  IFilterGraph *fg = nullptr;
  IGraphBuilder *gb = nullptr;
  IMediaControl *mc = nullptr;
  IMediaEvent *me = nullptr;
  IBaseFilter *src = nullptr, *xform = nullptr, *sink = nullptr;
};

TEST_F(Graph, NamesConnectsRunsToCompletionAndRunsAgain)
{
  Build();
  EXPECT_EQ(name_of(src), u"Same");
  std::u16string second = name_of(xform), third = name_of(sink);
  EXPECT_NE(second, u"Same");
  EXPECT_FALSE(third.empty());
  EXPECT_NE(third, second);
  IBaseFilter *found = nullptr;
  ASSERT_EQ(fg->FindFilterByName(second.c_str(), &found), S_OK);
  EXPECT_EQ(found, xform);
  found->Release();
  IEnumFilters *e = nullptr;
  ASSERT_EQ(fg->EnumFilters(&e), S_OK);
  IBaseFilter *all[4] = {};
  ULONG got = 0;
  EXPECT_EQ(e->Next(4, all, &got), S_FALSE);
  EXPECT_EQ(got, 3u);
  for (ULONG i = 0; i < got; i++) all[i]->Release();
  e->Release();

  LONG code = 0;
  EXPECT_EQ(me->WaitForCompletion(0, &code), VFW_E_WRONG_STATE);
  for (int round = 0; round < 2; round++) {
    ASSERT_EQ(mc->Run(), S_OK);
    EXPECT_EQ(fg->ConnectDirect(nullptr, nullptr, nullptr), E_POINTER);
    ASSERT_EQ(me->WaitForCompletion(LONG(INFINITE), &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    ASSERT_EQ(mc->Stop(), S_OK);
    std::lock_guard<std::mutex> l(rec.m);
    EXPECT_EQ(rec.bytes, TEST_STREAM_BYTES * (round + 1));
  }
  // The last run's renderer completion is queued once, as the graph's.
  LONG_PTR p1, p2;
  ASSERT_EQ(me->GetEvent(&code, &p1, &p2, 0), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);
  EXPECT_EQ(me->GetEvent(&code, &p1, &p2, 0), E_ABORT);
}

TEST_F(Graph, SeekingGoesToTheRendererAndAnAbortEndsTheWait)
{
  Build();
  IMediaSeeking *seeking = nullptr;
  ASSERT_EQ(fg->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void **>(&seeking)), S_OK);
  LONGLONG duration = 0;
  EXPECT_EQ(seeking->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, TEST_STREAM_BYTES * TEST_UNITS_PER_BYTE);
  LONGLONG at = 20000 * TEST_UNITS_PER_BYTE;
  ASSERT_EQ(seeking->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
  seeking->Release();

  rec.hold_at = 2;
  ASSERT_EQ(mc->Run(), S_OK);
  LONG code = 0;
  EXPECT_EQ(me->WaitForCompletion(50, &code), E_ABORT);
  {
    std::unique_lock<std::mutex> l(rec.m);
    rec.cond.wait(l, [&] { return rec.samples >= 2; });
    EXPECT_EQ(rec.first_start, at);
  }
  // A filter's error, posted while the stream is held, ends the wait.
  IMediaEventSink *es = nullptr;
  ASSERT_EQ(fg->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void **>(&es)), S_OK);
  std::thread poster([&] { es->Notify(EC_ERRORABORT, E_FAIL, 0); });
  EXPECT_EQ(me->WaitForCompletion(LONG(INFINITE), &code), S_OK);
  EXPECT_EQ(code, EC_ERRORABORT);
  poster.join();
  es->Release();
  rec.Open();
  // The graph is released running: TearDown checks that no thread stays.
}

}  // namespace
