// File Source (Async.): a file opened by Load, offered on one output pin as
// an asynchronous reader.  Requests are served in order on the caller of
// WaitForNext; a flush ends every wait.
#include "sys_filters.h"
#include "sys_source_file.h"

#include <tarvo_dshow/base_filter.h>
#include <tarvo_dshow/dshow_sys.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <string>

namespace {

class FileSource;

class ReaderPin final : public CBasePin, public IAsyncReader {
 public:
  ReaderPin(FileSource *f, CCritSec *lock, HRESULT *phr);
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override
  {
    if (!ppv) return E_POINTER;
    if (riid == IID_IAsyncReader) return GetInterface(static_cast<IAsyncReader *>(this), ppv);
    return CBasePin::NonDelegatingQueryInterface(riid, ppv);
  }

  HRESULT CheckMediaType(const CMediaType *pmt) override;
  HRESULT GetMediaType(int position, CMediaType *pmt) override;

  HRESULT RequestAllocator(IMemAllocator *preferred, ALLOCATOR_PROPERTIES *props, IMemAllocator **actual) override;
  HRESULT Request(IMediaSample *sample, DWORD_PTR user) override;
  HRESULT WaitForNext(DWORD timeout, IMediaSample **sample, DWORD_PTR *user) override;
  HRESULT SyncReadAligned(IMediaSample *sample) override;
  HRESULT SyncRead(LONGLONG position, LONG length, BYTE *buffer) override;
  HRESULT Length(LONGLONG *total, LONGLONG *available) override;
  // IPin's and IAsyncReader's flush calls are one pair: an output pin is
  // never flushed as a pin, so they are the reader's.
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;

 private:
  FileSource *m_source;
  std::mutex m_queueLock;
  std::condition_variable m_queueCond;
  std::deque<std::pair<IMediaSample *, DWORD_PTR>> m_queue;
  bool m_flushing = false;
};

class FileSource final : public CBaseFilter, public IFileSourceFilter {
 public:
  FileSource(LPUNKNOWN outer, HRESULT *phr)
    : CBaseFilter("File source", outer, &m_lock, CLSID_AsyncReader), m_pin(this, &m_lock, phr)
  {
  }
  ~FileSource() override { sys_source_close(&m_src); }
  DECLARE_IUNKNOWN

  HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override
  {
    if (!ppv) return E_POINTER;
    if (riid == IID_IFileSourceFilter) return GetInterface(static_cast<IFileSourceFilter *>(this), ppv);
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
  }
  int GetPinCount() override { return m_src.file >= 0 ? 1 : 0; }
  CBasePin *GetPin(int n) override { return n == 0 && m_src.file >= 0 ? &m_pin : nullptr; }

  HRESULT Load(LPCOLESTR fileName, const AM_MEDIA_TYPE *pmt) override;
  HRESULT GetCurFile(LPOLESTR *fileName, AM_MEDIA_TYPE *pmt) override;

  // Reads at most size bytes at offset; the count, or -1.
  long ReadAt(uint64_t offset, void *buf, size_t size);

