#include "CommandLine.h"

#include "CliOptions.h"
#include "app/MainPage.h"
#include "app/Program.h"
#include "db/Recordset.h"
#include "platform/posix/Posix.h"
#include "reset/Recovery.h"
#include "reset/ResetPage.h"
#include "search/AdvancedSearchPage.h"
#include "search/SetQueryColors.h"
#include "select/ChooseSubscribersPage.h"
#include "standin/SimHost.h"

#include <memory>

namespace zeph::cli {

namespace {

// The terminal's user interface with one difference: the closing message's offer to view the
// log is declined (a script has no text viewer to wait for); the log's path is printed.
class CliUserInterface : public IUserInterface {
public:
    explicit CliUserInterface(std::unique_ptr<IUserInterface> terminal)
        : m_terminal(std::move(terminal)) {}
    MsgAnswer messageBox(const std::string &text, MsgButtons buttons, MsgIcon icon,
                         const std::string &title) override {
        if (buttons == MsgButtons::OKCancel) {
            m_terminal->messageBox(text, MsgButtons::OK, icon, title);
            return MsgAnswer::Cancel;
        }
        return m_terminal->messageBox(text, buttons, icon, title);
    }
    void setBusy(bool busy) override { m_terminal->setBusy(busy); }
    void doEvents() override { m_terminal->doEvents(); }
    std::optional<std::string> openFileDialog(const std::string &title,
                                              const std::string &filter) override {
        return m_terminal->openFileDialog(title, filter);
    }
    std::string clipboardText() override { return m_terminal->clipboardText(); }
    void setClipboardText(const std::string &text) override { m_terminal->setClipboardText(text); }

private:
    std::unique_ptr<IUserInterface> m_terminal;
};

int indexOf(const std::vector<std::string> &list, const std::string &text) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i] == text)
            return static_cast<int>(i);
    }
    return -1;
}

int indexOfItemData(const ListControl &list, long data) {
    for (std::size_t i = 0; i < list.ItemData.size(); ++i) {
        if (list.ItemData[i] == data)
            return static_cast<int>(i);
    }
    return -1;
}

std::string joined(const std::vector<std::string> &list) {
    std::string text;
    for (const auto &entry : list)
        text += (text.empty() ? "" : ", ") + entry;
    return text.empty() ? "(none)" : text;
}

// Sets the selection page's controls the way an operator would for the criterion.
bool applySelection(ChooseSubscribersPage &page, const Selection &selection, std::ostream &err) {
    const int entry = indexOfItemData(page.cmbSubscriberSelectType, selection.code);
    if (entry < 0) {
        err << "zephrane-cli: the selection page has no criterion " << selection.code << "\n";
        return false;
    }
    page.chooseCriterion(entry);
    switch (selection.code) {
    case 2:
        page.txtSubscriberExtensionRangeLow.Text = selection.low;
        page.txtSubscriberExtensionRangeHigh.Text = selection.high;
        break;
    case 4:
        if (selection.switchNumber > page.comSubscriberSwitch.ListCount()) {
            err << "zephrane-cli: this server has only " << page.comSubscriberSwitch.ListCount()
                << " telephone-system integration(s)\n";
            return false;
        }
        page.comSubscriberSwitch.ListIndex = selection.switchNumber - 1;
        break;
    case 5: {
        const int server = indexOf(page.comSubscriberMailServer.List, selection.value);
        if (server < 0) {
            err << "zephrane-cli: no subscriber is homed on a mail server named '"
                << selection.value << "'; known: " << joined(page.comSubscriberMailServer.List)
                << "\n";
            return false;
        }
        page.comSubscriberMailServer.ListIndex = server;
        break;
    }
    case 6:
        page.txtCSVPath.Text = selection.value;
        break;
    case 7: {
        const int alias = indexOf(page.comHiddenCOS.List, selection.value);
        const int shown = alias < 0 ? -1 : indexOfItemData(page.ComSubscribersCOS, alias);
        if (shown < 0) {
            err << "zephrane-cli: no class of service has the alias '" << selection.value
                << "'; known: " << joined(page.comHiddenCOS.List) << "\n";
            return false;
        }
        page.ComSubscribersCOS.ListIndex = shown;
        break;
    }
    default:
        break;
    }
    return true;
}

// The advanced search window's Execute and Import, as an operator would press them: the same
// guard, the statement on a connection that may only read, the result replacing the grid.
// False when the statement did not run (its message has been shown).
bool selectByQuery(Program &program, ChooseSubscribersPage &choose, const std::string &tail) {
    search::AdvancedSearchPage search(program.host, program.registry, program.tarvoDb, choose);
    search.keepHistory = false;
    search.txtSQL = search::toEditorLineBreaks(tail);
    search.cmdExecute_Click();
    if (search.rsResults().State() != db::adStateOpen)
        return false;
    // No rows: the grid stays empty, and a reset is refused by Next as for any empty search.
    if (search.gridSQL.Rows() >= 2)
        search.cmdImport_Click();
    return true;
}

