#include "select_helpers.h"

#include "platform/sim/SimHost.h"

#include <sqlite3.h>

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <stdexcept>

namespace zeph::test {

namespace {

std::string idFor(const char *kind, int n) {
    char text[64];
    std::snprintf(text, sizeof text, "{%s-0000-0000-0000-%012d}", kind, n);
    return text;
}

class RawDb {
public:
    explicit RawDb(const std::string &path) {
        if (sqlite3_open(path.c_str(), &m_db) != SQLITE_OK)
            throw std::runtime_error("cannot open " + path);
    }
    ~RawDb() { sqlite3_close(m_db); }

    void run(const std::string &sql, const std::vector<DbValue> &params = {},
             std::vector<std::string> *firstColumn = nullptr) {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
            throw std::runtime_error(sql + ": " + sqlite3_errmsg(m_db));
        for (std::size_t i = 0; i < params.size(); ++i) {
            const int at = static_cast<int>(i) + 1;
            if (auto s = std::get_if<std::string>(&params[i]))
                sqlite3_bind_text(stmt, at, s->c_str(), static_cast<int>(s->size()),
                                  SQLITE_TRANSIENT);
            else if (auto n = std::get_if<std::int64_t>(&params[i]))
                sqlite3_bind_int64(stmt, at, *n);
            else
                sqlite3_bind_null(stmt, at);
        }
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            if (firstColumn) {
                auto text = sqlite3_column_text(stmt, 0);
                firstColumn->push_back(text ? reinterpret_cast<const char *>(text) : "");
            }
        }
        const std::string error = sqlite3_errmsg(m_db);
        sqlite3_finalize(stmt);
        if (rc != SQLITE_DONE)
            throw std::runtime_error(sql + ": " + error);
    }

private:
    sqlite3 *m_db = nullptr;
};

DbValue optionalText(const std::optional<std::string> &text) {
    return text ? DbValue(*text) : DbValue();
}

} // namespace

SelectionHost::SelectionHost(int subscribers, unsigned seed)
    : m_temp(subscribers, seed) {}

PlantedSubscriber SelectionHost::plant(PlantedSubscriber s) {
    ++m_planted;
    s.objectId = idFor("5EB5C000", m_planted);
    s.handlerId = idFor("C0A11000", m_planted);
    if (s.displayName.empty())
        s.displayName = "Display " + s.alias;
    RawDb db(sim::databasePath(m_temp.folder()));
    db.run("INSERT INTO Subscriber (SubscriberObjectID, Alias, SubscriberType, DisplayName, "
           "FirstName, LastName, HomeServer, LegacyMailbox, RemoteNodeID, CallHandlerObjectID, "
           "COSObjectID, LocationObjectID, SwitchID) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?)",
           {s.objectId, s.alias, std::int64_t{s.type}, s.displayName, s.firstName, s.lastName,
            optionalText(s.homeServer), optionalText(s.legacyMailbox), optionalText(s.remoteNodeId),
            s.handlerId, s.cosId.empty() ? DbValue() : DbValue(s.cosId), s.location,
            s.switchId ? DbValue(std::int64_t{*s.switchId}) : DbValue()});
    db.run("INSERT INTO CallHandler (CallHandlerObjectID, Alias, DisplayName, IsPrimary, "
           "LocationObjectID) VALUES (?,?,?,1,?)",
           {s.handlerId, "ch_" + s.alias, s.displayName, s.location});
    auto addExtension = [&](const std::string &digits, bool primary) {
        db.run("INSERT INTO DTMFAccessID (ParentObjectID, ParentObjectIDType, DTMFAccessID, "
               "IsPrimaryID, LocationObjectID) VALUES (?,1,?,?,?)",
               {s.objectId, digits, std::int64_t{primary ? 1 : 0}, s.location});
    };
    if (!s.extension.empty())
        addExtension(s.extension, true);
    for (const std::string &alternate : s.alternateExtensions)
        addExtension(alternate, false);
    return s;
}

std::string SelectionHost::plantCos(const std::string &alias, const std::string &textName) {
    ++m_planted;
    const std::string id = idFor("C05C0000", m_planted);
    RawDb db(sim::databasePath(m_temp.folder()));
    db.run("INSERT INTO COS (COSObjectID, Alias, TextName) VALUES (?,?,?)", {id, alias, textName});
    return id;
}

void SelectionHost::exec(const std::string &sql) {
    RawDb db(sim::databasePath(m_temp.folder()));
    db.run(sql);
}

std::vector<std::string> SelectionHost::column(const std::string &sql) {
    RawDb db(sim::databasePath(m_temp.folder()));
    std::vector<std::string> values;
    db.run(sql, {}, &values);
    return values;
}

ChooseSubscribersPage &SelectionHost::openWithoutLoad(const std::string &commandLine) {
    m_registry = std::make_unique<RegistryAPI>(*host().registry);
    m_tarvoDb = std::make_unique<db::modTarvoDB>(*host().database);
    if (!m_tarvoDb->bOpenDatabase(m_tarvoDb->DbConnectionString()))
        throw std::runtime_error("the cached tables do not open");
    host().commandLine = commandLine;
    m_page = std::make_unique<ChooseSubscribersPage>(host(), *m_registry, *m_tarvoDb, nullptr,
                                                     commandLine);
    return *m_page;
}

ChooseSubscribersPage &SelectionHost::open(const std::string &commandLine) {
    openWithoutLoad(commandLine);
    m_page->Form_Load();
    return *m_page;
}

void SelectionHost::chooseCode(int code) {
    const auto &data = m_page->cmbSubscriberSelectType.ItemData;
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (data[i] == code) {
            m_page->chooseCriterion(static_cast<int>(i));
            return;
        }
    }
    ADD_FAILURE() << "no criterion with code " << code;
}

std::vector<std::string> SelectionHost::gridColumn(const std::string &key) const {
    std::vector<std::string> texts;
    const SubscriberGrid &grid = m_page->myGrid;
    for (int row = 1; row < grid.Rows(); ++row)
        texts.push_back(grid.TextMatrix(row, grid.ColIndex(key)));
    return texts;
}

std::string SelectionHost::writeFile(const std::string &name, const std::string &content) {
    const std::string path = m_files.path() + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    return path;
}

std::vector<std::string> aliasesOf(SelectionHost &host, const std::string &sql) {
    return host.column(sql);
}

} // namespace zeph::test
