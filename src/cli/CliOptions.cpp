#include "CliOptions.h"
#include "platform/AsciiText.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace zeph::cli {

namespace {

const char *kUsage =
    "Usage:\n"
    "  zephrane-cli --template ALIAS SELECTION [--preserve-alternate-extensions]\n"
    "               [--skip-dl-sync] [--dry-run] [--yes]\n"
    "      Resets the selected subscribers to the defaults of the template ALIAS: each is\n"
    "      removed and created again from the template, its greetings, voice name and\n"
    "      messages are deleted; it keeps its ids, alias, names, extension, directory account\n"
    "      and distribution-list membership. Asks for confirmation on the terminal (--yes\n"
    "      answers it). Every run log line is printed as it is written, then the paths of the\n"
    "      log and of the failed-records file.\n"
    "      Before a subscriber is removed, what re-creating it needs is written to a\n"
    "      recovery journal beside the log (Zephrane_Journal_<time>.txt).\n"
    "  zephrane-cli SELECTION --list [--format tsv|csv|json]\n"
    "      Prints the rows the selection grid would hold, after a header row naming the\n"
    "      columns (Alias, DisplayName, FirstName, LastName, Extension, HomeServer, COS,\n"
    "      LegacyMailbox, RemoteNodeID, HandlerObjectID, ObjectID), and stops.\n"
    "  zephrane-cli --recover [--journal FILE] [--accept-changed ALIAS]... [--template ALIAS]\n"
    "               [--skip-dl-sync] [--yes]\n"
    "      Finishes the resets that were interrupted (the program or the machine died): for\n"
    "      each unfinished journal entry it finds out how far the reset got and takes the\n"
    "      remaining steps, logging as a reset does. Both programs name such subscribers at\n"
    "      start, and a reset skips them until they are recovered. A damaged journal is\n"
    "      refused (exit status 2) and nothing is changed. --template ALIAS creates the\n"
    "      subscribers from that template instead of the journaled one (for a template\n"
    "      that is gone). Only the journals of the server it is connected to are used;\n"
    "      others are named and left alone. --journal FILE uses that journal alone, also\n"
    "      one written before journals named their server. Before it changes anything it\n"
    "      lists per subscriber what the server shows and what it will do, and asks. A\n"
    "      subscriber never removed is closed without a reset. One changed since the\n"
    "      journal was written (extension, names, directory id, other ids) is left open\n"
    "      with its differences until --accept-changed ALIAS names it.\n"
    "  zephrane-cli --list-templates [--format tsv|csv|json]\n"
    "      Runs the start-up checks, then lists the templates (Alias, DisplayName).\n"
    "  zephrane-cli --host-info     shows which stand-in host and database are used\n"
    "  zephrane-cli --version, -V   the program's version\n"
    "  zephrane-cli --help, -h      this text\n"
    "\n"
    "SELECTION is exactly one of:\n"
    "  --all                  all subscribers\n"
    "  --extensions LOW-HIGH  subscribers with extensions from LOW to HIGH (whole numbers)\n"
    "  --switch N             subscribers of telephone-system integration N (1 or 2)\n"
    "  --cos ALIAS            subscribers of the class of service ALIAS\n"
    "  --mail-server NAME     subscribers homed on the mail server NAME\n"
    "  --csv FILE             subscribers listed in FILE (header alias,extension); the lines\n"
    "                         that matched no subscriber are named by line number\n"
    "  --where \"TAIL\"         the subscribers of the advanced search's query\n"
    "                         \"SELECT vw_Subscriber.* FROM vw_Subscriber TAIL\", for example\n"
    "                         --where \"WHERE Alias LIKE 'sales%'\". The query is guarded as in\n"
    "                         the wizard and may only read: a refused text is told on standard\n"
    "                         error with exit status 2 and nothing is run\n"
    "\n"
    "Options:\n"
    "  --preserve-alternate-extensions   save the alternate extensions and add them back\n"
    "  --skip-dl-sync                    skip the final synchronisation of all distribution\n"
    "                                    lists\n"
    "  --dry-run                         read and check everything, change nothing: each\n"
    "                                    change is logged as what the run would do (no\n"
    "                                    question is asked, no journal is written)\n"
    "  --yes                             answer the confirmation with Yes\n"
    "  --quiet, -q                       no progress line on the terminal\n"
    "  --query-timeout SECONDS           stop a --where query that runs longer (0: no\n"
    "                                    limit; the default is the host's setting\n"
    "                                    query-timeout, 30 seconds). A query stopped, or one\n"
    "                                    that finds more than 32767 subscribers, imports\n"
    "                                    nothing: exit status 2\n"
    "  --format tsv|csv|json             how a list is printed: tab- or comma-separated\n"
    "                                    with a header row (the default is tsv), or one\n"
    "                                    JSON array of objects keyed by column\n"
    "An option's value may also follow it after \"=\" (--template=ALIAS); \"--\" ends the\n"
    "options.\n"
    "\n"
    "Output: run log lines go to standard output as they are written; messages, questions\n"
    "and, when standard error is a terminal, one progress line redrawn in place (subscriber\n"
    "N of M, its alias, elapsed and remaining time) go to standard error. On a terminal\n"
    "\"(error)\" and \"(warning)\" lines are coloured; NO_COLOR (set to anything) turns that off.\n"
    "\n"
    "The host is the stand-in host folder named by ZEPHRANE_HOST, or the default host\n"
    "(created on first use). Run logs go to the logs folder beside the program; beside each\n"
    "log the run writes Zephrane_Failed_<time>.csv, a subscriber list (alias,extension,reason)\n"
    "of the subscribers it skipped or that logged an error, for a later --csv run.\n"
    "\n"
    "Exit status: 0 a run whose summary counts no error (or a list), 1 a run that logged\n"
    "errors, 2 nothing was run (bad input: usage, a selection the page refuses, such as a\n"
    "reversed range or a file that cannot be read, also with --list; a failed start-up\n"
    "check, an empty selection, a refused question).\n";

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

} // namespace

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
            selection.code = 1;
            if (!choose(options.selection, selection, problem))
                return std::nullopt;
        } else if (arg == "--extensions") {
            std::string range;
            selection.code = 2;
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
            selection.code = 4;
            selection.switchNumber = number[0] - '0';
            if (!choose(options.selection, selection, problem))
                return std::nullopt;
        } else if (arg == "--where") {
            selection.code = kSelectionWhere;
            if (!value(selection.value) || !choose(options.selection, selection, problem))
                return std::nullopt;
        } else if (arg == "--cos" || arg == "--mail-server" || arg == "--csv") {
            selection.code = arg == "--cos" ? 7 : arg == "--mail-server" ? 5 : 6;
            if (!value(selection.value) || !choose(options.selection, selection, problem))
                return std::nullopt;
        } else {
            problem = "unknown option '" + arg + "'";
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
