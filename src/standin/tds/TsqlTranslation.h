#pragma once
// The T-SQL this server understands, turned into what the stand-in database runs: queries read
// whole and given SQL Server's meaning (platform/sqltext/Tsql.h), changes in the dialect both
// share (with named parameters "@P1" made positional, "N'...'" texts made plain), stored
// procedure calls with named arguments, transaction statements and the session options a
// client library sets. Anything else is refused with the error SQL Server gives, never passed
// on as if it had worked.

#include "platform/Database.h"
#include "platform/sqltext/Tsql.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zeph::tds {

/// A statement refused before it runs, with SQL Server's number for the refusal.
using sqltext::TsqlError;

/// SQL Server's numbers for the refusals the translation makes.
namespace tsqlerr {
inline constexpr int kSyntax = 102;        // Incorrect syntax near '...'.
inline constexpr int kUndeclared = 137;    // Must declare the scalar variable "@...".
inline constexpr int kUnsupported = 40517; // Keyword or statement option is not supported.
} // namespace tsqlerr

/// Values the server gives a query itself, in place of a request's parameter.
namespace serverValue {
inline constexpr int kServerName = -1;   // @@SERVERNAME
inline constexpr int kDatabaseName = -2; // DB_NAME()
} // namespace serverValue

/// Where a procedure argument's value comes from.
struct ExecArgument {
    std::string name;  // with its "@"
    int parameter = 0; // 1-based position among the request's parameters; 0: `literal`
    DbValue literal;
};

enum class StatementKind {
    Empty,            // nothing to run (blanks, comments)
    Query,            // `sql` on the database, `parameters` bound in order
    Exec,             // the procedure `procedure` with `arguments`
    SetOption,        // `option` set to `on` (other options are accepted and have no effect)
    BeginTransaction, // BEGIN TRAN
    Commit,           // COMMIT (also "IF @@TRANCOUNT > 0 COMMIT")
    Rollback,         // ROLLBACK (also "IF @@TRANCOUNT > 0 ROLLBACK")
};

struct TsqlStatement {
    StatementKind kind = StatementKind::Empty;
    std::string sql;
    /// For a query: the request's parameter (1-based) bound to each "?" of `sql`, in order, or
    /// one of serverValue.
    std::vector<int> parameters;
    std::string procedure;
    std::vector<ExecArgument> arguments;
    std::string option; // upper case
    bool on = false;
    /// A commit or rollback only when a transaction is open ("IF @@TRANCOUNT > 0 ...").
    bool ifOpen = false;
};

/// The parameter names of a declaration list ("@P1 int, @P2 nvarchar(4000)"), in order.
/// Throws TsqlError for a malformed list.
std::vector<std::string> declaredParameters(std::string_view declarations);

/// Translates one batch or statement text. `parameters` are the names the request declares
/// (empty for a batch without parameters); `catalogue` tells the database's column types to a
/// query (none: every column's type is told by its values). Throws TsqlError for what this
/// server does not run.
std::vector<TsqlStatement> translate(std::string_view text,
                                     const std::vector<std::string> &parameters,
                                     const sqltext::TsqlCatalogue *catalogue = nullptr);

} // namespace zeph::tds
