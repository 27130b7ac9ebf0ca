#pragma once
// A stand-in host opened for the benchmark: an unattended user interface, no programs started,
// and stored procedures that draw their new ids from a numbered sequence, so that the same
// procedure calls on the same database give the same ids on every replay.

#include "platform/Host.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zeph::bench {

/// GUIDs from a seeded sequence: the same seed gives the same GUIDs in the same order.
class SequenceGuids : public IGuidSource {
public:
    explicit SequenceGuids(std::uint64_t seed)
        : m_state(seed) {}
    std::string newGuid() override;

private:
    std::uint64_t next();
    std::uint64_t m_state;
};

/// Answers every box as an operator who wants the run and nothing more: Yes to a question,
/// Cancel where OK would open something, OK to a notice. Counts what it was shown.
class BenchUi : public IUserInterface {
public:
    MsgAnswer messageBox(const std::string &text, MsgButtons buttons, MsgIcon icon,
                         const std::string &title) override;
    void setBusy(bool) override {}
    void doEvents() override {}
    std::optional<std::string> openFileDialog(const std::string &, const std::string &) override {
        return std::nullopt;
    }
    std::string clipboardText() override { return {}; }
    void setClipboardText(const std::string &) override {}

    int boxes() const { return m_boxes; }
    const std::string &lastText() const { return m_lastText; }

private:
    int m_boxes = 0;
    std::string m_lastText;
};

/// A host folder opened as the program opens it, with the changes above.
class BenchHost {
public:
    using DatabaseWrapper = std::function<std::unique_ptr<IDatabase>(std::unique_ptr<IDatabase>)>;

    /// `serverGuidSeed` seeds the ids the stored procedures give; `wrap`, when set, puts a
    /// layer around the host's database (before anything connects to it).
    explicit BenchHost(const std::string &folder, std::uint64_t serverGuidSeed = 1,
                       const DatabaseWrapper &wrap = {});
    BenchHost(const BenchHost &) = delete;
    BenchHost &operator=(const BenchHost &) = delete;
    ~BenchHost();

    Host &host() { return *m_host; }
    BenchUi &ui() { return m_ui; }
    const std::string &folder() const { return m_folder; }

private:
    std::string m_folder;
    BenchUi m_ui;
    SequenceGuids m_serverGuids; // outlives the database that draws from it
    std::unique_ptr<Host> m_host;
};

/// Copies a host folder. The registry names the recordings' folder by its full path, so the
/// copy's registry is made to name its own.
void copyHost(const std::string &from, const std::string &to);

} // namespace zeph::bench
