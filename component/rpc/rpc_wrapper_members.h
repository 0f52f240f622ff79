// The member routines of RpcWrapper: the work of each member, without the
// boundary (the instance's slots wrap them). Each routine returns its result
// and raises the runtime's error kinds for failures that reach the caller.
// They live in rpc_wrapper_members.cpp.
#pragma once

#include "platform/winstring.h"

namespace component::rpc {

void SendConnectionServiceText(HSTRING text);
bool GetAccessoryServiceFlag();
bool SendAccessoryServiceTexts(HSTRING first, HSTRING second, HSTRING third);
void SendConnectionServiceNonEmptyText(HSTRING text);
bool CheckConnectionServiceText(HSTRING text);
// A new String for the caller.
platform::UniqueHString GetConnectionServiceText();
// A new String for the caller.
platform::UniqueHString GetAccessoryServiceText();

}  // namespace component::rpc
