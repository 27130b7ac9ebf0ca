#include "CommandLine.h"

#include "CliOptions.h"
#include "CliRequest.h"
#include "ListOutput.h"
#include "app/Program.h"
#include "app/ScopeGuards.h"
#include "app/StartUpChecks.h"
#include "app/Version.h"
#include "db/Recordset.h"
#include "db/modTarvoDB.h"
#include "platform/Native.h"
#include "platform/console/Console.h"
#include "platform/odbc/OdbcDatabase.h"
#include "reset/Recovery.h"
#include "reset/ResetJob.h"
#include "reset/RunLock.h"
#include "search/SelectionQuery.h"
#include "search/SetQueryColors.h"
#include "select/SubscriberSearch.h"
#include "standin/SimHost.h"

#include <memory>
#include <regex>

namespace zeph::cli {

namespace {

// The closing message's last sentence is for a window.
constexpr const char *kViewLogSentence = "Press OK to view the output log now.";

// The terminal's user interface, with the program's prefix on every message line and no CR.
// The closing message's offer to view the log is declined (a script has no text viewer to
// wait for); its sentence for the window gives way to the log's path. Passes of the event loop
// move the progress line on.
class CliUserInterface : public IUserInterface {
public:
    explicit CliUserInterface(std::unique_ptr<IUserInterface> terminal)
        : m_terminal(std::move(terminal)) {}
    MsgAnswer messageBox(const std::string &text, MsgButtons buttons, MsgIcon icon,
                         const std::string &title) override {
        if (onMessage)
            onMessage();
        const std::string said = reword ? reword(text) : text;
        std::string shown = title.empty() ? said : title + ": " + said;
        if (buttons == MsgButtons::OKCancel) {
            if (const auto at = shown.find(kViewLogSentence); at != std::string::npos && logPath)
                shown.replace(at, std::string(kViewLogSentence).size(), "The log: " + logPath());
            m_terminal->messageBox(terminalMessage(shown, kMessagePrefix), MsgButtons::OK, icon,
                                   "");
            return MsgAnswer::Cancel;
        }
        return m_terminal->messageBox(terminalMessage(shown, kMessagePrefix), buttons, icon, "");
    }
    void setBusy(bool busy) override { m_terminal->setBusy(busy); }
    void doEvents() override {
        m_terminal->doEvents();
        if (onEvents)
            onEvents();
    }
    std::optional<std::string> openFileDialog(const std::string &title,
                                              const std::string &filter) override {
        return m_terminal->openFileDialog(title, filter);
    }
    std::string clipboardText() override { return m_terminal->clipboardText(); }
    void setClipboardText(const std::string &text) override { m_terminal->setClipboardText(text); }

