// zephrane-cli's command line, read before anything runs: what each option sets, and the one
// line that refuses a command line the program cannot run, word for word as the operator
// reads it after "zephrane-cli: ".
#include "cli/CliOptions.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

using namespace zeph;
using namespace zeph::cli;

namespace {

using Args = std::vector<std::string>;

std::vector<std::string> words(const std::string &line) {
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string word; in >> word;)
        out.push_back(word);
    return out;
}

// The options of a command line, or the text that refuses it.
struct Parsed {
    std::optional<Options> options;
    std::string problem;
};

Parsed parse(const Args &args) {
    Result<Options> options = parseOptions(args);
    if (!options)
        return {std::nullopt, options.error()};
    return {std::move(*options), ""};
}

} // namespace

TEST(CliOptions, ACommandLineThatCannotRunIsRefusedWithItsReason) {
    const struct {
        Args args;
        const char *problem;
    } cases[] = {
        // what stands where an option belongs
        {{"--all", "--list", "stray"}, "unexpected argument 'stray'"},
        {{"--all", "--list", "-"}, "unexpected argument '-'"},
        {{"--all", "--", "--list"}, "unexpected argument '--list'"},
        // unknown options, with the one a slip most likely meant
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"-x", "--all"}, "unknown option '-x'"},
        {{"--tempalte", "x", "--all"}, "unknown option '--tempalte'; did you mean --template?"},
        {{"--extension", "1-2"}, "unknown option '--extension'; did you mean --extensions?"},
        {{"--Template=x", "--all"}, "unknown option '--Template'"},
        {{"--help", "--bogus"}, "unknown option '--bogus'"},
        // values missing, or given to a switch
        {{"--template"}, "--template needs a value"},
        {{"--template", "--all"}, "--template needs a value"},
        {{"--all", "--list", "--format"}, "--format needs a value"},
        {{"--yes=no", "--all", "--list"}, "option '--yes' takes no value"},
        {{"--all=1", "--list"}, "option '--all' takes no value"},
        // values an option does not take
        {{"--all", "--list", "--format", "x"}, "--format takes tsv, csv or json (got 'x')"},
        {{"--all", "--list", "--format=TSV"}, "--format takes tsv, csv or json (got 'TSV')"},
        {{"--extensions", "10", "--list"},
         "--extensions takes LOW-HIGH, two whole numbers such as 4000-4099 (got '10')"},
        {{"--extensions", "a-b", "--list"},
         "--extensions takes LOW-HIGH, two whole numbers such as 4000-4099 (got 'a-b')"},
        {{"--extensions=50-10", "--template", "t"},
         "--extensions takes LOW-HIGH with LOW not above HIGH (got '50-10')"},
        {{"--switch", "3", "--list"},
         "--switch takes 1 (the first telephone-system integration) or 2"},
        {{"--query-timeout", "soon"},
         "--query-timeout takes whole seconds, 0 for no limit (got 'soon')"},
        {{"--query-timeout", "1234567"},
         "--query-timeout takes whole seconds, 0 for no limit (got '1234567')"},
        // selections
        {{"--all", "--csv", "x.csv", "--list"}, "give one selection only (--all and --csv)"},
        {{"--where", "WHERE 1=1", "--all"}, "give one selection only (--where and --all)"},
        {{},
         "give one selection (--all, --extensions, --switch, --cos, --mail-server, --csv or "
         "--where)"},
        {{"--template", "t"},
         "give one selection (--all, --extensions, --switch, --cos, "
         "--mail-server, --csv or --where)"},
        // options that belong to another kind of run
        {{"--all", "--template", "t", "--format", "csv"},
         "--format is for --list and --list-templates"},
        {{"--recover", "--all"},
         "--recover takes no selection, --list or --dry-run: it finishes "
         "the interrupted resets as their journals record them"},
        {{"--recover", "--dry-run"},
         "--recover takes no selection, --list or --dry-run: it "
         "finishes the interrupted resets as their journals record "
         "them"},
        {{"--journal", "j", "--all", "--template", "t"},
         "--journal and --accept-changed are for --recover"},
        {{"--accept-changed", "a", "--all", "--list"},
         "--journal and --accept-changed are for --recover"},
        {{"--all", "--list", "--dry-run"},
         "--dry-run is for a reset (with --template); --list changes nothing anyway"},
        {{"--all"},
         "a reset needs --template ALIAS (zephrane-cli --list-templates lists them); "
         "--list only prints the selection"},
    };
    for (const auto &c : cases) {
        std::string line;
        for (const std::string &arg : c.args)
            line += "[" + arg + "]";
        SCOPED_TRACE(line);
        const Parsed parsed = parse(c.args);
        EXPECT_FALSE(parsed.options);
        EXPECT_EQ(parsed.problem, c.problem);
    }
}

