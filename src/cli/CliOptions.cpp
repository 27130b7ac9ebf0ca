#include "CliOptions.h"
#include "platform/AsciiText.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zeph::cli {

namespace {

const char *kUsage =
    "Usage:\n"
    "  zephrane-cli --template ALIAS SELECTION [--preserve-alternate-extensions]\n"
    "               [--skip-dl-sync] [--dry-run] [--yes]\n"
    "      Resets the selected subscribers to the defaults of the template ALIAS:\n"
    "      each is removed and created again from the template, and its greetings,\n"
    "      voice name and messages are deleted; it keeps its ids, alias, names,\n"
    "      extension, directory account and distribution-list membership. Checks\n"
    "      first that the run can be made (run lock, database rights, mail store,\n"
    "      recordings folder), then asks (--yes answers). Prints every run log line\n"
    "      as it is written, then the outcome and the paths of the log and of the\n"
    "      failed-records file. Before a subscriber is removed, what re-creating it\n"
    "      needs goes to a recovery journal beside the log.\n"
    "  zephrane-cli SELECTION --list [--format tsv|csv|json]\n"
    "      Prints the rows the selection would hold (a header row, then Alias,\n"
    "      DisplayName, FirstName, LastName, Extension, HomeServer, COS,\n"
    "      LegacyMailbox, RemoteNodeID, HandlerObjectID, ObjectID) and stops.\n"
    "  zephrane-cli --recover [--journal FILE] [--accept-changed ALIAS]...\n"
    "               [--template ALIAS] [--skip-dl-sync] [--yes]\n"
    "      Finishes the resets that were interrupted (the program or the machine\n"
    "      died): for each unfinished journal entry it finds out how far the reset\n"
    "      got and takes the remaining steps, logging as a reset does. It first\n"
    "      lists per subscriber what the server shows and what it will do, and\n"
    "      asks. A damaged journal is refused (exit status 2), nothing changed.\n"
    "      --template ALIAS  create them from that template instead of the\n"
    "                        journaled one (for a template that is gone)\n"
    "      --journal FILE    use that journal alone, also one older than journals\n"
    "                        that name their server; otherwise only the journals\n"
    "                        of this server are used, others are named and left\n"
    "      --accept-changed ALIAS  recover a subscriber changed since its journal\n"
    "                        entry was written (it is held with its differences)\n"
    "  zephrane-cli --list-templates [--format tsv|csv|json]\n"
    "      Runs the start-up checks, then lists the templates (Alias, DisplayName).\n"
    "  zephrane-cli --host-info     shows which stand-in host and database are used\n"
    "  zephrane-cli --version, -V   the program's version\n"
    "  zephrane-cli --help, -h      this text\n"
    "\n"
    "SELECTION is exactly one of:\n"
    "  --all                 all subscribers\n"
    "  --extensions LOW-HIGH extensions from LOW to HIGH (whole numbers)\n"
    "  --switch N            subscribers of telephone-system integration N (1 or 2)\n"
    "  --cos ALIAS           subscribers of the class of service ALIAS\n"
    "  --mail-server NAME    subscribers homed on the mail server NAME\n"
    "  --csv FILE            subscribers listed in FILE (header alias,extension);\n"
    "                        lines that match no subscriber are named by number\n"
    "  --where \"TAIL\"        the subscribers of the advanced search's query\n"
    "                        \"SELECT vw_Subscriber.* FROM vw_Subscriber TAIL\",\n"
    "                        e.g. --where \"WHERE Alias LIKE 'sales%'\". Guarded as\n"
    "                        in the wizard, it may only read: a refused text is\n"
    "                        told with exit status 2 and nothing is run\n"
    "\n"
    "Options:\n"
    "  --preserve-alternate-extensions  save the alternate extensions, add them back\n"
    "  --skip-dl-sync        skip the final synchronisation of distribution lists\n"
    "  --dry-run             read and check everything, change nothing: each change\n"
    "                        is logged as what the run would do (no question, no\n"
    "                        journal)\n"
    "  --yes                 answer the confirmation with Yes\n"
    "  --quiet, -q           no progress line on the terminal\n"
    "  --query-timeout SECONDS  stop a --where query that runs longer (0: no limit;\n"
    "                        default: the host's setting query-timeout, 30 s). A\n"
    "                        query stopped, or one that finds more than 32767\n"
    "                        subscribers, imports nothing: exit status 2\n"
    "  --format tsv|csv|json how a list is printed: tab- or comma-separated with a\n"
    "                        header row (default tsv), or one JSON array of objects\n"
    "An option's value may also follow it after \"=\" (--template=ALIAS); \"--\" ends\n"
    "the options.\n"
    "\n"
    "Output: run log lines go to standard output as they are written. Messages,\n"
    "questions and, when standard error is a terminal, one progress line redrawn in\n"
    "place (subscriber N of M, its alias, time elapsed and left, cut to the\n"
    "terminal's width or COLUMNS) go to standard error. On a terminal the log's\n"
    "\"(error)\" and \"(warning)\" lines are coloured, unless NO_COLOR is set or TERM\n"
    "is dumb.\n"
    "\n"
    "Interrupts: during a run or --recover, the first Ctrl+C (SIGINT) or SIGTERM\n"
    "stops it after the subscriber under way: that subscriber is finished, no other\n"
    "is begun, the run ends as usual and counts the rest as not attempted (a\n"
    "recovery leaves them open in their journals) (exit status 130 for SIGINT, 143\n"
    "for SIGTERM). A second one ends the program at once, the same status; its\n"
    "subscriber may be half reset: run zephrane-cli --recover.\n"
    "\n"
    "The host is the stand-in host folder named by ZEPHRANE_HOST, or the default\n"
    "host (made on first use). Run logs go to the logs folder beside the program;\n"
    "beside each log the run writes Zephrane_Failed_<time>.csv, a subscriber list\n"
    "(alias,extension,reason) of every subscriber not cleanly reset (skipped, reset\n"
    "with errors, not attempted), for a later --csv run.\n"
    "\n"
    "Exit status: 0 a run whose summary counts no error (or a list); 1 a run that\n"
    "logged errors; 2 nothing was reset (bad input: usage, a selection the page\n"
    "refuses, such as a reversed range or a file that cannot be read, also with\n"
    "--list; a failed start-up check, an empty selection, a run refused before its\n"
    "question, a question answered No); 130 or 143 a run stopped by an interrupt.\n";

bool wholeNumber(const std::string &text) {
    return !text.empty() && text.size() <= 9 && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c));
    });
}

