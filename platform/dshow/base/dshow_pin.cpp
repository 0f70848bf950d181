// Pins: connection with type agreement, allocator negotiation, the input
// pin's streaming checks and the rendered pin's end of stream.
#include <tarvo_dshow/base_filter.h>

#include <new>

size_t WideLength(LPCWSTR s)
{
  size_t n = 0;
  while (s && s[n]) n++;
  return n;
}

bool WideEqual(LPCWSTR a, LPCWSTR b)
{
  size_t n = WideLength(a);
  return n == WideLength(b) && (n == 0 || std::memcmp(a, b, n * sizeof(WCHAR)) == 0);
}

void CopyWideString(WCHAR *dst, LPCWSTR src, size_t size)
{
  size_t n = std::min(WideLength(src), size - 1);
  if (n) std::memcpy(dst, src, n * sizeof(WCHAR));
  dst[n] = 0;
}

WCHAR *TaskMemString(LPCWSTR s)
{
  size_t n = WideLength(s) + 1;
  auto *d = static_cast<WCHAR *>(CoTaskMemAlloc(n * sizeof(WCHAR)));
  if (d) CopyWideString(d, s, n);
  return d;
}

static WCHAR *new_wide(LPCWSTR s)
{
  size_t n = WideLength(s) + 1;
  auto *d = new (std::nothrow) WCHAR[n];
  if (d) CopyWideString(d, s, n);
  return d;
}

CBasePin::CBasePin(const char *objectName, CBaseFilter *filter, CCritSec *lock, HRESULT *phr, LPCWSTR pinName,
                   PIN_DIRECTION dir)
  : CUnknown(objectName, nullptr), m_pName(new_wide(pinName)), m_dir(dir), m_pLock(lock), m_pFilter(filter)
{
  if (!m_pName && phr) *phr = E_OUTOFMEMORY;
}

CBasePin::~CBasePin()
{
  delete[] m_pName;
}

