#include "reset_helpers.h"

#include "standin/SimHost.h"
#include "standin/server/StandInServer.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace zeph::test {

namespace fs = std::filesystem;

namespace {

class RecordingConnection : public ForwardingConnection {
public:
    RecordingConnection(RecordingDatabase &owner, std::unique_ptr<IDbConnection> connection)
        : ForwardingConnection(std::move(connection))
        , m_owner(owner) {}

    std::optional<DbRowSet> callProcedure(const std::string &name,
                                          const std::vector<DbParam> &args) override {
        m_owner.calls.push_back({name, args});
        m_owner.requests.push_back("call " + name);
        return inner().callProcedure(name, args);
    }
    DbRowSet query(const std::string &sql, const std::vector<DbValue> &params,
                   bool readOnly) override {
        m_owner.requests.push_back((readOnly ? "read " : "query ") + sql);
        return inner().query(sql, params, readOnly);
    }
    void updateRow(const std::string &target, const std::vector<std::string> &keyColumns,
                   const std::vector<DbValue> &keyValues, const std::vector<std::string> &columns,
                   const std::vector<DbValue> &values) override {
        m_owner.requests.push_back("save " + target);
        inner().updateRow(target, keyColumns, keyValues, columns, values);
    }
    std::int64_t updateWhere(const DbRowsChange &change) override {
        m_owner.requests.push_back("change " + change.target);
        return inner().updateWhere(change);
    }
    std::optional<std::vector<DbValue>>
    insertRow(const std::string &target, const std::vector<std::string> &columns,
              const std::vector<DbValue> &values,
              const std::vector<std::string> &readBack) override {
        m_owner.requests.push_back("add " + target);
        return inner().insertRow(target, columns, values, readBack);
    }

private:
    RecordingDatabase &m_owner;
};

bool holdsAny(const std::string &text, const std::vector<std::string> &parts) {
    for (const std::string &part : parts) {
        if (!part.empty() && text.find(part) != std::string::npos)
            return true;
    }
    return false;
}

std::optional<std::string> optionalText(const DbValue &v) {
    return db::isNull(v) ? std::nullopt : std::optional<std::string>(db::valueText(v));
}

} // namespace

std::unique_ptr<IDbConnection> RecordingDatabase::connect(const std::string &connectionText) {
    return std::make_unique<RecordingConnection>(*this, inner().connect(connectionText));
}

const ProcedureCall &RecordingDatabase::lastCall(const std::string &name) const {
    for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
        if (it->name == name)
            return *it;
    }
    ADD_FAILURE() << "no call of " << name;
    static const ProcedureCall none;
    return none;
}

std::vector<std::string> readLogFile(const std::string &nativePath) {
    std::ostringstream s;
    s << std::ifstream(nativePath, std::ios::binary).rdbuf();
    const std::string content = s.str();
    std::vector<std::string> lines;
    std::size_t start = 0, end;
    while ((end = content.find("\r\n", start)) != std::string::npos) {
        lines.push_back(content.substr(start, end - start));
        start = end + 2;
    }
    EXPECT_EQ(start, content.size()) << "the file does not end with CR LF";
    return lines;
}

std::vector<std::string> withoutEnd(const std::vector<std::string> &lines) {
    return {lines.begin(), lines.end() - std::min<std::ptrdiff_t>(4, lines.size())};
}

std::vector<std::string> afterRemovalLines() {
    return {"    Removing subscriber from SQL",
            "    Directory sync complete for removal",
            "    Adding subscriber back to SQL with new template settings",
            "    User created in SQL",
            "    Updating global subscriber table with new ObjectID values",
            "    Subscriber synch with directory started.",
            "    Directory sync complete for creation"};
}

void expectSame(const Snapshot &before, const Snapshot &after) {
    int shown = 0;
    for (auto [from, to, what] :
         {std::tuple{&before, &after, "gone or changed"}, {&after, &before, "new or changed"}}) {
        for (const auto &[name, items] : *from) {
            for (const auto &item : items) {
                if ((!to->count(name) || !to->at(name).count(item)) && shown++ < 8)
                    ADD_FAILURE() << name << ": " << what << ": " << item.substr(0, 300);
            }
        }
    }
}

ResetBench::ResetBench(int subscribers,
                       const std::vector<std::pair<std::string, std::string>> &settings)
    : temp(subscribers, 1) {
    temp.set("virtual-time", "on");
    for (const auto &[name, value] : settings)
        temp.set(name, value);
    Host &h = host();
    auto database = std::make_unique<RecordingDatabase>(std::move(h.database));
    m_db = database.get();
    h.database = std::move(database);
    registry = std::make_unique<RegistryAPI>(*h.registry);
    log = std::make_unique<Logging>(h);
    reopenTables();
    templateAlias = sqlText("SELECT Alias FROM vw_SubscriberTemplate ORDER BY Alias");
}

