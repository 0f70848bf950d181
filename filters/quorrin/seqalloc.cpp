// The sequential allocator: address-ordered buffers and the pending region
// over them.
#include "seqalloc.h"

#include <algorithm>
#include <cstring>

CSequentialAllocator::CSequentialAllocator(LPUNKNOWN outer, HRESULT *phr)
  : CMemAllocator("CSequential Allocator", outer, phr)
{
}

CSequentialAllocator::~CSequentialAllocator()
{
  ConsumeAll();
}

HRESULT CSequentialAllocator::Alloc()
{
  HRESULT hr = CMemAllocator::Alloc();
  if (FAILED(hr)) return hr;
  if (m_lPrefix != 0) return VFW_E_BADALIGN;  // buffers must touch
  m_samples.assign(size_t(m_lCount), nullptr);
  m_held.assign(size_t(m_lCount), false);
  m_base = nullptr;
  for (CMediaSample *s = m_lFree.Head(); s; s = CSampleList::Next(s)) {
    BYTE *p;
    s->GetPointer(&p);
    if (!m_base || p < m_base) m_base = p;
  }
  for (CMediaSample *s = m_lFree.Head(); s; s = CSampleList::Next(s)) {
    BYTE *p;
    s->GetPointer(&p);
    m_samples[size_t((p - m_base) / m_lSize)] = s;
  }
  m_next = 0;
  m_read = m_base;
  m_pending = 0;
  return S_OK;
}

HRESULT CSequentialAllocator::GetBuffer(IMediaSample **out, REFERENCE_TIME *, REFERENCE_TIME *, DWORD flags)
{
  if (!out) return E_POINTER;
  *out = nullptr;
  CMediaSample *s;
  {
    std::unique_lock<std::mutex> l(m_lock);
    for (;;) {
      if (!m_bCommitted) return VFW_E_NOT_COMMITTED;
      s = m_samples[size_t(m_next)];
      if (m_lFree.Remove(s)) break;
      if (flags & AM_GBF_NOWAIT) return VFW_E_TIMEOUT;
      m_freeCond.wait(l);
    }
    m_next = (m_next + 1) % m_lCount;
    s->AddRef();
  }
  AddRef();  // given back in ReleaseBuffer
  *out = s;
  return S_OK;
}

LONG CSequentialAllocator::IndexOf(const BYTE *address) const
{
  return LONG((address - m_base) / m_lSize);
}

IMediaSample *CSequentialAllocator::SampleAt(const BYTE *address) const
{
  if (!m_base || address < m_base || address >= m_base + int64_t(m_lSize) * m_lCount) return nullptr;
  return m_samples[size_t(IndexOf(address))];
}

void CSequentialAllocator::ReleaseHeld(LONG from, LONG to)
{
  for (LONG i = from; i < to && i < LONG(m_held.size()); i++) {
    if (!m_held[size_t(i)]) continue;
    m_held[size_t(i)] = false;
    m_samples[size_t(i)]->Release();
  }
}

HRESULT CSequentialAllocator::AddReceived(IMediaSample *sample)
{
  BYTE *p = nullptr;
  sample->GetPointer(&p);
  LONG len = sample->GetActualDataLength();
  if (len <= 0) return S_OK;
  if (SampleAt(p) != sample) return E_INVALIDARG;
  LONG i = IndexOf(p);
  if (m_held[size_t(i)]) return E_UNEXPECTED;
  // After a flush the reader may start on a later buffer than the one the
  // read pointer waits at: the region begins with the first data.
  if (m_pending == 0) m_read = p;
  sample->AddRef();
  m_held[size_t(i)] = true;
  m_pending += len;
  return S_OK;
}

void CSequentialAllocator::PendingRegion(BYTE **data, LONG *length) const
{
  *data = m_read;
  *length = m_pending;
}

HRESULT CSequentialAllocator::Consume(LONG n)
{
  if (!m_base) return S_OK;
  n = std::clamp<LONG>(n, 0, m_pending);
  BYTE *old = m_read;
  m_read += n;
  m_pending -= n;
  if (m_pending == 0) {
    LONG off = LONG(m_read - m_base);
    m_read = m_base + (off + m_lSize - 1) / m_lSize * m_lSize;
  }
  ReleaseHeld(IndexOf(old), IndexOf(m_read));
  return MoveTail();
}

HRESULT CSequentialAllocator::MoveTail()
{
  if (!m_base) return S_OK;
  BYTE *blockEnd = m_base + int64_t(m_lSize) * m_lCount;
  if (m_read + m_pending != blockEnd) return S_OK;
  if (m_pending == 0) {
    m_read = m_base;
    return S_OK;
  }
  LONG take = (m_pending + m_lSize - 1) / m_lSize;
  // The copy takes the first buffers, which must be the next ones handed
  // out and must not hold the tail themselves.
  if (m_next != 0 || m_base + int64_t(take) * m_lSize > m_read) return E_FAIL;
  std::vector<IMediaSample *> got;
  for (LONG i = 0; i < take; i++) {
    IMediaSample *s = nullptr;
    HRESULT hr = GetBuffer(&s, nullptr, nullptr, 0);
    if (FAILED(hr)) {
      for (IMediaSample *g : got) g->Release();
      return hr;
    }
    got.push_back(s);
  }
  BYTE *to = m_base + int64_t(take) * m_lSize - m_pending;
  std::memcpy(to, m_read, size_t(m_pending));
  LONG from = IndexOf(m_read);
  ReleaseHeld(from, m_lCount);
  for (size_t i = 0; i < got.size(); i++) m_held[i] = true;  // GetBuffer's reference is ours
  m_read = to;
  return S_OK;
}

void CSequentialAllocator::ConsumeAll()
{
  if (m_base) Consume(m_pending);
}
