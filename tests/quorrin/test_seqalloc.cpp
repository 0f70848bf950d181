// The sequential allocator driven as the pull reader and the parser drive
// it: buffers filled in address order, frames that straddle buffers and the
// end of the block seen whole, buffers given back as they are consumed.
#include "seqalloc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

constexpr LONG kSize = 4096, kCount = 4;

struct Alloc {
  Alloc()
  {
    HRESULT hr = S_OK;
    a = new CSequentialAllocator(nullptr, &hr);
    a->NonDelegatingAddRef();
    ALLOCATOR_PROPERTIES req{kCount, kSize, 1, 0}, act{};
    EXPECT_EQ(a->SetProperties(&req, &act), S_OK);
    EXPECT_EQ(a->Commit(), S_OK);
  }
  ~Alloc()
  {
    a->ConsumeAll();
    a->Decommit();
    a->NonDelegatingRelease();
  }
  // The reader's part: the next buffer, filled with bytes from the stream
  // counter, received and let go.
  BYTE *Fill(LONG n = kSize)
  {
    IMediaSample *s = nullptr;
    EXPECT_EQ(a->GetBuffer(&s, nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
    if (!s) return nullptr;
    BYTE *p;
    s->GetPointer(&p);
    for (LONG i = 0; i < n; i++) p[i] = BYTE(next++ * 13);
    s->SetActualDataLength(n);
    EXPECT_EQ(a->AddReceived(s), S_OK);
    s->Release();
    return p;
  }
  // Checks that the pending region holds the stream bytes from k on.
  void ExpectPending(LONGLONG k, LONG len)
  {
    BYTE *p;
    LONG n;
    a->PendingRegion(&p, &n);
    ASSERT_EQ(n, len);
    for (LONG i = 0; i < n; i++) ASSERT_EQ(p[i], BYTE((k + i) * 13)) << i;
  }
  CSequentialAllocator *a;
  LONGLONG next = 0;
};

TEST(SeqAlloc, StraddlingFrameReleasesOnlyWhatIsConsumed)
{
  Alloc t;
  BYTE *b0 = t.Fill();
  BYTE *b1 = t.Fill();
  EXPECT_EQ(b1, b0 + kSize);
  t.ExpectPending(0, 2 * kSize);
  // A "frame" of 1000 bytes straddling the first boundary: consuming up to
  // its end gives the first buffer back, and it is the only one free.
  ASSERT_EQ(t.a->Consume(kSize - 500), S_OK);
  ASSERT_EQ(t.a->Consume(1000), S_OK);
  t.Fill();
  t.Fill();
  IMediaSample *s = nullptr;
  EXPECT_EQ(t.a->GetBuffer(&s, nullptr, nullptr, AM_GBF_NOWAIT), S_OK);  // buffer 0 came back
  s->Release();
  EXPECT_EQ(t.a->GetBuffer(&s, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);  // buffer 1 is held

}

TEST(SeqAlloc, TailAtTheEndMovesToTheFront)
{
  Alloc t;
  for (int i = 0; i < kCount; i++) t.Fill();
  LONGLONG total = LONGLONG(kCount) * kSize;
  ASSERT_EQ(t.a->Consume(LONG(total - 700)), S_OK);
  BYTE *p;
  LONG n;
  t.a->PendingRegion(&p, &n);
  IMediaSample *first = t.a->SampleAt(p);
  ASSERT_NE(first, nullptr);
  BYTE *b0;
  first->GetPointer(&b0);
  EXPECT_EQ(p, b0 + kSize - 700);  // ends where the next buffer begins
  t.ExpectPending(total - 700, 700);
  // The reader's next buffer follows the copy without a gap: a frame across
  // the copy and the new buffer is seen whole.
  BYTE *b1 = t.Fill();
  EXPECT_EQ(b1, b0 + kSize);
  t.ExpectPending(total - 700, 700 + kSize);
  ASSERT_EQ(t.a->Consume(700 + 100), S_OK);
  t.ExpectPending(total + 100, kSize - 100);
}

TEST(SeqAlloc, AllConsumedInsideABufferReleasesIt)
{
  Alloc t;
  BYTE *b0 = t.Fill(kSize);
  t.Fill(1000);  // a short read ends inside buffer 1
  ASSERT_EQ(t.a->Consume(kSize + 1000), S_OK);
  BYTE *p;
  LONG n;
  t.a->PendingRegion(&p, &n);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(p, b0 + 2 * kSize);  // the next boundary
  // Both buffers are free again: four can be had without waiting.
  std::vector<IMediaSample *> got;
  for (int i = 0; i < kCount; i++) {
    IMediaSample *s = nullptr;
    ASSERT_EQ(t.a->GetBuffer(&s, nullptr, nullptr, AM_GBF_NOWAIT), S_OK) << i;
    got.push_back(s);
  }
  BYTE *g;
  got[0]->GetPointer(&g);
  EXPECT_EQ(g, b0 + 2 * kSize);  // handed out in address order
  for (auto *s : got) s->Release();
  t.a->Decommit();
  IMediaSample *s = nullptr;
  EXPECT_EQ(t.a->GetBuffer(&s, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
}

}  // namespace
