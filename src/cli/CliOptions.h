#pragma once
// zephrane-cli's options: what the command line asks for, checked before anything runs.

#include "platform/Result.h"
#include "select/SubscriberSelection.h"

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace zeph::cli {

/// The code of --where: not a criterion of the selection page but the advanced search's query,
/// whose result is imported into the grid.
inline constexpr int kSelectionWhere = 100;

/// One selection criterion, with the code the selection page knows it by.
struct Selection {
    /// A SubscriberCriterion, or kSelectionWhere
    int code = kCriterionNone;
    std::string option;
    std::string low, high; ///< extension range
    int switchNumber = 0;
    std::string value; ///< COS alias, mail server name, CSV path or the query's tail
};

/// How --list and --list-templates print their rows: tab- or comma-separated with a header
/// row, or one JSON array of objects keyed by column.
enum class ListFormat { Tsv, Csv, Json };

struct Options {
    bool help = false;
    bool version = false;
    /// No progress line on a terminal.
    bool quiet = false;
    ListFormat format = ListFormat::Tsv;
    bool hostInfo = false;
    bool listTemplates = false;
    bool list = false;
    bool yes = false;
    bool preserveAlternateExtensions = false;
    bool skipDlSync = false;
    bool dryRun = false;
    bool recover = false;
    std::optional<std::string> templateAlias;
    /// --recover --journal FILE: that journal alone, whatever server it names (a journal
    /// written before journals named their server is applied only this way).
    std::optional<std::string> journal;
    /// --recover --accept-changed ALIAS (upper case): the subscriber was changed since its
    /// reset was interrupted, and its entry is to be recovered all the same.
    std::set<std::string> acceptChanged;
    std::optional<Selection> selection;
    /// --query-timeout: seconds a --where query may run; nothing: the host's own limit.
    std::optional<int> queryTimeoutSeconds;
};

/// Parses the arguments, or says in one line what keeps them from making a run. An option's
/// value may follow it as the next argument or after "=" (--template=ALIAS); "--" ends the
/// options (no operand is taken after it).
Result<Options> parseOptions(const std::vector<std::string> &args);

/// The known option a mistyped one most likely means ("--tempalte" gives "--template");
/// empty when none is near enough or two are equally near.
std::string nearestOption(const std::string &arg);

/// The usage text (--help), no line wider than 80 columns.
const char *usageText();

} // namespace zeph::cli