void ResetBench::reopenTables() {
    Host &h = host();
    page.reset();
    tarvoDb = std::make_unique<db::modTarvoDB>(*h.database);
    if (!tarvoDb->bOpenDatabase(tarvoDb->DbConnectionString()))
        throw std::runtime_error("the cached tables do not open");
    // As the wizard's pages hand it over when the button is pressed.
    auto handOver = [this] {
        ResetRequest request;
        request.templateAlias = templateAlias;
        request.preserveAlternateExtensions = preserve;
        request.subscribers = grid.tickedSubscribers();
        return request;
    };
    page = std::make_unique<ResetPage>(h, *registry, *tarvoDb, *log, handOver);
    page->Form_Load();
}

void ResetBench::addRow(const std::string &objectId, bool checked, const char *alias) {
    const SubscriberFacts f = alias ? SubscriberFacts() : facts(objectId);
    grid.AddItem(std::to_string(grid.Rows()));
    const int row = grid.Rows() - 1;
    grid.setChecked(row, checked);
    grid.setTextMatrix(row, grid.ColIndex("Alias"), alias ? alias : f.alias);
    grid.setTextMatrix(row, grid.ColIndex("ObjectID"), objectId);
    grid.setTextMatrix(row, grid.ColIndex("Extension"), f.extension);
}

int ResetBench::addOrdinaryRows(int count) {
    int added = 0;
    for (const auto &row : sql("SELECT SubscriberObjectID FROM Subscriber ORDER BY Alias").rows) {
        if (added == count)
            break;
        const SubscriberFacts f = facts(db::valueText(row[0]));
        if (ordinary(f)) {
            addRow(f.objectId);
            ++added;
        }
    }
    return added;
}

std::vector<std::string> ResetBench::run() {
    ui().expectBox(ResetPage::kConfirmation, MsgAnswer::Yes);
    ui().expectBox(" error(s) encountered.", MsgAnswer::Cancel);
    page->cmdResetSubscribers_Click();
    ui().verifyAllShown();
    // The run's own lines follow the log's 12 header lines.
    std::vector<std::string> lines = readLogFile(host().files->nativePath(log->LogFilePath()));
    return {lines.begin() + std::min<std::size_t>(12, lines.size()), lines.end()};
}

DbRowSet ResetBench::sql(const std::string &text, const std::vector<DbValue> &params,
                         bool readOnly) {
    return m_db->inner().connect(tarvoDb->DbConnectionString())->query(text, params, readOnly);
}

std::string ResetBench::sqlText(const std::string &text, const std::vector<DbValue> &params) {
    DbRowSet rows = sql(text, params);
    return rows.rows.empty() ? "" : optionalText(rows.rows.front().front()).value_or("");
}

long ResetBench::sqlCount(const std::string &text, const std::vector<DbValue> &params) {
    DbRowSet rows = sql(text, params);
    return rows.rows.empty() ? 0 : static_cast<long>(db::valueLong(rows.rows.front().front()));
}

std::vector<std::string> ResetBench::serverProblems() {
    auto problems = sqlite::checkServerDatabase(sim::databasePath(temp.folder()));
    EXPECT_TRUE(problems) << (problems ? "" : problems.error());
    return problems.valueOr(std::vector<std::string>{"not checked"});
}

Snapshot ResetBench::snapshot(const std::vector<std::string> &exclude) {
    Snapshot snap;
    for (const auto &t : sql("SELECT name FROM sqlite_master WHERE type='table'").rows) {
        const std::string table = db::valueText(t[0]);
        if (table == "DirectorySyncTicket") // tickets come and go with every wait
            continue;
        auto &rows = snap[table];
        for (const auto &r : sql("SELECT * FROM " + table).rows) {
            std::string text;
            for (const DbValue &v : r)
                text += optionalText(v).value_or("<NULL>") + " | ";
            if (!holdsAny(text, exclude))
                rows.insert(text);
        }
    }
    for (const char *sub : {"/Pradix", "/mailstore"}) {
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(temp.folder() + sub, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            const std::string path = it->path().string();
            if (holdsAny(path, exclude))
                continue;
            snap[path].insert(it->is_directory() ? "<folder>" : TempHost::fileDigest(path));
        }
    }
    return snap;
}

SubscriberFacts ResetBench::facts(const std::string &objectId) {
    DbRowSet rows = sql("SELECT Alias, CallHandlerObjectID, DirectoryID, DTMFAccessID, HomeServer, "
                        "StreamPath, SMTPAddress FROM vw_Subscriber WHERE SubscriberObjectID=?",
                        {objectId});
    SubscriberFacts f;
    f.objectId = objectId;
    if (rows.rows.empty()) {
        ADD_FAILURE() << "no subscriber " << objectId;
        return f;
    }
    const auto &r = rows.rows.front();
    std::size_t c = 0;
    for (auto *field : {&f.alias, &f.callHandlerId, &f.directoryId, &f.extension, &f.homeServer})
        *field = optionalText(r[c++]).value_or("");
    f.voiceName = optionalText(r[5]);
    f.smtpAddress = optionalText(r[6]);
    return f;
}