HRESULT CBasePin::NonDelegatingQueryInterface(REFIID riid, void **ppv)
{
  if (!ppv) return E_POINTER;
  if (riid == IID_IPin) return GetInterface(static_cast<IPin *>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

ULONG CBasePin::NonDelegatingAddRef()
{
  return m_pFilter->AddRef();
}

ULONG CBasePin::NonDelegatingRelease()
{
  return m_pFilter->Release();
}

HRESULT CBasePin::Connect(IPin *receivePin, const AM_MEDIA_TYPE *pmt)
{
  if (!receivePin) return E_POINTER;
  CAutoLock lock(*m_pLock);
  if (m_Connected) return VFW_E_ALREADY_CONNECTED;
  if (!IsStopped() && !m_bCanReconnectWhenActive) return VFW_E_NOT_STOPPED;
  CMediaType wanted;
  if (pmt && FAILED(wanted.Set(*pmt))) return E_OUTOFMEMORY;
  return AgreeMediaType(receivePin, &wanted);
}

HRESULT CBasePin::AgreeMediaType(IPin *receivePin, const CMediaType *pmt)
{
  if (pmt->IsValid() && !pmt->IsPartiallySpecified()) return AttemptConnection(receivePin, pmt);
  HRESULT hrFailure = VFW_E_NO_ACCEPTABLE_TYPES;
  for (int i = 0; i < 2; i++) {
    IEnumMediaTypes *types = nullptr;
    bool mine = (i == 0) == m_bTryMyTypesFirst;
    HRESULT hr = mine ? EnumMediaTypes(&types) : receivePin->EnumMediaTypes(&types);
    if (FAILED(hr) || !types) continue;
    hr = TryMediaTypes(receivePin, pmt, types);
    types->Release();
    if (SUCCEEDED(hr)) return S_OK;
    // Keep the most telling reason: a refusal beats "no types at all".
    if (hr != E_FAIL && hr != E_INVALIDARG && hr != VFW_E_TYPE_NOT_ACCEPTED) hrFailure = hr;
  }
  return hrFailure;
}

HRESULT CBasePin::TryMediaTypes(IPin *receivePin, const CMediaType *partial, IEnumMediaTypes *types)
{
  types->Reset();
  HRESULT hrFailure = S_OK;
  for (;;) {
    AM_MEDIA_TYPE *got = nullptr;
    ULONG fetched = 0;
    if (types->Next(1, &got, &fetched) != S_OK || fetched != 1 || !got) break;
    HRESULT hr;
    CMediaType mt(*got, &hr);
    DeleteMediaType(got);
    if (!mt.IsValid()) continue;
    if (partial->IsValid() && !mt.MatchesPartial(partial)) continue;
    hr = AttemptConnection(receivePin, &mt);
    if (SUCCEEDED(hr)) return hr;
    if (hrFailure == S_OK || hr == VFW_E_NO_ACCEPTABLE_TYPES) hrFailure = hr;
  }
  return hrFailure == S_OK ? VFW_E_NO_ACCEPTABLE_TYPES : hrFailure;
}

HRESULT CBasePin::AttemptConnection(IPin *receivePin, const CMediaType *pmt)
{
  HRESULT hr = CheckConnect(receivePin);
  if (FAILED(hr)) {
    BreakConnect();
    return hr;
  }
  hr = CheckMediaType(pmt);
  if (hr == S_OK) {
    m_Connected = receivePin;
    m_Connected->AddRef();
    hr = SetMediaType(pmt);
    if (SUCCEEDED(hr)) {
      hr = receivePin->ReceiveConnection(static_cast<IPin *>(this), pmt);
      if (SUCCEEDED(hr)) {
        hr = CompleteConnect(receivePin);
        if (SUCCEEDED(hr)) return hr;
        receivePin->Disconnect();
      }
    }
  } else if (SUCCEEDED(hr)) {
    hr = VFW_E_TYPE_NOT_ACCEPTED;
  }
  if (m_Connected) {
    m_Connected->Release();
    m_Connected = nullptr;
  }
  BreakConnect();
  return hr;
}

HRESULT CBasePin::ReceiveConnection(IPin *connector, const AM_MEDIA_TYPE *pmt)
{
  if (!connector || !pmt) return E_POINTER;
  CAutoLock lock(*m_pLock);
  if (m_Connected) return VFW_E_ALREADY_CONNECTED;
  if (!IsStopped() && !m_bCanReconnectWhenActive) return VFW_E_NOT_STOPPED;
  HRESULT hr = CheckConnect(connector);
  if (FAILED(hr)) {
    BreakConnect();
    return hr;
  }
  CMediaType mt;
  if (FAILED(mt.Set(*pmt))) {
    BreakConnect();
    return E_OUTOFMEMORY;
  }
  hr = CheckMediaType(&mt);
  if (hr != S_OK) {
    BreakConnect();
    return SUCCEEDED(hr) ? VFW_E_TYPE_NOT_ACCEPTED : hr;
  }
  m_Connected = connector;
  m_Connected->AddRef();
  hr = SetMediaType(&mt);
  if (SUCCEEDED(hr)) hr = CompleteConnect(connector);
  if (SUCCEEDED(hr)) return S_OK;
  m_Connected->Release();
  m_Connected = nullptr;
  BreakConnect();
  return hr;
}

HRESULT CBasePin::Disconnect()
{
  CAutoLock lock(*m_pLock);
  if (!IsStopped()) return VFW_E_NOT_STOPPED;
  return DisconnectInternal();
}

HRESULT CBasePin::DisconnectInternal()
{
  if (!m_Connected) return S_FALSE;
  HRESULT hr = BreakConnect();
  if (FAILED(hr)) return hr;
  m_Connected->Release();
  m_Connected = nullptr;
  return S_OK;
}

HRESULT CBasePin::ConnectedTo(IPin **pin)
{
  if (!pin) return E_POINTER;
  CAutoLock lock(*m_pLock);
  *pin = m_Connected;
  if (!m_Connected) return VFW_E_NOT_CONNECTED;
  m_Connected->AddRef();
  return S_OK;
}

HRESULT CBasePin::ConnectionMediaType(AM_MEDIA_TYPE *pmt)
{
  if (!pmt) return E_POINTER;
  CAutoLock lock(*m_pLock);
  if (!m_Connected) {
    std::memset(pmt, 0, sizeof *pmt);
    return VFW_E_NOT_CONNECTED;
  }
  return CopyMediaType(pmt, &m_mt);
}

HRESULT CBasePin::QueryPinInfo(PIN_INFO *info)
{
  if (!info) return E_POINTER;
  info->pFilter = m_pFilter;
  m_pFilter->AddRef();
  info->dir = m_dir;
  CopyWideString(info->achName, m_pName, MAX_PIN_NAME);
  return S_OK;
}

HRESULT CBasePin::QueryDirection(PIN_DIRECTION *dir)
{
  if (!dir) return E_POINTER;
  *dir = m_dir;
  return S_OK;
}

HRESULT CBasePin::QueryId(LPWSTR *id)
{
  if (!id) return E_POINTER;
  *id = TaskMemString(m_pName);
  return *id ? S_OK : E_OUTOFMEMORY;
}

HRESULT CBasePin::QueryAccept(const AM_MEDIA_TYPE *pmt)
{
  if (!pmt) return E_POINTER;
  CMediaType mt;
  if (FAILED(mt.Set(*pmt))) return E_OUTOFMEMORY;
  return CheckMediaType(&mt) == S_OK ? S_OK : S_FALSE;
}

HRESULT CBasePin::EnumMediaTypes(IEnumMediaTypes **types)
{
  if (!types) return E_POINTER;
  auto *e = new (std::nothrow) CEnumMediaTypes(this, nullptr);
  *types = nullptr;
  return e ? GetInterface(e, reinterpret_cast<void **>(types)) : E_OUTOFMEMORY;
}

HRESULT CBasePin::QueryInternalConnections(IPin **, ULONG *)
{
  return E_NOTIMPL;
}

HRESULT CBasePin::EndOfStream()
{
  return S_OK;
}

HRESULT CBasePin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
  m_tStart = start;
  m_tStop = stop;
  m_dRate = rate;
  return S_OK;
}

HRESULT CBasePin::SetMediaType(const CMediaType *pmt)
{
  return m_mt.Set(*pmt);
}

HRESULT CBasePin::CheckConnect(IPin *pin)
{
  PIN_DIRECTION dir;
  HRESULT hr = pin->QueryDirection(&dir);
  if (FAILED(hr)) return hr;
  return dir == m_dir ? VFW_E_INVALID_DIRECTION : S_OK;
}

HRESULT CBasePin::BreakConnect()
{
  return S_OK;
}

HRESULT CBasePin::CompleteConnect(IPin *)
{
  return S_OK;
}

HRESULT CBasePin::GetMediaType(int, CMediaType *)
{
  return E_UNEXPECTED;
}

// Output pin.

CBaseOutputPin::CBaseOutputPin(const char *objectName, CBaseFilter *filter, CCritSec *lock, HRESULT *phr,
                               LPCWSTR pinName)
  : CBasePin(objectName, filter, lock, phr, pinName, PINDIR_OUTPUT)
{
}

CBaseOutputPin::~CBaseOutputPin()
{
  CBaseOutputPin::BreakConnect();
}

HRESULT CBaseOutputPin::CheckConnect(IPin *pin)
{
  HRESULT hr = CBasePin::CheckConnect(pin);
  if (FAILED(hr)) return hr;
  hr = pin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void **>(&m_pInputPin));
  return FAILED(hr) ? E_NOINTERFACE : S_OK;
}

