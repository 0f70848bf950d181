/* Our component-object layer: fixed-width types, GUIDs, HRESULTs, the
 * reference-counted IUnknown and IClassFactory, per-thread initialisation,
 * creation by class id over a compiled-in table, libraries loaded by file
 * name, and the task allocator.  Interfaces are abstract C++ classes; no
 * exception crosses a library. */
#ifndef TARVO_COM_COM_H
#define TARVO_COM_COM_H

#include <cstddef>
#include <cstdint>
#include <cstring>

typedef int32_t HRESULT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef int32_t BOOL;
typedef uint32_t UINT;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef int64_t REFERENCE_TIME;
typedef char16_t WCHAR;
typedef WCHAR OLECHAR;
typedef WCHAR *LPWSTR;
typedef const WCHAR *LPCWSTR;
typedef WCHAR *LPOLESTR;
typedef const WCHAR *LPCOLESTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef void *HINSTANCE;
typedef void *HMODULE;
typedef void *HWND;
typedef uint32_t LCID;
typedef void (*FARPROC)(void);

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif
#define INFINITE 0xFFFFFFFFu

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID &REFGUID;
typedef const IID &REFIID;
typedef const CLSID &REFCLSID;

inline bool IsEqualGUID(REFGUID a, REFGUID b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }
inline bool operator!=(REFGUID a, REFGUID b) { return !IsEqualGUID(a, b); }
#define IsEqualIID IsEqualGUID
#define IsEqualCLSID IsEqualGUID

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)
#define HRESULT_CODE(hr) ((hr) & 0xFFFF)

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define NOERROR S_OK
#define E_NOTIMPL ((HRESULT)0x80004001)
#define E_NOINTERFACE ((HRESULT)0x80004002)
#define E_POINTER ((HRESULT)0x80004003)
#define E_ABORT ((HRESULT)0x80004004)
#define E_FAIL ((HRESULT)0x80004005)
#define E_UNEXPECTED ((HRESULT)0x8000FFFF)
#define E_ACCESSDENIED ((HRESULT)0x80070005)
#define E_HANDLE ((HRESULT)0x80070006)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110)
#define CLASS_E_CLASSNOTAVAILABLE ((HRESULT)0x80040111)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154)
#define CO_E_NOTINITIALIZED ((HRESULT)0x800401F0)
#define STG_E_INVALIDFUNCTION ((HRESULT)0x80030001)
#define STG_E_INSUFFICIENTMEMORY ((HRESULT)0x80030008)
#define STG_E_INVALIDPOINTER ((HRESULT)0x80030009)
#define STG_E_READFAULT ((HRESULT)0x8003001E)
#define STG_E_MEDIUMFULL ((HRESULT)0x80030070)

#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_INPROC (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)
#define CLSCTX_ALL 0x17
#define COINIT_MULTITHREADED 0x0
#define COINIT_APARTMENTTHREADED 0x2

#define STDMETHODCALLTYPE
#define STDMETHOD(m) virtual HRESULT m
#define STDMETHOD_(t, m) virtual t m
#define STDMETHODIMP HRESULT
#define STDMETHODIMP_(t) t

/* The published interface and class ids.  Each constant lives in the header;
 * no library has to define it. */
#define TARVO_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

TARVO_GUID(GUID_NULL, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
#define CLSID_NULL GUID_NULL
#define IID_NULL GUID_NULL
TARVO_GUID(IID_IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
TARVO_GUID(IID_IClassFactory, 0x00000001, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

class IUnknown {
 public:
  virtual HRESULT QueryInterface(REFIID riid, void **ppv) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;  // objects go away through Release only
};
typedef IUnknown *LPUNKNOWN;

class IClassFactory : public IUnknown {
 public:
  virtual HRESULT CreateInstance(IUnknown *outer, REFIID riid, void **ppv) = 0;
  virtual HRESULT LockServer(BOOL lock) = 0;
};

/* The entry points a filter library exports. */
typedef HRESULT (*LPFNGETCLASSOBJECT)(REFCLSID, REFIID, void **);
typedef HRESULT (*LPFNCANUNLOADNOW)(void);

extern "C" {

/* A per-thread count: S_OK on the thread's first call, S_FALSE after. */
HRESULT CoInitialize(void *reserved);
HRESULT CoInitializeEx(void *reserved, DWORD coinit);
void CoUninitialize(void);

/* The class id is looked up in the compiled-in table of class ids and the
 * libraries that hold them; an id that is not there, or whose library does
 * not load, is REGDB_E_CLASSNOTREG. */
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown *outer, DWORD context, REFIID riid, void **ppv);

/* A name such as "mirrow.ax" or "saltrey.dll" means libmirrow.so or
 * libsaltrey.so, first beside the calling library or program, then through
 * the loader's search; other names are loaded as they are.  With autoFree
 * the layer keeps the library loaded for the life of the process. */
HINSTANCE CoLoadLibrary(LPCOLESTR name, BOOL autoFree);
FARPROC GetProcAddress(HMODULE module, const char *name);
BOOL FreeLibrary(HMODULE module);

void *CoTaskMemAlloc(size_t size);
void CoTaskMemFree(void *p);

}  // extern "C"

#endif
