/* Media samples and allocators: the base allocator with its free list and
 * blocking GetBuffer, and the memory allocator that keeps all its buffers
 * in one contiguous block.  A sample can also lie over memory it does not
 * own. */
#ifndef TARVO_DSHOW_BASE_ALLOC_H
#define TARVO_DSHOW_BASE_ALLOC_H

#include <tarvo_dshow/base_unknown.h>

class CBaseAllocator;

class CMediaSample : public IMediaSample {
 public:
  /* buffer and length may be given later with SetPointer; the memory is
   * not the sample's. */
  CMediaSample(const char *name, CBaseAllocator *allocator, HRESULT *phr, BYTE *buffer = nullptr,
               LONG length = 0);
  CMediaSample(const CMediaSample &) = delete;
  CMediaSample &operator=(const CMediaSample &) = delete;
  virtual ~CMediaSample();

  HRESULT QueryInterface(REFIID riid, void **ppv) override;
  ULONG AddRef() override;
  /* The last release gives the sample back to its allocator (or deletes a
   * sample without one). */
  ULONG Release() override;

  HRESULT SetPointer(BYTE *buffer, LONG length);

  HRESULT GetPointer(BYTE **buffer) override;
  LONG GetSize() override;
  HRESULT GetTime(REFERENCE_TIME *start, REFERENCE_TIME *end) override;
  HRESULT SetTime(REFERENCE_TIME *start, REFERENCE_TIME *end) override;
  HRESULT IsSyncPoint() override;
  HRESULT SetSyncPoint(BOOL sync) override;
  HRESULT IsPreroll() override;
  HRESULT SetPreroll(BOOL preroll) override;
  LONG GetActualDataLength() override;
  HRESULT SetActualDataLength(LONG length) override;
  HRESULT GetMediaType(AM_MEDIA_TYPE **type) override;
  HRESULT SetMediaType(AM_MEDIA_TYPE *type) override;
  HRESULT IsDiscontinuity() override;
  HRESULT SetDiscontinuity(BOOL discontinuity) override;
  HRESULT GetMediaTime(LONGLONG *start, LONGLONG *end) override;
  HRESULT SetMediaTime(LONGLONG *start, LONGLONG *end) override;

  enum {
    Sample_SyncPoint = 0x1,
    Sample_Preroll = 0x2,
    Sample_Discontinuity = 0x4,
    Sample_TypeChanged = 0x8,
    Sample_TimeValid = 0x10,
    Sample_MediaTimeValid = 0x20,
    Sample_StopValid = 0x100,
  };

 protected:
  friend class CBaseAllocator;
  friend class CSampleList;

  DWORD m_dwFlags = 0;
  BYTE *m_pBuffer;
  LONG m_lActual;
  LONG m_cbBuffer;
  CBaseAllocator *m_pAllocator;
  CMediaSample *m_pNext = nullptr;
  REFERENCE_TIME m_Start = 0, m_End = 0;
  LONGLONG m_MediaStart = 0, m_MediaEnd = 0;
  AM_MEDIA_TYPE *m_pMediaType = nullptr;
  std::atomic<LONG> m_cRef{0};
};

/* A list of samples linked through the samples themselves. */
class CSampleList {
 public:
  void Add(CMediaSample *s);
  CMediaSample *RemoveHead();
  bool Remove(CMediaSample *s);
  CMediaSample *Head() const { return m_head; }
  static CMediaSample *Next(CMediaSample *s) { return s->m_pNext; }
  int GetCount() const { return m_count; }

 private:
  CMediaSample *m_head = nullptr;
  int m_count = 0;
};

class CBaseAllocator : public CUnknown, public IMemAllocator {
 public:
  CBaseAllocator(const char *name, LPUNKNOWN outer, HRESULT *phr);
  ~CBaseAllocator() override;
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override;

  HRESULT SetProperties(ALLOCATOR_PROPERTIES *request, ALLOCATOR_PROPERTIES *actual) override;
  HRESULT GetProperties(ALLOCATOR_PROPERTIES *props) override;
  HRESULT Commit() override;
  /* Wakes every GetBuffer that waits; they answer VFW_E_NOT_COMMITTED. */
  HRESULT Decommit() override;
  /* Waits for a free sample unless AM_GBF_NOWAIT; every outstanding sample
   * holds a reference on the allocator. */
  HRESULT GetBuffer(IMediaSample **sample, REFERENCE_TIME *start, REFERENCE_TIME *end, DWORD flags) override;
  HRESULT ReleaseBuffer(IMediaSample *sample) override;

 protected:
  /* Called under m_lock: make the samples (Alloc, after the checks of the
   * base), or give them up when all are back (Free). */
  virtual HRESULT Alloc();
  virtual void Free() = 0;

  std::mutex m_lock;
  std::condition_variable m_freeCond;  // a sample came back, or decommit
  CSampleList m_lFree;
  LONG m_lAllocated = 0;  // samples made, free or not
  LONG m_lCount = 0, m_lSize = 0, m_lAlignment = 0, m_lPrefix = 0;
  bool m_bChanged = false;
  bool m_bCommitted = false;
  bool m_bDecommitInProgress = false;
};

/* All buffers in one block: buffer i starts at block + i * (size + prefix)
 * + prefix. */
class CMemAllocator : public CBaseAllocator {
 public:
  CMemAllocator(const char *name, LPUNKNOWN outer, HRESULT *phr);
  ~CMemAllocator() override;
  static CUnknown *CreateInstance(LPUNKNOWN outer, HRESULT *phr);
  HRESULT SetProperties(ALLOCATOR_PROPERTIES *request, ALLOCATOR_PROPERTIES *actual) override;

 protected:
  HRESULT Alloc() override;
  void Free() override;
  void ReallyFree();

  BYTE *m_pBuffer = nullptr;
};

/* A new memory allocator of its own, referenced. */
HRESULT CreateMemAllocator(IMemAllocator **out);

#endif
