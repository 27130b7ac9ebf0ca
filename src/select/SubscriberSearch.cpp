#include "SubscriberSearch.h"
#include "platform/AsciiText.h"

#include "CsvText.h"
#include "CsvUnmatched.h"
#include "NumberChecks.h"
#include "app/ScopeGuards.h"
#include "app/registry/RegistryAPI.h"
#include "db/modTarvoDB.h"
#include "i18n/OwnStrings.h"
#include "i18n/modLocalize.h"
#include "platform/Error.h"

#include <algorithm>
#include <utility>

namespace zeph {

namespace {

using db::adLockReadOnly;
using db::adOpenForwardOnly;
using db::adOpenKeyset;
using db::adUseClient;

// The largest subscriber list read: far more than the lines of the most subscribers the grid
// holds, and never the whole of a device or a runaway file.
constexpr std::size_t kCsvMaxBytes = std::size_t{64} * 1024 * 1024;

constexpr SubscriberSearch::CriterionEntry kCriteria[] = {
    {"All subscribers", kCriterionAllSubscribers},
    {"Subscribers with extension numbers from:", kCriterionExtensionRange},
    {"Subscribers associated with this switch:", kCriterionSwitch},
    {"Subscribers referenced in this CSV file:", kCriterionCsvFile},
    {"Subscribers associated with this class of service:", kCriterionClassOfService},
    {"Subscribers homed on this mail server:", kCriterionMailServer},
};

// The lists have always been read by the selection page's load, and a failure is reported in
// its name wherever they are read.
constexpr Where kLoadWhere{"Form_Load", "Form", "frmChooseSubscribers"};

constexpr const char *kIntegration1 =
    "SOFTWARE\\Ambrel\\Telvo\\1.0\\Initialization\\Integrations\\Integration1";
constexpr const char *kIntegration2 =
    "SOFTWARE\\Ambrel\\Telvo\\1.0\\Initialization\\Integrations\\Integration2";

constexpr const char *kMailServerQuery =
    "select homeserver from subscriber where homeserver is not null group by homeserver";

// The searches' texts; each inserted value is a "?" bound at its place.
#define ZEPH_BASE_CONDITION "WHERE vw_Subscriber.SubscriberType IN (1,3)"
constexpr const char *kAllQuery =
    "SELECT Alias, SubscriberObjectID from vw_Subscriber " ZEPH_BASE_CONDITION " ORDER BY Alias";
constexpr const char *kExtensionRangeQuery =
    "SELECT DISTINCT vw_Subscriber.SubscriberObjectID "
    "FROM vw_Subscriber INNER JOIN vw_DTMFAccessID "
    "ON vw_Subscriber.SubscriberObjectID=vw_DTMFAccessID.ParentObjectID " ZEPH_BASE_CONDITION
    " AND vw_DTMFAccessID.DTMFAccessID<= CAST(? as BigInt)"
    " AND vw_DTMFAccessID.DTMFAccessID>=CAST(? as BigInt)";
constexpr const char *kClassOfServiceQuery =
    "SELECT SubscriberObjectID, Alias from vw_Subscriber " ZEPH_BASE_CONDITION
    " AND COSObjectID=? ORDER By Alias";
constexpr const char *kFirstSwitchQuery =
    "Select Alias, SubscriberObjectID from vw_Subscriber " ZEPH_BASE_CONDITION
    " AND (SwitchID IS NULL or SwitchID=0)";
constexpr const char *kOtherSwitchQuery =
    "Select Alias, SubscriberObjectID from vw_Subscriber " ZEPH_BASE_CONDITION " AND SwitchID=?";
constexpr const char *kMailServerSubscribersQuery =
    "SELECT Alias, SubscriberObjectID from vw_Subscriber " ZEPH_BASE_CONDITION " AND HomeServer=?";
#undef ZEPH_BASE_CONDITION

// The same searches as listings: the grid's columns of each subscriber found, in the search's
// order, read in one query without the cached tables. A subscriber is listed as the grid would
// add it: of type 1 or 3 and with its primary call handler; its extension is its primary one,
// the class of service by its name.
#define ZEPH_LISTING_COLUMNS                                                                       \
    "SELECT vw_Subscriber.Alias, vw_Subscriber.DisplayName, vw_Subscriber.FirstName, "             \
    "vw_Subscriber.LastName, vw_Subscriber.DTMFAccessID, vw_Subscriber.HomeServer, "               \
    "(SELECT vw_COS.TextName FROM vw_COS WHERE vw_COS.COSObjectID=vw_Subscriber.COSObjectID), "    \
    "vw_Subscriber.LegacyMailbox, vw_Subscriber.RemoteNodeID, vw_Subscriber.CallHandlerObjectID, " \
    "vw_Subscriber.SubscriberObjectID FROM vw_Subscriber "
#define ZEPH_LISTING_CONDITION                                                                     \
    "WHERE vw_Subscriber.SubscriberType IN (1,3) AND EXISTS (SELECT 1 FROM "                       \
    "vw_CallHandler_Primary "                                                                      \
    "WHERE vw_CallHandler_Primary.CallHandlerObjectID=vw_Subscriber.CallHandlerObjectID)"
constexpr const char *kAllListing =
    ZEPH_LISTING_COLUMNS ZEPH_LISTING_CONDITION " ORDER BY vw_Subscriber.Alias";
// The search's DISTINCT gives each subscriber once, in the order of their object ids.
constexpr const char *kExtensionRangeListing = ZEPH_LISTING_COLUMNS ZEPH_LISTING_CONDITION
    " AND vw_Subscriber.SubscriberObjectID IN (SELECT vw_DTMFAccessID.ParentObjectID "
    "FROM vw_DTMFAccessID WHERE vw_DTMFAccessID.DTMFAccessID<= CAST(? as BigInt)"
    " AND vw_DTMFAccessID.DTMFAccessID>=CAST(? as BigInt))"
    " ORDER BY vw_Subscriber.SubscriberObjectID";
constexpr const char *kClassOfServiceListing = ZEPH_LISTING_COLUMNS ZEPH_LISTING_CONDITION
    " AND vw_Subscriber.COSObjectID=? ORDER BY vw_Subscriber.Alias";
constexpr const char *kFirstSwitchListing = ZEPH_LISTING_COLUMNS ZEPH_LISTING_CONDITION
    " AND (vw_Subscriber.SwitchID IS NULL or vw_Subscriber.SwitchID=0)";
constexpr const char *kOtherSwitchListing =
    ZEPH_LISTING_COLUMNS ZEPH_LISTING_CONDITION " AND vw_Subscriber.SwitchID=?";
constexpr const char *kMailServerListing =
    ZEPH_LISTING_COLUMNS ZEPH_LISTING_CONDITION " AND vw_Subscriber.HomeServer=?";
#undef ZEPH_LISTING_CONDITION
#undef ZEPH_LISTING_COLUMNS

constexpr const char *kCsvExtensionQuery =
    "SELECT vw_Subscriber.Alias, vw_Subscriber.SubscriberObjectID, vw_DTMFAccessID.DTMFAccessID "
    "FROM vw_Subscriber INNER JOIN vw_DTMFAccessID "
    "ON vw_Subscriber.SubscriberObjectID=vw_DTMFAccessID.ParentObjectID "
    "WHERE vw_DTMFAccessID.DTMFAccessID=?"
    " AND vw_Subscriber.SubscriberType IN (1,3) ORDER BY vw_Subscriber.Alias";
constexpr const char *kCsvAliasQuery =
    "SELECT Alias, SubscriberObjectID FROM Subscriber WHERE Alias=?"
    " AND SubscriberType IN (1,3) ORDER BY Alias";

constexpr const char *kSelectOneToReset = "You must select at least one subscriber to reset";

// A field as text; a null value or a field that cannot be read gives "".
std::string fieldText(db::Recordset &rs, std::string_view name) {
    try {
        const DbValue &value = rs.Fields(name).Value();
        return db::isNull(value) ? std::string() : db::valueText(value);
    } catch (const std::exception &) {
        return {};
    }
}

// The cached tables and query sets report failures as exceptions; every step that the system passes
// over silently catches them here.
template <class Step> void silently(Step &&step) {
    try {
        step();
    } catch (const std::exception &) {
    }
}

// The number of lines read is kept in a signed 16-bit counter that stops at its top.
int countLine(int linesRead) {
    return std::min(linesRead + 1, 32767);
}

} // namespace

// --- construction and messages ------------------------------------------------------------------

SubscriberSearch::Report SubscriberSearch::messageBoxes(Host &host) {
    return [&host](const std::string &text, MsgIcon icon) {
        if (host.ui)
            host.ui->messageBox(text, MsgButtons::OK, icon);
    };
}

std::span<const SubscriberSearch::CriterionEntry> SubscriberSearch::criteria() {
    return kCriteria;
}

SubscriberSearch::SubscriberSearch(Host &host, RegistryAPI &registry, db::modTarvoDB &tarvoDb,
                                   i18n::modLocalize *localize, Report report)
    : m_host(host)
    , m_registry(registry)
    , m_db(tarvoDb)
    , m_localize(localize)
    , m_report(std::move(report)) {}

std::string SubscriberSearch::res(std::uint32_t id) const {
    if (m_localize)
        return m_localize->myLoadResString(id);
    return std::string(i18n::ownString(id).value_or(""));
}

void SubscriberSearch::message(const std::string &text) {
    if (m_report)
        m_report(text, MsgIcon::None);
}

void SubscriberSearch::refuse(const std::string &text) {
    m_inputRefused = true;
    if (m_report)
        m_report(text, MsgIcon::Warning);
}

std::function<void(const std::string &)> SubscriberSearch::failures() {
    return [this](const std::string &text) {
        if (m_report)
            m_report(text, MsgIcon::Critical);
    };
}

// --- the lists -----------------------------------------------------------------------------------

void SubscriberSearch::loadLists() {
    const auto report = failures();
    trap(kLoadWhere, report, [&] { fillClassOfServiceLists(); });
    trap(kLoadWhere, report, [&] { fillMailServerList(); });
    trap(kLoadWhere, report, [&] { fillSwitchList(); });
}

void SubscriberSearch::fillClassOfServiceLists() {
    m_cosAliases.clear();
    m_cosNames.clear();
    m_cosObjectIds.clear();
    // A listing reads the classes of service on their own; the wizard has them cached.
    db::Recordset read(m_db.database());
    const bool cached = m_db.rsCOS().State() == db::adStateOpen;
    if (!cached)
        read.Open("Select * from vw_COS", m_db.DbConnectionString(), adOpenForwardOnly,
                  adLockReadOnly);
    db::Recordset &cos = cached ? m_db.rsCOS() : read;
    cos.MoveFirst(); // an empty table fails here, and the lists stay empty
    while (!cos.Eof()) {
        std::string alias = cos["Alias"].Text();
        std::string textName = cos["TextName"].Text();
        m_cosAliases.push_back(std::move(alias));
        m_cosObjectIds.push_back(cos["CosObjectID"].Value());
        m_cosNames.push_back(std::move(textName));
        cos.MoveNext();
    }
}

void SubscriberSearch::fillMailServerList() {
    m_mailServers.clear();
    db::Recordset servers(m_db.database());
    servers.Open(kMailServerQuery, m_db.DbConnectionString(), adOpenKeyset, adLockReadOnly);
    if (servers.RecordCount() > 0) {
        while (!servers.Eof()) {
            m_mailServers.push_back(servers["HomeServer"].Text());
            servers.MoveNext();
        }
    }
    servers.Close();
}

void SubscriberSearch::fillSwitchList() {
    m_switchNames.clear();
    auto displayName = [this](const char *key) {
        return regText(
            m_registry.QueryValue(HKEY_LOCAL_MACHINE, key, "DisplayName", REG_SZ, std::string()));
    };
    m_switchNames.push_back(displayName(kIntegration1));
    if (m_registry.KeyExists(HKEY_LOCAL_MACHINE, kIntegration2))
        m_switchNames.push_back(displayName(kIntegration2));
}

int SubscriberSearch::classOfServiceIndex(const std::string &alias) const {
    if (alias.empty())
        return -1;
    const auto at = std::find(m_cosAliases.begin(), m_cosAliases.end(), alias);
    return at == m_cosAliases.end() ? -1 : static_cast<int>(at - m_cosAliases.begin());
}

std::string SubscriberSearch::classOfServiceName(const std::string &alias) const {
    const int at = classOfServiceIndex(alias);
    if (at < 0 || at >= static_cast<int>(m_cosNames.size()))
        return {};
    return m_cosNames[static_cast<std::size_t>(at)];
}

// --- searches ------------------------------------------------------------------------------------

void SubscriberSearch::addSubscribers(const SubscriberSelection &selection) {
    // A press may already be running: the user interface was let in while it worked.
    if (m_busy)
        return;
    searchIntoGrid(selection);
    if (rowsReplaced)
        rowsReplaced();
    if (m_gridFullHit && !m_gridFullReported)
        reportGridFull();
}

void SubscriberSearch::startSearch() {
    m_inputRefused = false;
    m_gridFullHit = false;
    m_gridFullReported = false;
}

// The press's search: the search is busy until it returns, however it returns.
void SubscriberSearch::searchIntoGrid(const SubscriberSelection &selection) {
    const SaveAndRestore busy(m_busy, true);
    startSearch();
    if (m_host.ui)
        m_host.ui->setBusy(true);
    const ScopeExit idle([this] {
        if (m_host.ui)
            m_host.ui->setBusy(false);
    });
    m_grid.setRedraw(false);
    m_grid.setRows(1);

    // A step that fails is passed over without a report; the press ends as usual.
    try {
        search(selection);
    } catch (const std::exception &) {
    }

    m_grid.setRedraw(true);
    m_gridSource = m_grid.Rows() > 1 ? describe(selection) : std::string();
}

// Into the grid, or told row by row while a listing is made (a listing never reads a CSV file).
void SubscriberSearch::search(const SubscriberSelection &selection) {
    switch (selection.criterion) {
    case kCriterionAllSubscribers:
        searchAll();
        break;
    case kCriterionExtensionRange:
        searchExtensionRange(selection);
        break;
    case kCriterionClassOfService:
        searchClassOfService(selection);
        break;
    case kCriterionSwitch:
        searchSwitch(selection);
        break;
    case kCriterionMailServer:
        searchMailServer(selection);
        break;
    case kCriterionCsvFile:
        if (!m_listRow)
            ImportCSV(selection.csvPath);
        break;
    case kCriterionNone:
        break;
    }
}

void SubscriberSearch::searchAll() {
    silently([&] { m_db.rsSubscribers().MoveFirst(); });
    addFromQuery(kAllQuery, kAllListing, {});
}

void SubscriberSearch::searchExtensionRange(const SubscriberSelection &selection) {
    const auto low = numericValue(selection.extensionLow);
    const auto high = numericValue(selection.extensionHigh);
    if (!low || !high) {
        refuse(res(169));
        return;
    }
    if (*low >= 0 && *low <= *high && *high >= 0) {
        addFromQuery(kExtensionRangeQuery, kExtensionRangeListing,
                     {numberText(*high), numberText(*low)});
        return;
    }
    refuse(res(168));
}

void SubscriberSearch::searchClassOfService(const SubscriberSelection &selection) {
    // A class of service without a name in the lists is refused as no choice.
    const std::string &alias = selection.classOfService;
    if (classOfServiceName(alias).empty()) {
        refuse(res(333));
        return;
    }
    if (m_listRow) {
        const int at = classOfServiceIndex(alias);
        addFromQuery(kClassOfServiceQuery, kClassOfServiceListing,
                     {m_cosObjectIds.at(static_cast<std::size_t>(at))});
        return;
    }
    db::Recordset &cos = m_db.rsCOS();
    cos.MoveFirst();
    cos.Find("Alias", alias);
    // The class of service may have gone since the lists were filled: then nothing is added.
    if (cos.Eof())
        return;
    addFromQuery(kClassOfServiceQuery, kClassOfServiceListing, {cos["CosObjectID"].Value()});
}

void SubscriberSearch::searchSwitch(const SubscriberSelection &selection) {
    const int position = selection.switchNumber - 1;
    if (position < 0 || position >= switchCount() ||
        m_switchNames[static_cast<std::size_t>(position)].empty()) {
        refuse(res(331));
        return;
    }
    if (position == 0)
        addFromQuery(kFirstSwitchQuery, kFirstSwitchListing, {});
    else
        addFromQuery(kOtherSwitchQuery, kOtherSwitchListing, {std::int64_t{position}});
}

void SubscriberSearch::searchMailServer(const SubscriberSelection &selection) {
    const std::string &server = selection.mailServer;
    if (server.empty()) {
        refuse(res(332));
        return;
    }
    addFromQuery(kMailServerSubscribersQuery, kMailServerListing, {server});
}

void SubscriberSearch::addFromQuery(const std::string &sql, const std::string &listing,
                                    const std::vector<DbValue> &params) {
    if (m_listRow) {
        listFromQuery(listing, params);
        return;
    }
    db::Recordset query(m_db.database());
    query.CursorLocation(adUseClient);
    query.Open(sql, m_db.DbConnectionString(), adOpenForwardOnly, adLockReadOnly, params);
    while (!query.Eof()) {
        Lookup result = Lookup::NotFound;
        silently([&] { result = lookUpAndAdd(query["SubscriberObjectID"].Text()); });
        if (result == Lookup::GridFull) {
            m_gridFullHit = true;
            break;
        }
        query.MoveNext();
    }
    query.Close();
}

void SubscriberSearch::listFromQuery(const std::string &sql, const std::vector<DbValue> &params) {
    std::unique_ptr<IDbConnection> connection = m_db.database().connect(m_db.DbConnectionString());
    std::vector<std::string> cells(kListingColumns.size());
    int rows = 0;
    connection->readRows(sql, params, [&](const std::vector<DbValue> &values) {
        if (rows >= m_grid.rowLimit()) {
            m_gridFullHit = true;
            return false;
        }
        ++rows;
        for (std::size_t c = 0; c < cells.size() && c < values.size(); ++c)
            cells[c] = db::isNull(values[c]) ? std::string() : db::valueText(values[c]);
        (*m_listRow)(cells);
        return true;
    });
}

bool SubscriberSearch::listSubscribers(const SubscriberSelection &selection, const ListRow &row) {
    if (selection.criterion == kCriterionCsvFile)
        return false;
    startSearch();
    const SaveAndRestore listing(m_listRow, &row);
    search(selection);
    if (m_gridFullHit)
        reportGridFull();
    return true;
}

bool SubscriberSearch::positionOn(const DbValue &subscriberObjectId) {
    // An empty cached table has no first row to move to: it holds no one to position on.
    db::Recordset &subscribers = m_db.rsSubscribers();
    if (subscribers.RecordCount() == 0)
        return false;
    subscribers.MoveFirst();
    subscribers.Find("SubscriberObjectID", subscriberObjectId);
    if (subscribers.Eof())
        return false;
    const DbValue handler = subscribers["CallHandlerObjectID"].Value();
    if (db::isNull(handler))
        return false;
    db::Recordset &handlers = m_db.rsPrimaryCallHandlers();
    if (handlers.RecordCount() == 0)
        return false;
    handlers.MoveFirst();
    handlers.Find("CallHandlerObjectID", handler);
    return !handlers.Eof();
}

SubscriberSearch::Lookup SubscriberSearch::lookUpAndAdd(const std::string &subscriberObjectId) {
    if (!positionOn(DbValue(subscriberObjectId)))
        return Lookup::NotFound;
    return addPositioned();
}

SubscriberSearch::Lookup SubscriberSearch::addPositioned() {
    switch (addCurrentSubscriber()) {
    case AddResult::Added:
        return Lookup::Added;
    case AddResult::GridFull:
        return Lookup::GridFull;
    case AddResult::NotAdded:
        break;
    }
    return Lookup::NotAdded;
}

// --- the grid ------------------------------------------------------------------------------------

SubscriberSearch::AddResult SubscriberSearch::addCurrentSubscriber() {
    db::Recordset &subscribers = m_db.rsSubscribers();
    db::Recordset &handlers = m_db.rsPrimaryCallHandlers();

    std::int64_t type = 0;
    silently([&] { type = subscribers["SubscriberType"].Long(); });
    if (type != 1 && type != 3)
        return AddResult::NotAdded;

    const std::string alias = fieldText(subscribers, "Alias");
    const std::string firstName = fieldText(subscribers, "FirstName");
    const std::string lastName = fieldText(subscribers, "LastName");
    const std::string displayName = fieldText(subscribers, "DisplayName");
    const std::string extension = fieldText(handlers, "DTMFAccessID");
    const std::string homeServer = fieldText(subscribers, "HomeServer");
    const std::string remoteNodeId = fieldText(subscribers, "RemoteNodeID");
    const std::string legacyMailbox = fieldText(subscribers, "LegacyMailbox");

    std::string cosName;
    silently([&] {
        db::Recordset &cos = m_db.rsCOS();
        cos.MoveFirst();
        cos.Find("CosObjectID", subscribers["COSObjectID"].Value());
        if (!cos.Eof())
            cosName = fieldText(cos, "TextName");
    });

    const std::string objectId = fieldText(subscribers, "SubscriberObjectID");
    const std::string handlerObjectId = fieldText(handlers, "CallHandlerObjectID");

    if (!m_grid.AddItem(std::to_string(m_grid.Rows())))
        return AddResult::GridFull;
    const int row = m_grid.Row;
    m_grid.setChecked(row, true);
    const std::pair<const char *, const std::string *> cells[] = {
        {"Alias", &alias},
        {"DisplayName", &displayName},
        {"FirstName", &firstName},
        {"LastName", &lastName},
        {"Extension", &extension},
        {"HomeServer", &homeServer},
        {"COS", &cosName},
        {"ObjectID", &objectId},
        {"HandlerObjectID", &handlerObjectId},
        {"RemoteNodeID", &remoteNodeId},
        {"LegacyMailbox", &legacyMailbox},
    };
    for (const auto &[key, text] : cells)
        m_grid.setTextMatrix(row, m_grid.ColIndex(key), *text);
    return AddResult::Added;
}

std::string SubscriberSearch::gridFullMessage() const {
    return "The search found more subscribers than the grid can hold.  Only the first " +
           std::to_string(m_grid.rowLimit()) +
           " were added to the grid; narrow the search to reach the others.";
}

void SubscriberSearch::reportGridFull() {
    m_gridFullReported = true;
    message(gridFullMessage());
}

void SubscriberSearch::clearGrid() {
    m_grid.setRows(1);
    rowsReplacedBy({});
}

void SubscriberSearch::rowsReplacedBy(std::string source) {
    m_gridSource = std::move(source);
    if (rowsReplaced)
        rowsReplaced();
}

std::vector<std::vector<std::string>> SubscriberSearch::gridRows() const {
    std::vector<std::vector<std::string>> rows;
    rows.reserve(static_cast<std::size_t>(m_grid.Rows()));
    for (int row = 1; row < m_grid.Rows(); ++row) {
        std::vector<std::string> cells;
        cells.reserve(kListingColumns.size());
        for (const std::string &key : kListingColumns)
            cells.push_back(m_grid.TextMatrix(row, m_grid.ColIndex(key)));
        rows.push_back(std::move(cells));
    }
    return rows;
}

bool SubscriberSearch::readyToHandOver() {
    if (m_busy)
        return false;
    if (m_grid.Rows() < 2) {
        message(res(296));
        return false;
    }
    if (m_grid.firstCheckedRow() == 0) {
        message(kSelectOneToReset);
        return false;
    }
    return true;
}

// --- in the operator's words ---------------------------------------------------------------------

namespace {

std::string withoutColon(std::string text) {
    if (text.ends_with(':'))
        text.pop_back();
    return text;
}

std::string entryAt(const std::vector<std::string> &list, int index) {
    if (index < 0 || index >= static_cast<int>(list.size()))
        return {};
    return list[static_cast<std::size_t>(index)];
}

} // namespace

std::string SubscriberSearch::describe(const SubscriberSelection &selection) const {
    std::string entry;
    for (const CriterionEntry &criterion : kCriteria) {
        if (criterion.code == selection.criterion)
            entry = criterion.text;
    }
    // The criteria's texts lead to their value with a colon.
    entry = withoutColon(std::move(entry));
    switch (selection.criterion) {
    case kCriterionExtensionRange:
        return entry + " " + selection.extensionLow + " " + withoutColon(res(274)) + " " +
               selection.extensionHigh;
    case kCriterionSwitch:
        return entry + ": " + entryAt(m_switchNames, selection.switchNumber - 1);
    case kCriterionCsvFile:
        return entry + ": " + selection.csvPath;
    case kCriterionMailServer:
        return entry + ": " + selection.mailServer;
    case kCriterionClassOfService: {
        const std::string &alias = selection.classOfService;
        return entry + ": " + classOfServiceName(alias) + (alias.empty() ? "" : " (" + alias + ")");
    }
    case kCriterionAllSubscribers:
    case kCriterionNone:
        break;
    }
    return entry;
}

// --- the CSV file --------------------------------------------------------------------------------

void SubscriberSearch::ImportCSV(const std::string &path) {
    const int rowsBefore = gridDataRows();
    int linesRead = 0;
    CsvUnmatchedLines unmatched;
    if (const std::optional<std::string> text = csvText(path)) {
        LineReader lines(*text);
        if (const std::optional<CsvColumns> columns = csvColumns(lines))
            linesRead = importLines(lines, *columns, unmatched);
    }
    if (m_gridFullHit)
        reportGridFull();
    csvSummary(linesRead, rowsBefore);
    // The counts alone do not say which lines to correct; the summary stays as it always was.
    if (!unmatched.empty())
        message(unmatched.message());
}

std::optional<std::string> SubscriberSearch::csvText(const std::string &path) {
    std::optional<std::string> bytes;
    std::string problem = "it cannot be read";
    silently([&] {
        Result<std::string> read = m_host.files->readPlainFile(path, kCsvMaxBytes);
        if (read)
            bytes = std::move(read).value();
        else
            problem = read.error();
    });
    if (!bytes) {
        refuse(res(131) + "\r\n" + m_host.files->nativePath(path) + ": " + problem);
        return std::nullopt;
    }
    return decodeAnsiText(*bytes, m_host.ansiText);
}

std::optional<CsvColumns> SubscriberSearch::csvColumns(LineReader &lines) {
    std::string_view header;
    if (!lines.next(header) || characterCount(header) < 2) {
        refuse(res(130));
        return std::nullopt;
    }
    const CsvColumns columns = findCsvColumns(header, res(300));
    if (!columns.any()) {
        refuse(res(130));
        return std::nullopt;
    }
    return columns;
}

int SubscriberSearch::importLines(LineReader &lines, const CsvColumns &columns,
                                  CsvUnmatchedLines &unmatched) {
    db::Connection connection(m_db.database());
    std::string_view line;
    int linesRead = 0;
    int sinceYield = 0;
    long lineNumber = 1; // the header's; unlike the count read, it does not stop at 32,767
    while (lines.next(line)) {
        linesRead = countLine(linesRead);
        ++lineNumber;
        if (++sinceYield >= kCsvYieldLines) {
            sinceYield = 0;
            if (m_host.ui)
                m_host.ui->doEvents();
        }
        Lookup result = Lookup::NotFound;
        // A line that fails (a lost connection, a value the server refuses) is passed over.
        silently([&] { result = importLine(line, columns.alias, columns.extension, connection); });
        if (result == Lookup::GridFull) {
            m_gridFullHit = true;
            break;
        }
        if (result == Lookup::NotFound && namesSubscriber(line, columns.alias, columns.extension))
            unmatched.add(lineNumber);
    }
    return linesRead;
}

SubscriberSearch::Lookup SubscriberSearch::importLine(std::string_view line, int aliasColumn,
                                                      int extensionColumn,
                                                      db::Connection &connection) {
    const auto fields = splitFields(line);
    auto field = [&](int column) -> std::optional<std::string_view> {
        if (column < 0 || static_cast<std::size_t>(column) >= fields.size())
            return std::nullopt;
        return fields[static_cast<std::size_t>(column)];
    };
    if (!connection.IsOpen())
        connection.Open(m_db.DbConnectionString());

    // Extension first: the first row that leads to a subscriber ends the line.
    // A cell written so that a spreadsheet cannot run it carries a text marker, dropped here.
    if (auto extension = field(extensionColumn);
        extension && isNumericText(csvCellValue(*extension))) {
        db::Recordset query;
        query.CursorLocation(adUseClient);
        query.Open(kCsvExtensionQuery, connection, adOpenKeyset, adLockReadOnly,
                   {std::string(csvCellValue(*extension))});
        while (!query.Eof()) {
            const std::string id = fieldText(query, "SubscriberObjectID");
            if (positionOn(DbValue(id)))
                return addPositioned();
            query.MoveNext();
        }
        query.Close();
    }

    // Alias second: every row that leads to a subscriber is added.
    Lookup result = Lookup::NotFound;
    if (auto alias = field(aliasColumn)) {
        db::Recordset query;
        query.CursorLocation(adUseClient);
        query.Open(kCsvAliasQuery, connection, adOpenForwardOnly, adLockReadOnly,
                   {std::string(csvCellValue(*alias))});
        while (!query.Eof()) {
            if (positionOn(DbValue(fieldText(query, "SubscriberObjectID")))) {
                const AddResult added = addCurrentSubscriber();
                if (added == AddResult::GridFull)
                    return Lookup::GridFull;
                if (added == AddResult::Added)
                    result = Lookup::Added;
            }
            query.MoveNext();
        }
        query.Close();
    }
    return result;
}

void SubscriberSearch::csvSummary(int linesRead, int rowsBefore) {
    message(res(308) + std::to_string(linesRead) + res(309) +
            std::to_string(gridDataRows() - rowsBefore) + res(310));
}

} // namespace zeph
