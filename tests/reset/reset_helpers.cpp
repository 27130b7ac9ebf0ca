#include "reset_helpers.h"

#include "platform/sim/SimHost.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace zeph::test {

namespace {

class FaultyConnection : public IDbConnection {
public:
    FaultyConnection(FaultyDatabase &owner, std::unique_ptr<IDbConnection> inner)
        : m_owner(owner)
        , m_inner(std::move(inner)) {}

    DbRowSet query(const std::string &sql, const std::vector<DbValue> &params,
                   bool readOnly) override {
        m_owner.queries.push_back(sql);
        for (const std::string &part : m_owner.failingQueries) {
            if (sql.find(part) != std::string::npos)
                throw Error(-2147217900, "Invalid object name in query: " + part);
        }
        return m_inner->query(sql, params, readOnly);
    }
    void updateRow(const std::string &target, const std::vector<std::string> &keyColumns,
                   const std::vector<DbValue> &keyValues, const std::vector<std::string> &columns,
                   const std::vector<DbValue> &values) override {
        m_inner->updateRow(target, keyColumns, keyValues, columns, values);
    }
    std::optional<std::vector<DbValue>>
    insertRow(const std::string &target, const std::vector<std::string> &columns,
              const std::vector<DbValue> &values,
              const std::vector<std::string> &readBack) override {
        for (const DbValue &v : values) {
            if (const auto *text = std::get_if<std::string>(&v);
                text && m_owner.refusedInsertValues.count(*text))
                throw Error(-2147217873, "Violation of UNIQUE KEY constraint: " + *text);
        }
        return m_inner->insertRow(target, columns, values, readBack);
    }
    std::optional<DbRowSet> callProcedure(const std::string &name,
                                          const std::vector<DbParam> &args) override {
        m_owner.calls.push_back({name, args, std::nullopt});
        if (auto failing = m_owner.failingProcedures.find(name);
            failing != m_owner.failingProcedures.end())
            throw failing->second;
        std::optional<DbRowSet> rows = m_inner->callProcedure(name, args);
        m_owner.calls.back().result = rows;
        if (rows && m_owner.procedureWithoutRows.count(name))
            rows->rows.clear();
        return rows;
    }

private:
    FaultyDatabase &m_owner;
    std::unique_ptr<IDbConnection> m_inner;
};

} // namespace

std::optional<DbValue> ProcedureCall::arg(const std::string &argName) const {
    for (const DbParam &p : args) {
        if (p.name == argName)
            return p.value;
    }
    return std::nullopt;
}

std::unique_ptr<IDbConnection> FaultyDatabase::connect(const std::string &connectionText) {
    return std::make_unique<FaultyConnection>(*this, m_inner->connect(connectionText));
}

int FaultyDatabase::callCount(const std::string &name) const {
    int n = 0;
    for (const ProcedureCall &c : calls)
        n += c.name == name ? 1 : 0;
    return n;
}

int FaultyDatabase::queryCount(const std::string &part) const {
    int n = 0;
    for (const std::string &q : queries)
        n += q.find(part) != std::string::npos ? 1 : 0;
    return n;
}

const ProcedureCall &FaultyDatabase::lastCall(const std::string &name) const {
    for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
        if (it->name == name)
            return *it;
    }
    ADD_FAILURE() << "no call of " << name;
    static const ProcedureCall none;
    return none;
}

void FailingDeletes::deleteFile(const std::string &p, bool force) {
    deletions.emplace_back(p, force);
    for (const std::string &part : refuseParts) {
        if (p.find(part) != std::string::npos)
            throw Error(errnum::kPermissionDenied, "Permission denied");
    }
    m_inner->deleteFile(p, force);
}

