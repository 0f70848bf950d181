// Inside the local-server client: the control URL of a path on the
// handle's client.
#pragma once

#include <tarvo_avcpl/tarvo_avcpl.h>

namespace avcpl {

inline constexpr char cds_path[] = "/control/ContentDirectory";
inline constexpr char backup_path[] = "/control/ContentBackup";
inline constexpr char devmgr_path[] = "/control/X_DeviceManager";

// The client of a live handle with its URL set to the path, or NULL.
http_client *client_for(tarvo_avcpl_handle *handle, const char *path);

}  // namespace avcpl
