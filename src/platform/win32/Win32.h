#pragma once
// Windows' side of the platform: files, shell, HTTP, clock, GUIDs and the logged-on user, on
// the system's own calls. The same functions as the POSIX backend's, so that the programs
// name either as `native`.

#include "platform/Clock.h"
#include "platform/Database.h"
#include "platform/FileSystem.h"
#include "platform/Host.h"
#include "platform/Result.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace zeph::win32 {

#include "platform/BackendFunctions.h"

/// The bytes of a text in a Windows code page as UTF-8; nothing when they are not text of it.
std::optional<std::string> codePageText(std::string_view bytes, unsigned int codePage);
/// UTF-8 text in a Windows code page, a character it lacks written "?" (never a look-alike);
/// nothing when the system cannot write that code page.
std::optional<std::string> codePageBytes(std::string_view text, unsigned int codePage);

} // namespace zeph::win32
