#pragma once
// The machine itself as the server's host: its registry, its service manager and its
// workstation information, for the programs that run on the server.

#include "platform/Registry.h"
#include "platform/Services.h"

#include <memory>

namespace zeph::win32 {

std::unique_ptr<IRegistry> makeRegistry();
std::unique_ptr<IServices> makeServices();
std::unique_ptr<IWorkstation> makeWorkstation();

} // namespace zeph::win32
