// The delegate renderer at the end of the test source and transform: the
// callback's order of calls, a failed Receive ending the stream once, no
// callback at all, and the queries of its aggregated filter and seeking.
#include <gtest/gtest.h>

#include <pandrel/pandrel.h>
#include <tarvo_dshow/base_alloc.h>

#include "dshow_chain.h"
#include "test_filters.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

class Calls final : public DelegateCallback {
 public:
  HRESULT Run(REFERENCE_TIME start) override { return Log("Run" + std::to_string(start)); }
  HRESULT Pause() override { return Log("Pause"); }
  HRESULT Stop() override { return Log("Stop"); }
  HRESULT Receive(IMediaSample *s) override
  {
    std::lock_guard<std::mutex> l(m);
    calls.push_back("Receive");
    BYTE *p;
    s->GetPointer(&p);
    REFERENCE_TIME t0 = 0, t1 = 0;
    s->GetTime(&t0, &t1);
    LONGLONG first = t0 / TEST_UNITS_PER_BYTE;
    for (LONG i = 0; i < s->GetActualDataLength(); i++) bytes_ok &= p[i] == BYTE(~test_stream_byte(first + i));
    return ++received >= fail_from ? E_FAIL : S_OK;
  }
  HRESULT Log(std::string what)
  {
    std::lock_guard<std::mutex> l(m);
    calls.push_back(std::move(what));
    return E_FAIL;  // ignored by the renderer
  }

  std::mutex m;
  std::vector<std::string> calls;
  int received = 0, fail_from = 1 << 30;
  bool bytes_ok = true;
};

class Delegate : public ::testing::Test {
 protected:
  void SetUp() override
  {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    ASSERT_EQ(chain_create(DSHOW_TEST_DIR "dshow_testsource.ax", CLSID_TestSource, IID_IBaseFilter, src.out()), S_OK);
    ASSERT_EQ(chain_create(DSHOW_TEST_DIR "dshow_testtransform.ax", CLSID_TestTransform, IID_IBaseFilter, xform.out()),
              S_OK);
    ASSERT_EQ(chain_create(FILTER_DIR "pandrel.ax", CLSID_DelegateRenderer, IID_IBaseFilter, rend.out()), S_OK);
    ASSERT_EQ(rend->QueryInterface(IID_IDelegateRenderer, delegate.out()), S_OK);
    for (IBaseFilter *f : {src.p, xform.p, rend.p}) ASSERT_EQ(f->JoinFilterGraph(&graph, u"f"), S_OK);
    src_out.p = chain_pin(src.p, PINDIR_OUTPUT);
    x_in.p = chain_pin(xform.p, PINDIR_INPUT);
    x_out.p = chain_pin(xform.p, PINDIR_OUTPUT);
    r_in.p = chain_pin(rend.p, PINDIR_INPUT);
    ASSERT_TRUE(src_out.p && x_in.p && x_out.p && r_in.p);
  }
  void Connect()
  {
    ASSERT_EQ(src_out->Connect(x_in.p, nullptr), S_OK);
    // The transform's type has no format block: the renderer takes it.
    ASSERT_EQ(x_out->Connect(r_in.p, nullptr), S_OK);
  }
  void TearDown() override
  {
    Stop();
    for (IPin *p : {src_out.p, x_in.p, x_out.p, r_in.p})
      if (p) p->Disconnect();
    for (IBaseFilter *f : {src.p, xform.p, rend.p})
      if (f) f->JoinFilterGraph(nullptr, nullptr);
    CoUninitialize();
  }
  void Run()
  {
    for (IBaseFilter *f : {rend.p, xform.p, src.p}) ASSERT_EQ(f->Pause(), S_OK);
    for (IBaseFilter *f : {rend.p, xform.p, src.p}) ASSERT_EQ(f->Run(1234), S_OK);
  }
  void Stop()
  {
    for (IBaseFilter *f : {rend.p, xform.p, src.p})
      if (f) f->Stop();
  }
  // One sample of our own, handed straight to the renderer's pin.
  HRESULT ReceiveDirect(bool null_sample = false)
  {
    Ref<IMemInputPin> mem;
    if (FAILED(r_in->QueryInterface(IID_IMemInputPin, mem.out()))) return E_NOINTERFACE;
    if (null_sample) return mem->Receive(nullptr);
    Ref<IMemAllocator> alloc;
    if (FAILED(CreateMemAllocator(&alloc.p))) return E_OUTOFMEMORY;
    ALLOCATOR_PROPERTIES want{1, 16, 1, 0}, got{};
    alloc->SetProperties(&want, &got);
    alloc->Commit();
    Ref<IMediaSample> s;
    if (FAILED(alloc->GetBuffer(&s.p, nullptr, nullptr, 0))) return E_FAIL;
    s->SetActualDataLength(0);
    HRESULT hr = mem->Receive(s.p);
    s.reset();
    alloc->Decommit();
    return hr;
  }

