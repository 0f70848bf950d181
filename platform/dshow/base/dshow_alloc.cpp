// Media samples, the base allocator's free list and blocking GetBuffer, and
// the memory allocator's single block.
#include <tarvo_dshow/base_alloc.h>
#include <tarvo_dshow/base_mtype.h>
#include <tarvo_dshow/dshow_limits.h>

#include <cstdlib>
#include <new>

CMediaSample::CMediaSample(const char *, CBaseAllocator *allocator, HRESULT *, BYTE *buffer, LONG length)
  : m_pBuffer(buffer), m_lActual(length), m_cbBuffer(length), m_pAllocator(allocator)
{
}

CMediaSample::~CMediaSample()
{
  DeleteMediaType(m_pMediaType);
}

HRESULT CMediaSample::QueryInterface(REFIID riid, void **ppv)
{
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IMediaSample) return GetInterface(this, ppv);
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG CMediaSample::AddRef()
{
  return ULONG(++m_cRef);
}

ULONG CMediaSample::Release()
{
  LONG n = --m_cRef;
  if (n != 0) return ULONG(n);
  // Back to the free list clean: the next user sets what it needs.
  m_dwFlags = 0;
  DeleteMediaType(m_pMediaType);
  m_pMediaType = nullptr;
  if (m_pAllocator)
    m_pAllocator->ReleaseBuffer(this);  // may delete this sample
  else
    delete this;
  return 0;
}

HRESULT CMediaSample::SetPointer(BYTE *buffer, LONG length)
{
  if (length < 0) return VFW_E_BUFFER_OVERFLOW;
  m_pBuffer = buffer;
  m_cbBuffer = length;
  m_lActual = length;
  return S_OK;
}

HRESULT CMediaSample::GetPointer(BYTE **buffer)
{
  if (!buffer) return E_POINTER;
  *buffer = m_pBuffer;
  return S_OK;
}

LONG CMediaSample::GetSize()
{
  return m_cbBuffer;
}

HRESULT CMediaSample::GetTime(REFERENCE_TIME *start, REFERENCE_TIME *end)
{
  if (!start || !end) return E_POINTER;
  if (!(m_dwFlags & Sample_TimeValid)) return VFW_E_SAMPLE_TIME_NOT_SET;
  *start = m_Start;
  if (m_dwFlags & Sample_StopValid) {
    *end = m_End;
    return S_OK;
  }
  *end = m_Start + 1;
  return VFW_S_NO_STOP_TIME;
}

HRESULT CMediaSample::SetTime(REFERENCE_TIME *start, REFERENCE_TIME *end)
{
  if (!start) {
    m_dwFlags &= ~(Sample_TimeValid | Sample_StopValid);
    return S_OK;
  }
  m_Start = *start;
  m_dwFlags |= Sample_TimeValid;
  if (end) {
    m_End = *end;
    m_dwFlags |= Sample_StopValid;
  } else {
    m_dwFlags &= ~Sample_StopValid;
  }
  return S_OK;
}

static HRESULT flag_answer(DWORD flags, DWORD bit)
{
  return (flags & bit) ? S_OK : S_FALSE;
}

static void set_flag(DWORD &flags, DWORD bit, BOOL on)
{
  flags = on ? (flags | bit) : (flags & ~bit);
}

HRESULT CMediaSample::IsSyncPoint() { return flag_answer(m_dwFlags, Sample_SyncPoint); }
HRESULT CMediaSample::SetSyncPoint(BOOL on) { set_flag(m_dwFlags, Sample_SyncPoint, on); return S_OK; }
HRESULT CMediaSample::IsPreroll() { return flag_answer(m_dwFlags, Sample_Preroll); }
HRESULT CMediaSample::SetPreroll(BOOL on) { set_flag(m_dwFlags, Sample_Preroll, on); return S_OK; }
HRESULT CMediaSample::IsDiscontinuity() { return flag_answer(m_dwFlags, Sample_Discontinuity); }
HRESULT CMediaSample::SetDiscontinuity(BOOL on) { set_flag(m_dwFlags, Sample_Discontinuity, on); return S_OK; }

LONG CMediaSample::GetActualDataLength()
{
  return m_lActual;
}

HRESULT CMediaSample::SetActualDataLength(LONG length)
{
  if (length < 0 || length > m_cbBuffer) return VFW_E_BUFFER_OVERFLOW;
  m_lActual = length;
  return S_OK;
}

HRESULT CMediaSample::GetMediaType(AM_MEDIA_TYPE **type)
{
  if (!type) return E_POINTER;
  *type = nullptr;
  if (!(m_dwFlags & Sample_TypeChanged) || !m_pMediaType) return S_FALSE;
  *type = CreateMediaType(m_pMediaType);
  return *type ? S_OK : E_OUTOFMEMORY;
}

