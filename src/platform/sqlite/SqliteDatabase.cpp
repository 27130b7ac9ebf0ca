// Placeholder: the SQLite database backend replaces this file.
#include "SqliteDatabase.h"

#include "platform/Error.h"

namespace zeph::sqlite {
namespace {
class Unavailable : public IDatabase {
public:
    std::unique_ptr<IDbConnection> connect(const std::string &) override
    {
        throw Error(-2147467259, "The database backend is not built yet");
    }
};
} // namespace
std::unique_ptr<IDatabase> makeDatabase(const std::string &, ServerContext)
{
    return std::make_unique<Unavailable>();
}
} // namespace zeph::sqlite
