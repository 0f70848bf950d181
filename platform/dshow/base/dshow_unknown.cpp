// Object counting, the aggregatable unknown, events, the worker thread and
// the class factory behind DllGetClassObject.
#include <tarvo_dshow/base_unknown.h>

#include <chrono>
#include <new>

namespace {

// Each filter library links its own copy of this library, so these count
// that library's objects and locks only.
std::atomic<LONG> objects_active{0};
std::atomic<LONG> server_locks{0};

class CClassFactory final : public CCountedObject<IClassFactory, IID_IClassFactory> {
 public:
  explicit CClassFactory(const CFactoryTemplate *t) : CCountedObject("CClassFactory"), m_template(t) {}

  HRESULT CreateInstance(IUnknown *outer, REFIID riid, void **ppv) override
  {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    // An aggregating caller must take the inner unknown.
    if (outer && riid != IID_IUnknown) return E_NOINTERFACE;
    HRESULT hr = S_OK;
    CUnknown *obj = m_template->m_lpfnNew(outer, &hr);
    if (!obj) return FAILED(hr) ? hr : E_OUTOFMEMORY;
    if (FAILED(hr)) {
      delete obj;
      return hr;
    }
    obj->NonDelegatingAddRef();
    hr = obj->NonDelegatingQueryInterface(riid, ppv);
    obj->NonDelegatingRelease();
    return hr;
  }

  HRESULT LockServer(BOOL lock) override
  {
    if (lock)
      ++server_locks;
    else
      --server_locks;
    return S_OK;
  }

 private:
  const CFactoryTemplate *m_template;
};

}  // namespace

CBaseObject::CBaseObject(const char *name) : m_pName(name)
{
  ++objects_active;
}

CBaseObject::~CBaseObject()
{
  --objects_active;
}

LONG CBaseObject::ObjectsActive()
{
  return objects_active;
}

CUnknown::CUnknown(const char *name, LPUNKNOWN outer, HRESULT *)
  : CBaseObject(name), m_inner(this), m_pUnknown(outer ? outer : &m_inner)
{
}

HRESULT CUnknown::NonDelegatingQueryInterface(REFIID riid, void **ppv)
{
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown) return GetInterface(&m_inner, ppv);
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG CUnknown::NonDelegatingAddRef()
{
  return ULONG(++m_cRef);
}

ULONG CUnknown::NonDelegatingRelease()
{
  LONG n = --m_cRef;
  if (n == 0) {
    // A count of one keeps a release made by the destructor itself (an
    // inner object giving back its outer one) from deleting twice.
    m_cRef = 1;
    delete this;
    return 0;
  }
  return ULONG(n);
}

HRESULT GetInterface(LPUNKNOWN pUnk, void **ppv)
{
  if (!ppv) return E_POINTER;
  *ppv = pUnk;
  pUnk->AddRef();
  return S_OK;
}

void CAMEvent::Set()
{
  std::lock_guard<std::mutex> l(m_mutex);
  m_set = true;
  m_cond.notify_all();
}

void CAMEvent::Reset()
{
  std::lock_guard<std::mutex> l(m_mutex);
  m_set = false;
}

bool CAMEvent::Wait(DWORD ms)
{
  std::unique_lock<std::mutex> l(m_mutex);
  auto set = [this] { return m_set; };
  if (ms == INFINITE)
    m_cond.wait(l, set);
  else if (!m_cond.wait_for(l, std::chrono::milliseconds(ms), set))
    return false;
  if (!m_manual) m_set = false;
  return true;
}

CAMThread::~CAMThread()
{
  Close();
}

bool CAMThread::Create()
{
  CAutoLock lock(m_AccessLock);
  if (m_thread.joinable()) return false;
  try {
    m_thread = std::thread([this] { ThreadProc(); });
  } catch (...) {
    return false;
  }
  return true;
}

DWORD CAMThread::CallWorker(DWORD request)
{
  CAutoLock lock(m_AccessLock);
  if (!m_thread.joinable()) return DWORD(E_FAIL);
  std::unique_lock<std::mutex> l(m_mutex);
  m_request = request;
  m_haveRequest = true;
  m_haveReply = false;
  m_cond.notify_all();
  m_cond.wait(l, [this] { return m_haveReply; });
  m_haveReply = false;
  return m_reply;
}

void CAMThread::Close()
{
  if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) m_thread.join();
}

DWORD CAMThread::GetRequest()
{
  std::unique_lock<std::mutex> l(m_mutex);
  m_cond.wait(l, [this] { return m_haveRequest; });
  m_haveRequest = false;
  return m_request;
}

bool CAMThread::CheckRequest(DWORD *request)
{
  std::lock_guard<std::mutex> l(m_mutex);
  if (!m_haveRequest) return false;
  if (request) *request = m_request;
  return true;
}

void CAMThread::Reply(DWORD result)
{
  std::lock_guard<std::mutex> l(m_mutex);
  m_reply = result;
  m_haveReply = true;
  m_cond.notify_all();
}

HRESULT DShowGetClassObject(const CFactoryTemplate *templates, int count, REFCLSID clsid, REFIID riid, void **ppv)
{
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
  for (int i = 0; i < count; i++) {
    if (!templates[i].IsClassID(clsid)) continue;
    auto *factory = new (std::nothrow) CClassFactory(&templates[i]);
    if (!factory) return E_OUTOFMEMORY;
    return GetInterface(factory, ppv);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT DShowCanUnloadNow()
{
  return objects_active == 0 && server_locks == 0 ? S_OK : S_FALSE;
}

void DShowInitTemplates(const CFactoryTemplate *templates, int count, BOOL loading)
{
  for (int i = 0; i < count; i++)
    if (templates[i].m_lpfnInit) templates[i].m_lpfnInit(loading, templates[i].m_ClsID);
}

HRESULT AMovieDllRegisterServer2(BOOL)
{
  return S_OK;
}
