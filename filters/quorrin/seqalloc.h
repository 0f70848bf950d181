/* The MP3 parser's input allocator: its buffers lie in one block and are
 * handed out strictly in address order, so that the bytes received and not
 * yet consumed always form one contiguous region; a tail that reaches the
 * end of the block is moved in front of the next buffer at the start. */
#ifndef TARVO_QUORRIN_SEQALLOC_H
#define TARVO_QUORRIN_SEQALLOC_H

#include <tarvo_dshow/base_alloc.h>

#include <vector>

class CSequentialAllocator : public CMemAllocator {
 public:
  CSequentialAllocator(LPUNKNOWN outer, HRESULT *phr);
  ~CSequentialAllocator() override;

  HRESULT GetBuffer(IMediaSample **sample, REFERENCE_TIME *start, REFERENCE_TIME *end, DWORD flags) override;

  /* The sample (one of this allocator's) now holds pending data. */
  HRESULT AddReceived(IMediaSample *sample);
  void PendingRegion(BYTE **data, LONG *length) const;
  /* The first n pending bytes are done with; E_FAIL when a tail that must
   * move cannot (buffers too few for it). */
  HRESULT Consume(LONG n);
  void ConsumeAll();
  /* The sample whose buffer holds address, or NULL. */
  IMediaSample *SampleAt(const BYTE *address) const;

 protected:
  HRESULT Alloc() override;

 private:
  LONG IndexOf(const BYTE *address) const;
  void ReleaseHeld(LONG from, LONG to);
  HRESULT MoveTail();

  std::vector<CMediaSample *> m_samples;  // by address
  std::vector<bool> m_held;               // a received reference is ours
  BYTE *m_base = nullptr;
  LONG m_next = 0;
  BYTE *m_read = nullptr;
  LONG m_pending = 0;
};

#endif
