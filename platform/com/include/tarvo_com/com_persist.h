/* Streams, persistence and property pages: the memory stream the layer
 * offers, and the interfaces that filters and their pages implement. */
#ifndef TARVO_COM_COM_PERSIST_H
#define TARVO_COM_COM_PERSIST_H

#include <tarvo_com/com.h>

TARVO_GUID(IID_ISequentialStream, 0x0C733A30, 0x2A1C, 0x11CE, 0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D);
TARVO_GUID(IID_IStream, 0x0000000C, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
TARVO_GUID(IID_IPersist, 0x0000010C, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
TARVO_GUID(IID_IPersistStream, 0x00000109, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
TARVO_GUID(IID_ISpecifyPropertyPages, 0xB196B28B, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
TARVO_GUID(IID_IPropertyPageSite, 0xB196B28C, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
TARVO_GUID(IID_IPropertyPage, 0xB196B28D, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);

struct LARGE_INTEGER { int64_t QuadPart; };
struct ULARGE_INTEGER { uint64_t QuadPart; };
struct FILETIME { DWORD dwLowDateTime; DWORD dwHighDateTime; };

enum { STREAM_SEEK_SET = 0, STREAM_SEEK_CUR = 1, STREAM_SEEK_END = 2 };
enum { STATFLAG_DEFAULT = 0, STATFLAG_NONAME = 1 };
enum { STGTY_STORAGE = 1, STGTY_STREAM = 2 };

struct STATSTG {
  LPOLESTR pwcsName;
  DWORD type;
  ULARGE_INTEGER cbSize;
  FILETIME mtime, ctime, atime;
  DWORD grfMode;
  DWORD grfLocksSupported;
  CLSID clsid;
  DWORD grfStateBits;
  DWORD reserved;
};

class ISequentialStream : public IUnknown {
 public:
  virtual HRESULT Read(void *pv, ULONG cb, ULONG *read) = 0;
  virtual HRESULT Write(const void *pv, ULONG cb, ULONG *written) = 0;
};

class IStream : public ISequentialStream {
 public:
  virtual HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER *newPos) = 0;
  virtual HRESULT SetSize(ULARGE_INTEGER size) = 0;
  virtual HRESULT CopyTo(IStream *to, ULARGE_INTEGER cb, ULARGE_INTEGER *read, ULARGE_INTEGER *written) = 0;
  virtual HRESULT Commit(DWORD flags) = 0;
  virtual HRESULT Revert() = 0;
  virtual HRESULT LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD type) = 0;
  virtual HRESULT UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD type) = 0;
  virtual HRESULT Stat(STATSTG *stat, DWORD flags) = 0;
  virtual HRESULT Clone(IStream **out) = 0;
};
typedef IStream *LPSTREAM;

class IPersist : public IUnknown {
 public:
  virtual HRESULT GetClassID(CLSID *clsid) = 0;
};

class IPersistStream : public IPersist {
 public:
  virtual HRESULT IsDirty() = 0;
  virtual HRESULT Load(IStream *stream) = 0;
  virtual HRESULT Save(IStream *stream, BOOL clearDirty) = 0;
  virtual HRESULT GetSizeMax(ULARGE_INTEGER *size) = 0;
};

/* A counted array of GUIDs in a block from CoTaskMemAlloc, which the
 * caller frees. */
struct CAUUID {
  ULONG cElems;
  GUID *pElems;
};

class ISpecifyPropertyPages : public IUnknown {
 public:
  virtual HRESULT GetPages(CAUUID *pages) = 0;
};

struct SIZE { LONG cx, cy; };
struct RECT { LONG left, top, right, bottom; };
typedef const RECT *LPCRECT;
struct MSG;

struct PROPPAGEINFO {
  ULONG cb;
  LPOLESTR pszTitle;
  SIZE size;
  LPOLESTR pszDocString;
  LPOLESTR pszHelpFile;
  DWORD dwHelpContext;
};

enum { PROPPAGESTATUS_DIRTY = 0x1, PROPPAGESTATUS_VALIDATE = 0x2, PROPPAGESTATUS_CLEAN = 0x4 };

class IPropertyPageSite : public IUnknown {
 public:
  virtual HRESULT OnStatusChange(DWORD flags) = 0;
  virtual HRESULT GetLocaleID(LCID *locale) = 0;
  virtual HRESULT GetPageContainer(IUnknown **container) = 0;
  virtual HRESULT TranslateAccelerator(MSG *msg) = 0;
};

class IPropertyPage : public IUnknown {
 public:
  virtual HRESULT SetPageSite(IPropertyPageSite *site) = 0;
  virtual HRESULT Activate(HWND parent, LPCRECT rect, BOOL modal) = 0;
  virtual HRESULT Deactivate() = 0;
  virtual HRESULT GetPageInfo(PROPPAGEINFO *info) = 0;
  virtual HRESULT SetObjects(ULONG count, IUnknown **objects) = 0;
  virtual HRESULT Show(UINT cmdShow) = 0;
  virtual HRESULT Move(LPCRECT rect) = 0;
  virtual HRESULT IsPageDirty() = 0;
  virtual HRESULT Apply() = 0;
  virtual HRESULT Help(LPCOLESTR helpDir) = 0;
  virtual HRESULT TranslateAccelerator(MSG *msg) = 0;
};

typedef void *HGLOBAL;

extern "C" {
/* A stream over growing memory, positioned at 0.  hglobal must be NULL:
 * the memory is the stream's own and goes with its final Release. */
HRESULT CreateStreamOnHGlobal(HGLOBAL hglobal, BOOL deleteOnRelease, IStream **out);
}

#endif
