// What the Windows implementation's files share: names between UTF-8 and UTF-16,
// and Win32 errors as errno values.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace qv::platform {

// A UTF-8 path as the wide name Windows opens; bytes that are no UTF-8 become
// U+FFFD, as they would in any other conversion.
std::wstring widen(const std::string& utf8);
std::string narrow(const wchar_t* wide, std::size_t size);

// The errno value of a Win32 error: the C library's table (_dosmaperr), but for a
// file another program holds (a sharing or lock violation: EBUSY) and a pipe whose
// reader has gone (EPIPE, where the C library says EINVAL), as Linux reports them.
int errnoOfWin32(DWORD error);

// Writes every byte with WriteFile on the descriptor's handle, each line feed as
// carriage return and line feed: the bytes text mode would write (a carriage
// return already in the data stays, so "\r\n" becomes "\r\r\n"). Returns the
// bytes written, as they reached the file. A failure is an Error on name.
std::uint64_t writeAll(int fd, const char* data, std::size_t size, const std::string& name);

// Puts back the console's output code page the program found at its start, if it
// set another; for a handler that ends the process on Ctrl-C without returning.
void restoreConsoleCodePage() noexcept;

// Installs, once, the console handler that ends the process after Ctrl-C, Ctrl-Break
// or a closed console with STATUS_CONTROL_C_EXIT, once the page file is left as a
// stop must leave it. Handlers installed later run before it.
void handleConsoleStops();

}  // namespace qv::platform