HRESULT CMediaSample::SetMediaType(AM_MEDIA_TYPE *type)
{
  DeleteMediaType(m_pMediaType);
  m_pMediaType = nullptr;
  if (!type) {
    m_dwFlags &= ~Sample_TypeChanged;
    return S_OK;
  }
  m_pMediaType = CreateMediaType(type);
  if (!m_pMediaType) {
    m_dwFlags &= ~Sample_TypeChanged;
    return E_OUTOFMEMORY;
  }
  m_dwFlags |= Sample_TypeChanged;
  return S_OK;
}

HRESULT CMediaSample::GetMediaTime(LONGLONG *start, LONGLONG *end)
{
  if (!start || !end) return E_POINTER;
  if (!(m_dwFlags & Sample_MediaTimeValid)) return VFW_E_MEDIA_TIME_NOT_SET;
  *start = m_MediaStart;
  *end = m_MediaEnd;
  return S_OK;
}

HRESULT CMediaSample::SetMediaTime(LONGLONG *start, LONGLONG *end)
{
  if (!start) {
    m_dwFlags &= ~Sample_MediaTimeValid;
    return S_OK;
  }
  if (!end) return E_POINTER;
  m_MediaStart = *start;
  m_MediaEnd = *end;
  m_dwFlags |= Sample_MediaTimeValid;
  return S_OK;
}

void CSampleList::Add(CMediaSample *s)
{
  s->m_pNext = m_head;
  m_head = s;
  m_count++;
}

CMediaSample *CSampleList::RemoveHead()
{
  CMediaSample *s = m_head;
  if (s) {
    m_head = s->m_pNext;
    s->m_pNext = nullptr;
    m_count--;
  }
  return s;
}

bool CSampleList::Remove(CMediaSample *s)
{
  for (CMediaSample **p = &m_head; *p; p = &(*p)->m_pNext) {
    if (*p != s) continue;
    *p = s->m_pNext;
    s->m_pNext = nullptr;
    m_count--;
    return true;
  }
  return false;
}

CBaseAllocator::CBaseAllocator(const char *name, LPUNKNOWN outer, HRESULT *phr) : CUnknown(name, outer, phr) {}

CBaseAllocator::~CBaseAllocator() = default;

