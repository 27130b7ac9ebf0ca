#include "CliOptions.h"
#include "platform/AsciiText.h"

#include <algorithm>
#include <cctype>
#include <string>
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

// Sets the one selection; a second one is a problem.
bool choose(std::optional<Selection> &slot, Selection selection, std::string &problem) {
    if (slot) {
        problem = "give one selection only (" + slot->option + " and " + selection.option + ")";
        return false;
    }
    slot = std::move(selection);
    return true;
}

bool parseRange(const std::string &text, Selection &selection, std::string &problem) {
    const auto dash = text.find('-');
    if (dash == std::string::npos || !wholeNumber(text.substr(0, dash)) ||
        !wholeNumber(text.substr(dash + 1))) {
        problem =
            "--extensions takes LOW-HIGH, two whole numbers such as 4000-4099 (got '" + text + "')";
        return false;
    }
    if (std::stol(text.substr(0, dash)) > std::stol(text.substr(dash + 1))) {
        problem = "--extensions takes LOW-HIGH with LOW not above HIGH (got '" + text + "')";
        return false;
    }
    selection.low = text.substr(0, dash);
    selection.high = text.substr(dash + 1);
    return true;
}

bool parseFormat(const std::string &text, ListFormat &format, std::string &problem) {
    if (text == "tsv")
        format = ListFormat::Tsv;
    else if (text == "csv")
        format = ListFormat::Csv;
    else if (text == "json")
        format = ListFormat::Json;
    else {
        problem = "--format takes tsv, csv or json (got '" + text + "')";
        return false;
    }
    return true;
}

