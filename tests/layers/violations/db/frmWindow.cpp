// A window may include Qt and the core; nothing here may be reported.
#include <QWidget>
#include "db/Recordset.h"
