// The member routines of RpcWrapper: the work of each member, without the
// boundary (the instance's slots wrap them). They live in
// rpc_wrapper_members.cpp.
//
// Each routine creates one client object of its service, makes one call on it
// and destroys it (freeing its binding) before it returns, on every path. A
// service that cannot be reached is no error: the routine returns its fixed
// default (nothing, false, or "0.0.0.0"). A failure of the call after the
// binding was made raises platform::RpcException, whose status code the
// boundary hands to the caller; a String that cannot be made raises its error
// kind.
#pragma once

#include "platform/winstring.h"

namespace component::rpc {

// Sends the text (up to its first NUL) to the connection service, procedure 0.
void SendConnectionServiceText(HSTRING text);
// The accessory service's flag (procedure 1): true when it is not 0.
bool GetAccessoryServiceFlag();
// Sends the three texts in order to the accessory service (procedure 2); true
// when the service's status is not 0.
bool SendAccessoryServiceTexts(HSTRING first, HSTRING second, HSTRING third);
// Sends a non-empty text to the connection service (procedure 8); an empty
// text makes no binding and no call.
void SendConnectionServiceNonEmptyText(HSTRING text);
// Asks the connection service about the text (procedure 9); true only when it
// answers exactly 1. An empty text makes no call and gives false.
bool CheckConnectionServiceText(HSTRING text);
// The connection service's text (procedure 3) converted from the system's
// ANSI code page, "0.0.0.0" when the service gives none. A new String for the
// caller.
platform::UniqueHString GetConnectionServiceText();
// As GetConnectionServiceText, from the accessory service (procedure 3).
platform::UniqueHString GetAccessoryServiceText();

}  // namespace component::rpc
