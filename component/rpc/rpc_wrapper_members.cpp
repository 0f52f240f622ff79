#include "rpc_wrapper_members.h"

#include "platform/errors.h"

namespace component::rpc {

void SendConnectionServiceText(HSTRING) { throw platform::NotImplementedException(); }

bool GetAccessoryServiceFlag() { throw platform::NotImplementedException(); }

bool SendAccessoryServiceTexts(HSTRING, HSTRING, HSTRING) { throw platform::NotImplementedException(); }

void SendConnectionServiceNonEmptyText(HSTRING) { throw platform::NotImplementedException(); }

bool CheckConnectionServiceText(HSTRING) { throw platform::NotImplementedException(); }

platform::UniqueHString GetConnectionServiceText() { throw platform::NotImplementedException(); }

platform::UniqueHString GetAccessoryServiceText() { throw platform::NotImplementedException(); }

}  // namespace component::rpc