HRESULT CBaseAllocator::NonDelegatingQueryInterface(REFIID riid, void **ppv)
{
  if (riid == IID_IMemAllocator) return GetInterface(static_cast<IMemAllocator *>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseAllocator::SetProperties(ALLOCATOR_PROPERTIES *request, ALLOCATOR_PROPERTIES *actual)
{
  if (!request || !actual) return E_POINTER;
  std::lock_guard<std::mutex> l(m_lock);
  if (m_bCommitted) return VFW_E_ALREADY_COMMITTED;
  if (m_lFree.GetCount() < m_lAllocated) return VFW_E_BUFFERS_OUTSTANDING;
  *actual = *request;
  m_lCount = request->cBuffers;
  m_lSize = request->cbBuffer;
  m_lAlignment = request->cbAlign;
  m_lPrefix = request->cbPrefix;
  m_bChanged = true;
  return S_OK;
}

HRESULT CBaseAllocator::GetProperties(ALLOCATOR_PROPERTIES *props)
{
  if (!props) return E_POINTER;
  std::lock_guard<std::mutex> l(m_lock);
  props->cBuffers = m_lCount;
  props->cbBuffer = m_lSize;
  props->cbAlign = m_lAlignment;
  props->cbPrefix = m_lPrefix;
  return S_OK;
}

HRESULT CBaseAllocator::Alloc()
{
  if (m_lCount <= 0 || m_lSize <= 0 || m_lAlignment <= 0) return VFW_E_SIZENOTSET;
  return S_OK;
}

HRESULT CBaseAllocator::Commit()
{
  std::lock_guard<std::mutex> l(m_lock);
  if (m_bCommitted) return S_OK;
  if (m_bDecommitInProgress) {
    // Samples are still out: they keep their memory, and serve again.
    m_bDecommitInProgress = false;
    m_bCommitted = true;
    return S_OK;
  }
  HRESULT hr = Alloc();
  if (FAILED(hr)) return hr;
  m_bCommitted = true;
  return S_OK;
}

HRESULT CBaseAllocator::Decommit()
{
  std::lock_guard<std::mutex> l(m_lock);
  if (!m_bCommitted) return S_OK;
  m_bCommitted = false;
  if (m_lFree.GetCount() == m_lAllocated)
    Free();
  else
    m_bDecommitInProgress = true;
  m_freeCond.notify_all();
  return S_OK;
}

HRESULT CBaseAllocator::GetBuffer(IMediaSample **out, REFERENCE_TIME *, REFERENCE_TIME *, DWORD flags)
{
  if (!out) return E_POINTER;
  *out = nullptr;
  CMediaSample *s;
  {
    std::unique_lock<std::mutex> l(m_lock);
    for (;;) {
      if (!m_bCommitted) return VFW_E_NOT_COMMITTED;
      s = m_lFree.RemoveHead();
      if (s) break;
      if (flags & AM_GBF_NOWAIT) return VFW_E_TIMEOUT;
      m_freeCond.wait(l);
    }
    s->m_cRef = 1;
  }
  AddRef();  // given back in ReleaseBuffer
  *out = s;
  return S_OK;
}

HRESULT CBaseAllocator::ReleaseBuffer(IMediaSample *sample)
{
  if (!sample) return E_POINTER;
  {
    std::lock_guard<std::mutex> l(m_lock);
    m_lFree.Add(static_cast<CMediaSample *>(sample));
    m_freeCond.notify_all();
    if (m_bDecommitInProgress && m_lFree.GetCount() == m_lAllocated) {
      Free();
      m_bDecommitInProgress = false;
    }
  }
  Release();  // the reference GetBuffer took; may delete the allocator
  return S_OK;
}

CMemAllocator::CMemAllocator(const char *name, LPUNKNOWN outer, HRESULT *phr) : CBaseAllocator(name, outer, phr) {}

CMemAllocator::~CMemAllocator()
{
  Decommit();
  std::lock_guard<std::mutex> l(m_lock);
  ReallyFree();
}

CUnknown *CMemAllocator::CreateInstance(LPUNKNOWN outer, HRESULT *phr)
{
  auto *a = new (std::nothrow) CMemAllocator("CMemAllocator", outer, phr);
  if (!a && phr) *phr = E_OUTOFMEMORY;
  return a;
}

HRESULT CreateMemAllocator(IMemAllocator **out)
{
  *out = nullptr;
  CUnknown *a = CMemAllocator::CreateInstance(nullptr, nullptr);
  if (!a) return E_OUTOFMEMORY;
  a->NonDelegatingAddRef();
  HRESULT hr = a->NonDelegatingQueryInterface(IID_IMemAllocator, reinterpret_cast<void **>(out));
  a->NonDelegatingRelease();
  return hr;
}

HRESULT CMemAllocator::SetProperties(ALLOCATOR_PROPERTIES *request, ALLOCATOR_PROPERTIES *actual)
{
  if (!request || !actual) return E_POINTER;
  ALLOCATOR_PROPERTIES r = *request;
  if (r.cbAlign == 0) r.cbAlign = 1;
  if (r.cbAlign < 0 || (r.cbAlign & (r.cbAlign - 1)) != 0) return VFW_E_BADALIGN;
  if (r.cBuffers < 0 || r.cbBuffer < 0 || r.cbPrefix < 0) return E_INVALIDARG;
  // Each buffer with its prefix starts on the alignment.
  int64_t each = (int64_t(r.cbBuffer) + r.cbPrefix + r.cbAlign - 1) / r.cbAlign * r.cbAlign;
  if (each * r.cBuffers > DSHOW_ALLOCATOR_MAX_BYTES) return E_OUTOFMEMORY;
  r.cbBuffer = LONG(each - r.cbPrefix);
  return CBaseAllocator::SetProperties(&r, actual);
}

HRESULT CMemAllocator::Alloc()
{
  HRESULT hr = CBaseAllocator::Alloc();
  if (FAILED(hr)) return hr;
  if (m_pBuffer && !m_bChanged) return S_OK;
  ReallyFree();
  size_t each = size_t(m_lSize) + size_t(m_lPrefix);
  size_t align = std::max<size_t>(size_t(m_lAlignment), sizeof(void *));
  void *block = nullptr;
  if (posix_memalign(&block, align, each * size_t(m_lCount)) != 0) return E_OUTOFMEMORY;
  m_pBuffer = static_cast<BYTE *>(block);
  for (LONG i = 0; i < m_lCount; i++) {
    auto *s = new (std::nothrow) CMediaSample("CMemAllocator sample", this, nullptr,
                                              m_pBuffer + size_t(i) * each + m_lPrefix, m_lSize);
    if (!s) {
      ReallyFree();
      return E_OUTOFMEMORY;
    }
    m_lFree.Add(s);
    m_lAllocated++;
  }
  m_bChanged = false;
  return S_OK;
}

void CMemAllocator::Free()
{
  ReallyFree();
}

void CMemAllocator::ReallyFree()
{
  while (CMediaSample *s = m_lFree.RemoveHead()) delete s;
  m_lAllocated = 0;
  std::free(m_pBuffer);
  m_pBuffer = nullptr;
}