  CCritSec m_lock;
  ReaderPin m_pin;
  std::mutex m_fileLock;  // the file position
  SysSourceFile m_src;
  GUID m_subtype = GUID_NULL;
};

// The stream's subtype: by the name's extension, else by its first bytes.
GUID sniff_subtype(const std::u16string &name, const BYTE *head, long n)
{
  size_t dot = name.rfind(u'.');
  std::string ext;
  if (dot != std::u16string::npos)
    for (char16_t c : name.substr(dot + 1)) ext += c < 128 ? char(c | 0x20) : '?';
  if (ext == "wav") return MEDIASUBTYPE_WAVE;
  if (ext == "mp3" || ext == "mp2" || ext == "mpa") return MEDIASUBTYPE_MPEG1Audio;
  if (n >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0) return MEDIASUBTYPE_WAVE;
  if (n >= 3 && std::memcmp(head, "ID3", 3) == 0) return MEDIASUBTYPE_MPEG1Audio;
  if (n >= 2 && head[0] == 0xFF && (head[1] & 0xE0) == 0xE0) return MEDIASUBTYPE_MPEG1Audio;
  return GUID_NULL;
}

HRESULT FileSource::Load(LPCOLESTR fileName, const AM_MEDIA_TYPE *pmt)
{
  CAutoLock l(m_lock);
  HRESULT hr = sys_source_open(&m_src, fileName);
  if (FAILED(hr)) return hr;
  BYTE head[12];
  long n = ReadAt(0, head, sizeof head);
  m_subtype = pmt && pmt->subtype != GUID_NULL ? pmt->subtype : sniff_subtype(m_src.name, head, n);
  IncrementPinVersion();
  return S_OK;
}

HRESULT FileSource::GetCurFile(LPOLESTR *fileName, AM_MEDIA_TYPE *pmt)
{
  CAutoLock l(m_lock);
  HRESULT hr = sys_source_cur_file(m_src, fileName);
  if (FAILED(hr) || !pmt) return hr;
  CMediaType mt;
  m_pin.GetMediaType(0, &mt);
  return CopyMediaType(pmt, &mt);
}

long FileSource::ReadAt(uint64_t offset, void *buf, size_t size)
{
  std::lock_guard<std::mutex> l(m_fileLock);
  if (m_src.file < 0 || offset > uint64_t(INT64_MAX) || !sys_file_seek_set(m_src.file, int64_t(offset), nullptr)) return -1;
  size_t done = 0;
  while (done < size) {
    uint32_t got = 0;
    uint32_t want = uint32_t(std::min<size_t>(size - done, 1u << 30));
    if (!sys_file_read(m_src.file, static_cast<BYTE *>(buf) + done, want, &got)) return -1;
    if (got == 0) break;
    done += got;
  }
  return long(done);
}

ReaderPin::ReaderPin(FileSource *f, CCritSec *lock, HRESULT *phr)
  : CBasePin("File source output", f, lock, phr, u"Output", PINDIR_OUTPUT), m_source(f)
{
}

HRESULT ReaderPin::CheckMediaType(const CMediaType *pmt)
{
  return pmt->majortype == MEDIATYPE_Stream && pmt->subtype == m_source->m_subtype ? S_OK : S_FALSE;
}

HRESULT ReaderPin::GetMediaType(int position, CMediaType *pmt)
{
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  pmt->InitMediaType();
  pmt->SetType(&MEDIATYPE_Stream);
  pmt->SetSubtype(&m_source->m_subtype);
  pmt->SetFormatType(&FORMAT_None);
  return S_OK;
}

HRESULT ReaderPin::RequestAllocator(IMemAllocator *preferred, ALLOCATOR_PROPERTIES *props, IMemAllocator **actual)
{
  if (!props || !actual) return E_POINTER;
  IMemAllocator *a = preferred;
  HRESULT hr = S_OK;
  if (a)
    a->AddRef();
  else
    hr = CreateMemAllocator(&a);
  if (FAILED(hr)) return hr;
  ALLOCATOR_PROPERTIES got;
  hr = a->SetProperties(props, &got);
  if (FAILED(hr)) {
    a->Release();
    return hr;
  }
  *actual = a;
  return S_OK;
}

HRESULT ReaderPin::Request(IMediaSample *sample, DWORD_PTR user)
{
  if (!sample) return E_POINTER;
  std::lock_guard<std::mutex> l(m_queueLock);
  if (m_flushing) return VFW_E_WRONG_STATE;
  try {
    m_queue.emplace_back(sample, user);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  sample->AddRef();
  m_queueCond.notify_all();
  return S_OK;
}

HRESULT ReaderPin::WaitForNext(DWORD timeout, IMediaSample **sample, DWORD_PTR *user)
{
  if (!sample || !user) return E_POINTER;
  *sample = nullptr;
  *user = 0;
  std::unique_lock<std::mutex> l(m_queueLock);
  auto ready = [&] { return m_flushing || !m_queue.empty(); };
  if (timeout == INFINITE)
    m_queueCond.wait(l, ready);
  else if (!m_queueCond.wait_for(l, std::chrono::milliseconds(timeout), ready))
    return VFW_E_TIMEOUT;
  if (m_queue.empty()) return VFW_E_WRONG_STATE;
  *sample = m_queue.front().first;  // the queue's reference goes to the caller
  *user = m_queue.front().second;
  m_queue.pop_front();
  if (m_flushing) return VFW_E_WRONG_STATE;
  l.unlock();
  return SyncReadAligned(*sample);
}

HRESULT ReaderPin::SyncReadAligned(IMediaSample *sample)
{
  if (!sample) return E_POINTER;
  REFERENCE_TIME start, stop;
  if (FAILED(sample->GetTime(&start, &stop))) return VFW_E_SAMPLE_TIME_NOT_SET;
  LONGLONG from = start / UNITS, to = stop / UNITS;
  if (from < 0 || to < from) return E_INVALIDARG;
  if (to - from > sample->GetSize()) return VFW_E_BUFFER_OVERFLOW;
  BYTE *p = nullptr;
  sample->GetPointer(&p);
  long got = m_source->ReadAt(uint64_t(from), p, size_t(to - from));
  if (got < 0) return STG_E_READFAULT;
  sample->SetActualDataLength(LONG(got));
  return got < to - from ? S_FALSE : S_OK;
}

HRESULT ReaderPin::SyncRead(LONGLONG position, LONG length, BYTE *buffer)
{
  if (!buffer) return E_POINTER;
  if (position < 0 || length < 0) return E_INVALIDARG;
  long got = m_source->ReadAt(uint64_t(position), buffer, size_t(length));
  if (got < 0) return STG_E_READFAULT;
  return got < length ? S_FALSE : S_OK;
}

HRESULT ReaderPin::Length(LONGLONG *total, LONGLONG *available)
{
  if (!total || !available) return E_POINTER;
  *total = *available = LONGLONG(m_source->m_src.size);
  return S_OK;
}

HRESULT ReaderPin::BeginFlush()
{
  std::lock_guard<std::mutex> l(m_queueLock);
  m_flushing = true;
  m_queueCond.notify_all();
  return S_OK;
}

HRESULT ReaderPin::EndFlush()
{
  std::lock_guard<std::mutex> l(m_queueLock);
  m_flushing = false;
  return S_OK;
}

}  // namespace

CUnknown *sys_new_file_source(LPUNKNOWN outer, HRESULT *phr)
{
  return sys_create<FileSource>(outer, phr);
}