HRESULT CBaseOutputPin::CompleteConnect(IPin *)
{
  return DecideAllocator(m_pInputPin, &m_pAllocator);
}

HRESULT CBaseOutputPin::BreakConnect()
{
  if (m_pAllocator) {
    m_pAllocator->Decommit();
    m_pAllocator->Release();
    m_pAllocator = nullptr;
  }
  if (m_pInputPin) {
    m_pInputPin->Release();
    m_pInputPin = nullptr;
  }
  return S_OK;
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin *pin, IMemAllocator **alloc)
{
  *alloc = nullptr;
  ALLOCATOR_PROPERTIES props{};
  pin->GetAllocatorRequirements(&props);  // a pin without wishes leaves them 0
  if (props.cbAlign == 0) props.cbAlign = 1;
  HRESULT hr = pin->GetAllocator(alloc);
  if (SUCCEEDED(hr)) {
    hr = DecideBufferSize(*alloc, &props);
    if (SUCCEEDED(hr)) {
      hr = pin->NotifyAllocator(*alloc, FALSE);
      if (SUCCEEDED(hr)) return S_OK;
    }
  }
  if (*alloc) {
    (*alloc)->Release();
    *alloc = nullptr;
  }
  hr = InitAllocator(alloc);
  if (SUCCEEDED(hr)) {
    hr = DecideBufferSize(*alloc, &props);
    if (SUCCEEDED(hr)) {
      hr = pin->NotifyAllocator(*alloc, FALSE);
      if (SUCCEEDED(hr)) return S_OK;
    }
  }
  if (*alloc) {
    (*alloc)->Release();
    *alloc = nullptr;
  }
  return hr;
}