    /// The program's own words for a message of the core meant for a window (the text as it is
    /// when there are none).
    std::function<std::string(const std::string &)> reword;
    /// The run log's path as the terminal user opens it (set while a run is under way).
    std::function<std::string()> logPath;
    /// Told before a message is shown (the progress line makes way) and at each event pass.
    std::function<void()> onMessage;
    std::function<void()> onEvents;

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

// The selection as the command line gave it, for messages: "--extensions 4000-4010".
std::string selectionText(const Selection &selection) {
    switch (selection.code) {
    case kCriterionExtensionRange:
        return selection.option + " " + selection.low + "-" + selection.high;
    case kCriterionSwitch:
        return selection.option + " " + std::to_string(selection.switchNumber);
    case kCriterionAllSubscribers:
        return selection.option;
    default:
        return selection.option + " '" + selection.value + "'";
    }
}

// The searches' messages in the terminal program's words: what was selected, and a
// refused input with the file or value it concerns. A text not known here stays as it is.
std::string selectionMessage(const std::string &text, const Selection &selection) {
    static const std::regex imported(
        R"(Import complete\.  (\d+) lines read in from text file, (\d+) users added to grid\.)");
    static const std::regex queried(R"((\d+) new subscribers added to grid)");
    std::smatch m;
    if (std::regex_match(text, m, imported))
        return "the CSV file '" + selection.value + "': " + m[1].str() + " line(s) read, " +
               m[2].str() + " subscriber(s) selected";
    if (std::regex_match(text, m, queried))
        return "the query selected " + m[1].str() + " subscriber(s)";
    if (text.rfind("Error! Could not open CSV input file.", 0) == 0)
        return "the CSV file '" + selection.value + "' cannot be opened; nothing was run";
    if (text.rfind("Error! CSV file is not a valid format.", 0) == 0)
        return "the CSV file '" + selection.value +
               "' is not a subscriber list: its first line must name the column alias or "
               "extension (or both); nothing was run";
    if (text == "You must first select subscribers to delete")
        return "no subscriber matches " + selectionText(selection) + "; nothing was reset";
    return text;
}

// The advanced search's query, run and imported as its window's Execute and Import do: the same
// guard and messages, the statement on a connection that may only read, the result replacing
// the grid; a script's query is not kept in the operator's history. False when the statement
// did not run (its message has been shown).
bool selectByQuery(Program &program, SubscriberSearch &subscribers, const std::string &tail) {
    search::SelectionQuery query(program.host, program.registry, program.tarvoDb, subscribers,
                                 SubscriberSearch::messageBoxes(program.host));
    return query.selectByQuery(search::toEditorLineBreaks(tail));
}

void printGrid(const SubscriberSearch &subscribers, ListFormat format, std::ostream &out) {
    printRows(SubscriberSearch::kListingColumns, subscribers.gridRows(), format, out);
}

// The words a second interrupt leaves on the terminal as the program ends at once.
constexpr const char *kEndedAtOnce =
    "\nzephrane-cli: ended at once by a second interrupt; the subscriber under way may be left "
    "half reset.  Run zephrane-cli --recover to finish it.\n";
constexpr const char *kRecoveryEndedAtOnce =
    "\nzephrane-cli: ended at once by a second interrupt; the subscriber under way may be left "
    "half recovered.  Run zephrane-cli --recover again to finish it.\n";

// Interrupts while a run that changes the server is under way: watched from the run's start
// to its end, and turned into a stop request when the run next tells of itself (after every
// log line and between the slices of a wait). The first interrupt stops the run after the
// subscriber under way; a second one ends the program at once with `lastWords`.
class InterruptWatch {
public:
    struct Run {
        /// True once the run is under way (watching begins then).
        std::function<bool()> underWay;
        /// Asks the run to stop after the subscriber under way.
        std::function<void()> stop;
        /// Clears the terminal's progress line before a message.
        std::function<void()> makeWay;
        const char *lastWords;
    };
    InterruptWatch(Run run, std::ostream &err)
        : m_run(std::move(run))
        , m_err(err) {}
    InterruptWatch(const InterruptWatch &) = delete;
    InterruptWatch &operator=(const InterruptWatch &) = delete;
    ~InterruptWatch() { end(); }

