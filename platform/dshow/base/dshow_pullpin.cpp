// The pull pin: a worker that reads the upstream reader block by block in
// its byte range and hands each block on.
#include <tarvo_dshow/base_stream.h>

#include <algorithm>

HRESULT PinOffersAsyncReader(IPin *pin)
{
  IAsyncReader *r = nullptr;
  if (!pin || FAILED(pin->QueryInterface(IID_IAsyncReader, reinterpret_cast<void **>(&r)))) return E_NOINTERFACE;
  r->Release();
  return S_OK;
}

CPullPin::~CPullPin()
{
  Disconnect();
}

HRESULT CPullPin::Connect(IUnknown *pUnk, IMemAllocator *alloc, BOOL sync)
{
  if (!pUnk) return E_POINTER;
  CAutoLock lock(m_AccessLock);
  if (m_pReader) return VFW_E_ALREADY_CONNECTED;
  HRESULT hr = pUnk->QueryInterface(IID_IAsyncReader, reinterpret_cast<void **>(&m_pReader));
  if (FAILED(hr)) {
    m_pReader = nullptr;
    return hr;
  }
  hr = DecideAllocator(alloc, nullptr);
  LONGLONG total = 0, available = 0;
  if (SUCCEEDED(hr)) hr = m_pReader->Length(&total, &available);
  if (FAILED(hr)) {
    Disconnect();
    return hr;
  }
  m_tDuration = total * UNITS;
  m_tStart = 0;
  m_tStop = m_tDuration;
  m_bSync = sync;
  return S_OK;
}

HRESULT CPullPin::Disconnect()
{
  CAutoLock lock(m_AccessLock);
  StopThread();
  if (m_pReader) {
    m_pReader->Release();
    m_pReader = nullptr;
  }
  if (m_pAlloc) {
    m_pAlloc->Release();
    m_pAlloc = nullptr;
  }
  return S_OK;
}

HRESULT CPullPin::DecideAllocator(IMemAllocator *alloc, ALLOCATOR_PROPERTIES *props)
{
  ALLOCATOR_PROPERTIES request{4, 4096, 0, 0};
  if (props) request = *props;
  if (m_pAlloc) {
    m_pAlloc->Release();
    m_pAlloc = nullptr;
  }
  return m_pReader->RequestAllocator(alloc, &request, &m_pAlloc);
}

HRESULT CPullPin::Duration(REFERENCE_TIME *duration)
{
  if (!duration) return E_POINTER;
  CAutoLock lock(m_AccessLock);
  *duration = m_tDuration;
  return S_OK;
}

HRESULT CPullPin::Active()
{
  return StartThread();
}

HRESULT CPullPin::Inactive()
{
  return StopThread();
}

HRESULT CPullPin::Seek(REFERENCE_TIME start, REFERENCE_TIME stop)
{
  CAutoLock lock(m_AccessLock);
  ThreadMsg was = m_State;
  if (was == TM_Start) {
    BeginFlush();
    PauseThread();
    EndFlush();
  }
  m_tStart = start;
  m_tStop = stop;
  return was == TM_Start ? StartThread() : S_OK;
}

HRESULT CPullPin::StartThread()
{
  CAutoLock lock(m_AccessLock);
  if (!m_pAlloc || !m_pReader) return E_UNEXPECTED;
  HRESULT hr = m_pAlloc->Commit();
  if (FAILED(hr)) return hr;
  if (!ThreadExists() && !Create()) return E_OUTOFMEMORY;
  m_State = TM_Start;
  return HRESULT(CallWorker(TM_Start));
}

HRESULT CPullPin::HaltWorker(ThreadMsg command)
{
  // A read in progress and a wait for a free buffer both end here.
  m_pReader->BeginFlush();
  m_pAlloc->Decommit();
  m_State = command;
  HRESULT hr = HRESULT(CallWorker(command));
  m_pReader->EndFlush();
  return hr;
}

HRESULT CPullPin::PauseThread()
{
  CAutoLock lock(m_AccessLock);
  if (!ThreadExists()) return E_UNEXPECTED;
  return HaltWorker(TM_Pause);
}

HRESULT CPullPin::StopThread()
{
  CAutoLock lock(m_AccessLock);
  if (!ThreadExists()) return S_FALSE;
  HaltWorker(TM_Exit);
  Close();
  return S_OK;
}

DWORD CPullPin::ThreadProc()
{
  for (;;) {
    DWORD request = GetRequest();
    Reply(S_OK);
    if (request == TM_Exit) return 0;
    if (request == TM_Start) Process();
  }
}

HRESULT CPullPin::ReadSample(IMediaSample *sample, IMediaSample **done)
{
  *done = sample;
  if (m_bSync) return m_pReader->SyncReadAligned(sample);
  HRESULT hr = m_pReader->Request(sample, 0);
  if (FAILED(hr)) return hr;
  // The reader owns the sample until WaitForNext gives it back; a flush
  // ends the wait.
  *done = nullptr;
  DWORD_PTR user = 0;
  return m_pReader->WaitForNext(INFINITE, done, &user);
}

void CPullPin::Process()
{
  if (m_tStop <= m_tStart) {
    EndOfStream();
    return;
  }
  ALLOCATOR_PROPERTIES props{};
  m_pAlloc->GetProperties(&props);
  REFERENCE_TIME align = REFERENCE_TIME(props.cbAlign > 0 ? props.cbAlign : 1) * UNITS;
  REFERENCE_TIME current = m_tStart / align * align;
  REFERENCE_TIME last = (m_tStop + align - 1) / align * align;
  for (;;) {
    if (CheckRequest(nullptr)) return;  // a command waits: pause or exit
    IMediaSample *sample = nullptr;
    HRESULT hr = m_pAlloc->GetBuffer(&sample, nullptr, nullptr, 0);
    if (FAILED(hr)) {
      // Not committed means we are being paused or stopped.
      if (hr != VFW_E_NOT_COMMITTED) {
        OnError(hr);
        EndOfStream();
      }
      return;
    }
    REFERENCE_TIME stopThis = std::min(current + REFERENCE_TIME(props.cbBuffer) * UNITS, last);
    sample->SetTime(&current, &stopThis);
    IMediaSample *done = nullptr;
    hr = ReadSample(sample, &done);
    if (SUCCEEDED(hr)) hr = Receive(done);
    if (done) done->Release();
    if (FAILED(hr)) {
      if (hr != VFW_E_WRONG_STATE) {
        OnError(hr);
        EndOfStream();
      }
      return;
    }
    if (hr == S_FALSE) {
      EndOfStream();
      return;
    }
    current = stopThis;
    if (current >= m_tStop) {
      EndOfStream();
      return;
    }
  }
}
