/* Base classes every filter library is built on: object counting, the
 * aggregatable unknown, critical sections, events, the worker thread and
 * the class-factory templates with the library entry points. */
#ifndef TARVO_DSHOW_BASE_UNKNOWN_H
#define TARVO_DSHOW_BASE_UNKNOWN_H

#include <tarvo_dshow/dshow.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

/* The unknown that an aggregating outer object holds: its calls never go
 * to the outer object. */
class INonDelegatingUnknown {
 public:
  virtual HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) = 0;
  virtual ULONG NonDelegatingAddRef() = 0;
  virtual ULONG NonDelegatingRelease() = 0;

 protected:
  ~INonDelegatingUnknown() = default;
};
typedef INonDelegatingUnknown *PNDUNKNOWN;

/* Counts the live objects of one library, for DllCanUnloadNow. */
class CBaseObject {
 public:
  explicit CBaseObject(const char *name);
  CBaseObject(const CBaseObject &) = delete;
  CBaseObject &operator=(const CBaseObject &) = delete;
  virtual ~CBaseObject();
  static LONG ObjectsActive();

 private:
  const char *m_pName;
};

class CUnknown : public INonDelegatingUnknown, public CBaseObject {
 public:
  /* outer: the aggregating object, or NULL for an object of its own. */
  CUnknown(const char *name, LPUNKNOWN outer, HRESULT *phr = nullptr);
  HRESULT NonDelegatingQueryInterface(REFIID riid, void **ppv) override;
  ULONG NonDelegatingAddRef() override;
  ULONG NonDelegatingRelease() override;
  LPUNKNOWN GetOwner() const { return m_pUnknown; }
  /* The non-delegating unknown as an IUnknown: what an aggregating object
   * holds, and the owner of an object of its own. */
  IUnknown *InnerUnknown() { return &m_inner; }

 protected:
  std::atomic<LONG> m_cRef{0};

 private:
  class Inner final : public IUnknown {
   public:
    explicit Inner(CUnknown *o) : m_o(o) {}
    HRESULT QueryInterface(REFIID riid, void **ppv) override { return m_o->NonDelegatingQueryInterface(riid, ppv); }
    ULONG AddRef() override { return m_o->NonDelegatingAddRef(); }
    ULONG Release() override { return m_o->NonDelegatingRelease(); }

   private:
    CUnknown *m_o;
  };
  Inner m_inner;
  LPUNKNOWN const m_pUnknown;
};

/* The IUnknown methods of a class derived from CUnknown: they go to the
 * owner, which is the outer object when aggregated. */
#define DECLARE_IUNKNOWN \
  HRESULT QueryInterface(REFIID riid, void **ppv) override { return GetOwner()->QueryInterface(riid, ppv); } \
  ULONG AddRef() override { return GetOwner()->AddRef(); } \
  ULONG Release() override { return GetOwner()->Release(); }

/* Hands out pUnk with one reference added. */
HRESULT GetInterface(LPUNKNOWN pUnk, void **ppv);

/* An object of its own (never aggregated) with one interface iid: the
 * count starts at 0, and the last Release deletes it. */
template <class I, const GUID &iid>
class CCountedObject : public I, public CBaseObject {
 public:
  explicit CCountedObject(const char *name) : CBaseObject(name) {}
  HRESULT QueryInterface(REFIID riid, void **ppv) override
  {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == iid) return GetInterface(this, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ULONG(++m_cRef); }
  ULONG Release() override
  {
    LONG n = --m_cRef;
    if (n == 0) delete this;
    return ULONG(n);
  }

 private:
  std::atomic<LONG> m_cRef{0};
};

/* A critical section the owning thread may enter again.  Lock it with
 * CAutoLock (std::lock_guard). */
class CCritSec {
 public:
  void lock() { m_mutex.lock(); }
  void unlock() { m_mutex.unlock(); }
  bool try_lock() { return m_mutex.try_lock(); }
  void Lock() { lock(); }
  void Unlock() { unlock(); }

