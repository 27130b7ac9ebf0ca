#pragma once
// A stand-in host with the test's own subscribers beside the seeded ones; the selection page.

#include "app/registry/RegistryAPI.h"
#include "db/DbValues.h"
#include "db/modTarvoDB.h"
#include "select/ChooseSubscribersPage.h"
#include "support/TempHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace zeph::test {

using Texts = std::vector<std::string>;

/// A subscriber to plant with its primary call handler and extensions ("" is NULL).
struct Planted {
    std::string alias{}, extension{};
    int type = 1;
    std::string homeServer{}, cosId{};
    std::vector<std::string> alternates{};
    std::string location = "{0000AAAA-0000-0000-0000-000000000001}";
    std::string objectId{}, handlerId{}; ///< filled by plant()
};

class SelectionHost {
public:
    TempHost &temp() { return m_temp; }
    ScriptedUi &ui() { return m_temp.ui(); }
    ChooseSubscribersPage &page() { return *m_page; }
    RegistryAPI &registry() { return *m_registry; }
    db::modTarvoDB &tarvoDb() { return *m_tarvoDb; }

    /// Runs SQL on the server database; the first shown column of its rows ("" for NULL).
    Texts column(const std::string &sql, const std::vector<DbValue> &params = {}) {
        const DbRowSet set =
            m_temp.host().database->connect(db::kTarvoConnectionText)->query(sql, params, false);
        std::size_t at = 0; // key columns fetched for saving come hidden
        while (at + 1 < set.columns.size() && set.columns[at].hidden)
            ++at;
        Texts values;
        for (const auto &row : set.rows)
            values.push_back(db::isNull(row.at(at)) ? std::string() : db::valueText(row.at(at)));
        return values;
    }

    Planted plant(Planted s) {
        ++m_planted;
        s.objectId = id("5EB5C000");
        s.handlerId = id("C0A11000");
        auto orNull = [](const std::string &t) { return t.empty() ? DbValue() : DbValue(t); };
        column("INSERT INTO Subscriber (SubscriberObjectID, Alias, SubscriberType, DisplayName, "
               "HomeServer, CallHandlerObjectID, COSObjectID, LocationObjectID) "
               "VALUES (?,?,?,?,?,?,?,?)",
               {s.objectId, s.alias, std::int64_t{s.type}, "Display " + s.alias,
                orNull(s.homeServer), s.handlerId, orNull(s.cosId), s.location});
        column("INSERT INTO CallHandler (CallHandlerObjectID, Alias, DisplayName, IsPrimary, "
               "LocationObjectID) VALUES (?,?,?,1,?)",
               {s.handlerId, "ch_" + s.alias, "Display " + s.alias, s.location});
        Texts extensions = s.alternates;
        if (!s.extension.empty())
            extensions.insert(extensions.begin(), s.extension);
        for (std::size_t i = 0; i < extensions.size(); ++i)
            column("INSERT INTO DTMFAccessID (ParentObjectID, ParentObjectIDType, DTMFAccessID, "
                   "IsPrimaryID, LocationObjectID) VALUES (?,1,?,?,?)",
                   {s.objectId, extensions[i], std::int64_t{i == 0 && !s.extension.empty()},
                    s.location});
        return s;
    }
    /// Opens the cached tables (as start-up does) and the loaded page.
    ChooseSubscribersPage &open(const std::string &commandLine = {}) {
        m_registry = std::make_unique<RegistryAPI>(*m_temp.host().registry);
        m_tarvoDb = std::make_unique<db::modTarvoDB>(*m_temp.host().database);
        EXPECT_TRUE(m_tarvoDb->bOpenDatabase(m_tarvoDb->DbConnectionString()));
        m_temp.host().commandLine = commandLine;
        m_page = std::make_unique<ChooseSubscribersPage>(m_temp.host(), *m_registry, *m_tarvoDb,
                                                         nullptr, commandLine);
        m_page->Form_Load();
        return *m_page;
    }

    void chooseCode(int code) {
        const auto &data = m_page->cmbSubscriberSelectType.ItemData;
        const auto at = std::find(data.begin(), data.end(), code);
        ASSERT_NE(at, data.end()) << "no criterion with code " << code;
        m_page->chooseCriterion(static_cast<int>(at - data.begin()));
    }
    /// The grid's texts of one column, in row order.
    Texts gridColumn(const std::string &key) const {
        Texts texts;
        const SubscriberGrid &grid = m_page->myGrid;
        for (int row = 1; row < grid.Rows(); ++row)
            texts.push_back(grid.TextMatrix(row, grid.ColIndex(key)));
        return texts;
    }
    /// Writes a file of the test; returns its path.
    std::string writeFile(const std::string &name, const std::string &content) {
        m_temp.writeFile(name, content);
        return m_temp.folder() + "/" + name;
    }

private:
    std::string id(const char *kind) const {
        return "{" + std::string(kind) + "-" + std::to_string(m_planted) + "}";
    }

    TempHost m_temp{20, 7};
    std::unique_ptr<RegistryAPI> m_registry;
    std::unique_ptr<db::modTarvoDB> m_tarvoDb;
    std::unique_ptr<ChooseSubscribersPage> m_page;
    int m_planted = 0;
};

inline std::string csvSummary(int lines, int users) {
    return "Import complete.  " + std::to_string(lines) + " lines read in from text file, " +
           std::to_string(users) + " users added to grid.";
}

} // namespace zeph::test
