#include "select_helpers.h"

#include "db/DbValues.h"

#include <algorithm>
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

DbValue textOrNull(const std::string &text) {
    return text.empty() ? DbValue() : DbValue(text);
}

} // namespace

Texts SelectionHost::column(const std::string &sql, const std::vector<DbValue> &params) {
    Texts values;
    const DbRowSet set =
        host().database->connect(db::kTarvoConnectionText)->query(sql, params, false);
    // The first field: key columns the server fetched for saving come hidden.
    const auto first = std::find_if(set.columns.begin(), set.columns.end(),
                                    [](const DbColumn &c) { return !c.hidden; });
    const auto at = static_cast<std::size_t>(first - set.columns.begin());
    for (const auto &row : set.rows)
        values.push_back(db::isNull(row.at(at)) ? std::string() : db::valueText(row.at(at)));
    return values;
}

Planted SelectionHost::plant(Planted s) {
    ++m_planted;
    s.objectId = idFor("5EB5C000", m_planted);
    s.handlerId = idFor("C0A11000", m_planted);
    if (s.displayName.empty())
        s.displayName = "Display " + s.alias;
    column("INSERT INTO Subscriber (SubscriberObjectID, Alias, SubscriberType, DisplayName, "
           "FirstName, LastName, HomeServer, LegacyMailbox, RemoteNodeID, CallHandlerObjectID, "
           "COSObjectID, LocationObjectID, SwitchID) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?)",
           {s.objectId, s.alias, std::int64_t{s.type}, s.displayName, s.firstName, s.lastName,
            textOrNull(s.homeServer), textOrNull(s.legacyMailbox), textOrNull(s.remoteNodeId),
            s.handlerId, textOrNull(s.cosId), s.location,
            s.switchId ? DbValue(std::int64_t{*s.switchId}) : DbValue()});
    column("INSERT INTO CallHandler (CallHandlerObjectID, Alias, DisplayName, IsPrimary, "
           "LocationObjectID) VALUES (?,?,?,1,?)",
           {s.handlerId, "ch_" + s.alias, s.displayName, s.location});
    Texts extensions = s.alternates;
    if (!s.extension.empty())
        extensions.insert(extensions.begin(), s.extension);
    for (std::size_t i = 0; i < extensions.size(); ++i) {
        column(
            "INSERT INTO DTMFAccessID (ParentObjectID, ParentObjectIDType, DTMFAccessID, "
            "IsPrimaryID, LocationObjectID) VALUES (?,1,?,?,?)",
            {s.objectId, extensions[i], std::int64_t{i == 0 && !s.extension.empty()}, s.location});
    }
    return s;
}

std::string SelectionHost::plantCos(const std::string &alias, const std::string &textName) {
    const std::string id = idFor("C05C0000", ++m_planted);
    column("INSERT INTO COS (COSObjectID, Alias, TextName) VALUES (?,?,?)", {id, alias, textName});
    return id;
}

ChooseSubscribersPage &SelectionHost::open(const std::string &commandLine, bool load) {
    m_registry = std::make_unique<RegistryAPI>(*host().registry);
    m_tarvoDb = std::make_unique<db::modTarvoDB>(*host().database);
    if (!m_tarvoDb->bOpenDatabase(m_tarvoDb->DbConnectionString()))
        throw std::runtime_error("the cached tables do not open");
    host().commandLine = commandLine;
    m_page = std::make_unique<ChooseSubscribersPage>(host(), *m_registry, *m_tarvoDb, nullptr,
                                                     commandLine);
    if (load)
        m_page->Form_Load();
    return *m_page;
}

void SelectionHost::chooseCode(int code) {
    const auto &data = m_page->cmbSubscriberSelectType.ItemData;
    const auto at = std::find(data.begin(), data.end(), code);
    ASSERT_NE(at, data.end()) << "no criterion with code " << code;
    m_page->chooseCriterion(static_cast<int>(at - data.begin()));
}

Texts SelectionHost::gridColumn(const std::string &key) const {
    Texts texts;
    const SubscriberGrid &grid = m_page->myGrid;
    for (int row = 1; row < grid.Rows(); ++row)
        texts.push_back(grid.TextMatrix(row, grid.ColIndex(key)));
    return texts;
}

void SelectionHost::searchRange(const std::string &low, const std::string &high) {
    chooseCode(kCriterionExtensionRange);
    m_page->txtSubscriberExtensionRangeLow.Text = low;
    m_page->txtSubscriberExtensionRangeHigh.Text = high;
    m_page->cmdView_Click();
}

std::string SelectionHost::writeFile(const std::string &name, const std::string &content) {
    const std::string path = m_files.path() + "/" + name;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    return path;
}

std::string csvSummary(int lines, int users) {
    return "Import complete.  " + std::to_string(lines) + " lines read in from text file, " +
           std::to_string(users) + " users added to grid.";
}

} // namespace zeph::test
