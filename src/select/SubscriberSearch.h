#pragma once
// The search behind the selection, without a control: the lists the criteria choose from, the
// search of a criterion into the selection grid (one search per criterion, shared by the grid
// and the listings), the CSV import, and the checks before the grid's ticked rows go to a
// reset. The selection page shows it through its controls; zephrane-cli uses it on its own, so
// that nothing it does depends on how the page draws or names things.

#include "SubscriberGrid.h"
#include "SubscriberSelection.h"
#include "platform/Host.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zeph {

class CsvUnmatchedLines;
class LineReader;
class RegistryAPI;
struct CsvColumns;
namespace db {
class Connection;
class modTarvoDB;
} // namespace db
namespace i18n {
class modLocalize;
} // namespace i18n

class SubscriberSearch {
public:
    /// Where the search's messages go, each with the icon of its kind: None for what it tells,
    /// Warning for input it refuses, Critical for a step that failed.
    using Report = std::function<void(const std::string &text, MsgIcon icon)>;
    /// Messages as boxes of the host's user interface (nowhere while it has none).
    static Report messageBoxes(Host &host);

    /// A criterion as the operator picks it: its words and its code.
    struct CriterionEntry {
        const char *text;
        SubscriberCriterion code;
    };
    /// The criteria in the order the operator is offered them; the texts are fixed English.
    static std::span<const CriterionEntry> criteria();

    /// `localize` may be null: texts then come from the program's own English table.
    SubscriberSearch(Host &host, RegistryAPI &registry, db::modTarvoDB &tarvoDb,
                     i18n::modLocalize *localize, Report report);
    SubscriberSearch(const SubscriberSearch &) = delete;
    SubscriberSearch &operator=(const SubscriberSearch &) = delete;

    // --- the lists the criteria choose from --------------------------------------------------
    /// Reads the classes of service, the mail servers and the telephone-system integrations.
    /// A list that fails is reported as a failure of the selection page's load (the words
    /// operators know) and the next one is read.
    void loadLists();
    int switchCount() const { return static_cast<int>(m_switchNames.size()); }
    /// The integrations' names: the first at position 0.
    const std::vector<std::string> &switchNames() const { return m_switchNames; }
    const std::vector<std::string> &mailServers() const { return m_mailServers; }
    const std::vector<std::string> &classOfServiceAliases() const { return m_cosAliases; }
    /// The classes of service's names, at the positions of their aliases.
    const std::vector<std::string> &classOfServiceNames() const { return m_cosNames; }

    // --- the grid ----------------------------------------------------------------------------
    SubscriberGrid &grid() { return m_grid; }
    const SubscriberGrid &grid() const { return m_grid; }
    /// Subscriber rows in the grid.
    int gridDataRows() const { return m_grid.Rows() - 1; }
    /// Told after a search, an import or a clearing replaced the grid's rows, before the
    /// message of a full grid.
    std::function<void()> rowsReplaced;

    /// "Add Subscribers To Grid": replaces the grid's rows with the selection's subscribers,
    /// checked. Refused input is said and leaves the grid empty (see inputRefused); a search
    /// that finds more than the grid holds fills it and says so once. Nothing is done while a
    /// search runs already.
    void addSubscribers(const SubscriberSelection &selection);
    /// What addCurrentSubscriber did.
    enum class AddResult { Added, NotAdded, GridFull };
    /// Appends the subscriber at the current row of the cached subscribers with its primary
    /// call handler at the current row of the cached call handlers, checked. Subscribers of a
    /// type other than 1 and 3 are not added; GridFull (nothing added) once the grid holds its
    /// most rows.
    AddResult addCurrentSubscriber();
    /// Positions the cached subscribers on a subscriber and the cached primary call handlers on
    /// its handler, for addCurrentSubscriber; false when either table is empty, the subscriber
    /// is missing, has no handler, or its handler is missing.
    bool positionOn(const DbValue &subscriberObjectId);
    /// The message shown once when a search found more subscribers than the grid can hold.
    std::string gridFullMessage() const;
    /// Empties the grid.
    void clearGrid();
    /// After the rows were put in the grid by another search (the advanced search's import):
    /// what they came from ("" for none), told on as after a search.
    void rowsReplacedBy(std::string source);

    /// What the grid's rows came from, in the operator's words ("Subscribers with extension
    /// numbers from 4000 to 4010"): set by the search or import that filled the grid, so that a
    /// review names the rows the grid holds; "" while the grid is empty.
    const std::string &gridSource() const { return m_gridSource; }
    /// A selection in the operator's words.
    std::string describe(const SubscriberSelection &selection) const;