void printGrid(const SubscriberGrid &grid, std::ostream &out) {
    static const char *const columns[] = {
        "Alias", "DisplayName",   "FirstName",    "LastName",        "Extension", "HomeServer",
        "COS",   "LegacyMailbox", "RemoteNodeID", "HandlerObjectID", "ObjectID"};
    for (int row = 1; row < grid.Rows(); ++row) {
        bool first = true;
        for (const char *key : columns) {
            out << (first ? "" : "\t") << grid.TextMatrix(row, grid.ColIndex(key));
            first = false;
        }
        out << "\n";
    }
}

struct Session {
    std::unique_ptr<Host> host;
    std::unique_ptr<IUserInterface> ui;
    std::unique_ptr<Program> program;
    std::unique_ptr<MainPage> mainPage;
};

// Finds and opens the host and runs the start-up checks. Returns an exit status when the
// program must end here.
std::optional<int> startUp(const std::vector<std::string> &args, const Options &options,
                           Session &session, std::ostream &out, std::ostream &err) {
    auto notice = [&err](const std::string &text) { err << "zephrane-cli: " << text << "\n"; };
    std::string error;
    const std::string folder = sim::resolveHostFolder(notice, error);
    if (folder.empty()) {
        err << "zephrane-cli: " << error << "\n";
        return kExitNothingRun;
    }
    if (options.hostInfo) {
        out << "stand-in host: " << folder << "\n";
        return kExitOk;
    }
    session.host = sim::openHost(folder, notice);
    session.ui = std::make_unique<CliUserInterface>(posix::makeTerminalUi(options.yes));
    Host &host = *session.host;
    host.ui = session.ui.get();
    host.programFolder = posix::executableFolder();
    host.exeName = "zephrane-cli";
    for (const auto &arg : args)
        host.commandLine += (host.commandLine.empty() ? "" : " ") + arg;

    session.program = std::make_unique<Program>(host);
    session.mainPage = std::make_unique<MainPage>(*session.program);
    // The recovery lists the unfinished resets itself.
    session.mainPage->warnAboutUnfinishedResets = !options.recover;
    try {
        session.mainPage->Form_Load();
    } catch (const ProgramEnded &ended) {
        return ended.code();
    }
    return std::nullopt;
}

int listTemplates(const MainPage &mainPage, std::ostream &out) {
    for (std::size_t i = 0; i < mainPage.cmbSubscriberTemplateAlias.size(); ++i)
        out << mainPage.cmbSubscriberTemplateAlias[i] << "\t"
            << mainPage.cmbTemplateListDisplayName[i] << "\n";
    return kExitOk;
}

int reset(Session &session, ChooseSubscribersPage &choose, const Options &options,
          std::ostream &out, std::ostream &err) {
    Program &program = *session.program;
    ResetInputs inputs;
    inputs.grid = [&choose]() -> const SubscriberGrid & { return choose.myGrid; };
    MainPage &mainPage = *session.mainPage;
    inputs.templateAlias = [&mainPage] { return mainPage.chosenTemplateAlias(); };
    inputs.preserveAlternateExtensions = [&mainPage] {
        return mainPage.chkPreserveAlternateExtensions;
    };
    ResetPage page(program.host, program.registry, program.tarvoDb, program.log, inputs);
    page.Form_Load();
    page.chkSkipDLResynch.Value = options.skipDlSync;
    page.dryRun = options.dryRun;
    program.log.setLineObserver([&out](const std::string &line) { out << line << std::endl; });
    page.cmdResetSubscribers_Click();
    program.log.setLineObserver(nullptr);
    if (!page.summary()) {
        err << "zephrane-cli: the reset was not confirmed; nothing was changed\n";
        return kExitNothingRun;
    }
    const ResetSummary &summary = *page.summary();
    out << "Log: " << program.host.files->nativePath(summary.logFilePath) << "\n";
    if (!summary.failedRecordsPath.empty())
        out << "Failed records: " << program.host.files->nativePath(summary.failedRecordsPath)
            << " (" << summary.failedRecords.size() << " subscriber(s))\n";
    else
        err << "zephrane-cli: the failed-records file could not be written: "
            << summary.failedRecordsProblem << "\n";
    return summary.errorCount == 0 ? kExitOk : kExitRunErrors;
}

