// Each include below crosses a wall the layer check must report.
#include <QString>
#include <unistd.h>
#include "standin/SimHost.h"
#include "search/AdvancedSearchPage.h"
#include "platform/sqlite/SqliteDatabase.h"
#include <vector>
#include "platform/Database.h"
#include "db/Recordset.h"
