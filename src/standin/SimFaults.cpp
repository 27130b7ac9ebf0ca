// Faults of the machine a stand-in host can play, so that a run's answer to them can be
// rehearsed and tested without privileges: the host folder taken away at a chosen step (as a
// server that vanishes), and a file system with little room left for the programs' own files.
#include "SimParts.h"
#include "platform/AsciiText.h"
#include "platform/ForwardingFileSystem.h"

#include <cstdio>
#include <filesystem>
#include <memory>

namespace fs = std::filesystem;

namespace zeph::sim {

std::function<bool(const std::string &)> nthTimeAt(const std::string &setting) {
    const std::size_t hash = setting.rfind('#');
    int count = 1;
    if (hash != std::string::npos) {
        try {
            count = std::stoi(setting.substr(hash + 1));
        } catch (const std::exception &) {
            count = 1;
        }
    }
    const std::string target = lowerAscii(setting.substr(0, hash));
    auto seen = std::make_shared<int>(0);
    return [target, count, seen](const std::string &step) {
        return lowerAscii(step) == target && ++*seen == count;
    };
}

namespace {

// A line writer that draws on a budget shared by every file the host's programs write.
class BudgetedWriter : public ForwardingTextWriter {
public:
    BudgetedWriter(std::unique_ptr<ITextFileWriter> inner, std::shared_ptr<std::uint64_t> budget)
        : ForwardingTextWriter(std::move(inner))
        , m_budget(std::move(budget)) {}

    // A line that does not fit is refused whole, as a full disk leaves a file: the lines before
    // it stay, nothing of it is written.
    Status writeLine(const std::string &text) override {
        return fits(text) ? spend(text, inner().writeLine(text)) : full();
    }
    Status writeLineUnsynced(const std::string &text) override {
        return fits(text) ? spend(text, inner().writeLineUnsynced(text)) : full();
    }

private:
    static std::uint64_t sizeOf(const std::string &text) { return text.size() + 2; } // CR LF
    bool fits(const std::string &text) {
        if (sizeOf(text) <= *m_budget)
            return true;
        *m_budget = 0;
        return false;
    }
    static Status full() { return fail("No space left on device"); }
    Status spend(const std::string &text, Status written) {
        if (written)
            *m_budget -= sizeOf(text);
        return written;
    }

    std::shared_ptr<std::uint64_t> m_budget;
};

class BudgetedFileSystem : public ForwardingFileSystem {
public:
    BudgetedFileSystem(std::unique_ptr<IFileSystem> files, std::uint64_t bytes)
        : ForwardingFileSystem(std::move(files))
        , m_budget(std::make_shared<std::uint64_t>(bytes)) {}

protected:
    std::unique_ptr<ITextFileWriter> writerFor(std::unique_ptr<ITextFileWriter> file) override {
        return std::make_unique<BudgetedWriter>(std::move(file), m_budget);
    }

private:
    std::shared_ptr<std::uint64_t> m_budget;
};

} // namespace

std::function<void(const std::string &)> makeVanishHook(const SimSettings &settings,
                                                        const std::string &hostFolder) {
    const std::string setting = settings.get("vanish-after");
    if (setting.empty())
        return {};
    return [reached = nthTimeAt(setting), hostFolder](const std::string &step) {
        if (!reached(step))
            return;
        const std::string away = hostFolder + ".vanished";
        std::error_code failed;
        fs::rename(hostFolder, away, failed);
        std::fprintf(stderr, "stand-in: the host folder %s %s after %s (vanish-after)\n",
                     hostFolder.c_str(), failed ? "could not be moved away" : "moved away",
                     step.c_str());
    };
}

std::unique_ptr<IFileSystem> limitFileSpace(std::unique_ptr<IFileSystem> files,
                                            const SimSettings &settings) {
    const std::string bytes = settings.get("file-space");
    if (bytes.empty())
        return files;
    return std::make_unique<BudgetedFileSystem>(std::move(files), std::stoull(bytes));
}

} // namespace zeph::sim
