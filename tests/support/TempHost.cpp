#include "TempHost.h"

#include "standin/SimSettings.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace zeph::test {

TempFolder::TempFolder() {
    // A new folder of a random name, made in one step with the check that the name is free.
    std::random_device random;
    const fs::path base = fs::temp_directory_path();
    for (int attempt = 0; attempt < 100 && m_path.empty(); ++attempt) {
        std::ostringstream name;
        name << "zephrane-test-" << std::hex << random() << random();
        std::error_code ec;
        if (fs::create_directory(base / name.str(), ec))
            m_path = (base / name.str()).string();
    }
    if (m_path.empty())
        throw std::runtime_error("cannot create a temporary folder");
}

TempFolder::~TempFolder() {
    std::error_code ec;
    // Files made read-only by a test must not keep the folder alive.
    for (auto it = fs::recursive_directory_iterator(m_path, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(m_path, ec);
}

void setUserDataHome(const std::string &folder) {
#ifdef _WIN32
    ::_putenv_s("LOCALAPPDATA", folder.c_str());
#else
    ::setenv("XDG_DATA_HOME", folder.c_str(), 1);
#endif
}

TempHost::TempHost(int subscribers, unsigned seed)
    : m_folder(m_temp.path() + "/host")
    , m_notices(std::make_shared<std::vector<std::string>>()) {
    sim::InitOptions options;
    options.subscribers = subscribers;
    options.seed = seed;
    if (const Status made = sim::initHost(m_folder, options); !made)
        throw std::runtime_error("cannot create a stand-in host: " + made.error());
    fs::create_directories(programFolder());
    reopen();
}

void TempHost::reopen() {
    auto notices = m_notices;
    m_host = sim::openHost(m_folder, [notices](const std::string &t) { notices->push_back(t); });
    m_host->ui = &m_ui;
    m_host->programFolder = programFolder();
    m_host->commandLine.clear();
}

void TempHost::set(const std::string &name, const std::string &value) {
    auto settings = sim::SimSettings::load(m_folder, nullptr);
    Status applied = settings.set(name, value);
    if (applied)
        applied = settings.save(m_folder);
    if (!applied)
        throw std::runtime_error(applied.error());
    reopen();
}

std::string TempHost::fileDigest(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    // FNV-1a over the bytes, with the size: enough to tell a changed file from an unchanged one.
    std::uint64_t hash = 1469598103934665603ull;
    std::uint64_t size = 0;
    for (char c; in.get(c); ++size) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return std::to_string(size) + ":" + std::to_string(hash);
}

std::string TempHost::readFile(const std::string &relative) const {
    std::ifstream in(m_folder + "/" + relative, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void TempHost::writeFile(const std::string &relative, const std::string &content) const {
    std::ofstream out(m_folder + "/" + relative, std::ios::binary | std::ios::trunc);
    out << content;
}

} // namespace zeph::test
