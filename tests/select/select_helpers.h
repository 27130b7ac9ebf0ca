#pragma once
// A stand-in host with the test's own subscribers planted beside the seeded ones, and the
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

using Texts = std::vector<std::string>;

/// A subscriber the test plants with its primary call handler and extensions; "" is NULL for
/// the optional texts.
/// (Every member has an initializer so that designated initializers may leave any out.)
struct Planted {
    std::string alias{};
    std::string extension{};
    int type = 1;
    std::string homeServer{}, cosId{};
    std::optional<int> switchId{};
    std::string firstName{}, lastName{}, displayName{}, legacyMailbox{}, remoteNodeId{};
    std::vector<std::string> alternates{};
    /// Planted extensions live in a location of their own, apart from the seeded ones.
    std::string location = "{0000AAAA-0000-0000-0000-000000000001}";
    std::string objectId{}, handlerId{}; ///< filled by plant()
};

class SelectionHost {
public:
    explicit SelectionHost(int subscribers = 20, unsigned seed = 7)
        : m_temp(subscribers, seed) {}

    TempHost &temp() { return m_temp; }
    Host &host() { return m_temp.host(); }
    ScriptedUi &ui() { return m_temp.ui(); }

    Planted plant(Planted s);
    std::string plantCos(const std::string &alias, const std::string &textName);
    /// Runs SQL on the server database and gives the first column of its rows ("" for NULL).
    Texts column(const std::string &sql, const std::vector<DbValue> &params = {});

    /// Opens the cached tables (as start-up does) and the page; loads it unless told not to.
    ChooseSubscribersPage &open(const std::string &commandLine = {}, bool load = true);
    ChooseSubscribersPage &page() { return *m_page; }
    db::modTarvoDB &tarvoDb() { return *m_tarvoDb; }

    void chooseCode(int code);
    /// The grid's texts of one column, in row order.
    Texts gridColumn(const std::string &key) const;
    /// Sets the extension range and presses the button.
    void searchRange(const std::string &low, const std::string &high);
    /// Writes a file of the test; returns its path.
    std::string writeFile(const std::string &name, const std::string &content);

private:
    TempHost m_temp;
    TempFolder m_files;
    std::unique_ptr<RegistryAPI> m_registry;
    std::unique_ptr<db::modTarvoDB> m_tarvoDb;
    std::unique_ptr<ChooseSubscribersPage> m_page;
    int m_planted = 0;
};

/// The texts of the page's import summary.
std::string csvSummary(int lines, int users);

} // namespace zeph::test
