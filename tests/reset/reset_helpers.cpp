#include "reset_helpers.h"

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
        return m_inner->insertRow(target, columns, values, readBack);
    }
    std::optional<DbRowSet> callProcedure(const std::string &name,
                                          const std::vector<DbParam> &args) override {
        m_owner.calls.push_back({name, args});
        if (auto failing = m_owner.failingProcedures.find(name);
            failing != m_owner.failingProcedures.end())
            throw failing->second;
        std::optional<DbRowSet> rows = m_inner->callProcedure(name, args);
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
    return m_db->inner().connect(tarvoDb->DbConnectionString())->query(text, params, false);
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