  ChainGraph graph;
  Calls calls;
  Ref<IBaseFilter> src, xform, rend;
  Ref<IDelegateRenderer> delegate;
  Ref<IPin> src_out, x_in, x_out, r_in;
};

TEST_F(Delegate, CallbackHearsPauseRunEachSampleAndStopAndAFailedReceiveCompletesTheStreamOnce)
{
  Connect();
  ASSERT_EQ(delegate->SetCallback(&calls), S_OK);
  calls.fail_from = 3;
  Run();
  ASSERT_TRUE(graph.WaitFor(EC_COMPLETE));
  // Samples after the end still reach the callback; failing again changes
  // nothing, since the pin is already at end of stream.
  EXPECT_EQ(ReceiveDirect(), E_FAIL);
  Stop();
  EXPECT_EQ(graph.CountNow(EC_COMPLETE), 1);

  std::lock_guard<std::mutex> l(calls.m);
  ASSERT_GE(calls.calls.size(), 7u);
  // The source pushes from the pause on, so samples may come before Run.
  EXPECT_EQ(calls.calls[0], "Pause");
  // A sample in progress as Stop is called may still come after it.
  auto last = std::find_if(calls.calls.rbegin(), calls.calls.rend(), [](const std::string &c) { return c != "Receive"; });
  ASSERT_NE(last, calls.calls.rend());
  EXPECT_EQ(*last, "Stop");
  EXPECT_EQ(std::count(calls.calls.begin(), calls.calls.end(), "Stop"), 1);
  EXPECT_EQ(std::count(calls.calls.begin(), calls.calls.end(), "Run1234"), 1);
  EXPECT_EQ(std::count(calls.calls.begin(), calls.calls.end(), "Receive"), LONG(calls.calls.size()) - 3);
  EXPECT_GE(calls.received, 4);
  EXPECT_TRUE(calls.bytes_ok);
}

TEST_F(Delegate, WithoutCallbackEverySampleIsDroppedAndTheStreamStillCompletes)
{
  Connect();
  EXPECT_EQ(ReceiveDirect(true), E_POINTER);
  Ref<IMemInputPin> mem;
  ASSERT_EQ(r_in->QueryInterface(IID_IMemInputPin, mem.out()), S_OK);
  EXPECT_EQ(mem->ReceiveCanBlock(), S_FALSE);
  Run();
  ASSERT_TRUE(graph.WaitFor(EC_COMPLETE));
  EXPECT_EQ(ReceiveDirect(), S_OK);
  Stop();
  EXPECT_EQ(graph.CountNow(EC_COMPLETE), 1);
  EXPECT_EQ(graph.CountNow(EC_ERRORABORT), 0);
}

TEST_F(Delegate, FilterIsAggregatedAndSeekingIsMadeOnceAndAsksUpstream)
{
  Ref<IDelegateRenderer> again;
  Ref<IBaseFilter> from_pin_filter;
  PIN_INFO info{};
  ASSERT_EQ(r_in->QueryPinInfo(&info), S_OK);
  from_pin_filter.p = info.pFilter;
  ASSERT_EQ(from_pin_filter->QueryInterface(IID_IDelegateRenderer, again.out()), S_OK);
  EXPECT_EQ(again.p, delegate.p);
  EXPECT_EQ(std::u16string(info.achName), u"Input");
  EXPECT_EQ(rend->QueryInterface(IID_IMediaSeeking, nullptr), E_POINTER);

  Ref<IMediaSeeking> s1, s2;
  ASSERT_EQ(rend->QueryInterface(IID_IMediaSeeking, s1.out()), S_OK);
  ASSERT_EQ(delegate->QueryInterface(IID_IMediaSeeking, s2.out()), S_OK);
  EXPECT_EQ(s1.p, s2.p);
  LONGLONG duration = 0;
  EXPECT_EQ(s1->GetDuration(&duration), E_NOTIMPL);  // not connected yet
  Connect();
  ASSERT_EQ(s1->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, TEST_STREAM_BYTES * TEST_UNITS_PER_BYTE);
}

}  // namespace
