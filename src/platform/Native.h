#pragma once
// The backend of the operating system the program is built for, under one name: files,
// shell, HTTP, clock, GUIDs, the logged-on user and the environment.

#ifdef _WIN32
#include "platform/win32/Win32.h"
namespace zeph {
namespace native = win32;
}
#else
#include "platform/posix/Posix.h"
namespace zeph {
namespace native = posix;
}
#endif
