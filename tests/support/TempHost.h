#pragma once
// A fresh stand-in host in a temporary folder, opened with a scripted user interface.
// The folder is removed when the fixture goes.

#include "ScriptedUi.h"
#include "platform/Host.h"
#include "standin/SimHost.h"

#include <memory>
#include <string>
#include <vector>

namespace zeph::test {

/// A new empty temporary folder; removed by the destructor.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;
    const std::string &path() const { return m_path; }

private:
    std::string m_path;
};

/// Makes `folder` the user's data folder of the programs and of this process (the folder that
/// holds "zephrane/"): XDG_DATA_HOME here, LOCALAPPDATA on Windows.
void setUserDataHome(const std::string &folder);

class TempHost {
public:
    explicit TempHost(int subscribers = 20, unsigned seed = 1);

    /// The host folder.
    const std::string &folder() const { return m_folder; }
    Host &host() { return *m_host; }
    ScriptedUi &ui() { return m_ui; }
    /// Notices the host gave (malformed files, ...).
    const std::vector<std::string> &notices() const { return *m_notices; }
    /// The program folder the core sees (logs go below it): a folder inside the host folder.
    std::string programFolder() const { return m_folder + "/program"; }

    /// Changes a stand-in setting and opens the host again so that it takes effect.
    void set(const std::string &name, const std::string &value);
    /// Opens the host again (after files of the host folder were changed by hand).
    void reopen();

    /// A digest of a file's bytes, to prove that something did not change ("" when missing).
    static std::string fileDigest(const std::string &path);

    /// Reads or replaces a file of the host folder.
    std::string readFile(const std::string &relative) const;
    void writeFile(const std::string &relative, const std::string &content) const;

private:
    TempFolder m_temp;
    std::string m_folder;
    ScriptedUi m_ui;
    std::shared_ptr<std::vector<std::string>> m_notices;
    std::unique_ptr<Host> m_host;
};

} // namespace zeph::test
