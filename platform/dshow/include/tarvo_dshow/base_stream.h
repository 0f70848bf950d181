/* Streaming threads: the pull pin, which reads an asynchronous reader on a
 * worker of its own, and the output queue, which delivers samples to a
 * downstream pin on a thread of its own.  Both threads end (and are joined)
 * when the pin or queue stops, and every wait in them ends on a stop or a
 * flush. */
#ifndef TARVO_DSHOW_BASE_STREAM_H
#define TARVO_DSHOW_BASE_STREAM_H

#include <tarvo_dshow/base_unknown.h>
#include <tarvo_dshow/dshow_limits.h>

#include <deque>

/* S_OK when the pin offers IAsyncReader (what a pull pin reads), else
 * E_NOINTERFACE: the connection check of a parser's input pin. */
HRESULT PinOffersAsyncReader(IPin *pin);

class CPullPin : public CAMThread {
 public:
  CPullPin() = default;
  /* A derived class calls Disconnect in its own destructor: the worker
   * calls its virtual methods. */
  ~CPullPin() override;

  /* Takes the reader of pUnk and asks it for an allocator (preferring
   * alloc); the range becomes the whole stream. */
  HRESULT Connect(IUnknown *pUnk, IMemAllocator *alloc, BOOL sync);
  HRESULT Disconnect();
  /* props NULL asks for 4 buffers of 4096 bytes. */
  virtual HRESULT DecideAllocator(IMemAllocator *alloc, ALLOCATOR_PROPERTIES *props);

  /* The byte range [start, stop] as offsets times UNITS.  Stored while
   * stopped; while running, the stream is flushed (BeginFlush, EndFlush)
   * and the worker restarts from start. */
  HRESULT Seek(REFERENCE_TIME start, REFERENCE_TIME stop);
  HRESULT Duration(REFERENCE_TIME *duration);
  HRESULT Active();
  /* Stops the worker and joins it. */
  HRESULT Inactive();

  IAsyncReader *GetReader() { return m_pReader; }
  IMemAllocator *Allocator() { return m_pAlloc; }

  /* Called on the worker. S_FALSE from Receive ends the stream. */
  virtual HRESULT Receive(IMediaSample *sample) = 0;
  virtual HRESULT EndOfStream() = 0;
  /* A read or receive error (other than VFW_E_WRONG_STATE); end of stream
   * follows it. */
  virtual void OnError(HRESULT hr) = 0;
  /* Called on the seeking thread around a seek while running. */
  virtual HRESULT BeginFlush() = 0;
  virtual HRESULT EndFlush() = 0;

 protected:
  DWORD ThreadProc() override;

 private:
  enum ThreadMsg : DWORD { TM_Pause, TM_Start, TM_Exit };
  HRESULT StartThread();
  HRESULT PauseThread();
  HRESULT StopThread();
  HRESULT HaltWorker(ThreadMsg command);
  void Process();
  HRESULT ReadSample(IMediaSample *sample, IMediaSample **done);

  IAsyncReader *m_pReader = nullptr;
  IMemAllocator *m_pAlloc = nullptr;
  REFERENCE_TIME m_tStart = 0, m_tStop = 0, m_tDuration = 0;
  BOOL m_bSync = FALSE;
  ThreadMsg m_State = TM_Exit;
};

/* Takes over the caller's reference on every sample it is given. */
class COutputQueue {
 public:
  /* bAuto: a thread only when the downstream pin says ReceiveCanBlock;
   * bQueue: a thread at all.  Samples go on in batches of batchSize; with
   * batchExact a batch waits until it is full, a control call or SendAnyway
   * comes. */
  COutputQueue(IPin *inputPin, HRESULT *phr, BOOL bAuto = TRUE, BOOL bQueue = TRUE, LONG batchSize = 1,
               BOOL batchExact = FALSE, LONG listSize = DSHOW_OUTPUT_QUEUE_DEFAULT_BATCH, DWORD priority = 0);
  COutputQueue(const COutputQueue &) = delete;
  COutputQueue &operator=(const COutputQueue &) = delete;
  /* Ends and joins the thread; samples still queued are released. */
  ~COutputQueue();

  HRESULT Receive(IMediaSample *sample);
  HRESULT ReceiveMultiple(IMediaSample **samples, LONG count, LONG *processed);
  void EOS();
  void NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);
  /* Drops what is queued and passes the flush on at once. */
  void BeginFlush();
  /* Waits until a delivery in progress has returned, then passes it on. */
  void EndFlush();
  /* Sends a partial batch now. */
  void SendAnyway();
  bool IsIdle();
  bool IsQueued() const { return m_bQueue; }

 private:
  enum Kind { Sample, EndOfStream, Segment };
  struct Packet {
    Kind kind;
    IMediaSample *sample;
    REFERENCE_TIME start, stop;
    double rate;
  };

  void ThreadProc();
  bool HasWork() const;
  void Push(const Packet &p);
  void DropQueued();

  IPin *m_pPin = nullptr;
  IMemInputPin *m_pInputPin = nullptr;
  bool m_bQueue;
  LONG m_lBatchSize;
  bool m_bBatchExact;
  std::mutex m_mutex;
  std::condition_variable m_cond;
  std::deque<Packet> m_queue;
  bool m_bFlushing = false, m_bSendAnyway = false, m_bBusy = false, m_bTerminate = false;
  HRESULT m_hr = S_OK;
  std::thread m_thread;
};

#endif
