// The file a source filter reads: opened by IFileSourceFilter::Load, named
// back by GetCurFile.
#ifndef TARVO_DSHOW_SYS_SOURCE_FILE_H
#define TARVO_DSHOW_SYS_SOURCE_FILE_H

#include <tarvo_dshow/base_filter.h>
#include <tarvo_util/sys_file.h>

#include <cstdint>
#include <string>

struct SysSourceFile {
  int file = -1;
  uint64_t size = 0;
  std::u16string name;
};

/* Opens the file for reading: VFW_E_NOT_FOUND when it cannot be opened,
 * E_UNEXPECTED when one is open already. */
inline HRESULT sys_source_open(SysSourceFile *f, LPCOLESTR name)
{
  if (!name) return E_POINTER;
  if (f->file >= 0) return E_UNEXPECTED;
  const auto *wide = reinterpret_cast<const sys_wchar *>(name);
  sys_file_stat_rec st{};
  int file = -1;
  if (!sys_file_stat_w(wide, &st) || !sys_file_open_read_w(&file, wide)) return VFW_E_NOT_FOUND;
  try {
    f->name = name;
  } catch (...) {
    sys_file_close(file);
    return E_OUTOFMEMORY;
  }
  f->file = file;
  f->size = st.size;
  return S_OK;
}

inline void sys_source_close(SysSourceFile *f)
{
  if (f->file >= 0) sys_file_close(f->file);
  f->file = -1;
}

/* The name given to Load, in task memory that the caller frees. */
inline HRESULT sys_source_cur_file(const SysSourceFile &f, LPOLESTR *name)
{
  if (!name) return E_POINTER;
  *name = nullptr;
  if (f.file < 0) return E_FAIL;
  *name = TaskMemString(f.name.c_str());
  return *name ? S_OK : E_OUTOFMEMORY;
}

#endif