std::vector<std::string> readLogFile(const std::string &nativePath) {
    std::ifstream in(nativePath, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    std::string content = s.str();
    std::vector<std::string> lines;
    std::size_t start = 0;
    std::size_t end;
    while ((end = content.find("\r\n", start)) != std::string::npos) {
        lines.push_back(content.substr(start, end - start));
        start = end + 2;
    }
    EXPECT_EQ(start, content.size()) << "the log does not end with CR LF";
    return lines;
}

std::vector<std::string> runLinesOf(const std::vector<std::string> &fileLines) {
    constexpr std::size_t kHeaderLines = 12;
    if (fileLines.size() < kHeaderLines)
        return {};
    return {fileLines.begin() + kHeaderLines, fileLines.end()};
}

ResetBench::ResetBench(int subscribers, unsigned seed,
                       const std::vector<std::pair<std::string, std::string>> &settings)
    : temp(subscribers, seed) {
    temp.set("virtual-time", "on");
    for (const auto &[name, value] : settings)
        temp.set(name, value);
    Host &h = host();
    auto database = std::make_unique<FaultyDatabase>(std::move(h.database));
    m_db = database.get();
    h.database = std::move(database);
    auto files = std::make_unique<FailingDeletes>(std::move(h.files));
    m_files = files.get();
    h.files = std::move(files);
    auto shell = std::make_unique<RecordingShell>();
    m_shell = shell.get();
    h.shell = std::move(shell);

    registry = std::make_unique<RegistryAPI>(*h.registry);
    tarvoDb = std::make_unique<db::modTarvoDB>(*h.database);
    if (!tarvoDb->bOpenDatabase(tarvoDb->DbConnectionString()))
        throw std::runtime_error("the cached tables do not open");
    log = std::make_unique<Logging>(h);
    DbRowSet templates = sql("SELECT Alias FROM vw_SubscriberTemplate ORDER BY Alias");
    if (!templates.rows.empty())
        templateAlias = db::valueText(templates.rows.front().front());

    ResetInputs inputs;
    inputs.grid = [this]() -> const SubscriberGrid & { return grid; };
    inputs.templateAlias = [this] { return templateAlias; };
    inputs.preserveAlternateExtensions = [this] { return preserve; };
    page = std::make_unique<ResetPage>(h, *registry, *tarvoDb, *log, inputs);
    page->Form_Load();
}

ResetBench::~ResetBench() = default;

void ResetBench::addRawRow(const std::string &alias, const std::string &objectId, bool checked) {
    grid.AddItem(std::to_string(grid.Rows()));
    int row = grid.Rows() - 1;
    grid.setChecked(row, checked);
    grid.setTextMatrix(row, grid.ColIndex("Alias"), alias);
    grid.setTextMatrix(row, grid.ColIndex("ObjectID"), objectId);
}

void ResetBench::addRow(const std::string &objectId, bool checked) {
    std::string alias =
        sqlText("SELECT Alias FROM vw_Subscriber WHERE SubscriberObjectID=?", {objectId});
    addRawRow(alias, objectId, checked);
}

std::vector<std::string> ResetBench::run(MsgAnswer closing) {
    ui().expectBox(ResetPage::kConfirmation, MsgAnswer::Yes);
    ui().expectBox("Subscriber mailbox reset process complete, reset ", closing);
    page->cmdResetSubscribers_Click();
    ui().verifyAllShown();
    return runLinesOf(readLogFile(host().files->nativePath(log->LogFilePath())));
}

std::string ResetBench::closingMessage() const {
    return page->summary() ? page->summary()->closingMessage : std::string();
}

DbRowSet ResetBench::sql(const std::string &text, const std::vector<DbValue> &params) {
    // Read-only: the rows come without the key columns an updatable set would carry.
    return m_db->inner().connect(tarvoDb->DbConnectionString())->query(text, params, true);
}

void ResetBench::exec(const std::string &text, const std::vector<DbValue> &params) {
    m_db->inner().connect(tarvoDb->DbConnectionString())->query(text, params, false);
}

std::string ResetBench::sqlText(const std::string &text, const std::vector<DbValue> &params) {
    DbRowSet rows = sql(text, params);
    if (rows.rows.empty() || rows.rows.front().empty() || db::isNull(rows.rows.front().front()))
        return {};
    return db::valueText(rows.rows.front().front());
}

long ResetBench::sqlCount(const std::string &text, const std::vector<DbValue> &params) {
    DbRowSet rows = sql(text, params);
    return rows.rows.empty() ? 0 : static_cast<long>(db::valueLong(rows.rows.front().front()));
}

std::vector<std::pair<std::string, std::string>> ResetBench::subscribers() {
    std::vector<std::pair<std::string, std::string>> out;
    DbRowSet rows = sql("SELECT Alias, SubscriberObjectID FROM vw_Subscriber WHERE "
                        "SubscriberType IN (1, 3) ORDER BY Alias");
    for (const auto &r : rows.rows)
        out.emplace_back(db::valueText(r[0]), db::valueText(r[1]));
    return out;
}

std::string ResetBench::rootPath() {
    return regText(registry->QueryValue(HKEY_LOCAL_MACHINE, kPradixKey, kRootPathValue, REG_SZ,
                                        std::string()));
}

} // namespace zeph::test

