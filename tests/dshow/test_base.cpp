// The memory allocator's block and blocking GetBuffer, events, the output
// queue's batches, and the component layer's stream, initialisation count and
// library names.
#include <gtest/gtest.h>

#include <tarvo_dshow/base_alloc.h>
#include <tarvo_dshow/base_stream.h>
#include <tarvo_dshow/dshow_limits.h>

#include <chrono>
#include <future>
#include <vector>

namespace {

using namespace std::chrono_literals;

IMemAllocator *new_allocator()
{
  IMemAllocator *a = nullptr;
  EXPECT_EQ(CreateMemAllocator(&a), S_OK);
  return a;
}

TEST(MemAllocator, BuffersLieInOneBlockAndGetBufferWaitsUntilOneComesBackOrDecommit)
{
  IMemAllocator *a = new_allocator();
  ALLOCATOR_PROPERTIES want{3, 1001, 16, 8}, got{};
  ASSERT_EQ(a->SetProperties(&want, &got), S_OK);
  EXPECT_EQ(got.cbBuffer, 1024 - 8);  // buffer and prefix rounded up to the alignment
  IMediaSample *s[3];
  EXPECT_EQ(a->GetBuffer(&s[0], nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
  ASSERT_EQ(a->Commit(), S_OK);
  std::vector<BYTE *> at;
  for (IMediaSample *&x : s) {
    ASSERT_EQ(a->GetBuffer(&x, nullptr, nullptr, 0), S_OK);
    BYTE *p;
    x->GetPointer(&p);
    at.push_back(p);
  }
  std::sort(at.begin(), at.end());
  EXPECT_EQ(at[1] - at[0], 1024);
  EXPECT_EQ(at[2] - at[1], 1024);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(at[0] - 8) % 16, 0u);
  EXPECT_EQ(a->SetProperties(&want, &got), VFW_E_ALREADY_COMMITTED);
  IMediaSample *extra = nullptr;
  EXPECT_EQ(a->GetBuffer(&extra, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);

  // A waiter gets the sample given back, with none of its old marks.
  s[0]->SetDiscontinuity(TRUE);
  auto waiter = std::async(std::launch::async, [&] { return a->GetBuffer(&extra, nullptr, nullptr, 0); });
  EXPECT_EQ(waiter.wait_for(50ms), std::future_status::timeout);
  s[0]->Release();
  ASSERT_EQ(waiter.wait_for(10s), std::future_status::ready);
  ASSERT_EQ(waiter.get(), S_OK);
  EXPECT_EQ(extra->IsDiscontinuity(), S_FALSE);

  // Decommit ends a wait; the samples still out keep their memory.
  auto stopped = std::async(std::launch::async, [&] {
    IMediaSample *x = nullptr;
    return a->GetBuffer(&x, nullptr, nullptr, 0);
  });
  EXPECT_EQ(stopped.wait_for(50ms), std::future_status::timeout);
  a->Decommit();
  ASSERT_EQ(stopped.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(stopped.get(), VFW_E_NOT_COMMITTED);
  std::memset(at[0], 0xAB, 1016);
  extra->Release();
  s[1]->Release();
  s[2]->Release();
  a->Release();  // the last sample's return has freed the block already
}

TEST(MemAllocator, RefusesABlockOverItsBoundAndBadAlignment)
{
  IMemAllocator *a = new_allocator();
  ALLOCATOR_PROPERTIES got{};
  ALLOCATOR_PROPERTIES at_limit{4, LONG(DSHOW_ALLOCATOR_MAX_BYTES / 4), 1, 0};
  EXPECT_EQ(a->SetProperties(&at_limit, &got), S_OK);
  ALLOCATOR_PROPERTIES over{4, LONG(DSHOW_ALLOCATOR_MAX_BYTES / 4) + 1, 1, 0};
  EXPECT_EQ(a->SetProperties(&over, &got), E_OUTOFMEMORY);
  ALLOCATOR_PROPERTIES many{0x7FFFFFFF, 0x7FFFFFFF, 1, 0};
  EXPECT_EQ(a->SetProperties(&many, &got), E_OUTOFMEMORY);
  ALLOCATOR_PROPERTIES odd{1, 100, 3, 0};
  EXPECT_EQ(a->SetProperties(&odd, &got), VFW_E_BADALIGN);
  a->Release();
}

TEST(Event, AutoResetEndsOneWaitAndManualStaysSet)
{
  CAMEvent autoReset, manual(true);
  EXPECT_FALSE(autoReset.Wait(10));
  auto waiter = std::async(std::launch::async, [&] { return autoReset.Wait(10000); });
  autoReset.Set();
  EXPECT_TRUE(waiter.get());
  EXPECT_FALSE(autoReset.Check());  // the wait that it ended reset it
  manual.Set();
  EXPECT_TRUE(manual.Check());
  EXPECT_TRUE(manual.Wait(0));
  manual.Reset();
  EXPECT_FALSE(manual.Check());
}

TEST(MediaSample, OverForeignMemory)
{
  BYTE mine[64];
  auto *s = new CMediaSample("foreign", nullptr, nullptr, mine, 64);
  s->AddRef();
  BYTE *p;
  s->GetPointer(&p);
  EXPECT_EQ(p, mine);
  EXPECT_EQ(s->SetActualDataLength(65), VFW_E_BUFFER_OVERFLOW);
  REFERENCE_TIME t0 = 5, t1;
  EXPECT_EQ(s->GetTime(&t0, &t1), VFW_E_SAMPLE_TIME_NOT_SET);
  s->SetTime(&t0, nullptr);
  EXPECT_EQ(s->GetTime(&t0, &t1), VFW_S_NO_STOP_TIME);
  EXPECT_EQ(t1, 6);
  EXPECT_EQ(s->SetPointer(mine + 10, 20), S_OK);
  EXPECT_EQ(s->GetSize(), 20);
  s->Release();  // no allocator: the sample deletes itself, not the memory
}

// A downstream pin that counts its calls.
class CountingPin final : public IPin, public IMemInputPin {
 public:
  HRESULT QueryInterface(REFIID riid, void **ppv) override
  {
    if (riid == IID_IMemInputPin) {
      *ppv = static_cast<IMemInputPin *>(this);
      return S_OK;
    }
    *ppv = static_cast<IPin *>(this);
    return S_OK;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT Connect(IPin *, const AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
  HRESULT ReceiveConnection(IPin *, const AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
  HRESULT Disconnect() override { return E_NOTIMPL; }
  HRESULT ConnectedTo(IPin **) override { return E_NOTIMPL; }
  HRESULT ConnectionMediaType(AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
  HRESULT QueryPinInfo(PIN_INFO *) override { return E_NOTIMPL; }
  HRESULT QueryDirection(PIN_DIRECTION *) override { return E_NOTIMPL; }
  HRESULT QueryId(LPWSTR *) override { return E_NOTIMPL; }
  HRESULT QueryAccept(const AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
  HRESULT EnumMediaTypes(IEnumMediaTypes **) override { return E_NOTIMPL; }
  HRESULT QueryInternalConnections(IPin **, ULONG *) override { return E_NOTIMPL; }
  HRESULT EndOfStream() override { return record("eos"); }
  HRESULT BeginFlush() override { return record("begin"); }
  HRESULT EndFlush() override { return record("end"); }
  HRESULT NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return record("segment"); }
  HRESULT GetAllocator(IMemAllocator **) override { return E_NOTIMPL; }
  HRESULT NotifyAllocator(IMemAllocator *, BOOL) override { return E_NOTIMPL; }
  HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES *) override { return E_NOTIMPL; }
  HRESULT Receive(IMediaSample *) override { return E_NOTIMPL; }
  HRESULT ReceiveMultiple(IMediaSample **, LONG count, LONG *done) override
  {
    *done = count;
    return record(std::to_string(count));
  }
  HRESULT ReceiveCanBlock() override { return S_OK; }

  HRESULT record(const std::string &what)
  {
    std::lock_guard<std::mutex> l(m);
    calls.push_back(what);
    cond.notify_all();
    return S_OK;
  }
  std::vector<std::string> WaitFor(size_t n)
  {
    std::unique_lock<std::mutex> l(m);
    cond.wait_for(l, 10s, [&] { return calls.size() >= n; });
    return calls;
  }

  std::mutex m;
  std::condition_variable cond;
  std::vector<std::string> calls;
};

IMediaSample *sample()
{
  static BYTE memory[4];
  auto *s = new CMediaSample("queued", nullptr, nullptr, memory, 4);
  s->AddRef();
  return s;
}

TEST(OutputQueue, SendsExactBatchesInOrderWithControlCallsAndSendAnyway)
{
  CountingPin pin;
  HRESULT hr = S_OK;
  {
    COutputQueue q(&pin, &hr, FALSE, TRUE, DSHOW_OUTPUT_QUEUE_DEFAULT_BATCH, TRUE);
    ASSERT_EQ(hr, S_OK);
    for (int i = 0; i < 120; i++) ASSERT_EQ(q.Receive(sample()), S_OK);
    EXPECT_EQ(pin.WaitFor(2), (std::vector<std::string>{"50", "50"}));
    q.SendAnyway();
    EXPECT_EQ(pin.WaitFor(3).back(), "20");
    for (int i = 0; i < 7; i++) q.Receive(sample());
    q.EOS();  // the partial batch goes first, then end of stream
    EXPECT_EQ(pin.WaitFor(5), (std::vector<std::string>{"50", "50", "20", "7", "eos"}));

    // A flush drops what waits and passes on at once.
    for (int i = 0; i < 3; i++) q.Receive(sample());
    q.BeginFlush();
    EXPECT_EQ(q.Receive(sample()), S_FALSE);
    q.EndFlush();
    q.NewSegment(0, 10, 1.0);
    std::vector<std::string> calls = pin.WaitFor(8);
    EXPECT_EQ(std::vector<std::string>(calls.begin() + 5, calls.end()),
              (std::vector<std::string>{"begin", "end", "segment"}));
    for (int i = 0; i < 4; i++) q.Receive(sample());
  }  // the thread is joined and the 4 samples left are released
  EXPECT_EQ(pin.calls.size(), 8u);
}

TEST(ComLayer, MemoryStreamInitialisationCountAndLibraryNames)
{
  IStream *s = nullptr;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &s), S_OK);
  ULONG n = 0;
  ASSERT_EQ(s->Write("abcdef", 6, &n), S_OK);
  EXPECT_EQ(n, 6u);
  ASSERT_EQ(s->Seek(LARGE_INTEGER{2}, STREAM_SEEK_SET, nullptr), S_OK);
  char buf[8] = {};
  EXPECT_EQ(s->Read(buf, 8, &n), S_FALSE);  // short read at the end
  EXPECT_EQ(std::string(buf, n), "cdef");
  EXPECT_EQ(s->Seek(LARGE_INTEGER{-7}, STREAM_SEEK_END, nullptr), STG_E_INVALIDFUNCTION);
  IStream *c = nullptr;
  ASSERT_EQ(s->Clone(&c), S_OK);
  ASSERT_EQ(s->Seek(LARGE_INTEGER{8}, STREAM_SEEK_SET, nullptr), S_OK);
  ASSERT_EQ(s->Write("gh", 2, &n), S_OK);  // past the end: the gap reads as zeros
  STATSTG st;
  ASSERT_EQ(c->Stat(&st, STATFLAG_NONAME), S_OK);
  EXPECT_EQ(st.cbSize.QuadPart, 10u);  // clones share the bytes
  c->Release();
  s->Release();

  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  std::thread([] {
    EXPECT_EQ(CoInitialize(nullptr), S_OK);  // the count is the thread's own
    CoUninitialize();
  }).join();
  CoUninitialize();
  CoUninitialize();

  // A Windows name means lib<name>.so; nothing of the kind lies beside us.
  HMODULE h = CoLoadLibrary(u"tarvo_com.dll", FALSE);
  ASSERT_NE(h, nullptr);
  EXPECT_NE(GetProcAddress(h, "CoCreateInstance"), nullptr);
  EXPECT_TRUE(FreeLibrary(h));
  EXPECT_EQ(CoLoadLibrary(u"no_such_library.ax", FALSE), nullptr);
  const char16_t lone_surrogate[] = {0xD800, u'.', u'a', u'x', 0};
  EXPECT_EQ(CoLoadLibrary(lone_surrogate, FALSE), nullptr);
}

}  // namespace
