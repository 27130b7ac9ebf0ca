// A backend that reaches up into the core and into the stand-in.
#include "reset/ResetRun.h"
#include "standin/SimHost.h"
#include <sqlite3.h>
