#pragma once
// The server's mail store through its automation library.

#include "platform/MailStore.h"

#include <memory>
#include <string>

namespace zeph::win32 {

/// Sessions of the automation object named by programId ("MAPI.Session"); createSession gives
/// nothing when no such library is registered on the machine.
std::unique_ptr<IMailStore> makeMapiMailStore(const std::wstring &programId = L"MAPI.Session");

} // namespace zeph::win32