// Every option the program knows, for the suggestion after a mistyped one.
constexpr const char *kKnownOptions[] = {"--help",
                                         "--version",
                                         "--quiet",
                                         "--host-info",
                                         "--list-templates",
                                         "--list",
                                         "--yes",
                                         "--preserve-alternate-extensions",
                                         "--skip-dl-sync",
                                         "--dry-run",
                                         "--recover",
                                         "--format",
                                         "--accept-changed",
                                         "--journal",
                                         "--query-timeout",
                                         "--template",
                                         "--all",
                                         "--extensions",
                                         "--switch",
                                         "--where",
                                         "--cos",
                                         "--mail-server",
                                         "--csv"};

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
    for (const char *known : kKnownOptions) {
        const std::string option = known;
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

std::optional<Options> parseOptions(const std::vector<std::string> &args, std::string &problem) {
    Options options;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (optionsEnded || args[i].rfind("-", 0) != 0 || args[i] == "-") {
            problem = "unexpected argument '" + args[i] + "'";
            return std::nullopt;
        }
        if (args[i] == "--") {
            optionsEnded = true;
            continue;
        }
        // "--name=value" is "--name value".
        const std::size_t equals =
            args[i].rfind("--", 0) == 0 ? args[i].find('=') : std::string::npos;
        const std::string arg = args[i].substr(0, equals);
        std::optional<std::string> inlineValue;
        if (equals != std::string::npos)
            inlineValue = args[i].substr(equals + 1);
        bool valueTaken = false;
        auto value = [&](std::string &out) {
            valueTaken = true;
            if (inlineValue) {
                out = *inlineValue;
                return true;
            }
            if (i + 1 >= args.size() || args[i + 1].rfind("--", 0) == 0) {
                problem = arg + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        Selection selection;
        selection.option = arg;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version" || arg == "-V") {
            options.version = true;
        } else if (arg == "--quiet" || arg == "-q") {
            options.quiet = true;
        } else if (arg == "--host-info") {
            options.hostInfo = true;
        } else if (arg == "--list-templates") {
            options.listTemplates = true;
        } else if (arg == "--list") {
            options.list = true;
        } else if (arg == "--yes") {
            options.yes = true;
        } else if (arg == "--preserve-alternate-extensions") {
            options.preserveAlternateExtensions = true;
        } else if (arg == "--skip-dl-sync") {
            options.skipDlSync = true;
        } else if (arg == "--dry-run") {
            options.dryRun = true;
        } else if (arg == "--recover") {
            options.recover = true;
        } else if (arg == "--format") {
            std::string format;
            if (!value(format) || !parseFormat(format, options.format, problem))
                return std::nullopt;
        } else if (arg == "--accept-changed") {
            std::string alias;
            if (!value(alias))
                return std::nullopt;
            options.acceptChanged.insert(upperAscii(alias));
        } else if (arg == "--journal") {
            std::string file;
            if (!value(file))
                return std::nullopt;
            options.journal = file;
        } else if (arg == "--query-timeout") {
            std::string seconds;
            if (!value(seconds))
                return std::nullopt;
            if (!wholeNumber(seconds) || seconds.size() > 6) {
                problem =
                    "--query-timeout takes whole seconds, 0 for no limit (got '" + seconds + "')";
                return std::nullopt;
            }
            options.queryTimeoutSeconds = std::stoi(seconds);
        } else if (arg == "--template") {
            std::string alias;
            if (!value(alias))
                return std::nullopt;
            options.templateAlias = alias;
        } else if (arg == "--all") {
            selection.code = kCriterionAllSubscribers;
            if (!choose(options.selection, selection, problem))
                return std::nullopt;
        } else if (arg == "--extensions") {
            std::string range;
            selection.code = kCriterionExtensionRange;
            if (!value(range) || !parseRange(range, selection, problem) ||
                !choose(options.selection, selection, problem))
                return std::nullopt;
        } else if (arg == "--switch") {
            std::string number;
            if (!value(number))
                return std::nullopt;
            if (number != "1" && number != "2") {
                problem = "--switch takes 1 (the first telephone-system integration) or 2";
                return std::nullopt;
            }
            selection.code = kCriterionSwitch;
            selection.switchNumber = number[0] - '0';
            if (!choose(options.selection, selection, problem))
                return std::nullopt;
        } else if (arg == "--where") {
            selection.code = kSelectionWhere;
            if (!value(selection.value) || !choose(options.selection, selection, problem))
                return std::nullopt;
        } else if (arg == "--cos" || arg == "--mail-server" || arg == "--csv") {
            selection.code = arg == "--cos"           ? kCriterionClassOfService
                             : arg == "--mail-server" ? kCriterionMailServer
                                                      : kCriterionCsvFile;
            if (!value(selection.value) || !choose(options.selection, selection, problem))
                return std::nullopt;
        } else {
            problem = "unknown option '" + arg + "'";
            if (const std::string near = nearestOption(arg); !near.empty())
                problem += "; did you mean " + near + "?";
            return std::nullopt;
        }
        if (inlineValue && !valueTaken) {
            problem = "option '" + arg + "' takes no value";
            return std::nullopt;
        }
    }
    if (options.help || options.version)
        return options;
    if (options.format != ListFormat::Tsv && !options.list && !options.listTemplates) {
        problem = "--format is for --list and --list-templates";
        return std::nullopt;
    }
    if (options.help || options.hostInfo || options.listTemplates)
        return options;
    if (options.recover) {
        if (options.selection || options.list || options.dryRun) {
            problem = "--recover takes no selection, --list or --dry-run: it finishes the "
                      "interrupted resets as their journals record them";
            return std::nullopt;
        }
        return options;
    }
    if (options.journal || !options.acceptChanged.empty()) {
        problem = "--journal and --accept-changed are for --recover";
        return std::nullopt;
    }
    if (!options.selection) {
        problem = "give one selection (--all, --extensions, --switch, --cos, --mail-server, --csv "
                  "or --where)";
        return std::nullopt;
    }
    if (options.list && options.dryRun) {
        problem = "--dry-run is for a reset (with --template); --list changes nothing anyway";
        return std::nullopt;
    }
    if (!options.list && !options.templateAlias) {
        problem = "a reset needs --template ALIAS (zephrane-cli --list-templates lists them); "
                  "--list only prints the selection";
        return std::nullopt;
    }
    return options;
}

} // namespace zeph::cli
