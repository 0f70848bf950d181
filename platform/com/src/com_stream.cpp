// The memory stream: bytes in growing memory with a seek pointer; clones
// share the bytes and keep their own pointer.
#include <tarvo_com/com_persist.h>

#include <atomic>
#include <memory>
#include <new>
#include <vector>

namespace {

class MemoryStream final : public IStream {
 public:
  explicit MemoryStream(std::shared_ptr<std::vector<uint8_t>> bytes) : bytes_(std::move(bytes)) {}
  virtual ~MemoryStream() = default;

  HRESULT QueryInterface(REFIID riid, void **ppv) override
  {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ISequentialStream || riid == IID_IStream) {
      *ppv = static_cast<IStream *>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override
  {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }

  HRESULT Read(void *pv, ULONG cb, ULONG *read) override
  {
    if (!pv && cb) return STG_E_INVALIDPOINTER;
    uint64_t size = bytes_->size();
    ULONG n = pos_ >= size ? 0 : ULONG(std::min<uint64_t>(cb, size - pos_));
    if (n) std::memcpy(pv, bytes_->data() + pos_, n);
    pos_ += n;
    if (read) *read = n;
    return n == cb ? S_OK : S_FALSE;
  }

  HRESULT Write(const void *pv, ULONG cb, ULONG *written) override
  {
    if (written) *written = 0;
    if (!pv && cb) return STG_E_INVALIDPOINTER;
    if (pos_ + cb > bytes_->size() && !resize(pos_ + cb)) return STG_E_MEDIUMFULL;
    if (cb) std::memcpy(bytes_->data() + pos_, pv, cb);
    pos_ += cb;
    if (written) *written = cb;
    return S_OK;
  }

  HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER *newPos) override
  {
    int64_t from;
    switch (origin) {
    case STREAM_SEEK_SET: from = 0; break;
    case STREAM_SEEK_CUR: from = int64_t(pos_); break;
    case STREAM_SEEK_END: from = int64_t(bytes_->size()); break;
    default: return STG_E_INVALIDFUNCTION;
    }
    if (move.QuadPart < -from) return STG_E_INVALIDFUNCTION;  // before the start
    pos_ = uint64_t(from + move.QuadPart);
    if (newPos) newPos->QuadPart = pos_;
    return S_OK;
  }

  HRESULT SetSize(ULARGE_INTEGER size) override { return resize(size.QuadPart) ? S_OK : STG_E_MEDIUMFULL; }

  HRESULT CopyTo(IStream *to, ULARGE_INTEGER cb, ULARGE_INTEGER *read, ULARGE_INTEGER *written) override
  {
    if (!to) return STG_E_INVALIDPOINTER;
    uint64_t size = bytes_->size();
    uint64_t n = pos_ >= size ? 0 : std::min<uint64_t>(cb.QuadPart, size - pos_);
    uint64_t done = 0;
    HRESULT hr = S_OK;
    while (done < n && hr == S_OK) {
      ULONG piece = ULONG(std::min<uint64_t>(n - done, 1u << 30)), w = 0;
      hr = to->Write(bytes_->data() + pos_ + done, piece, &w);
      done += w;
    }
    pos_ += n;
    if (read) read->QuadPart = n;
    if (written) written->QuadPart = done;
    return FAILED(hr) ? hr : S_OK;
  }

  HRESULT Commit(DWORD) override { return S_OK; }
  HRESULT Revert() override { return S_OK; }
  HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
  HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }

  HRESULT Stat(STATSTG *stat, DWORD) override
  {
    if (!stat) return STG_E_INVALIDPOINTER;
    std::memset(stat, 0, sizeof *stat);
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = bytes_->size();
    return S_OK;
  }

  HRESULT Clone(IStream **out) override
  {
    if (!out) return STG_E_INVALIDPOINTER;
    auto *c = new (std::nothrow) MemoryStream(bytes_);
    if (!c) return STG_E_INSUFFICIENTMEMORY;
    c->pos_ = pos_;
    *out = c;
    return S_OK;
  }

 private:
  bool resize(uint64_t n)
  {
    try {
      bytes_->resize(n);
    } catch (...) {
      return false;
    }
    return true;
  }

  std::atomic<ULONG> refs_{1};
  std::shared_ptr<std::vector<uint8_t>> bytes_;
  uint64_t pos_ = 0;
};

}  // namespace

extern "C" HRESULT CreateStreamOnHGlobal(HGLOBAL hglobal, BOOL, IStream **out)
{
  if (!out) return E_POINTER;
  *out = nullptr;
  if (hglobal) return E_INVALIDARG;  // no global memory handles here
  try {
    *out = new MemoryStream(std::make_shared<std::vector<uint8_t>>());
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}
