// The disconnection-logging flag and its change event.
#include "platform/errors.h"
#include "registry_members.h"

namespace component::registry {

bool SetDisconnectionLoggingNeeded(bool) { throw platform::NotImplementedException(); }

bool GetDisconnectionLoggingNeeded() { throw platform::NotImplementedException(); }

EventRegistrationToken AddGPSLoggingSettingsChanged(MorvalaFrameworkUiWinPRT::GPSLoggingSettingsCallback*) {
    throw platform::NotImplementedException();
}

void RemoveGPSLoggingSettingsChanged(EventRegistrationToken) { throw platform::NotImplementedException(); }

}  // namespace component::registry
