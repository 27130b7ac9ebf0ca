// The terminal program and the wizard ask for the same reset from the same choices: the template
// and the alternate extensions of the first page, a criterion with its value on the selection
// page, the options of the reset page. Each side is made as its program makes it: the wizard's
// from the controls of its pages and their buttons, zephrane-cli's from its parsed options and
// a subscriber search of its own, without a page.
#include "app/MainPage.h"
#include "app/Program.h"
#include "app/ResetHandOver.h"
#include "cli/CliOptions.h"
#include "cli/CliRequest.h"
#include "db/DbValues.h"
#include "db/modTarvoDB.h"
#include "reset/ResetPage.h"
#include "select/ChooseSubscribersPage.h"
#include "select/SubscriberSearch.h"
#include "support/TempHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <sstream>

using namespace zeph;
using zeph::test::TempHost;

namespace {

using Args = std::vector<std::string>;

// What the operator chose, as the wizard's controls hold it.
struct WizardChoice {
    SubscriberCriterion criterion = kCriterionAllSubscribers;
    std::string low{}, high{};
    bool csv = false;
    int listEntry = -1; // the switch, mail server or class of service chosen
    bool preserve = false, skip = false, dryRun = false;
};

class Programs {
public:
    Programs()
        : m_program(m_host.host()) {
        std::string csv = "alias\r\n";
        const DbRowSet set = m_host.host()
                                 .database->connect(db::kTarvoConnectionText)
                                 ->query("SELECT Alias FROM vw_Subscriber WHERE SubscriberType "
                                         "IN (1,3) ORDER BY Alias DESC",
                                         {}, true);
        for (std::size_t i = 0; i < set.rows.size() && i < 3; ++i)
            csv += db::valueText(set.rows[i].at(0)) + "\r\n";
        m_host.writeFile("list.csv", csv);
        m_main.Form_Load();
    }

    std::unique_ptr<ChooseSubscribersPage> page() {
        auto page = std::make_unique<ChooseSubscribersPage>(m_host.host(), m_program.registry,
                                                            m_program.tarvoDb, nullptr, "");
        page->Form_Load();
        return page;
    }
    // The terminal program's search, with its lists read as the program reads them.
    std::unique_ptr<SubscriberSearch> search() {
        auto search = std::make_unique<SubscriberSearch>(
            m_host.host(), m_program.registry, m_program.tarvoDb, nullptr,
            SubscriberSearch::messageBoxes(m_host.host()));
        search->loadLists();
        return search;
    }
    std::string csvPath() const { return m_host.folder() + "/list.csv"; }
    const std::vector<std::string> &templates() const { return m_main.cmbSubscriberTemplateAlias; }

    // The wizard: its three pages, their controls set and their buttons pressed.
    ResetRequest wizard(const WizardChoice &c, int templateEntry) {
        m_main.templateListIndex = templateEntry;
        m_main.chkPreserveAlternateExtensions = c.preserve;
        EXPECT_TRUE(m_main.cmdNext_Click());

        std::unique_ptr<ChooseSubscribersPage> choose = page();
        const auto &codes = choose->cmbSubscriberSelectType.ItemData;
        choose->chooseCriterion(
            static_cast<int>(std::find(codes.begin(), codes.end(), c.criterion) - codes.begin()));
        choose->txtSubscriberExtensionRangeLow.Text = c.low;
        choose->txtSubscriberExtensionRangeHigh.Text = c.high;
        choose->txtCSVPath.Text = c.csv ? csvPath() : "";
        choose->comSubscriberSwitch.ListIndex = c.criterion == kCriterionSwitch ? c.listEntry : -1;
        choose->comSubscriberMailServer.ListIndex =
            c.criterion == kCriterionMailServer ? c.listEntry : -1;
        choose->ComSubscribersCOS.ListIndex =
            c.criterion == kCriterionClassOfService ? c.listEntry : -1;
        wizardSelection = choose->chosenSelection();
        if (c.csv)
            m_host.ui().expectBox("Import complete");
        choose->cmdView_Click();
        EXPECT_TRUE(choose->cmdNext_Click());

        ResetPage reset(m_host.host(), m_program.registry, m_program.tarvoDb, m_program.log,
                        [&] { return handOverRequest(m_main, *choose); });
        reset.Form_Load();
        reset.chkSkipDLResynch.Value = c.skip;
        reset.dryRun = c.dryRun;
        m_host.ui().verifyAllShown();
        return reset.request();
    }

