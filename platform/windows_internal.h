// What the Windows implementation's files share: names between UTF-8 and UTF-16,
// Win32 errors as the program reports them, and the console's stops.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/shared.h"

namespace qv::platform {

// A UTF-8 path as the wide name Windows opens; bytes that are no UTF-8 become
// U+FFFD, as they would in any other conversion.
std::wstring widen(const std::string& utf8);

bool isDirectory(const std::wstring& name);

// A Win32 error as a failed operation: the errno of the errors the program meets,
// as Linux reports them; any other with errno 0 and the system's own text.
Failure failureOf(const char* operation, DWORD error);

// Installs, once, the console handler that leaves the page file as a stop must and
// ends the process with STATUS_CONTROL_C_EXIT; handlers installed later run first.
void handleConsoleStops();

}  // namespace qv::platform
