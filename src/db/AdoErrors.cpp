#include "AdoErrors.h"

namespace zeph::db {

const char *adoDescription(long number) {
    switch (number) {
    case adoerr::kTypeMismatch:
        return "Type mismatch";
    case adoerr::kInvalidUseOfNull:
        return "Invalid use of Null";
    case adoerr::kInvalidArgument:
        return "Arguments are of the wrong type, are out of acceptable range, or are in conflict "
               "with one another.";
    case adoerr::kNoCurrentRecord:
        return "Either BOF or EOF is True, or the current record has been deleted. Requested "
               "operation requires a current record.";
    case adoerr::kIllegalOperation:
        return "Operation is not allowed in this context.";
    case adoerr::kNotUpdatable:
        return "Current Recordset does not support updating. This may be a limitation of the "
               "provider, or of the selected locktype.";
    case adoerr::kItemNotFound:
        return "Item cannot be found in the collection corresponding to the requested name or "
               "ordinal.";
    case adoerr::kDataConversion:
        return "Application uses a value of the wrong type for the current operation.";
    case adoerr::kObjectClosed:
        return "Operation is not allowed when the object is closed.";
    case adoerr::kObjectOpen:
        return "Operation is not allowed when the object is open.";
    case adoerr::kRowNotFoundForUpdate:
        return "Row cannot be located for updating. Some values may have been changed since it "
               "was last read.";
    default:
        return "";
    }
}

void throwAdo(long number) {
    throw Error(number, adoDescription(number));
}

} // namespace zeph::db
