// Names of the status codes the host may meet, for messages.
#pragma once

#include <string>

#include "platform/types.h"

namespace morvala::cli {

// "0x80004005 E_FAIL" for a known code, "0x8xxxxxxx" otherwise.
std::string DescribeStatus(HRESULT status);

// The symbolic name of a known status code; empty when unknown.
const char* StatusName(HRESULT status);

// The name of a Win32 error code the registry answers ("ERROR_FILE_NOT_FOUND");
// empty when unknown.
const char* Win32ErrorName(LONG code);

// "ERROR_ACCESS_DENIED (5)" or "error 1234".
std::string DescribeWin32Error(LONG code);

}  // namespace morvala::cli
