#include "SimSettings.h"
#include "platform/AsciiText.h"

#include "platform/Native.h"

#include <cctype>
#include <fstream>
#include <sstream>

namespace zeph::sim {

namespace {

std::string trim(std::string_view s) {
    return std::string(trimBlanks(s));
}

bool isNumber(const std::string &s) {
    if (s.empty() || s.size() > 9)
        return false;
    for (char c : s) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

// The locale that decides the language of messages here: LC_ALL, LC_MESSAGES, then LANG.
std::string environmentLocale() {
    for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        std::string value = native::environment(name);
        if (!value.empty())
            return value;
    }
    return {};
}

const SettingInfo *find(const std::string &name) {
    static const std::vector<SettingInfo> all = SimSettings::known();
    for (const auto &info : all) {
        if (info.name == name)
            return &info;
    }
    return nullptr;
}

// Checks a value for a known setting.
Status validate(const std::string &name, const std::string &value) {
    auto oneOf = [&](std::initializer_list<const char *> choices) -> Status {
        for (const char *c : choices) {
            if (value == c)
                return done();
        }
        std::string text = "setting " + name + " takes one of:";
        for (const char *c : choices)
            text += std::string(" ") + c;
        return fail(text);
    };
    if (name == "directory-sync")
        return oneOf({"ok", "fail", "never"});
    if (name == "virtual-time")
        return oneOf({"on", "off"});
    if (name == "scm-access")
        return oneOf({"full", "none"});
    if (name == "mail-library")
        return oneOf({"present", "missing"});
    if ((name == "abort-after" || name == "vanish-after") && !value.empty()) {
        const std::size_t hash = value.rfind('#');
        const std::string count = hash == std::string::npos ? "1" : value.substr(hash + 1);
        if (hash == 0 || !isNumber(count) || count.size() > 6 || std::stoi(count) < 1)
            return fail("setting " + name + " takes STEP or STEP#N, N a whole number from 1");
    }
    if (name == "file-space" && !value.empty() && !isNumber(value))
        return fail("setting file-space takes a number of bytes");
    if (name == "query-timeout") {
        if (isNumber(value) && value.size() <= 6)
            return done();
        return fail("setting query-timeout takes whole seconds (0: no limit)");
    }
    if (name.rfind("service.", 0) == 0) {
        if (isNumber(value))
            return done();
        return fail("setting " + name +
                    " takes a service state number (1 stopped, 4 running, 7 paused, ...)");
    }
    if (value.find('\n') != std::string::npos)
        return fail("setting " + name + " takes a single line");
    if (name == "sql-login" && value.empty())
        return fail("setting sql-login takes a login name");
    return done();
}

} // namespace

std::vector<SettingInfo> SimSettings::known() {
    return {
        {"directory-sync", "ok",
         "how the directory synchroniser answers sync tickets: ok (0), fail (1), never (NULL)"},
        {"abort-after", "",
         "end the program abruptly (exit status 86) right after the named stored procedure "
         "(sp_DeleteSubscriber, ...) or reset step (journal, recordings, mailbox, write-back, "
         "alternate-extensions, fixup-1 ... fixup-10); STEP#N: the N-th time; "
         "empty: never"},
        {"vanish-after", "",
         "move the host folder away (to HOST.vanished) when the named procedure or reset step "
         "(as for abort-after, and finished) is reached; STEP#N: the N-th time; empty: never"},
        {"file-space", "",
         "bytes the programs' run logs, journals and failed-records files may still take in "
         "one run, after which each further line is refused as on a full disk; empty: no limit"},
        {"virtual-time", "off", "on: sleeps return at once and move the host's clock forward"},
        {"service.Dravik", "4", "state of the Dravik service (4 running, 1 stopped, 7 paused)"},
        {"service.Morvin", "4", "state of the Morvin service"},
        {"service.Fennix", "4", "state of the Fennix service"},
        {"scm-access", "full", "full, or none: the account may not open the service manager"},
        {"mail-library", "present", "missing: creating a mail session fails"},
        {"user", native::currentUserName(), "the logged-on user"},
        {"domain", "WORKGROUP", "the logged-on user's domain"},
        {"computer", native::hostName(), "the computer name"},
        {"query-timeout", "30",
         "seconds a query written in the advanced search (zephrane-cli --where) may run before "
         "it is stopped; 0: no limit"},
        {"locale", environmentLocale(),
         "the user's locale, from which the default language comes (for example de_DE.UTF-8)"},
        {"sql-login", "zephrane", "the SQL login that zephrane-sim serve accepts"},
        {"sql-password", "",
         "the password of the SQL login (made at init); empty: serve accepts no login"},
    };
}

std::string settingsPath(const std::string &hostFolder) {
    return hostFolder + "/stand-in.conf";
}

SimSettings SimSettings::load(const std::string &hostFolder, std::vector<std::string> *problems) {
    SimSettings settings;
    std::ifstream in(settingsPath(hostFolder));
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        std::string text = trim(line);
        if (text.empty() || text[0] == '#')
            continue;
        auto eq = text.find('=');
        const Status taken = eq == std::string::npos ? Status(fail("expected NAME=VALUE"))
                                                     : settings.set(trim(text.substr(0, eq)),
                                                                    trim(text.substr(eq + 1)));
        if (!taken && problems)
            problems->push_back(settingsPath(hostFolder) + " line " + std::to_string(number) +
                                ": " + taken.error() + " (ignored)");
    }
    return settings;
}

std::string SimSettings::get(const std::string &name) const {
    if (auto it = m_values.find(name); it != m_values.end())
        return it->second;
    if (const SettingInfo *info = find(name))
        return info->defaultValue;
    return {};
}

Status SimSettings::set(const std::string &rawName, const std::string &value) {
    // Service names compare without letter case, as the service manager does.
    std::string name = rawName;
    if (lowerAscii(name).rfind("service.", 0) == 0) {
        for (const auto &info : known()) {
            if (lowerAscii(info.name) == lowerAscii(name))
                name = info.name;
        }
    }
    if (!find(name)) {
        std::string text = "unknown setting '" + rawName + "'; known settings:";
        for (const auto &info : known())
            text += " " + info.name;
        return fail(text);
    }
    if (Status valid = validate(name, value); !valid)
        return valid;
    m_values[name] = value;
    return done();
}

Status SimSettings::save(const std::string &hostFolder) const {
    std::ostringstream out;
    out << "# Settings of this stand-in host; change them with: zephrane-sim set HOST NAME VALUE\n";
    for (const auto &[name, value] : m_values)
        out << name << "=" << value << "\n";
    return writeFileAtomically(settingsPath(hostFolder), out.str());
}

Status writeFileAtomically(const std::string &path, const std::string &content) {
    return native::writeFileAtomically(path, content);
}

} // namespace zeph::sim
