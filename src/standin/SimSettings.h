#pragma once
// The stand-in host's own settings (directory sync behaviour, virtual time, service states,
// the logged-on account), kept in the host folder's "stand-in.conf" as NAME=VALUE lines.

#include "platform/Result.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zeph::sim {

struct SettingInfo {
    std::string name;
    std::string defaultValue;
    std::string help;
};

class SimSettings {
public:
    /// Every setting `set` accepts, with its default, in the order `show` lists them.
    static std::vector<SettingInfo> known();

    /// Loads the host folder's settings; unknown or malformed lines are reported in `problems`.
    static SimSettings load(const std::string &hostFolder, std::vector<std::string> *problems);

    /// The value of a setting: the stored one, else its default ("" for unknown names).
    std::string get(const std::string &name) const;
    /// Checks the name and value; stores it when both are right, otherwise says what is wrong.
    Status set(const std::string &name, const std::string &value);
    /// Writes the settings to the host folder (new file renamed over the old).
    Status save(const std::string &hostFolder) const;

    const std::map<std::string, std::string> &stored() const { return m_values; }

private:
    std::map<std::string, std::string> m_values;
};

/// The file that holds the settings in a host folder.
std::string settingsPath(const std::string &hostFolder);

/// Writes a file by writing a new one beside it and renaming it over the old, so that a crash
/// never leaves a torn file.
Status writeFileAtomically(const std::string &path, const std::string &content);

} // namespace zeph::sim