namespace zeph::test {

namespace {

std::optional<std::string> optionalText(const DbValue &v) {
    if (db::isNull(v))
        return std::nullopt;
    return db::valueText(v);
}

} // namespace

SubscriberFacts ResetBench::facts(const std::string &objectId) {
    DbRowSet rows = sql("SELECT Alias, CallHandlerObjectID, DirectoryID, DTMFAccessID, StreamPath, "
                        "SMTPAddress, HomeServer FROM vw_Subscriber WHERE SubscriberObjectID=?",
                        {objectId});
    SubscriberFacts f;
    f.objectId = objectId;
    if (rows.rows.empty()) {
        ADD_FAILURE() << "no subscriber " << objectId;
        return f;
    }
    const auto &r = rows.rows.front();
    f.alias = optionalText(r[0]).value_or("");
    f.callHandlerId = optionalText(r[1]).value_or("");
    f.directoryId = optionalText(r[2]).value_or("");
    f.extension = optionalText(r[3]).value_or("");
    f.voiceName = optionalText(r[4]);
    f.smtpAddress = optionalText(r[5]);
    f.homeServer = optionalText(r[6]).value_or("");
    return f;
}

std::string ResetBench::recordingFile(const std::string &streamPath) {
    IFileSystem &files = *host().files;
    std::string root = rootPath() + "Stream Files\\";
    if (files.fileExists(root + streamPath))
        return files.nativePath(root + streamPath);
    if (files.fileExists(streamPath))
        return files.nativePath(streamPath);
    return {};
}

std::vector<std::string> ResetBench::expectedRecordingLines(const SubscriberFacts &s) {
    std::vector<std::string> lines;
    std::string root = rootPath() + "Stream Files\\";
    IFileSystem &files = *host().files;
    if (!s.voiceName) {
        lines.push_back("    Subscriber has no voice name recorded.");
    } else {
        lines.push_back("    removing voice name from file system");
        if (files.fileExists(root + *s.voiceName))
            lines.push_back("    Deleting " + root + *s.voiceName);
        else if (files.fileExists(*s.voiceName))
            lines.push_back("    Deleting " + *s.voiceName);
        else
            lines.push_back("    wav file not found on system");
    }
    // The same query as the run's, so the rows come in the same order.
    DbRowSet rules = sql("SELECT * FROM MessagingRule WHERE ParentObjectID=?", {s.callHandlerId});
    std::size_t alias = 0, path = 0;
    for (std::size_t c = 0; c < rules.columns.size(); ++c) {
        if (db::equalsIgnoreCase(rules.columns[c].name, "Alias"))
            alias = c;
        if (db::equalsIgnoreCase(rules.columns[c].name, "StreamPath"))
            path = c;
    }
    if (rules.rows.empty())
        lines.push_back("(error) could not find messaging rules for current subscriber");
    for (const auto &r : rules.rows) {
        std::string name = db::valueText(r[alias]);
        if (db::isNull(r[path])) {
            lines.push_back("    " + name + " greeting is not recorded");
            continue;
        }
        lines.push_back("    removing greeting WAV from file system:" + name);
        if (recordingFile(db::valueText(r[path])).empty())
            lines.push_back("    wav file not found on system");
    }
    return lines;
}

std::string ResetBench::mailboxFolder(const SubscriberFacts &s) {
    return sim::mailstorePath(temp.folder()) + "/" + s.homeServer + "/" +
           s.smtpAddress.value_or("");
}

int ResetBench::messagesIn(const SubscriberFacts &s, const std::string &folder) {
    std::error_code ec;
    int n = 0;
    for (std::filesystem::directory_iterator it(mailboxFolder(s) + "/" + folder, ec), end;
         !ec && it != end; it.increment(ec))
        ++n;
    return n;
}

std::vector<std::string> ResetBench::expectedMailboxLines(const SubscriberFacts &s) {
    return {
        "    Removing messages for user with SMTP=" + s.smtpAddress.value_or(""),
        "        User has " + std::to_string(messagesIn(s, "Inbox")) +
            " messages in their inbox - deleting",
        "        Inbox messages deleted",
        "        User has " + std::to_string(messagesIn(s, "Sent Items")) +
            " messages in their sent items folder - deleting",
        "        Sent items messages deleted",
        "        User has " + std::to_string(messagesIn(s, "Deleted Items")) +
            " messages in their deleted items folder - deleting",
        "        deleted items folder messages deleted",
        "    user mailbox cleaned",
    };
}

} // namespace zeph::test