// The arguments, read one option at a time. An option's value follows it as the next argument
// or after "=" ("--name=value" is "--name value"); "--" ends the options.
class Arguments {
public:
    explicit Arguments(const std::vector<std::string> &args)
        : m_args(args) {}

    // The next option's name; nothing after the last one. An argument that is no option (an
    // operand, "-", anything after "--") is refused.
    Result<std::optional<std::string>> nextOption() {
        m_inlineValue.reset();
        m_valueTaken = false;
        while (m_next < m_args.size()) {
            const std::string &arg = m_args[m_next++];
            if (m_optionsEnded || arg.rfind("-", 0) != 0 || arg == "-")
                return fail("unexpected argument '" + arg + "'");
            if (arg == "--") {
                m_optionsEnded = true;
                continue;
            }
            const std::size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
            m_option = arg.substr(0, equals);
            if (equals != std::string::npos)
                m_inlineValue = arg.substr(equals + 1);
            return std::optional<std::string>(m_option);
        }
        return std::optional<std::string>();
    }

    // The value of the option read last: after its "=", or the next argument unless that is
    // another option.
    Result<std::string> value() {
        m_valueTaken = true;
        if (m_inlineValue)
            return *m_inlineValue;
        if (m_next >= m_args.size() || m_args[m_next].rfind("--", 0) == 0)
            return fail(m_option + " needs a value");
        return m_args[m_next++];
    }

    // The option read last was given a value after "=" that it did not take.
    bool valueLeftOver() const { return m_inlineValue && !m_valueTaken; }

private:
    const std::vector<std::string> &m_args;
    std::size_t m_next = 0; // the argument after the one read last
    bool m_optionsEnded = false;
    std::string m_option;
    std::optional<std::string> m_inlineValue;
    bool m_valueTaken = false;
};

// A selection by the criterion `code`, named by the option that asked for it.
Selection selectionOf(int code, const std::string &option) {
    Selection selection;
    selection.code = code;
    selection.option = option;
    return selection;
}

// Sets the one selection; a second one is a problem.
Status choose(Options &options, Selection selection) {
    if (options.selection)
        return fail("give one selection only (" + options.selection->option + " and " +
                    selection.option + ")");
    options.selection = std::move(selection);
    return done();
}