HRESULT CBaseOutputPin::InitAllocator(IMemAllocator **alloc)
{
  return CreateMemAllocator(alloc);
}

HRESULT CBaseOutputPin::Active()
{
  if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
  return m_pAllocator->Commit();
}

HRESULT CBaseOutputPin::Inactive()
{
  m_bRunTimeError = false;
  if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
  return m_pAllocator->Decommit();
}

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample **sample, REFERENCE_TIME *start, REFERENCE_TIME *stop,
                                          DWORD flags)
{
  if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
  return m_pAllocator->GetBuffer(sample, start, stop, flags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample *sample)
{
  if (!m_pInputPin) return VFW_E_NOT_CONNECTED;
  return m_pInputPin->Receive(sample);
}

HRESULT CBaseOutputPin::DeliverEndOfStream()
{
  if (!m_Connected) return VFW_E_NOT_CONNECTED;
  return m_Connected->EndOfStream();
}

HRESULT CBaseOutputPin::DeliverBeginFlush()
{
  if (!m_Connected) return VFW_E_NOT_CONNECTED;
  return m_Connected->BeginFlush();
}

HRESULT CBaseOutputPin::DeliverEndFlush()
{
  if (!m_Connected) return VFW_E_NOT_CONNECTED;
  return m_Connected->EndFlush();
}

HRESULT CBaseOutputPin::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
  if (!m_Connected) return VFW_E_NOT_CONNECTED;
  return m_Connected->NewSegment(start, stop, rate);
}

// Input pin.

CBaseInputPin::CBaseInputPin(const char *objectName, CBaseFilter *filter, CCritSec *lock, HRESULT *phr,
                             LPCWSTR pinName)
  : CBasePin(objectName, filter, lock, phr, pinName, PINDIR_INPUT)
{
}

CBaseInputPin::~CBaseInputPin()
{
  if (m_pAllocator) m_pAllocator->Release();
}

HRESULT CBaseInputPin::NonDelegatingQueryInterface(REFIID riid, void **ppv)
{
  if (riid == IID_IMemInputPin) return GetInterface(static_cast<IMemInputPin *>(this), ppv);
  return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseInputPin::GetAllocator(IMemAllocator **allocator)
{
  if (!allocator) return E_POINTER;
  CAutoLock lock(*m_pLock);
  if (!m_pAllocator) {
    HRESULT hr = CreateMemAllocator(&m_pAllocator);
    if (FAILED(hr)) return hr;
  }
  *allocator = m_pAllocator;
  m_pAllocator->AddRef();
  return S_OK;
}

HRESULT CBaseInputPin::NotifyAllocator(IMemAllocator *allocator, BOOL readOnly)
{
  if (!allocator) return E_POINTER;
  CAutoLock lock(*m_pLock);
  allocator->AddRef();
  if (m_pAllocator) m_pAllocator->Release();
  m_pAllocator = allocator;
  m_bReadOnly = readOnly != FALSE;
  return S_OK;
}

HRESULT CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES *)
{
  return E_NOTIMPL;
}

HRESULT CBaseInputPin::CheckStreaming()
{
  if (IsStopped()) return VFW_E_WRONG_STATE;
  if (m_bFlushing) return S_FALSE;
  if (m_bRunTimeError) return VFW_E_RUNTIME_ERROR;
  return S_OK;
}