namespace zeph::test {

namespace {

bool holdsAny(const std::string &text, const std::vector<std::string> &parts) {
    for (const std::string &part : parts) {
        if (!part.empty() && text.find(part) != std::string::npos)
            return true;
    }
    return false;
}

} // namespace

Snapshot ResetBench::snapshot(const std::vector<std::string> &exclude) {
    Snapshot snap;
    DbRowSet tables = sql("SELECT name FROM sqlite_master WHERE type='table' ORDER BY name");
    for (const auto &t : tables.rows) {
        std::string table = db::valueText(t[0]);
        // Sync tickets come and go with every wait.
        if (table == "DirectorySyncTicket")
            continue;
        auto &rows = snap.tables[table];
        for (const auto &r : sql("SELECT * FROM " + table).rows) {
            std::string text;
            for (const DbValue &v : r)
                text += (db::isNull(v) ? std::string("<NULL>") : db::valueText(v)) + " | ";
            if (!holdsAny(text, exclude))
                rows.insert(text);
        }
    }
    namespace fs = std::filesystem;
    for (const char *sub : {"/Pradix", "/mailstore"}) {
        std::error_code ec;
        fs::path base = fs::path(temp.folder() + sub);
        for (auto it = fs::recursive_directory_iterator(base, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            std::string path = it->path().string();
            if (holdsAny(path, exclude))
                continue;
            if (it->is_directory()) {
                snap.files[path] = "<folder>";
                continue;
            }
            std::ifstream in(path, std::ios::binary);
            std::ostringstream content;
            content << in.rdbuf();
            snap.files[path] = content.str();
        }
    }
    return snap;
}

void expectSame(const Snapshot &before, const Snapshot &after) {
    for (const auto &[table, rows] : before.tables) {
        auto it = after.tables.find(table);
        if (it == after.tables.end()) {
            ADD_FAILURE() << "table " << table << " is gone";
            continue;
        }
        if (rows == it->second)
            continue;
        int shown = 0;
        for (const std::string &row : rows) {
            if (!it->second.count(row) && shown++ < 5)
                ADD_FAILURE() << table << ": row gone or changed: " << row;
        }
        for (const std::string &row : it->second) {
            if (!rows.count(row) && shown++ < 10)
                ADD_FAILURE() << table << ": row new or changed: " << row;
        }
        if (shown == 0)
            ADD_FAILURE() << table << ": rows repeated differently";
    }
    if (before.files != after.files) {
        int shown = 0;
        for (const auto &[path, content] : before.files) {
            auto it = after.files.find(path);
            if ((it == after.files.end() || it->second != content) && shown++ < 5)
                ADD_FAILURE() << "file gone or changed: " << path;
        }
        for (const auto &[path, content] : after.files) {
            if (!before.files.count(path) && shown++ < 10)
                ADD_FAILURE() << "file new: " << path;
        }
    }
}

} // namespace zeph::test

namespace zeph::test {

SubscriberFacts ResetBench::find(const std::function<bool(const SubscriberFacts &)> &is) {
    for (const auto &[alias, id] : subscribers()) {
        SubscriberFacts f = facts(id);
        if (is(f))
            return f;
    }
    ADD_FAILURE() << "the seeded host has no such subscriber";
    return {};
}

bool ResetBench::conflicting(const SubscriberFacts &s) {
    return sqlCount("SELECT COUNT(*) FROM vw_DTMFAccessID_DialingDomain WHERE DTMFAccessID=?",
                    {s.extension}) >= 2;
}

bool ResetBench::undeletable(const SubscriberFacts &s) {
    return sqlText("SELECT Undeletable FROM Subscriber WHERE SubscriberObjectID=?", {s.objectId}) ==
           "1";
}

bool ResetBench::ordinary(const SubscriberFacts &s) {
    return !s.directoryId.empty() && s.smtpAddress &&
           std::filesystem::is_directory(mailboxFolder(s)) && !conflicting(s) && !undeletable(s);
}

std::pair<std::string, std::string> ResetBench::lastCreatedIds() {
    std::pair<std::string, std::string> ids;
    const ProcedureCall &call = db().lastCall("sp_CreateSubscriber");
    if (!call.result || call.result->rows.size() != 1)
        return ids;
    for (std::size_t c = 0; c < call.result->columns.size(); ++c) {
        const std::string &name = call.result->columns[c].name;
        if (db::equalsIgnoreCase(name, "SubscriberObjectID"))
            ids.first = db::valueText(call.result->rows[0][c]);
        if (db::equalsIgnoreCase(name, "CallHandlerObjectID"))
            ids.second = db::valueText(call.result->rows[0][c]);
    }
    return ids;
}

std::vector<std::string> ResetBench::expectedLinesBeforeRemoval(const SubscriberFacts &s,
                                                                bool preserveThem) {
    std::vector<std::string> lines = {"** Resetting Subscriber **", "    Alias=" + s.alias,
                                      "    ObjectID=" + s.objectId,
                                      "    Checking for DTMFAccessID uniqueness in dialing "
                                      "domain for this user"};
    if (preserveThem) {
        lines.push_back("    User has opted to preserve alternate extensions - saving them off");
        DbRowSet alternates = sql(
            "SELECT * FROM vw_DTMFAccessID WHERE ParentObjectID=? and IsPrimaryID=0", {s.objectId});
        std::size_t digits = 0;
        for (std::size_t c = 0; c < alternates.columns.size(); ++c) {
            if (db::equalsIgnoreCase(alternates.columns[c].name, "DTMFAccessID"))
                digits = c;
        }
        if (alternates.rows.empty()) {
            lines.push_back("    No alternate extensions found for this user");
        } else {
            lines.push_back("    " + std::to_string(alternates.rows.size()) +
                            " alternate extensiosn found for user - saving");
            for (const auto &r : alternates.rows)
                lines.push_back("        " + db::valueText(r[digits]));
        }
    }
    for (const std::string &line : expectedRecordingLines(s))
        lines.push_back(line);
    const std::string advice = ".  Make sure you are logged into the system with an account that "
                               "has send as/receive as and full mailstore rights on all mailstores "
                               "that home subscribers.";
    if (!s.smtpAddress) {
        lines.push_back("(error) subscriber has no SMTP address in SQL - this usually means they "
                        "did not get a mailbox created in the mailstore propertly.  Skipping "
                        "message removal");
    } else if (!host().mail || !host().mail->createSession()) {
        lines.push_back("    Removing messages for user with SMTP=" + *s.smtpAddress);
        lines.push_back("(error) could not log into mailbox with SMTP address=" + *s.smtpAddress +
                        " and Exchange server name=" + s.homeServer + advice);
        lines.push_back("(error) mailbox messages for subscriber could not be removed.");
    } else if (!std::filesystem::is_directory(mailboxFolder(s))) {
        lines.push_back("    Removing messages for user with SMTP=" + *s.smtpAddress);
        lines.push_back("(error) would not resolve the mailbox an SMTP address=" + *s.smtpAddress +
                        " and Exchange server name=" + s.homeServer + advice);
        lines.push_back("(error) mailbox messages for subscriber could not be removed.");
    } else {
        for (const std::string &line : expectedMailboxLines(s))
            lines.push_back(line);
    }
    return lines;
}

} // namespace zeph::test
