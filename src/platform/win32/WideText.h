#pragma once
// UTF-8 text of the core and the UTF-16 text of Windows' wide calls, and the system's errors.

#include <string>

namespace zeph::win32 {

std::wstring widen(const std::string &utf8);
std::string narrow(const std::wstring &utf16);
std::string narrow(const wchar_t *utf16);
/// The system's message for an error number (GetLastError), without a line end.
std::string systemMessage(unsigned long error);

} // namespace zeph::win32
