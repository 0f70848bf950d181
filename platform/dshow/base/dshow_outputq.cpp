// The output queue: samples and control calls for one downstream pin, in
// order, delivered in batches on a thread of its own.
#include <tarvo_dshow/base_stream.h>

#include <vector>

COutputQueue::COutputQueue(IPin *inputPin, HRESULT *phr, BOOL bAuto, BOOL bQueue, LONG batchSize,
                           BOOL batchExact, LONG, DWORD)
  : m_pPin(inputPin), m_bQueue(bQueue != FALSE), m_lBatchSize(batchSize > 0 ? batchSize : 1),
    m_bBatchExact(batchExact != FALSE)
{
  m_pPin->AddRef();
  HRESULT hr = m_pPin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void **>(&m_pInputPin));
  if (FAILED(hr)) {
    m_pInputPin = nullptr;
    if (phr) *phr = hr;
    return;
  }
  if (bAuto) m_bQueue = m_pInputPin->ReceiveCanBlock() == S_OK;
  if (!m_bQueue) return;
  try {
    m_thread = std::thread([this] { ThreadProc(); });
  } catch (...) {
    if (phr) *phr = E_OUTOFMEMORY;
  }
}

COutputQueue::~COutputQueue()
{
  {
    std::lock_guard<std::mutex> l(m_mutex);
    m_bTerminate = true;
    m_cond.notify_all();
  }
  if (m_thread.joinable()) m_thread.join();
  DropQueued();
  if (m_pInputPin) m_pInputPin->Release();
  m_pPin->Release();
}

void COutputQueue::DropQueued()
{
  for (const Packet &p : m_queue)
    if (p.kind == Sample) p.sample->Release();
  m_queue.clear();
}

bool COutputQueue::HasWork() const
{
  if (m_queue.empty()) return false;
  if (m_queue.front().kind != Sample) return true;
  size_t samples = 0;
  while (samples < m_queue.size() && m_queue[samples].kind == Sample) samples++;
  return samples >= size_t(m_lBatchSize) || samples < m_queue.size() || m_bSendAnyway || !m_bBatchExact;
}

void COutputQueue::ThreadProc()
{
  std::vector<IMediaSample *> batch;
  batch.reserve(size_t(m_lBatchSize));  // no allocation while delivering
  std::unique_lock<std::mutex> l(m_mutex);
  for (;;) {
    m_cond.wait(l, [this] { return m_bTerminate || HasWork(); });
    if (m_bTerminate) return;
    batch.clear();
    while (!m_queue.empty() && m_queue.front().kind == Sample && batch.size() < size_t(m_lBatchSize)) {
      batch.push_back(m_queue.front().sample);
      m_queue.pop_front();
    }
    Packet control{};
    bool haveControl = batch.empty();
    if (haveControl) {
      control = m_queue.front();
      m_queue.pop_front();
    }
    if (m_queue.empty()) m_bSendAnyway = false;
    m_bBusy = true;
    l.unlock();
    HRESULT hr = S_OK;
    if (!batch.empty()) {
      LONG done = 0;
      hr = m_pInputPin->ReceiveMultiple(batch.data(), LONG(batch.size()), &done);
      for (IMediaSample *s : batch) s->Release();
    } else if (control.kind == EndOfStream) {
      m_pPin->EndOfStream();
    } else {
      m_pPin->NewSegment(control.start, control.stop, control.rate);
    }
    l.lock();
    if (FAILED(hr) && SUCCEEDED(m_hr) && !m_bFlushing) m_hr = hr;
    m_bBusy = false;
    m_cond.notify_all();
  }
}

void COutputQueue::Push(const Packet &p)
{
  // Called with m_mutex held.
  try {
    m_queue.push_back(p);
  } catch (...) {
    if (p.kind == Sample) p.sample->Release();
    if (SUCCEEDED(m_hr)) m_hr = E_OUTOFMEMORY;
    return;
  }
  m_cond.notify_all();
}

HRESULT COutputQueue::Receive(IMediaSample *sample)
{
  LONG processed;
  return ReceiveMultiple(&sample, 1, &processed);
}

HRESULT COutputQueue::ReceiveMultiple(IMediaSample **samples, LONG count, LONG *processed)
{
  if (!samples || !processed) return E_POINTER;
  if (!m_pInputPin) return VFW_E_NOT_CONNECTED;
  if (!m_bQueue) {
    HRESULT hr = m_pInputPin->ReceiveMultiple(samples, count, processed);
    for (LONG i = 0; i < count; i++) samples[i]->Release();
    return hr;
  }
  std::lock_guard<std::mutex> l(m_mutex);
  HRESULT hr = m_bFlushing ? S_FALSE : m_hr;
  *processed = 0;
  for (LONG i = 0; i < count; i++) {
    if (hr != S_OK) {
      samples[i]->Release();
      continue;
    }
    Push(Packet{Sample, samples[i], 0, 0, 0.0});
    (*processed)++;
  }
  return hr;
}

void COutputQueue::EOS()
{
  if (!m_bQueue) {
    m_pPin->EndOfStream();
    return;
  }
  std::lock_guard<std::mutex> l(m_mutex);
  if (!m_bFlushing) Push(Packet{EndOfStream, nullptr, 0, 0, 0.0});
}

void COutputQueue::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
  if (!m_bQueue) {
    m_pPin->NewSegment(start, stop, rate);
    return;
  }
  std::lock_guard<std::mutex> l(m_mutex);
  if (!m_bFlushing) Push(Packet{Segment, nullptr, start, stop, rate});
}

void COutputQueue::BeginFlush()
{
  if (m_bQueue) {
    std::lock_guard<std::mutex> l(m_mutex);
    m_bFlushing = true;
    m_bSendAnyway = false;
    DropQueued();
  }
  // Downstream gives back what it holds, so a delivery in progress returns.
  m_pPin->BeginFlush();
}

void COutputQueue::EndFlush()
{
  if (m_bQueue) {
    std::unique_lock<std::mutex> l(m_mutex);
    m_cond.wait(l, [this] { return !m_bBusy || m_bTerminate; });
    DropQueued();
    m_hr = S_OK;
    m_bFlushing = false;
  }
  m_pPin->EndFlush();
}

void COutputQueue::SendAnyway()
{
  if (!m_bQueue) return;
  std::lock_guard<std::mutex> l(m_mutex);
  m_bSendAnyway = true;
  m_cond.notify_all();
}

bool COutputQueue::IsIdle()
{
  if (!m_bQueue) return true;
  std::lock_guard<std::mutex> l(m_mutex);
  return m_queue.empty() && !m_bBusy;
}