    void poll() {
        if (!m_watching && !m_ended && m_run.underWay()) {
            native::watchInterrupts(m_run.lastWords);
            m_watching = true;
        }
        if (!m_watching || m_told || native::interruptsReceived() == 0)
            return;
        m_told = true;
        m_run.stop();
        if (m_run.makeWay)
            m_run.makeWay();
        m_err << kMessagePrefix
              << "stopping after the subscriber under way; interrupt again to end at once "
                 "(that subscriber is then left for --recover)"
              << std::endl;
    }
    /// True once an interrupt asked the run to stop.
    bool stopAsked() const { return m_told; }
    void end() {
        if (m_watching)
            native::unwatchInterrupts();
        m_watching = false;
        m_ended = true;
    }

private:
    Run m_run;
    std::ostream &m_err;
    bool m_watching = false;
    bool m_told = false;
    bool m_ended = false;
};

// True when the listing asked for is read in one query of its own, without the cached tables:
// every selection but a CSV file's lines and the advanced search's query.
bool listsByQuery(const Options &options) {
    if (options.listTemplates)
        return true;
    return options.list && options.selection && options.selection->code != kCriterionCsvFile &&
           options.selection->code != kSelectionWhere;
}

struct Session {
    std::unique_ptr<Host> host;
    std::unique_ptr<CliUserInterface> ui;
    std::unique_ptr<Program> program;
    TemplateLists templates;
};

// Finds and opens the host and runs the start-up checks. Returns an exit status when the
// program must end here.
std::optional<int> startUp(const std::vector<std::string> &args, const Options &options,
                           Session &session, std::ostream &out, std::ostream &err) {
    auto notice = [&err](const std::string &text) {
        err << terminalMessage(text, kMessagePrefix) << "\n";
    };
    // On the server's own machine (Windows) with no stand-in host named, the machine itself.
    const std::string databaseText = native::environment(sim::kDatabaseVariable);
    if (native::environment("ZEPHRANE_HOST").empty())
        session.host = native::openServerMachine(notice, databaseText);
    if (session.host && options.hostInfo) {
        out << "host: this machine (" << native::hostName() << ")\n";
        out << "database: ODBC: "
            << odbc::hidePassword(databaseText.empty() ? db::kTarvoConnectionText : databaseText)
            << "\n";
        return kExitOk;
    }
    if (!session.host) {
        const Result<std::string> resolved = sim::resolveHostFolder(notice);
        if (!resolved) {
            err << "zephrane-cli: " << resolved.error() << "\n";
            return kExitNothingRun;
        }
        const std::string &folder = *resolved;
        if (options.hostInfo) {
            out << "stand-in host: " << folder << "\n";
            out << "database: " << sim::databaseInUse(folder) << "\n";
            return kExitOk;
        }
        session.host = sim::openHost(folder, notice);
    }
    session.ui =
        std::make_unique<CliUserInterface>(console::makeTerminalUi(options.yes, kMessagePrefix));
    Host &host = *session.host;
    host.ui = session.ui.get();
    if (options.queryTimeoutSeconds)
        host.queryTimeoutSeconds = *options.queryTimeoutSeconds;
    host.programFolder = native::executableFolder();
    host.exeName = "zephrane-cli";
    for (const auto &arg : args)
        host.commandLine += (host.commandLine.empty() ? "" : " ") + arg;

    session.program = std::make_unique<Program>(host);
    StartUpSettings settings;
    // The recovery lists the unfinished resets itself.
    settings.warnAboutUnfinishedResets = !options.recover;
    settings.openCachedTables = !listsByQuery(options);
    try {
        session.templates = StartUpChecks(*session.program, settings).run();
    } catch (const ProgramEnded &ended) {
        return ended.code();
    }
    return std::nullopt;
}

int listTemplates(const TemplateLists &templates, ListFormat format, std::ostream &out) {
    RowPrinter printer({"Alias", "DisplayName"}, format, out);
    for (std::size_t i = 0; i < templates.aliases.size(); ++i)
        printer.row({templates.aliases[i], templates.displayNames[i]});
    printer.finish();
    return kExitOk;
}

// Nothing is run for a template the server does not have.
bool knownTemplate(const TemplateLists &templates, const Options &options, std::ostream &err) {
    if (!options.templateAlias || indexOf(templates.aliases, *options.templateAlias) >= 0)
        return true;
    err << "zephrane-cli: no subscriber template has the alias '" << *options.templateAlias
        << "'; zephrane-cli --list-templates lists them. Nothing was changed.\n";
    return false;
}

int reset(Session &session, const ResetRequest &request, const Options &options,
          const Terminal &terminal, std::ostream &out, std::ostream &err) {
    Program &program = *session.program;
    ResetJob job(program.host, program.registry, program.tarvoDb, program.log);
    RunOutput output(out, err, terminal, options.quiet);
    // While the run is under way, a first interrupt (Ctrl+C, SIGINT, SIGTERM) asks it to stop
    // after the subscriber under way; a second one ends the program at once. Before the run
    // nothing is changed, and an interrupt ends the program as it always does.
    InterruptWatch interrupts({[&job] { return job.running() && !job.finished(); },
                               [&job] { job.requestStop(); }, [&output] { output.makeWay(); },
                               kEndedAtOnce},
                              err);
    // The callbacks and the observer below point at this function's objects: each is taken
    // away again on every way out of it, an exception included.
    CliUserInterface &ui = *session.ui;
    const SaveAndRestore logPath(ui.logPath, [&program] {
        return program.host.files->nativePath(program.log.LogFilePath());
    });
    const SaveAndRestore onMessage(ui.onMessage, [&output] { output.makeWay(); });
    const SaveAndRestore onEvents(ui.onEvents, [&] {
        interrupts.poll();
        output.progress(job.progress);
    });
    job.stateChanged = [&] {
        interrupts.poll();
        output.progress(job.progress);
    };
    const ScopeExit forgetState([&job] { job.stateChanged = nullptr; });
    {
        program.log.setLineObserver([&output](const std::string &line) { output.logLine(line); });
        const ScopeExit unobserve([&program] { program.log.setLineObserver(nullptr); });
        job.run(request);
        interrupts.end();
    }
    output.finish();
    // The refusal was shown as the job's message.
    if (!job.refusal().empty())
        return kExitNothingRun;
    if (!job.summary()) {
        err << "zephrane-cli: the reset was not confirmed; nothing was changed\n";
        return kExitNothingRun;
    }
    const ResetSummary &summary = *job.summary();
    out << "Log: " << program.host.files->nativePath(summary.logFilePath) << "\n";
    if (!summary.failedRecordsPath.empty())
        out << "Failed records: " << program.host.files->nativePath(summary.failedRecordsPath)
            << " (" << summary.failedRecords.size() << " subscriber(s))\n";
    else
        err << "zephrane-cli: the failed-records file could not be written: "
            << summary.failedRecordsProblem << "\n";
    // Each ticked subscriber once, so that a script's counts add up to its selection; after
    // the lines scripts already read.
    if (!summary.dryRun && !summary.refusedBeforeAnyChange)
        out << "Outcome: " << summary.outcome.text() << "\n";
    if (summary.refusedBeforeAnyChange)
        return kExitNothingRun;
    if (summary.stoppedByRequest) {
        err << "zephrane-cli: the run was stopped by request after the subscriber under way; "
            << summary.outcome.notAttempted
            << " subscriber(s) not attempted (listed in the failed-records file)\n";
        return native::interruptExitStatus();
    }
    if (!summary.stopReason.empty()) {
        err << "zephrane-cli: the run stopped before resetting every subscriber: "
            << summary.stopReason << "\n";
        return kExitRunErrors;
    }
    return summary.errorCount == 0 ? kExitOk : kExitRunErrors;
}

// Finishes the interrupted resets of every journal. A journal that cannot be read refuses the
// whole recovery: what it holds might be the only record of a removed subscriber.
int recover(Session &session, const Options &options, std::ostream &out, std::ostream &err) {
    Program &program = *session.program;
    Host &host = program.host;
    // Taken before the journals are read: a reset under way elsewhere has unfinished entries
    // that are its own work, not an interrupted run's.
    const Result<std::unique_ptr<IRunLock>> runLock =
        takeServerRunLock(host, program.tarvoDb.DbConnectionString());
    if (!runLock) {
        err << "zephrane-cli: " << runLock.error() << "\n";
        return kExitNothingRun;
    }
    JournalScan scan;
    if (options.journal) {
        // A journal the operator names must be one: a file without a single journal record
        // (empty, or lines that are not records) is refused, not taken for a finished run.
        Result<JournalFile> named = readJournal(*host.files, *options.journal);
        if (named && named->logPath.empty())
            named = fail("the recovery journal " + host.files->nativePath(*options.journal) +
                         " holds no journal record");
        if (!named) {
            err << "zephrane-cli: " << named.error() << "\n"
                << "zephrane-cli: nothing was changed\n";
            return kExitNothingRun;
        }
        scan.journals.push_back(std::move(*named));
    } else {
        scan = program.scanRecoveryJournals();
    }
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
        if (!journal.needsRecovery())
            continue;
        subscribers += journal.unfinished().size();
        open.push_back(journal);
    }
    for (const JournalFile &journal : scan.elsewhere)
        out << elsewhereLine(*host.files, journal) << "\n";
    if (open.empty()) {
        out << "No interrupted reset to finish.\n";
        return kExitOk;
    }
    // Before anything is changed: what each entry's subscriber looks like on the server now,
    // and what will be done with it.
    const std::vector<RecoveryPlanEntry> plan =
        planRecovery(host, program.tarvoDb, open, options.acceptChanged);
    out << describeRecoveryPlan(*host.files, plan);
    for (const JournalFile &journal : open) {
        if (journal.listSyncOwed)
            out << "The run of " << host.files->nativePath(journal.logPath)
                << " owes the synchronisation of all distribution lists: it is asked for at the "
                   "end.\n";
    }
    const std::string question =
        "Recover " + std::to_string(subscribers) +
        " subscriber(s) as listed above now?  Finishing a reset deletes the subscriber's messages "
        "and recordings as the reset would have done.";
    if (host.ui->messageBox(question, MsgButtons::YesNo) != MsgAnswer::Yes) {
        err << "zephrane-cli: the recovery was not confirmed; nothing was changed\n";
        return kExitNothingRun;
    }
    // As in a reset: the first interrupt (Ctrl+C, SIGINT, SIGTERM) stops the recovery after
    // the subscriber under way, with its journal entry closed; a second one ends it at once.
    InterruptWatch interrupts({[] { return true; }, [] {}, {}, kRecoveryEndedAtOnce}, err);
    interrupts.poll();
    // The callback and the observer point at this function's objects: both are taken away
    // again on every way out of it, an exception included.
    CliUserInterface &ui = *session.ui;
    const SaveAndRestore onEvents(ui.onEvents, [&interrupts] { interrupts.poll(); });
    const RecoverySummary summary = [&] {
        program.log.setLineObserver([&out, &interrupts](const std::string &line) {
            out << line << std::endl;
            interrupts.poll();
        });
        const ScopeExit unobserve([&program] { program.log.setLineObserver(nullptr); });
        return recoverInterruptedResets(
            host, program.registry, program.tarvoDb, program.log, open, plan, options.skipDlSync,
            options.templateAlias.value_or(""), [&](int, const RecoveryPlanEntry &) {
                interrupts.poll();
                return interrupts.stopAsked();
            });
    }();
    interrupts.end();
    out << summary.closingMessage << "\n"
        << "Log: " << host.files->nativePath(summary.logFilePath) << "\n";
    if (summary.stoppedByRequest) {
        err << "zephrane-cli: the recovery was stopped by request after the subscriber under way; "
            << summary.entriesLeft
            << " entr(ies) left open: run zephrane-cli --recover again to finish them\n";
        return native::interruptExitStatus();
    }
    if (!summary.stopReason.empty())
        err << "zephrane-cli: the recovery stopped early: " << summary.stopReason << "\n";
    return summary.errorCount == 0 ? kExitOk : kExitRunErrors;
}

} // namespace

int run(const std::vector<std::string> &args, std::ostream &out, std::ostream &err,
        const Terminal &terminal) {
    const Result<Options> parsed = parseOptions(args);
    if (!parsed) {
        err << kMessagePrefix << parsed.error() << "; see --help\n";
        return kExitNothingRun;
    }
    const Options &options = *parsed;
    if (options.help) {
        out << usageText();
        return kExitOk;
    }
    if (options.version) {
        out << "zephrane-cli " << ownVersionText() << "\n";
        return kExitOk;
    }
    // The query's guard needs no server: a refused text ends the program before anything runs.
    if (options.selection && options.selection->code == kSelectionWhere) {
        if (const Status accepted =
                search::checkQuery(search::toEditorLineBreaks(options.selection->value));
            !accepted) {
            err << "zephrane-cli: " << accepted.error() << "\n";
            return kExitNothingRun;
        }
    }

    Session session;
    if (std::optional<int> ended = startUp(args, options, session, out, err))
        return *ended;
    if (options.listTemplates)
        return listTemplates(session.templates, options.format, out);
    if (!knownTemplate(session.templates, options, err))
        return kExitNothingRun;
    if (options.recover)
        return recover(session, options, out, err);

    Program &program = *session.program;
    session.ui->reword = [&options, &program](const std::string &text) {
        // A file that is not there is the usual cause, and the file system can tell; otherwise
        // the message's second line says why the file was not read (a folder, a device, its size).
        const std::string kCannotOpen = "Error! Could not open CSV input file.";
        if (options.selection->code == kCriterionCsvFile && text.rfind(kCannotOpen, 0) == 0) {
            IFileSystem &files = *program.host.files;
            const std::string &path = options.selection->value;
            if (!files.fileExists(path) && !files.folderExists(path) &&
                (text.find("No such file") != std::string::npos ||
                 text.find("\r\n") == std::string::npos))
                return "the CSV file '" + path + "' does not exist; nothing was run";
            const std::size_t why = text.rfind(": ");
            if (why != std::string::npos && text.find("\r\n") != std::string::npos)
                return "the CSV file '" + path + "' cannot be read: " + text.substr(why + 2) +
                       "; nothing was run";
        }
        return selectionMessage(text, *options.selection);
    };
    SubscriberSearch subscribers(program.host, program.registry, program.tarvoDb, &program.localize,
                                 SubscriberSearch::messageBoxes(program.host));
    subscribers.loadLists();
    std::optional<SubscriberSelection> criterion;
    if (options.selection->code != kSelectionWhere) {
        criterion = criterionOf(*options.selection, subscribers, err);
        if (!criterion)
            return kExitNothingRun;
    }
    if (listsByQuery(options)) {
        // The header goes out with the first row: a refused input lists nothing at all.
        std::optional<RowPrinter> printer;
        auto begin = [&] {
            if (!printer)
                printer.emplace(SubscriberSearch::kListingColumns, options.format, out);
        };
        try {
            subscribers.listSubscribers(*criterion, [&](const Row &cells) {
                begin();
                printer->row(cells);
            });
        } catch (const Error &e) {
            // A listing cut short is left unfinished, so that no reader takes it for whole.
            out.flush();
            err << "zephrane-cli: the subscribers could not be read: " << e.description() << "\n";
            return kExitNothingRun;
        }
        if (subscribers.inputRefused())
            return kExitNothingRun;
        begin();
        printer->finish();
        return kExitOk;
    }
    if (!criterion) {
        if (!selectByQuery(program, subscribers, options.selection->value))
            return kExitNothingRun;
    } else {
        subscribers.addSubscribers(*criterion);
        // The search has told what is wrong with the input; a list of it would look like an
        // empty selection.
        if (subscribers.inputRefused())
            return kExitNothingRun;
    }
    if (options.list) {
        printGrid(subscribers, options.format, out);
        return kExitOk;
    }
    if (!subscribers.readyToHandOver())
        return kExitNothingRun;
    session.ui->reword = nullptr;
    return reset(session, resetRequestOf(options, subscribers.tickedSubscribers()), options,
                 terminal, out, err);
}

} // namespace zeph::cli
