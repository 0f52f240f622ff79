// The device root: the folder that holds this device's registry store and its
// RPC endpoint folder. It is the platform's setting, read from the
// environment; nothing in the component is configured.
#pragma once

#include <string>

namespace platform {

// The device root folder, without a trailing slash: $MORVALA_ROOT when set and
// not empty, else $XDG_DATA_HOME/morvala, else $HOME/.local/share/morvala,
// else /tmp/morvala-<uid>. Read anew on every call, so a test that sets
// MORVALA_ROOT is followed. The folder is not created here.
std::string DeviceRoot();

// Makes each missing folder of path with mode 0755, whatever the process's
// umask: a folder others may write would let another user replace the store
// or the service endpoints in it. Returns 0, or the errno of the failure
// (ENOTDIR when path exists and is not a folder).
int MakeFolders(const std::string& path);

// DeviceRoot(), created with its missing parents (mode 0755) when absent.
// Returns the path; throws platform::RuntimeError with
// HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED or ERROR_CANTOPEN) when it cannot be made.
std::string EnsureDeviceRoot();

}  // namespace platform
