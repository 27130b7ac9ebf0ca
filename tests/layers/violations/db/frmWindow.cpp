// A window may include Qt and the core; nothing here may be reported.
#include "db/Recordset.h"
#include <QWidget>