    // zephrane-cli: its options parsed, the criterion and the request made of them.
    ResetRequest cli(const Args &args) {
        const Result<cli::Options> options = cli::parseOptions(args);
        EXPECT_TRUE(options && options->selection) << (options ? "" : options.error());
        if (!options || !options->selection)
            return {};
        std::unique_ptr<SubscriberSearch> lists = search();
        std::ostringstream err;
        const std::optional<SubscriberSelection> criterion =
            cli::criterionOf(*options->selection, *lists, err);
        EXPECT_TRUE(criterion) << err.str();
        if (!criterion)
            return {};
        cliSelection = *criterion;
        if (criterion->criterion == kCriterionCsvFile)
            m_host.ui().expectBox("Import complete");
        lists->addSubscribers(*criterion);
        EXPECT_TRUE(lists->readyToHandOver());
        m_host.ui().verifyAllShown();
        return cli::resetRequestOf(*options, lists->tickedSubscribers());
    }

    SubscriberSelection wizardSelection, cliSelection;

private:
    TempHost m_host{20, 3};
    Program m_program;
    MainPage m_main{m_program};
};

} // namespace

TEST(ResetRequest, TheTerminalProgramAndTheWizardAskTheSameOfTheSameChoices) {
    Programs programs;
    const std::unique_ptr<SubscriberSearch> lists = programs.search();
    ASSERT_GE(programs.templates().size(), 2U);
    ASSERT_FALSE(lists->mailServers().empty());
    ASSERT_GE(lists->classOfServiceAliases().size(), 2U);
    ASSERT_GE(lists->switchCount(), 1);
    const std::string lastCos = lists->classOfServiceAliases().back();
    const int lastCosEntry = static_cast<int>(lists->classOfServiceAliases().size()) - 1;

    struct Case {
        const char *what;
        WizardChoice wizard;
        Args args; // the template is added
        int templateEntry = 0;
    };
    const Case cases[] = {
        {"all subscribers", {kCriterionAllSubscribers}, {"--all"}},
        {"an extension range, kept extensions",
         {kCriterionExtensionRange, "4000", "4012", false, -1, true},
         {"--extensions", "4000-4012", "--preserve-alternate-extensions"}},
        {"the first switch, no lists' synchronisation",
         {kCriterionSwitch, "", "", false, 0, false, true},
         {"--switch", "1", "--skip-dl-sync"}},
        {"a mail server, a dry run",
         {kCriterionMailServer, "", "", false, 0, false, false, true},
         {"--mail-server", lists->mailServers().front(), "--dry-run"},
         1},
        {"the last class of service, every option",
         {kCriterionClassOfService, "", "", false, lastCosEntry, true, true, true},
         {"--cos", lastCos, "--preserve-alternate-extensions", "--skip-dl-sync", "--dry-run"},
         1},
        {"a subscriber list", {kCriterionCsvFile, "", "", true}, {"--csv", programs.csvPath()}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string templateAlias =
            programs.templates().at(static_cast<std::size_t>(c.templateEntry));
        const ResetRequest wizard = programs.wizard(c.wizard, c.templateEntry);
        Args args = {"--template", templateAlias};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ResetRequest cli = programs.cli(args);

        EXPECT_EQ(programs.cliSelection, programs.wizardSelection);
        // Something to reset, and the same for both.
        EXPECT_FALSE(wizard.subscribers.empty());
        EXPECT_EQ(cli.subscribers, wizard.subscribers);
        EXPECT_EQ(wizard.templateAlias, templateAlias);
        EXPECT_EQ(wizard.preserveAlternateExtensions, c.wizard.preserve);
        EXPECT_EQ(wizard.skipListSync, c.wizard.skip);
        EXPECT_EQ(wizard.dryRun, c.wizard.dryRun);
        // The wizard alone names the template and the selection for its review; the terminal
        // program's question names the template by its alias, as it always has.
        EXPECT_FALSE(wizard.templateName.empty());
        EXPECT_FALSE(wizard.selectionSource.empty());
        EXPECT_TRUE(cli.templateName.empty());
        cli.templateName = wizard.templateName;
        cli.selectionSource = wizard.selectionSource;
        EXPECT_EQ(cli, wizard);
    }
}

// A value the server does not offer is refused before anything is searched, in the terminal
// program's words.
TEST(ResetRequest, AValueTheServerDoesNotOfferIsRefusedByTheTerminalProgram) {
    Programs programs;
    const std::unique_ptr<SubscriberSearch> lists = programs.search();
    const struct {
        Args args;
        const char *said;
    } cases[] = {
        {{"--switch", "2"}, "this server has only 1 telephone-system integration(s)"},
        {{"--mail-server", "nowhere"}, "no subscriber is homed on a mail server named 'nowhere'"},
        {{"--cos", "noSuchClass"}, "no class of service has the alias 'noSuchClass'"},
    };
    for (const auto &c : cases) {
        Args args = {"--template", programs.templates().front()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Result<cli::Options> options = cli::parseOptions(args);
        ASSERT_TRUE(options) << options.error();
        std::ostringstream err;
        if (lists->switchCount() > 1 && c.args.front() == "--switch")
            continue;
        EXPECT_FALSE(cli::criterionOf(*options->selection, *lists, err)) << c.said;
        EXPECT_NE(err.str().find(c.said), std::string::npos) << err.str();
    }
}
