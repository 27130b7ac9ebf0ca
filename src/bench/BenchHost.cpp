#include "BenchHost.h"

#include "standin/SimHost.h"
#include "standin/SimSettings.h"
#include "standin/server/StandInServer.h"

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace zeph::bench {
namespace {

/// Starts nothing: a benchmark never opens a viewer or a script.
class NoShell : public IShell {
public:
    bool startProgram(const std::string &, WindowStyle) override { return false; }
    bool openDocument(const std::string &) override { return false; }
};

} // namespace

// splitmix64: cheap, and every seed gives a different well-mixed sequence.
std::uint64_t SequenceGuids::next() {
    std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::string SequenceGuids::newGuid() {
    const std::uint64_t a = next();
    const std::uint64_t b = next();
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-4%03X-%04X-%012llX}",
                  static_cast<unsigned>(a >> 32), static_cast<unsigned>((a >> 16) & 0xFFFF),
                  static_cast<unsigned>(a & 0xFFF),
                  static_cast<unsigned>(0x8000 | ((b >> 48) & 0x3FFF)),
                  static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFull));
    return text;
}

MsgAnswer BenchUi::messageBox(const std::string &text, MsgButtons buttons, MsgIcon,
                              const std::string &) {
    ++m_boxes;
    m_lastText = text;
    switch (buttons) {
    case MsgButtons::YesNo:
        return MsgAnswer::Yes;
    case MsgButtons::OKCancel:
        return MsgAnswer::Cancel;
    case MsgButtons::OK:
        break;
    }
    return MsgAnswer::OK;
}

BenchHost::BenchHost(const std::string &folder, std::uint64_t serverGuidSeed,
                     const DatabaseWrapper &wrap)
    : m_folder(folder)
    , m_serverGuids(serverGuidSeed) {
    m_host = sim::openHost(folder, [](const std::string &text) {
        std::cerr << "zephrane-bench: host notice: " << text << "\n";
    });
    if (!m_host)
        throw std::runtime_error("cannot open the stand-in host " + folder);

    // The same database as openHost makes, with the procedures' ids from the sequence.
    const sim::SimSettings settings = sim::SimSettings::load(folder, nullptr);
    sqlite::ServerContext context;
    context.setting = [settings](const std::string &name) { return settings.get(name); };
    context.clock = m_host->clock.get();
    context.guids = &m_serverGuids;
    std::unique_ptr<IDatabase> database =
        sqlite::makeStandInDatabase(sim::databasePath(folder), context);
    m_host->database = wrap ? wrap(std::move(database)) : std::move(database);

    m_host->ui = &m_ui;
    m_host->shell = std::make_unique<NoShell>();
    m_host->programFolder = folder + "/program";
    m_host->exeName = "zephrane";
    m_host->commandLine.clear();
    fs::create_directories(m_host->programFolder);
}

BenchHost::~BenchHost() = default;

// A host names its own files on its own drive, so a copied folder is a host of its own.
void copyHost(const std::string &from, const std::string &to) {
    fs::remove_all(to);
    fs::copy(from, to, fs::copy_options::recursive);
}

} // namespace zeph::bench
