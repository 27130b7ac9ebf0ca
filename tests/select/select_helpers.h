#pragma once
// A stand-in host with subscribers of the test's own planted beside the seeded ones, and the
// selection page opened on it the way the program opens it.

#include "app/registry/RegistryAPI.h"
#include "db/modTarvoDB.h"
#include "select/ChooseSubscribersPage.h"
#include "support/TempHost.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zeph::test {

/// A subscriber the test plants, with its primary call handler and primary extension.
struct PlantedSubscriber {
    explicit PlantedSubscriber(std::string alias_)
        : alias(std::move(alias_)) {}
    PlantedSubscriber &withType(int t) { return type = t, *this; }
    PlantedSubscriber &withExtension(std::string e) { return extension = std::move(e), *this; }
    PlantedSubscriber &withHome(std::string h) { return homeServer = std::move(h), *this; }
    PlantedSubscriber &withCos(std::string c) { return cosId = std::move(c), *this; }
    PlantedSubscriber &withSwitch(int id) { return switchId = id, *this; }
    PlantedSubscriber &withNames(std::string first, std::string last, std::string display) {
        firstName = std::move(first), lastName = std::move(last);
        return displayName = std::move(display), *this;
    }
    PlantedSubscriber &withLegacy(std::string l) { return legacyMailbox = std::move(l), *this; }
    PlantedSubscriber &withRemote(std::string r) { return remoteNodeId = std::move(r), *this; }
    PlantedSubscriber &withAlternates(std::vector<std::string> a) {
        return alternateExtensions = std::move(a), *this;
    }
    PlantedSubscriber &withLocation(std::string l) { return location = std::move(l), *this; }

    std::string alias;
    int type = 1;
    std::string extension;
    std::optional<std::string> homeServer;
    std::string cosId; ///< "" for none
    std::optional<int> switchId;
    std::string firstName, lastName, displayName;
    std::optional<std::string> legacyMailbox;
    std::optional<std::string> remoteNodeId;
    std::vector<std::string> alternateExtensions;
    /// Where the extensions belong; planted subscribers get a location of their own so that
    /// their extensions never collide with the seeded ones.
    std::string location = "{0000AAAA-0000-0000-0000-000000000001}";
    // Filled by plant():
    std::string objectId;
    std::string handlerId;
};

class SelectionHost {
public:
    explicit SelectionHost(int subscribers = 20, unsigned seed = 7);

    TempHost &temp() { return m_temp; }
    Host &host() { return m_temp.host(); }
    ScriptedUi &ui() { return m_temp.ui(); }

    /// Adds a subscriber to the server database; do it before open(). Returns its ids.
    PlantedSubscriber plant(PlantedSubscriber s);
    /// Adds a class of service; returns its id.
    std::string plantCos(const std::string &alias, const std::string &textName);
    /// Runs SQL directly on the server database file.
    void exec(const std::string &sql);
    /// First column of every row of a query run directly on the database file ("" for NULL).
    std::vector<std::string> column(const std::string &sql);

    /// Opens the cached tables (as start-up does) and the page, and runs its load step.
    ChooseSubscribersPage &open(const std::string &commandLine = {});
    /// Opens the cached tables and builds the page without loading it.
    ChooseSubscribersPage &openWithoutLoad(const std::string &commandLine = {});
    ChooseSubscribersPage &page() { return *m_page; }
    db::modTarvoDB &tarvoDb() { return *m_tarvoDb; }

    /// Picks the criterion entry with this code.
    void chooseCode(int code);
    /// The grid's texts of one column for every subscriber row, in row order.
    std::vector<std::string> gridColumn(const std::string &key) const;

    /// Writes a file into a folder of the test; returns its path.
    std::string writeFile(const std::string &name, const std::string &content);

private:
    TempHost m_temp;
    TempFolder m_files;
    std::unique_ptr<RegistryAPI> m_registry;
    std::unique_ptr<db::modTarvoDB> m_tarvoDb;
    std::unique_ptr<ChooseSubscribersPage> m_page;
    int m_planted = 0;
};

/// The rows a search should give: the aliases the database's own query returns.
std::vector<std::string> aliasesOf(SelectionHost &host, const std::string &sql);

} // namespace zeph::test
