// The disconnection-logging flag: the connection service's REG_DWORD
// "DisconnectionLoggingNeeded", 1 for yes and anything else for no. Nothing of
// it is held in memory; every read and write goes to the registry.
#include "logging_flag.h"
#include "registry_members.h"

namespace component::registry {

bool SetDisconnectionLoggingNeeded(bool value) {
    bool written = WriteDisconnectionLoggingValue(value ? 1 : 0);
    // The event is raised whatever the write reported, with the caller's
    // value. A handler's failure leaves through here as its status code,
    // although the write has been made.
    RaiseGPSLoggingSettingsChanged(value);
    return written;
}

bool GetDisconnectionLoggingNeeded() {
    // A four-byte little-endian number, preset to 0, so a missing key or value, a refused read or data longer
    // than four bytes (the registry then leaves the buffer alone) read as
    // false; the read's own report is not needed.
    BYTE data[sizeof(DWORD)] = {0, 0, 0, 0};
    DWORD size = sizeof data;
    ReadDisconnectionLoggingValue(data, &size);
    DWORD number = DWORD{data[0]} | DWORD{data[1]} << 8 | DWORD{data[2]} << 16 | DWORD{data[3]} << 24;
    return number == 1;
}

}  // namespace component::registry