HRESULT CBaseInputPin::Receive(IMediaSample *sample)
{
  if (!sample) return E_POINTER;
  HRESULT hr = CheckStreaming();
  if (hr != S_OK) return hr;
  AM_MEDIA_TYPE *changed = nullptr;
  if (sample->GetMediaType(&changed) == S_OK && changed) {
    CMediaType mt(*changed);
    DeleteMediaType(changed);
    if (CheckMediaType(&mt) != S_OK) {
      // A type we cannot take ends the stream here.
      m_bRunTimeError = true;
      EndOfStream();
      m_pFilter->NotifyEvent(EC_ERRORABORT, VFW_E_TYPE_NOT_ACCEPTED, 0);
      return VFW_E_INVALIDMEDIATYPE;
    }
    m_mt = mt;
  }
  return S_OK;
}

HRESULT CBaseInputPin::ReceiveMultiple(IMediaSample **samples, LONG count, LONG *processed)
{
  if (!samples || !processed) return E_POINTER;
  HRESULT hr = S_OK;
  *processed = 0;
  while (count-- > 0) {
    hr = Receive(samples[*processed]);
    if (hr != S_OK) break;
    (*processed)++;
  }
  return hr;
}

HRESULT CBaseInputPin::ReceiveCanBlock()
{
  // We can block when a downstream pin we feed can.
  int outputs = 0;
  for (int i = 0, n = m_pFilter->GetPinCount(); i < n; i++) {
    CBasePin *pin = m_pFilter->GetPin(i);
    PIN_DIRECTION dir;
    if (!pin || FAILED(pin->QueryDirection(&dir)) || dir != PINDIR_OUTPUT) continue;
    IPin *peer = pin->GetConnected();
    if (!peer) continue;
    outputs++;
    IMemInputPin *mem = nullptr;
    if (SUCCEEDED(peer->QueryInterface(IID_IMemInputPin, reinterpret_cast<void **>(&mem)))) {
      HRESULT hr = mem->ReceiveCanBlock();
      mem->Release();
      if (hr != S_FALSE) return S_OK;
    } else {
      return S_OK;
    }
  }
  return outputs == 0 ? S_OK : S_FALSE;
}

HRESULT CBaseInputPin::BeginFlush()
{
  CAutoLock lock(*m_pLock);
  m_bFlushing = true;
  return S_OK;
}

HRESULT CBaseInputPin::EndFlush()
{
  CAutoLock lock(*m_pLock);
  m_bFlushing = false;
  m_bRunTimeError = false;
  return S_OK;
}

HRESULT CBaseInputPin::BreakConnect()
{
  if (m_pAllocator) {
    m_pAllocator->Decommit();
    m_pAllocator->Release();
    m_pAllocator = nullptr;
  }
  return S_OK;
}

HRESULT CBaseInputPin::Inactive()
{
  m_bRunTimeError = false;
  m_bFlushing = false;
  if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
  // Wakes an upstream thread that waits for one of our buffers.
  return m_pAllocator->Decommit();
}

// Rendered input pin.

CRenderedInputPin::CRenderedInputPin(const char *objectName, CBaseFilter *filter, CCritSec *lock, HRESULT *phr,
                                     LPCWSTR pinName)
  : CBaseInputPin(objectName, filter, lock, phr, pinName)
{
}

HRESULT CRenderedInputPin::EndOfStream()
{
  HRESULT hr = CheckStreaming();
  if (hr != S_OK) return hr;
  m_bAtEndOfStream = true;
  if (m_pFilter->State() == State_Running) DoCompleteHandling();
  return S_OK;
}

HRESULT CRenderedInputPin::EndFlush()
{
  CAutoLock lock(*m_pLock);
  m_bAtEndOfStream = false;
  m_bCompleteNotified = false;
  return CBaseInputPin::EndFlush();
}

HRESULT CRenderedInputPin::Active()
{
  m_bAtEndOfStream = false;
  m_bCompleteNotified = false;
  return CBaseInputPin::Active();
}

HRESULT CRenderedInputPin::Run(REFERENCE_TIME)
{
  if (m_bAtEndOfStream) DoCompleteHandling();
  return S_OK;
}