Status parseRange(const std::string &text, Selection &selection) {
    const auto dash = text.find('-');
    if (dash == std::string::npos || !wholeNumber(text.substr(0, dash)) ||
        !wholeNumber(text.substr(dash + 1)))
        return fail("--extensions takes LOW-HIGH, two whole numbers such as 4000-4099 (got '" +
                    text + "')");
    if (std::stol(text.substr(0, dash)) > std::stol(text.substr(dash + 1)))
        return fail("--extensions takes LOW-HIGH with LOW not above HIGH (got '" + text + "')");
    selection.low = text.substr(0, dash);
    selection.high = text.substr(dash + 1);
    return done();
}

Result<ListFormat> parseFormat(const std::string &text) {
    if (text == "tsv")
        return ListFormat::Tsv;
    if (text == "csv")
        return ListFormat::Csv;
    if (text == "json")
        return ListFormat::Json;
    return fail("--format takes tsv, csv or json (got '" + text + "')");
}

// --- what each option with a value does with it ---------------------------------------------

Status readFormat(const std::string &, Arguments &arguments, Options &options) {
    const Result<std::string> text = arguments.value();
    if (!text)
        return text.failure();
    const Result<ListFormat> format = parseFormat(*text);
    if (!format)
        return format.failure();
    options.format = *format;
    return done();
}

Status readAcceptChanged(const std::string &, Arguments &arguments, Options &options) {
    const Result<std::string> alias = arguments.value();
    if (!alias)
        return alias.failure();
    options.acceptChanged.insert(upperAscii(*alias));
    return done();
}

Status readQueryTimeout(const std::string &, Arguments &arguments, Options &options) {
    const Result<std::string> seconds = arguments.value();
    if (!seconds)
        return seconds.failure();
    if (!wholeNumber(*seconds) || seconds->size() > 6)
        return fail("--query-timeout takes whole seconds, 0 for no limit (got '" + *seconds + "')");
    options.queryTimeoutSeconds = std::stoi(*seconds);
    return done();
}

// An option whose value is kept as it stands, in the field it names.
template <std::optional<std::string> Options::*field>
Status readText(const std::string &, Arguments &arguments, Options &options) {
    Result<std::string> text = arguments.value();
    if (!text)
        return text.failure();
    options.*field = std::move(*text);
    return done();
}

// --- the selections: each option is one criterion of the selection page ---------------------

Status selectAll(const std::string &option, Arguments &, Options &options) {
    return choose(options, selectionOf(kCriterionAllSubscribers, option));
}

Status selectExtensions(const std::string &option, Arguments &arguments, Options &options) {
    const Result<std::string> range = arguments.value();
    if (!range)
        return range.failure();
    Selection selection = selectionOf(kCriterionExtensionRange, option);
    if (Status parsed = parseRange(*range, selection); !parsed)
        return parsed;
    return choose(options, std::move(selection));
}

Status selectSwitch(const std::string &option, Arguments &arguments, Options &options) {
    const Result<std::string> number = arguments.value();
    if (!number)
        return number.failure();
    if (*number != "1" && *number != "2")
        return fail("--switch takes 1 (the first telephone-system integration) or 2");
    Selection selection = selectionOf(kCriterionSwitch, option);
    selection.switchNumber = number->front() - '0';
    return choose(options, std::move(selection));
}

// A criterion whose value is taken as it is given: a name, a file or the query's tail.
template <int Code>
Status selectByValue(const std::string &option, Arguments &arguments, Options &options) {
    Result<std::string> value = arguments.value();
    if (!value)
        return value.failure();
    Selection selection = selectionOf(Code, option);
    selection.value = std::move(*value);
    return choose(options, std::move(selection));
}

// Every option the program knows: a switch sets its flag, any other is read by its function.
// The long names are also what a mistyped option is compared with.
struct KnownOption {
    const char *name;
    const char *shortName;
    bool Options::*flag;
    Status (*read)(const std::string &option, Arguments &arguments, Options &options);
};