// Finishes the interrupted resets of every journal. A journal that cannot be read refuses the
// whole recovery: what it holds might be the only record of a removed subscriber.
int recover(Session &session, const Options &options, std::ostream &out, std::ostream &err) {
    Program &program = *session.program;
    Host &host = program.host;
    const JournalScan scan = program.scanRecoveryJournals();
    if (!scan.problems.empty()) {
        for (const std::string &problem : scan.problems)
            err << "zephrane-cli: " << problem << "\n";
        err << "zephrane-cli: nothing was changed; move the damaged journal aside once its "
               "subscribers are dealt with by hand, then run --recover again\n";
        return kExitNothingRun;
    }
    std::vector<JournalFile> open;
    std::size_t subscribers = 0;
    for (const JournalFile &journal : scan.journals) {
        if (journal.unfinished().empty())
            continue;
        subscribers += journal.unfinished().size();
        open.push_back(journal);
    }
    if (open.empty()) {
        out << "No interrupted reset to finish.\n";
        return kExitOk;
    }
    out << scan.warning(*host.files) << "\n";
    const std::string question = "Finish the interrupted resets of " + std::to_string(subscribers) +
                                 " subscriber(s) now?  Their messages and recordings are deleted "
                                 "as the reset would have done.";
    if (host.ui->messageBox(question, MsgButtons::YesNo) != MsgAnswer::Yes) {
        err << "zephrane-cli: the recovery was not confirmed; nothing was changed\n";
        return kExitNothingRun;
    }
    program.log.setLineObserver([&out](const std::string &line) { out << line << std::endl; });
    const RecoverySummary summary =
        recoverInterruptedResets(host, program.registry, program.tarvoDb, program.log, open,
                                 options.skipDlSync, options.templateAlias.value_or(""));
    program.log.setLineObserver(nullptr);
    out << summary.closingMessage << "\n"
        << "Log: " << host.files->nativePath(summary.logFilePath) << "\n";
    return summary.errorCount == 0 ? kExitOk : kExitRunErrors;
}

} // namespace

int run(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
    std::string problem;
    const std::optional<Options> parsed = parseOptions(args, problem);
    if (!parsed) {
        err << "zephrane-cli: " << problem << "\n\n" << usageText();
        return kExitNothingRun;
    }
    const Options &options = *parsed;
    if (options.help) {
        out << usageText();
        return kExitOk;
    }
    // The query's guard needs no server: a refused text ends the program before anything runs.
    if (options.selection && options.selection->code == kSelectionWhere) {
        if (auto refusal =
                search::queryRefusal(search::toEditorLineBreaks(options.selection->value))) {
            err << "zephrane-cli: " << *refusal << "\n";
            return kExitNothingRun;
        }
    }

    Session session;
    if (std::optional<int> ended = startUp(args, options, session, out, err))
        return *ended;
    if (options.listTemplates)
        return listTemplates(*session.mainPage, out);
    if (options.recover) {
        const auto &aliases = session.mainPage->cmbSubscriberTemplateAlias;
        if (options.templateAlias && indexOf(aliases, *options.templateAlias) < 0) {
            err << "zephrane-cli: no subscriber template has the alias '" << *options.templateAlias
                << "'; zephrane-cli --list-templates lists them. Nothing was changed.\n";
            return kExitNothingRun;
        }
        return recover(session, options, out, err);
    }

    MainPage &mainPage = *session.mainPage;
    if (options.templateAlias) {
        mainPage.templateListIndex =
            indexOf(mainPage.cmbSubscriberTemplateAlias, *options.templateAlias);
        if (mainPage.templateListIndex < 0) {
            err << "zephrane-cli: no subscriber template has the alias '" << *options.templateAlias
                << "'; zephrane-cli --list-templates lists them. Nothing was changed.\n";
            return kExitNothingRun;
        }
        mainPage.chkPreserveAlternateExtensions = options.preserveAlternateExtensions;
    }

    Program &program = *session.program;
    ChooseSubscribersPage choose(program.host, program.registry, program.tarvoDb, &program.localize,
                                 program.host.commandLine);
    choose.Form_Load();
    if (options.selection->code == kSelectionWhere) {
        if (!selectByQuery(program, choose, options.selection->value))
            return kExitNothingRun;
    } else {
        if (!applySelection(choose, *options.selection, err))
            return kExitNothingRun;
        choose.cmdView_Click();
    }
    if (options.list) {
        printGrid(choose.myGrid, out);
        return kExitOk;
    }
    if (!choose.cmdNext_Click())
        return kExitNothingRun;
    return reset(session, choose, options, out, err);
}

} // namespace zeph::cli