std::string ResetBench::streamRoot() {
    return regText(registry->QueryValue(HKEY_LOCAL_MACHINE, kPradixKey, kRootPathValue, REG_SZ,
                                        std::string())) +
           "Stream Files\\";
}

std::string ResetBench::recordingFile(const std::string &streamPath) {
    IFileSystem &files = *host().files;
    for (const std::string &path : {streamRoot() + streamPath, streamPath}) {
        if (files.fileExists(path))
            return files.nativePath(path);
    }
    return {};
}

std::string ResetBench::mailboxFolder(const SubscriberFacts &s) {
    return sim::mailstorePath(temp.folder()) + "/" + s.homeServer + "/" +
           s.smtpAddress.value_or("");
}

int ResetBench::messagesOf(const SubscriberFacts &s, const char *folder) {
    if (!folder)
        return messagesOf(s, "Inbox") + messagesOf(s, "Sent Items") +
               messagesOf(s, "Deleted Items");
    std::error_code ec;
    int n = 0;
    for (fs::directory_iterator it(mailboxFolder(s) + "/" + folder, ec), end; !ec && it != end;
         it.increment(ec))
        ++n;
    return n;
}

std::vector<std::string> ResetBench::expectedLinesBeforeRemoval(const SubscriberFacts &s) {
    std::vector<std::string> lines = {"** Resetting Subscriber **", "    Alias=" + s.alias,
                                      "    ObjectID=" + s.objectId,
                                      "    Checking for DTMFAccessID uniqueness in dialing "
                                      "domain for this user"};
    // Recordings: the voice name, then the greetings in the order the run reads them.
    if (!s.voiceName) {
        lines.push_back("    Subscriber has no voice name recorded.");
    } else {
        lines.push_back("    removing voice name from file system");
        IFileSystem &files = *host().files;
        if (files.fileExists(streamRoot() + *s.voiceName))
            lines.push_back("    Deleting " + streamRoot() + *s.voiceName);
        else if (files.fileExists(*s.voiceName))
            lines.push_back("    Deleting " + *s.voiceName);
        else
            lines.push_back("    wav file not found on system");
    }
    DbRowSet rules = sql("SELECT Alias, StreamPath FROM MessagingRule WHERE ParentObjectID=?",
                         {s.callHandlerId});
    for (const auto &r : rules.rows) {
        if (db::isNull(r[1])) {
            lines.push_back("    " + db::valueText(r[0]) + " greeting is not recorded");
            continue;
        }
        lines.push_back("    removing greeting WAV from file system:" + db::valueText(r[0]));
        if (recordingFile(db::valueText(r[1])).empty())
            lines.push_back("    wav file not found on system");
    }
    const std::string smtp = s.smtpAddress.value_or("");
    const std::string where = smtp + " and Exchange server name=" + s.homeServer +
                              ".  Make sure you are logged into the system with an account that "
                              "has send as/receive as and full mailstore rights on all mailstores "
                              "that home subscribers.";
    if (!s.smtpAddress) {
        lines.push_back("(error) subscriber has no SMTP address in SQL - this usually means they "
                        "did not get a mailbox created in the mailstore propertly.  Skipping "
                        "message removal");
        return lines;
    }
    lines.push_back("    Removing messages for user with SMTP=" + smtp);
    if (!host().mail || !host().mail->createSession()) {
        lines.push_back("(error) could not log into mailbox with SMTP address=" + where);
    } else if (!fs::is_directory(mailboxFolder(s))) {
        lines.push_back("(error) would not resolve the mailbox an SMTP address=" + where);
    } else {
        auto count = [&](const char *folder) { return std::to_string(messagesOf(s, folder)); };
        lines.insert(lines.end(),
                     {"        User has " + count("Inbox") + " messages in their inbox - deleting",
                      "        Inbox messages deleted",
                      "        User has " + count("Sent Items") +
                          " messages in their sent items folder - deleting",
                      "        Sent items messages deleted",
                      "        User has " + count("Deleted Items") +
                          " messages in their deleted items folder - deleting",
                      "        deleted items folder messages deleted", "    user mailbox cleaned"});
        return lines;
    }
    lines.push_back("(error) mailbox messages for subscriber could not be removed.");
    return lines;
}

SubscriberFacts ResetBench::find(const std::function<bool(const SubscriberFacts &)> &is) {
    for (const auto &r : sql("SELECT SubscriberObjectID FROM vw_Subscriber WHERE SubscriberType "
                             "IN (1, 3) ORDER BY Alias")
                             .rows) {
        if (SubscriberFacts f = facts(db::valueText(r[0])); is(f))
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
    return sqlCount("SELECT Undeletable FROM Subscriber WHERE SubscriberObjectID=?", {s.objectId});
}

bool ResetBench::ordinary(const SubscriberFacts &s) {
    return !s.directoryId.empty() && s.smtpAddress && fs::is_directory(mailboxFolder(s)) &&
           !conflicting(s) && !undeletable(s);
}

} // namespace zeph::test