 private:
  std::recursive_mutex m_mutex;
};
using CAutoLock = std::lock_guard<CCritSec>;

/* An event, reset by the wait that it ends unless manual. */
class CAMEvent {
 public:
  explicit CAMEvent(bool manualReset = false) : m_manual(manualReset) {}
  void Set();
  void Reset();
  /* true when set within ms milliseconds (INFINITE: no limit). */
  bool Wait(DWORD ms = INFINITE);
  bool Check() { return Wait(0); }

 private:
  std::mutex m_mutex;
  std::condition_variable m_cond;
  bool m_set = false;
  const bool m_manual;
};

/* A worker thread driven by commands: the caller's CallWorker waits for the
 * worker's Reply.  A derived class must end its thread (a command that makes
 * ThreadProc return, then Close) before its own destructor finishes. */
class CAMThread {
 public:
  CAMThread() = default;
  CAMThread(const CAMThread &) = delete;
  CAMThread &operator=(const CAMThread &) = delete;
  virtual ~CAMThread();

  bool Create();
  DWORD CallWorker(DWORD request);
  void Close();
  bool ThreadExists() const { return m_thread.joinable(); }

  DWORD GetRequest();
  bool CheckRequest(DWORD *request);
  void Reply(DWORD result);

  CCritSec m_AccessLock;  // serialises the callers
  CCritSec m_WorkerLock;  // held by the worker while it works, if it likes

 protected:
  virtual DWORD ThreadProc() = 0;

 private:
  std::thread m_thread;
  std::mutex m_mutex;
  std::condition_variable m_cond;
  bool m_haveRequest = false, m_haveReply = false;
  DWORD m_request = 0, m_reply = 0;
};

/* Class-factory templates: one row per class a library offers. */
typedef CUnknown *(*LPFNNewCOMObject)(LPUNKNOWN outer, HRESULT *phr);
typedef void (*LPFNInitRoutine)(BOOL loading, const CLSID *clsid);

struct CFactoryTemplate {
  LPCWSTR m_Name;
  const CLSID *m_ClsID;
  LPFNNewCOMObject m_lpfnNew;
  LPFNInitRoutine m_lpfnInit;
  const AMOVIESETUP_FILTER *m_pAMovieSetup_Filter;

  bool IsClassID(REFCLSID clsid) const { return *m_ClsID == clsid; }
};

/* The work of the library entry points, over the library's templates. */
HRESULT DShowGetClassObject(const CFactoryTemplate *templates, int count, REFCLSID clsid, REFIID riid,
                            void **ppv);
HRESULT DShowCanUnloadNow();
void DShowInitTemplates(const CFactoryTemplate *templates, int count, BOOL loading);
/* Registration writes nothing on this platform. */
HRESULT AMovieDllRegisterServer2(BOOL doRegister);

#define TARVO_DSHOW_EXPORT extern "C" __attribute__((visibility("default")))

/* DllGetClassObject and DllCanUnloadNow over a template table, and the
 * templates' init routines run when the library loads and unloads. */
#define TARVO_DSHOW_CLASS_OBJECT(templates, count) \
  TARVO_DSHOW_EXPORT HRESULT DllGetClassObject(REFCLSID c, REFIID i, void **p) \
  { \
    return DShowGetClassObject(templates, count, c, i, p); \
  } \
  TARVO_DSHOW_EXPORT HRESULT DllCanUnloadNow() { return DShowCanUnloadNow(); } \
  namespace { \
  struct TemplateInit { \
    TemplateInit() { DShowInitTemplates(templates, count, TRUE); } \
    ~TemplateInit() { DShowInitTemplates(templates, count, FALSE); } \
  } template_init; \
  }

/* DllRegisterServer and DllUnregisterServer of the base classes. */
#define TARVO_DSHOW_REGISTRATION \
  TARVO_DSHOW_EXPORT HRESULT DllRegisterServer() { return AMovieDllRegisterServer2(TRUE); } \
  TARVO_DSHOW_EXPORT HRESULT DllUnregisterServer() { return AMovieDllRegisterServer2(FALSE); }

#endif
