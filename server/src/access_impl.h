// Pieces shared by the device manager and the access check.
#pragma once

#include <vennard/server.h>

#include <atomic>

namespace acl {

// The changed flags of the server record.
inline std::atomic_ref<int32_t> flag(int32_t &f) { return std::atomic_ref<int32_t>(f); }

// 1 when access/allow/<mac> (allow) or access/deny/<mac> is a file.
bool client_file_exists(server_rec *s, bool allow, const char *mac, int64_t *mtime = nullptr);

}  // namespace acl
