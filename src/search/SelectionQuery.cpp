#include "SelectionQuery.h"
#include "platform/AsciiText.h"

#include "app/ScopeGuards.h"
#include "app/registry/RegistryAPI.h"
#include "db/Command.h"
#include "db/modTarvoDB.h"
#include "platform/Error.h"
#include "search/QueryHistory.h"
#include "search/SetQueryColors.h"
#include "select/SubscriberSearch.h"

#include <algorithm>
#include <utility>

namespace zeph::search {

namespace {

// A failed step of the import is reported in the words operators know: the window's Import.
const Where kImportWhere{"cmdImport_Click", "Form", "frmAdvancedSubscriberSearch"};

constexpr const char *kInvalidQuery = "Invalid SQL query";
constexpr const char *kInvalidEntry = "Invalid SQL entry:\r\n";
constexpr const char *kNoResults = "You must create a query to select subscribers first";
constexpr const char *kAddedToGrid = " new subscribers added to grid";
// The most a query may bring back: the selection grid's rows, values no subscriber field comes
// near, and in all far more than the grid's rows of the subscriber view take.
constexpr std::size_t kMaxValueBytes = std::size_t{1} << 20;
constexpr std::size_t kMaxTotalBytes = std::size_t{256} << 20;
constexpr const char *kTooManyRows =
    "The query found more than 32767 subscribers, more than the selection grid can hold. "
    "Nothing was read in; narrow the condition.";

constexpr const char *kSecondStatement =
    "Only a single SELECT can run from this interface: the text goes on after \";\"";

// The four words the window has always refused, each anywhere in the text.
struct GuardWord {
    std::string_view word;
    const char *message;
};
constexpr GuardWord kGuardWords[] = {
    {"UPDATE", "You cannot issue updates from this interface"},
    {"DELETE", "You cannot issue DELETEs from this interface"},
    {"EXECUTE", "You cannot issue EXECUTEs from this interface"},
    {"DROP", "You cannot issue DROPs from this interface"},
};

// Words that begin (or smuggle in) a statement that writes, changes the schema or the rights,
// or ends the transaction a read runs in. None of them can stand as a bare word in the tail of
// a single SELECT; quoted, bracketed or commented they are left alone.
constexpr std::string_view kStatementWords[] = {
    "ALTER",  "ANALYZE",     "ATTACH",   "BACKUP",  "BEGIN",          "BULK",      "CHECKPOINT",
    "COMMIT", "CREATE",      "DBCC",     "DENY",    "DETACH",         "EXEC",      "GRANT",
    "INSERT", "INTO",        "KILL",     "MERGE",   "OPENDATASOURCE", "OPENQUERY", "OPENROWSET",
    "PRAGMA", "RECONFIGURE", "REINDEX",  "REPLACE", "RESTORE",        "REVOKE",    "ROLLBACK",
    "SAVE",   "SHUTDOWN",    "TRUNCATE", "UPSERT",  "VACUUM",         "WRITETEXT",
};

bool isStatementWord(std::string_view upperWord) {
    return std::find(std::begin(kStatementWords), std::end(kStatementWords), upperWord) !=
           std::end(kStatementWords);
}

bool isWordCharacter(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '@' || c == '#' || c == '$' || u >= 0x80;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// Reads the statement's tail the way the server's parser splits it: quoted values ('...'),
// quoted names ("..." and [...]), comments (-- to the line's end, /* to */) and the rest.
class TailScanner {
public:
    explicit TailScanner(std::string_view text)
        : m_text(text) {}

    Status check() {
        while (m_at < m_text.size()) {
            const char c = m_text[m_at];
            // Blanks are passed over before the semicolon test, unlike any other character:
            // a blank after the last statement is no second statement.
            // NOLINTNEXTLINE(bugprone-branch-clone)
            if (isBlank(c)) {
                ++m_at;
            } else if (startsComment()) {
                skipComment();
            } else if (c == ';') {
                m_afterSemicolon = true;
                ++m_at;
            } else if (m_afterSemicolon) {
                return fail(kSecondStatement);
            } else if (c == '\'' || c == '"') {
                skipQuoted(c);
            } else if (c == '[') {
                skipQuoted(']');
            } else if (isWordCharacter(c)) {
                if (auto word = statementWord())
                    return fail("Only a SELECT can run from this interface: " + *word +
                                " is not allowed");
            } else {
                ++m_at;
            }
        }
        return done();
    }

private:
    bool startsComment() const {
        if (m_at + 1 >= m_text.size())
            return false;
        const char c = m_text[m_at], next = m_text[m_at + 1];
        return (c == '-' && next == '-') || (c == '/' && next == '*');
    }
    void skipComment() {
        if (m_text[m_at] == '-') {
            const auto end = m_text.find('\n', m_at);
            m_at = end == std::string_view::npos ? m_text.size() : end + 1;
            return;
        }
        // Comments are not nested here: a nested one ends early, so that less is skipped.
        const auto end = m_text.find("*/", m_at + 2);
        m_at = end == std::string_view::npos ? m_text.size() : end + 2;
    }
    // A doubled closing character stands for itself inside the quotes.
    void skipQuoted(char close) {
        ++m_at;
        while (m_at < m_text.size()) {
            if (m_text[m_at] == close) {
                if (m_at + 1 < m_text.size() && m_text[m_at + 1] == close) {
                    m_at += 2;
                    continue;
                }
                ++m_at;
                return;
            }
            ++m_at;
        }
    }
    // Reads one bare word; the word in upper case when it may not stand in a SELECT's tail.
    std::optional<std::string> statementWord() {
        const std::size_t begin = m_at;
        while (m_at < m_text.size() && isWordCharacter(m_text[m_at]))
            ++m_at;
        std::string word(m_text.substr(begin, m_at - begin));
        std::transform(word.begin(), word.end(), word.begin(), asciiUpper);
        if (!isStatementWord(word))
            return std::nullopt;
        if (word == "REPLACE" && followedByParenthesis())
            return std::nullopt; // the text function REPLACE(...)
        return word;
    }
    bool followedByParenthesis() const {
        std::size_t at = m_at;
        while (at < m_text.size() && isBlank(m_text[at]))
            ++at;
        return at < m_text.size() && m_text[at] == '(';
    }

    std::string_view m_text;
    std::size_t m_at = 0;
    bool m_afterSemicolon = false;
};

std::string fieldText(const DbValue &value) {
    return db::isNull(value) ? std::string() : db::valueText(value);
}

} // namespace

Status checkQuery(std::string_view editorText) {
    if (editorLength(editorText) < 3)
        return fail(kInvalidQuery);
    for (const auto &guard : kGuardWords) {
        if (containsIgnoreCase(editorText, guard.word))
            return fail(guard.message);
    }
    return TailScanner(editorText).check();
}

// --- result grid ---------------------------------------------------------------------------

void ResultGrid::clear() {
    header.clear();
    cells.clear();
}

std::string ResultGrid::TextMatrix(int row, int col) const {
    if (col < 0 || col >= Cols() || row < 0 || row >= Rows())
        return {};
    const auto c = static_cast<std::size_t>(col);
    if (row == 0)
        return header[c];
    const auto &cellsOfRow = cells[static_cast<std::size_t>(row - 1)];
    return c < cellsOfRow.size() ? cellsOfRow[c] : std::string();
}

// --- the query -----------------------------------------------------------------------------

SelectionQuery::SelectionQuery(Host &host, RegistryAPI &registry, db::modTarvoDB &tarvoDb,
                               SubscriberSearch &subscribers, Report report)
    : m_host(host)
    , m_registry(registry)
    , m_db(tarvoDb)
    , m_subscribers(subscribers)
    , m_report(std::move(report)) {}

SelectionQuery::~SelectionQuery() {
    closeResults();
}

void SelectionQuery::message(const std::string &text) {
    if (m_report)
        m_report(text, MsgIcon::None);
}

std::function<void(const std::string &)> SelectionQuery::failures() {
    return [this](const std::string &text) {
        if (m_report)
            m_report(text, MsgIcon::Critical);
    };
}

void SelectionQuery::notifyResultsChanged() {
    if (resultsChanged)
        resultsChanged();
}

void SelectionQuery::closeResults() {
    try {
        m_results.Close();
    } catch (...) {
    }
}

void SelectionQuery::close() {
    closeResults();
    m_results = db::Recordset(); // a fresh, empty set on the next use
}

bool SelectionQuery::selectByQuery(const std::string &editorText) {
    const SaveAndRestore history(keepHistory, false);
    execute(editorText);
    if (m_results.State() != db::adStateOpen)
        return false;
    // No rows: the grid stays empty, and a reset is refused as for any empty search.
    if (m_grid.Rows() >= 2)
        importIntoSelection();
    return true;
}

void SelectionQuery::execute(const std::string &editorText) {
    m_grid.clearRows();
    notifyResultsChanged();
    if (const Status accepted = checkQuery(editorText); !accepted) {
        message(accepted.error());
        return;
    }
    closeResults();
    try {
        runStatement(editorText);
    } catch (const Error &e) {
        closeResults();
        m_results = db::Recordset(); // nothing of a stopped query stays
        // A query stopped by its limits was a sound query: its own text says why it stopped.
        message(stoppedByLimits(e) ? e.description() : kInvalidEntry + e.description());
        return;
    } catch (const std::exception &e) {
        message(kInvalidEntry + std::string(e.what()));
        return;
    }
    notifyResultsChanged();
    if (keepHistory)
        SaveQueryToHistory(m_registry, *m_host.clock, editorText);
    m_resultsQuery.clear();
    for (const char c : editorText) {
        const bool blank = c == '\r' || c == '\n' || c == '\t' || c == ' ';
        if (!blank)
            m_resultsQuery += c;
        else if (!m_resultsQuery.empty() && m_resultsQuery.back() != ' ')
            m_resultsQuery += ' ';
    }
}

void SelectionQuery::runStatement(const std::string &editorText) {
    // The command makes a connection of its own. A text command runs as a read: the server
    // refuses anything that would change data, and a second statement after the first. The
    // administrator's text may also never end or bring back without end: it runs within a time
    // limit, reads no more rows than the grid holds, and can be stopped while the user
    // interface stays responsive (busy pointer, its events handled while the query runs).
    db::Command command(m_db.database());
    command.ActiveConnection(m_db.DbConnectionString());
    command.CommandType(db::adCmdText);
    command.CommandText(kFixedQueryStart + editorText);
    command.CommandTimeout(m_host.queryTimeoutSeconds);
    command.MaxRecords(static_cast<std::size_t>(SubscriberGrid::kMaxSubscriberRows));
    command.MaxValueBytes(kMaxValueBytes);
    command.MaxTotalBytes(kMaxTotalBytes);
    command.WhileRunning([this] {
        if (m_host.ui)
            m_host.ui->doEvents();
        return !m_stopRequested;
    });
    long recordsAffected = 0;
    m_stopRequested = false;
    const SaveAndRestore running(m_running, true);
    if (m_host.ui)
        m_host.ui->setBusy(true);
    const ScopeExit notBusy([this] {
        if (m_host.ui)
            m_host.ui->setBusy(false);
    });
    m_results = command.Execute(&recordsAffected);
    if (m_results.MoreThanMaxRecords())
        throw Error(kQueryCancelled, kTooManyRows);
    if (m_results.State() == db::adStateOpen)
        showResults();
    else
        message("Records affected=" + std::to_string(recordsAffected));
}

void SelectionQuery::showResults() {
    m_grid.clear();
    const std::size_t fields = m_results.FieldCount();
    m_grid.header.reserve(fields);
    for (std::size_t f = 0; f < fields; ++f)
        m_grid.header.push_back(m_results.Fields(f).Name());
    if (m_results.RecordCount() == 0)
        return;
    m_grid.cells.reserve(static_cast<std::size_t>(m_results.RecordCount()));
    for (m_results.MoveFirst(); !m_results.Eof(); m_results.MoveNext()) {
        std::vector<std::string> row;
        row.reserve(fields);
        for (std::size_t f = 0; f < fields; ++f)
            row.push_back(fieldText(m_results.Fields(f).Value()));
        m_grid.cells.push_back(std::move(row));
    }
}

// --- the import ----------------------------------------------------------------------------

bool SelectionQuery::importIntoSelection() {
    if (m_grid.Rows() < 2) {
        message(kNoResults);
        return false;
    }
    if (m_host.ui)
        m_host.ui->setBusy(true);
    importResults();
    if (m_host.ui)
        m_host.ui->setBusy(false);

    const int n = m_subscribers.gridDataRows();
    message(std::to_string(n) + kAddedToGrid);
    m_subscribers.rowsReplacedBy(n > 0 ? "Advanced search: " + m_resultsQuery : std::string());
    close();
    return true;
}

void SelectionQuery::importResults() {
    SubscriberGrid &grid = m_subscribers.grid();
    // The import replaces the grid's rows; the grid is drawn once, at the end.
    grid.setRedraw(false);
    grid.setRows(1);
    bool full = false;
    trap(kImportWhere, failures(), [&] { m_results.MoveFirst(); });
    while (!full && !m_results.Eof()) {
        trap(kImportWhere, failures(), [&] {
            // A result row without a call handler is passed over, whatever the cached tables
            // hold for its subscriber.
            if (m_subscribers.positionOn(m_results["SubscriberObjectID"].Value()) &&
                !m_results["CallHandlerObjectID"].IsNull())
                full =
                    m_subscribers.addCurrentSubscriber() == SubscriberSearch::AddResult::GridFull;
        });
        // A record set that cannot move on would hold the import here for ever.
        if (!full && !trap(kImportWhere, failures(), [&] { m_results.MoveNext(); }))
            break;
    }
    grid.setRedraw(true);
    if (full)
        message(m_subscribers.gridFullMessage());
}

} // namespace zeph::search