void CRenderedInputPin::DoCompleteHandling()
{
  if (m_bCompleteNotified.exchange(true)) return;
  m_pFilter->NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter *>(m_pFilter)));
}

// Enumerators.

CEnumPins::CEnumPins(CBaseFilter *filter, const CEnumPins *from)
  : CCountedObject("CEnumPins"), m_pFilter(filter), m_Position(from ? from->m_Position : 0),
    m_Version(from ? from->m_Version : filter->GetPinVersion())
{
  m_pFilter->AddRef();
}

CEnumPins::~CEnumPins()
{
  m_pFilter->Release();
}

HRESULT CEnumPins::Next(ULONG count, IPin **pins, ULONG *fetched)
{
  if (!pins || (count > 1 && !fetched)) return E_POINTER;
  if (m_Version != m_pFilter->GetPinVersion()) return VFW_E_ENUM_OUT_OF_SYNC;
  ULONG got = 0;
  int total = m_pFilter->GetPinCount();
  while (got < count && m_Position < total) {
    CBasePin *pin = m_pFilter->GetPin(m_Position++);
    if (!pin) continue;
    pins[got] = pin;
    pin->AddRef();
    got++;
  }
  if (fetched) *fetched = got;
  return got == count ? S_OK : S_FALSE;
}

HRESULT CEnumPins::Skip(ULONG count)
{
  if (m_Version != m_pFilter->GetPinVersion()) return VFW_E_ENUM_OUT_OF_SYNC;
  int left = m_pFilter->GetPinCount() - m_Position;
  if (int64_t(count) > left) return S_FALSE;
  m_Position += int(count);
  return S_OK;
}

HRESULT CEnumPins::Reset()
{
  m_Version = m_pFilter->GetPinVersion();
  m_Position = 0;
  return S_OK;
}

HRESULT CEnumPins::Clone(IEnumPins **out)
{
  if (!out) return E_POINTER;
  auto *e = new (std::nothrow) CEnumPins(m_pFilter, this);
  *out = nullptr;
  return e ? GetInterface(e, reinterpret_cast<void **>(out)) : E_OUTOFMEMORY;
}

CEnumMediaTypes::CEnumMediaTypes(CBasePin *pin, const CEnumMediaTypes *from)
  : CCountedObject("CEnumMediaTypes"), m_pPin(pin), m_Position(from ? from->m_Position : 0),
    m_Version(from ? from->m_Version : pin->GetMediaTypeVersion())
{
  m_pPin->AddRef();
}

CEnumMediaTypes::~CEnumMediaTypes()
{
  m_pPin->Release();
}

HRESULT CEnumMediaTypes::Next(ULONG count, AM_MEDIA_TYPE **types, ULONG *fetched)
{
  if (!types || (count > 1 && !fetched)) return E_POINTER;
  if (m_Version != m_pPin->GetMediaTypeVersion()) return VFW_E_ENUM_OUT_OF_SYNC;
  ULONG got = 0;
  while (got < count) {
    CMediaType mt;
    if (m_pPin->GetMediaType(m_Position, &mt) != S_OK) break;
    m_Position++;
    types[got] = CreateMediaType(&mt);
    if (!types[got]) break;
    got++;
  }
  if (fetched) *fetched = got;
  return got == count ? S_OK : S_FALSE;
}

HRESULT CEnumMediaTypes::Skip(ULONG count)
{
  if (m_Version != m_pPin->GetMediaTypeVersion()) return VFW_E_ENUM_OUT_OF_SYNC;
  while (count > 0) {
    CMediaType mt;
    if (m_pPin->GetMediaType(m_Position, &mt) != S_OK) return S_FALSE;
    m_Position++;
    count--;
  }
  return S_OK;
}

HRESULT CEnumMediaTypes::Reset()
{
  m_Version = m_pPin->GetMediaTypeVersion();
  m_Position = 0;
  return S_OK;
}

HRESULT CEnumMediaTypes::Clone(IEnumMediaTypes **out)
{
  if (!out) return E_POINTER;
  auto *e = new (std::nothrow) CEnumMediaTypes(m_pPin, this);
  *out = nullptr;
  return e ? GetInterface(e, reinterpret_cast<void **>(out)) : E_OUTOFMEMORY;
}
