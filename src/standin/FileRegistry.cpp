// The stand-in host's registry: HKEY_LOCAL_MACHINE in a .reg text file.
//
// Every call reads the file afresh, so a hand edit counts from the next call,
// and every change writes a whole new file renamed over the old one, so a crash
// never leaves half a file. A file that cannot be read or parsed is never
// written: every key then behaves as one that cannot be opened, and the host is
// told once which file and line is wrong.
#include "FileRegistry.h"

#include "RegFile.h"
#include "SimSettings.h"
#include "platform/Error.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace zeph::sim {

namespace {

using regfile::Document;

enum class ReadResult { Read, Missing, Failed };

// The whole file; Missing when there is no file at all.
ReadResult readWholeFile(const std::string &path, std::string &content, std::string &error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return ReadResult::Missing;
        error = std::strerror(errno);
        return ReadResult::Failed;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = std::strerror(errno);
            ::close(fd);
            return ReadResult::Failed;
        }
        if (n == 0)
            break;
        content.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ReadResult::Read;
}

class FileRegistry : public IRegistry {
public:
    FileRegistry(std::string path, std::function<void(const std::string &)> notice)
        : m_path(std::move(path))
        , m_notice(std::move(notice)) {}

    bool openable(RegRoot root, const std::string &subKey, RegAccess) override {
        Document doc;
        return root == RegRoot::LocalMachine && load(doc) &&
               doc.keyExists(regfile::normaliseKeyPath(subKey));
    }

    bool createKey(RegRoot root, const std::string &subKey) override {
        if (root != RegRoot::LocalMachine)
            throw Error(errnum::kPermissionDenied, "this registry keeps HKEY_LOCAL_MACHINE only");
        Document doc;
        if (!load(doc))
            throw Error(errnum::kPermissionDenied, "the registry file " + m_path + " is unusable");
        const std::string path = regfile::normaliseKeyPath(subKey);
        if (doc.keyExists(path))
            return true;
        if (std::string why = regfile::keyPathProblem(path); !why.empty())
            throw Error(errnum::kPermissionDenied, why);
        doc.section(path);
        std::string error;
        if (!save(doc, error))
            throw Error(errnum::kPermissionDenied, error);
        return false;
    }

    std::optional<RegRawValue> queryValue(RegRoot root, const std::string &subKey,
                                          const std::string &name) override {
        Document doc;
        regfile::Key *key = openKey(root, subKey, doc);
        const regfile::Value *value = key ? key->findValue(name) : nullptr;
        if (!value)
            return std::nullopt;
        return RegRawValue{value->type, regfile::ansiData(*value)};
    }

    bool setValue(RegRoot root, const std::string &subKey, const std::string &name,
                  const RegRawValue &value) override {
        Document doc;
        const std::string path = regfile::normaliseKeyPath(subKey);
        if (root != RegRoot::LocalMachine || !load(doc) || !doc.keyExists(path))
            return false;
        if (std::string why = regfile::valueNameProblem(name); !why.empty()) {
            tell("cannot store the value \"" + name + "\" in " + m_path + ": " + why);
            return false;
        }
        doc.section(path).setValue(name, value.type, regfile::storedData(value.type, value.data));
        std::string error;
        return save(doc, error);
    }

    bool deleteValue(RegRoot root, const std::string &subKey, const std::string &name) override {
        Document doc;
        regfile::Key *key = openKey(root, subKey, doc);
        if (!key || !key->removeValue(name))
            return false;
        std::string error;
        return save(doc, error);
    }

    std::optional<std::vector<RegNamedValue>> enumValues(RegRoot root,
                                                         const std::string &subKey) override {
        Document doc;
        const std::string path = regfile::normaliseKeyPath(subKey);
        if (root != RegRoot::LocalMachine || !load(doc) || !doc.keyExists(path))
            return std::nullopt;
        std::vector<RegNamedValue> values;
        if (regfile::Key *key = doc.findKey(path)) {
            for (const auto &value : key->values)
                values.push_back({value.name, {value.type, regfile::ansiData(value)}});
        }
        return values;
    }

private:
    void tell(const std::string &text) {
        if (m_notice)
            m_notice(text);
    }

    // The file as it is now; false (with a notice) when it cannot be read or
    // parsed. A missing file is a registry without keys.
    bool load(Document &doc) {
        std::string content;
        std::string error;
        switch (readWholeFile(m_path, content, error)) {
        case ReadResult::Missing:
            doc = Document();
            return true;
        case ReadResult::Failed:
            tell("cannot read the registry file " + m_path + ": " + error +
                 "; every registry key counts as missing until it can be read");
            return false;
        case ReadResult::Read:
            break;
        }
        regfile::ParseError problem;
        if (regfile::parse(content, doc, problem))
            return true;
        tell("the registry file " + m_path + " is malformed at line " +
             std::to_string(problem.line) + ": " + problem.message +
             "; every registry key counts as missing and nothing is written until "
             "the file is "
             "fixed");
        return false;
    }

    bool save(const Document &doc, std::string &error) {
        if (writeFileAtomically(m_path, regfile::write(doc), error))
            return true;
        tell("cannot write the registry file: " + error);
        return false;
    }

    // The key's own section in a freshly read file, or null when the key cannot
    // be opened or has no section (an implied parent: it exists but holds no
    // values).
    regfile::Key *openKey(RegRoot root, const std::string &subKey, Document &doc) {
        if (root != RegRoot::LocalMachine || !load(doc))
            return nullptr;
        return doc.findKey(regfile::normaliseKeyPath(subKey));
    }

    std::string m_path;
    std::function<void(const std::string &)> m_notice;
};

} // namespace

std::unique_ptr<IRegistry> makeFileRegistry(const std::string &regFilePath,
                                            std::function<void(const std::string &)> notice) {
    return std::make_unique<FileRegistry>(regFilePath, std::move(notice));
}

} // namespace zeph::sim