TEST(CliOptions, EachOptionSetsWhatItNames) {
    const Parsed reset = parse(words("--template=tmpl --extensions 4000-4099 --yes --dry-run -q "
                                     "--preserve-alternate-extensions --skip-dl-sync"));
    ASSERT_TRUE(reset.options) << reset.problem;
    const Options &o = *reset.options;
    EXPECT_EQ(o.templateAlias, "tmpl");
    ASSERT_TRUE(o.selection);
    EXPECT_EQ(o.selection->code, kCriterionExtensionRange);
    EXPECT_EQ(o.selection->option, "--extensions");
    EXPECT_EQ(o.selection->low, "4000");
    EXPECT_EQ(o.selection->high, "4099");
    EXPECT_TRUE(o.yes && o.dryRun && o.quiet && o.preserveAlternateExtensions && o.skipDlSync);
    EXPECT_FALSE(o.list || o.listTemplates || o.recover || o.help || o.version || o.hostInfo);
    EXPECT_EQ(o.format, ListFormat::Tsv);
    EXPECT_FALSE(o.queryTimeoutSeconds);

    const struct {
        Args args;
        int code;
        int switchNumber;
        const char *value;
    } selections[] = {
        {{"--all"}, kCriterionAllSubscribers, 0, ""},
        {{"--switch", "2"}, kCriterionSwitch, 2, ""},
        {{"--switch=1"}, kCriterionSwitch, 1, ""},
        {{"--cos", "Gold"}, kCriterionClassOfService, 0, "Gold"},
        {{"--mail-server", "MAIL1"}, kCriterionMailServer, 0, "MAIL1"},
        {{"--csv", "list.csv"}, kCriterionCsvFile, 0, "list.csv"},
        {{"--where", "WHERE Alias LIKE 'a%'"}, kSelectionWhere, 0, "WHERE Alias LIKE 'a%'"},
        {{"--where=WHERE x=1"}, kSelectionWhere, 0, "WHERE x=1"},
        {{"--csv", "-"}, kCriterionCsvFile, 0, "-"}, // a value may begin with one dash
    };
    for (const auto &s : selections) {
        Args args = s.args;
        args.push_back("--list");
        SCOPED_TRACE(args.front());
        const Parsed parsed = parse(args);
        ASSERT_TRUE(parsed.options) << parsed.problem;
        ASSERT_TRUE(parsed.options->selection);
        EXPECT_EQ(parsed.options->selection->code, s.code);
        EXPECT_EQ(parsed.options->selection->switchNumber, s.switchNumber);
        EXPECT_EQ(parsed.options->selection->value, s.value);
        EXPECT_TRUE(parsed.options->list);
    }

    const Parsed listing = parse(words("--all --list --format json --query-timeout 0 --"));
    ASSERT_TRUE(listing.options) << listing.problem;
    EXPECT_EQ(listing.options->format, ListFormat::Json);
    EXPECT_EQ(listing.options->queryTimeoutSeconds, 0);
    EXPECT_EQ(parse(words("--list-templates --format=csv")).options->format, ListFormat::Csv);
    EXPECT_EQ(parse(words("--all --list --query-timeout=999999")).options->queryTimeoutSeconds,
              999999);
}

TEST(CliOptions, ARunWithoutSelectionNeedsNone) {
    const struct {
        const char *line;
        bool Options::*set;
    } cases[] = {
        {"--help", &Options::help},
        {"-h --format csv --dry-run", &Options::help}, // help before any other check
        {"--version", &Options::version},
        {"-V --all", &Options::version},
        {"--host-info", &Options::hostInfo},
        {"--list-templates", &Options::listTemplates},
        {"--recover --yes --skip-dl-sync", &Options::recover},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        const Parsed parsed = parse(words(c.line));
        ASSERT_TRUE(parsed.options) << parsed.problem;
        EXPECT_TRUE((*parsed.options).*c.set);
    }

    const Parsed recover =
        parse(words("--recover --journal j.txt --accept-changed abc --accept-changed=Def "
                    "--template t"));
    ASSERT_TRUE(recover.options) << recover.problem;
    EXPECT_EQ(recover.options->journal, "j.txt");
    EXPECT_EQ(recover.options->acceptChanged, (std::set<std::string>{"ABC", "DEF"}));
    EXPECT_EQ(recover.options->templateAlias, "t");
    EXPECT_FALSE(recover.options->selection);
}
