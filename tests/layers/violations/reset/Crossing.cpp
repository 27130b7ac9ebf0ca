// Each include below crosses a wall the layer check must report.
#include "db/Recordset.h"
#include "platform/Database.h"
#include "platform/sqlite/SqliteDatabase.h"
#include "search/AdvancedSearchPage.h"
#include "standin/SimHost.h"
#include <QString>
#include <unistd.h>
#include <vector>