constexpr KnownOption kKnownOptions[] = {
    {"--help", "-h", &Options::help, nullptr},
    {"--version", "-V", &Options::version, nullptr},
    {"--quiet", "-q", &Options::quiet, nullptr},
    {"--host-info", nullptr, &Options::hostInfo, nullptr},
    {"--list-templates", nullptr, &Options::listTemplates, nullptr},
    {"--list", nullptr, &Options::list, nullptr},
    {"--yes", nullptr, &Options::yes, nullptr},
    {"--preserve-alternate-extensions", nullptr, &Options::preserveAlternateExtensions, nullptr},
    {"--skip-dl-sync", nullptr, &Options::skipDlSync, nullptr},
    {"--dry-run", nullptr, &Options::dryRun, nullptr},
    {"--recover", nullptr, &Options::recover, nullptr},
    {"--format", nullptr, nullptr, readFormat},
    {"--accept-changed", nullptr, nullptr, readAcceptChanged},
    {"--journal", nullptr, nullptr, readText<&Options::journal>},
    {"--query-timeout", nullptr, nullptr, readQueryTimeout},
    {"--template", nullptr, nullptr, readText<&Options::templateAlias>},
    {"--all", nullptr, nullptr, selectAll},
    {"--extensions", nullptr, nullptr, selectExtensions},
    {"--switch", nullptr, nullptr, selectSwitch},
    {"--where", nullptr, nullptr, selectByValue<kSelectionWhere>},
    {"--cos", nullptr, nullptr, selectByValue<kCriterionClassOfService>},
    {"--mail-server", nullptr, nullptr, selectByValue<kCriterionMailServer>},
    {"--csv", nullptr, nullptr, selectByValue<kCriterionCsvFile>},
};

const KnownOption *knownOption(const std::string &arg) {
    for (const KnownOption &known : kKnownOptions)
        if (arg == known.name || (known.shortName && arg == known.shortName))
            return &known;
    return nullptr;
}

// Reads one option, and its value when it takes one, into the options.
Status readOption(const std::string &arg, Arguments &arguments, Options &options) {
    const KnownOption *known = knownOption(arg);
    if (!known) {
        std::string problem = "unknown option '" + arg + "'";
        if (const std::string near = nearestOption(arg); !near.empty())
            problem += "; did you mean " + near + "?";
        return fail(problem);
    }
    if (known->flag)
        options.*(known->flag) = true;
    else if (Status read = known->read(arg, arguments, options); !read)
        return read;
    if (arguments.valueLeftOver())
        return fail("option '" + arg + "' takes no value");
    return done();
}

// A recovery follows its journals: it takes no selection of its own.
Status checkRecovery(const Options &options) {
    if (options.selection || options.list || options.dryRun)
        return fail("--recover takes no selection, --list or --dry-run: it finishes the "
                    "interrupted resets as their journals record them");
    return done();
}

// The options together make one run the program can make.
Status checkCombination(const Options &options) {
    if (options.help || options.version)
        return done();
    if (options.format != ListFormat::Tsv && !options.list && !options.listTemplates)
        return fail("--format is for --list and --list-templates");
    if (options.hostInfo || options.listTemplates)
        return done();
    if (options.recover)
        return checkRecovery(options);
    if (options.journal || !options.acceptChanged.empty())
        return fail("--journal and --accept-changed are for --recover");
    if (!options.selection)
        return fail("give one selection (--all, --extensions, --switch, --cos, --mail-server, "
                    "--csv or --where)");
    if (options.list && options.dryRun)
        return fail("--dry-run is for a reset (with --template); --list changes nothing anyway");
    if (!options.list && !options.templateAlias)
        return fail("a reset needs --template ALIAS (zephrane-cli --list-templates lists them); "
                    "--list only prints the selection");
    return done();
}

// The edit distance of two texts (insertions, deletions, substitutions, and swaps of two
// neighbours: the usual typing slips).
std::size_t editDistance(const std::string &a, const std::string &b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

} // namespace

std::string nearestOption(const std::string &arg) {
    const std::string typed = lowerAscii(arg);
    std::string best;
    std::size_t bestDistance = 0;
    bool tie = false;
    for (const KnownOption &known : kKnownOptions) {
        const std::string option = known.name;
        // A unique beginning ("--preserve") or a slip of a few letters.
        std::size_t distance = editDistance(typed, option);
        if (typed.size() >= 4 && option.rfind(typed, 0) == 0)
            distance = std::min<std::size_t>(distance, 1);
        if (best.empty() || distance < bestDistance) {
            best = option;
            bestDistance = distance;
            tie = false;
        } else if (distance == bestDistance) {
            tie = true;
        }
    }
    const std::size_t allowed = typed.size() <= 6 ? 1 : 2;
    return best.empty() || tie || bestDistance == 0 || bestDistance > allowed ? std::string()
                                                                              : best;
}

const char *usageText() {
    return kUsage;
}

Result<Options> parseOptions(const std::vector<std::string> &args) {
    Options options;
    Arguments arguments(args);
    for (;;) {
        const Result<std::optional<std::string>> option = arguments.nextOption();
        if (!option)
            return option.failure();
        if (!*option)
            break;
        if (Status read = readOption(**option, arguments, options); !read)
            return read.failure();
    }
    if (Status checked = checkCombination(options); !checked)
        return checked.failure();
    return options;
}

} // namespace zeph::cli