    /// The checks before a hand-over: true when the grid holds ticked subscribers; otherwise a
    /// message was shown.
    bool readyToHandOver();
    /// The ticked rows of the grid, in the grid's order: the subscribers a reset takes.
    std::vector<SelectedSubscriber> tickedSubscribers() const { return m_grid.tickedSubscribers(); }
    /// Every row of the grid, its cells in the order of kListingColumns.
    std::vector<std::vector<std::string>> gridRows() const;

    /// True while a search or import runs (what the user interface lets through meanwhile
    /// must wait).
    bool busy() const { return m_busy; }
    /// True when the last search refused its input (a value that is no number, a reversed
    /// range, no criterion value, a file that cannot be read or has no subscriber columns): a
    /// caller without a window learns that the grid is empty because of the input.
    bool inputRefused() const { return m_inputRefused; }

    /// Lines of a CSV file between two yields to the user interface.
    static constexpr int kCsvYieldLines = 256;

    // --- a listing ---------------------------------------------------------------------------
    /// A subscriber's cells in the order of kListingColumns.
    using ListRow = std::function<void(const std::vector<std::string> &cells)>;
    /// The columns of a listing, by their grid keys.
    static inline const std::vector<std::string> kListingColumns = {
        "Alias", "DisplayName",   "FirstName",    "LastName",        "Extension", "HomeServer",
        "COS",   "LegacyMailbox", "RemoteNodeID", "HandlerObjectID", "ObjectID"};
    /// The selection's subscribers as addSubscribers would put them in the grid, told to `row`
    /// one at a time as the server reads them, in one query and without the cached tables or
    /// the grid; the input is checked and refused as by addSubscribers, and a search beyond the
    /// grid's rows stops where the grid would, with its message. False (nothing done) for a
    /// CSV file, whose lines are looked up one by one. Throws Error when the server fails the
    /// query.
    bool listSubscribers(const SubscriberSelection &selection, const ListRow &row);

private:
    enum class Lookup { NotFound, Added, NotAdded, GridFull };

    std::string res(std::uint32_t id) const;
    void message(const std::string &text);
    /// A message that refuses the search's input (see inputRefused).
    void refuse(const std::string &text);
    std::function<void(const std::string &)> failures();

    void fillClassOfServiceLists();
    void fillMailServerList();
    void fillSwitchList();

    // The search of a press, the one place that picks the search of a criterion (for the grid
    // and for a listing), and one search per criterion.
    void searchIntoGrid(const SubscriberSelection &selection);
    void search(const SubscriberSelection &selection);
    void searchAll();
    void searchExtensionRange(const SubscriberSelection &selection);
    void searchClassOfService(const SubscriberSelection &selection);
    void searchSwitch(const SubscriberSelection &selection);
    void searchMailServer(const SubscriberSelection &selection);
    /// A class of service's position in the lists (-1 when they lack it) and its name ("").
    int classOfServiceIndex(const std::string &alias) const;
    std::string classOfServiceName(const std::string &alias) const;
    /// Opens a query and runs the lookup-and-add loop over its rows; while a listing is made,
    /// runs `listing` instead and tells its rows.
    void addFromQuery(const std::string &sql, const std::string &listing,
                      const std::vector<DbValue> &params);
    void listFromQuery(const std::string &sql, const std::vector<DbValue> &params);
    Lookup lookUpAndAdd(const std::string &subscriberObjectId);
    Lookup addPositioned();

    // The CSV import: the file's text (refused when it cannot be read), its columns (refused
    // when the header names none), its lines looked up one by one.
    void ImportCSV(const std::string &path);
    std::optional<std::string> csvText(const std::string &path);
    std::optional<CsvColumns> csvColumns(LineReader &lines);
    /// The lines read, counted as the summary counts them.
    int importLines(LineReader &lines, const CsvColumns &columns, CsvUnmatchedLines &unmatched);
    Lookup importLine(std::string_view line, int aliasColumn, int extensionColumn,
                      db::Connection &connection);
    void csvSummary(int linesRead, int rowsBefore);

    void startSearch();
    void reportGridFull();

    Host &m_host;
    RegistryAPI &m_registry;
    db::modTarvoDB &m_db;
    i18n::modLocalize *m_localize;
    Report m_report;
    SubscriberGrid m_grid;
    std::string m_gridSource;
    std::vector<std::string> m_switchNames;
    std::vector<std::string> m_mailServers;
    std::vector<std::string> m_cosAliases;
    std::vector<std::string> m_cosNames;
    std::vector<DbValue> m_cosObjectIds;
    bool m_busy = false;
    bool m_inputRefused = false;
    bool m_gridFullHit = false;         // a search of this press found more than the grid holds
    bool m_gridFullReported = false;    // and its message has been shown
    const ListRow *m_listRow = nullptr; // set while a listing is made
};

} // namespace zeph
