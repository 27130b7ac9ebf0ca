#pragma once
// The advanced search without a control: the guard in front of the server, an administrator's
// query run on a connection that may only read (within its limits, and stoppable), its result,
// and the import of the result's subscribers into a SubscriberSearch's grid. The advanced search
// page drives it from its editor and buttons; zephrane-cli runs a script's query through it
// and builds no page.

#include "db/Recordset.h"
#include "platform/Host.h"
#include "platform/Result.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zeph {

class RegistryAPI;
class SubscriberSearch;
namespace db {
class modTarvoDB;
} // namespace db

namespace search {

/// The start of every statement the advanced search sends; the query's text follows it
/// unchanged.
inline constexpr const char *kFixedQueryStart = "SELECT vw_Subscriber.* FROM vw_Subscriber ";

/// Done when the query's text may be sent to the server, else why not. First the four
/// refusals the advanced search has always made (length, then UPDATE, DELETE, EXECUTE, DROP
/// anywhere in the text, letter case ignored), then the statements a single read cannot hold: a
/// second statement after ";" and the words that begin a statement which writes, outside quoted
/// values, quoted names and comments.
Status checkQuery(std::string_view editorText);

/// The result grid `gridSQL`: a header row of field names and one row per record, every value
/// as text (NULL as "").
struct ResultGrid {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> cells;

    /// Rows including the header row.
    int Rows() const { return static_cast<int>(cells.size()) + 1; }
    int Cols() const { return static_cast<int>(header.size()); }
    /// Row count 1: only the header row stays.
    void clearRows() { cells.clear(); }
    /// Row count 1 and column count 0.
    void clear();
    /// Cell text; row 0 is the header. Out of range reads as "".
    std::string TextMatrix(int row, int col) const;
};

class SelectionQuery {
public:
    /// Where its messages go, each with the icon of its kind (SubscriberSearch's reporter):
    /// None for what it tells, Critical for a step of the import that failed.
    using Report = std::function<void(const std::string &text, MsgIcon icon)>;

    /// The import's rows replace those of `subscribers`' grid.
    SelectionQuery(Host &host, RegistryAPI &registry, db::modTarvoDB &tarvoDb,
                   SubscriberSearch &subscribers, Report report);
    ~SelectionQuery();
    SelectionQuery(const SelectionQuery &) = delete;
    SelectionQuery &operator=(const SelectionQuery &) = delete;

    /// Guards the query's text (CR LF line breaks), runs it after kFixedQueryStart on a
    /// connection that may only read and fills the result grid; the text goes into the history
    /// when keepHistory is set. A refused or failed query is said and leaves the result grid
    /// without rows.
    void execute(const std::string &editorText);
    /// An operator's queries are kept; a script's (the terminal program's) are not the
    /// operator's history, and a dry run must leave the registry as it was.
    bool keepHistory = true;
    /// Replaces the selection grid's rows with the result's subscribers and tells how many;
    /// the result set is closed then. False (said) when the result has no rows.
    bool importIntoSelection();
    /// execute and then importIntoSelection for a script's query: never kept in the history;
    /// a result without rows leaves the selection grid as it is, without a message. False when
    /// the statement did not run (its message has been said).
    bool selectByQuery(const std::string &editorText);

    /// True while a query runs (the user interface's other controls wait).
    bool running() const { return m_running; }
    /// Asks the query that runs to stop; the stop is said as the query's failure.
    void stop() { m_stopRequested = true; }
    /// Closes the result set, every error ignored; the next query starts from a fresh one.
    void close();

    const ResultGrid &results() const { return m_grid; }
    /// The result set of the last statement (closed when there is none).
    const db::Recordset &recordset() const { return m_results; }
    /// Told after the result grid changed (emptied before a query, filled after it).
    std::function<void()> resultsChanged;

private:
    void message(const std::string &text);
    std::function<void(const std::string &)> failures();
    void closeResults();
    void runStatement(const std::string &editorText);
    void showResults();
    void importResults();
    void notifyResultsChanged();

    Host &m_host;
    RegistryAPI &m_registry;
    db::modTarvoDB &m_db;
    SubscriberSearch &m_subscribers;
    Report m_report;
    ResultGrid m_grid;
    db::Recordset m_results;
    // The statement whose rows m_results holds, on one line (the editor may change since).
    std::string m_resultsQuery;
    bool m_running = false;
    bool m_stopRequested = false;
};

} // namespace search
} // namespace zeph
