// The stand-in host's registry: HKEY_LOCAL_MACHINE in a .reg text file.
//
// Every call looks at the file afresh, so a hand edit counts from the next
// call, and every change writes a whole new file renamed over the old one, so a
// crash never leaves half a file. The file is parsed only when its bytes differ
// from those last parsed or written: a run asks the registry dozens of times,
// and reading a large file's bytes again costs little beside parsing them. A
// file that cannot be read or parsed is never written: every key then behaves
// as one that cannot be opened, and the host is told once which file and line
// is wrong.
#include "FileRegistry.h"

#include "RegFile.h"
#include "SimSettings.h"
#include "platform/Error.h"
#include "platform/Native.h"

#include <atomic>

namespace zeph::sim {

namespace {

using regfile::Document;

std::atomic<std::size_t> g_parses{0};

class FileRegistry : public IRegistry {
public:
    FileRegistry(std::string path, std::function<void(const std::string &)> notice)
        : m_path(std::move(path))
        , m_notice(std::move(notice)) {}

    bool openable(RegRoot root, const std::string &subKey, RegAccess) override {
        const Document *doc = root == RegRoot::LocalMachine ? current() : nullptr;
        return doc && doc->keyExists(regfile::normaliseKeyPath(subKey));
    }

    bool createKey(RegRoot root, const std::string &subKey) override {
        if (root != RegRoot::LocalMachine)
            throw Error(errnum::kPermissionDenied, "this registry keeps HKEY_LOCAL_MACHINE only");
        Document *doc = current();
        if (!doc)
            throw Error(errnum::kPermissionDenied, "the registry file " + m_path + " is unusable");
        const std::string path = regfile::normaliseKeyPath(subKey);
        if (doc->keyExists(path))
            return true;
        if (std::string why = regfile::keyPathProblem(path); !why.empty())
            throw Error(errnum::kPermissionDenied, why);
        doc->section(path);
        if (const Status saved = save(); !saved)
            throw Error(errnum::kPermissionDenied, saved.error());
        return false;
    }

    std::optional<RegRawValue> queryValue(RegRoot root, const std::string &subKey,
                                          const std::string &name) override {
        regfile::Key *key = openKey(root, subKey);
        const regfile::Value *value = key ? key->findValue(name) : nullptr;
        if (!value)
            return std::nullopt;
        return RegRawValue{value->type, regfile::ansiData(*value)};
    }

    bool setValue(RegRoot root, const std::string &subKey, const std::string &name,
                  const RegRawValue &value) override {
        const std::string path = regfile::normaliseKeyPath(subKey);
        Document *doc = root == RegRoot::LocalMachine ? current() : nullptr;
        if (!doc || !doc->keyExists(path))
            return false;
        if (std::string why = regfile::valueNameProblem(name); !why.empty()) {
            tell("cannot store the value \"" + name + "\" in " + m_path + ": " + why);
            return false;
        }
        doc->section(path).setValue(name, value.type, regfile::storedData(value.type, value.data));
        return save().ok();
    }

    bool deleteValue(RegRoot root, const std::string &subKey, const std::string &name) override {
        regfile::Key *key = openKey(root, subKey);
        if (!key || !key->removeValue(name))
            return false;
        return save().ok();
    }

    std::optional<std::vector<RegNamedValue>> enumValues(RegRoot root,
                                                         const std::string &subKey) override {
        const std::string path = regfile::normaliseKeyPath(subKey);
        Document *doc = root == RegRoot::LocalMachine ? current() : nullptr;
        if (!doc || !doc->keyExists(path))
            return std::nullopt;
        std::vector<RegNamedValue> values;
        if (regfile::Key *key = doc->findKey(path)) {
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

    // The file as it is now, or null (with a notice) when it cannot be read or
    // parsed. A missing file is a registry without keys. A change made to it is
    // kept only by save().
    Document *current() {
        Result<std::optional<std::string>> read = native::readWholeFile(m_path);
        if (!read) {
            forget();
            tell("cannot read the registry file " + m_path + ": " + read.error() +
                 "; every registry key counts as missing until it can be read");
            return nullptr;
        }
        if (!read->has_value()) {
            forget();
            return &m_document;
        }
        std::string content = std::move(**read);
        if (m_parsed && content == m_bytes)
            return &m_document;
        forget();
        regfile::ParseError problem;
        ++g_parses;
        if (!regfile::parse(content, m_document, problem)) {
            tell("the registry file " + m_path + " is malformed at line " +
                 std::to_string(problem.line) + ": " + problem.message +
                 "; every registry key counts as missing and nothing is written until the file "
                 "is fixed");
            return nullptr;
        }
        m_bytes = std::move(content);
        m_parsed = true;
        return &m_document;
    }

    // Writes the document as changed since current(); on failure the change is
    // dropped, so the next call sees the file as it is.
    Status save() {
        std::string bytes = regfile::write(m_document);
        if (Status written = writeFileAtomically(m_path, bytes); !written) {
            tell("cannot write the registry file: " + written.error());
            forget();
            return written;
        }
        m_bytes = std::move(bytes);
        m_parsed = true;
        return done();
    }

    void forget() {
        m_parsed = false;
        m_bytes.clear();
        m_document = Document();
    }

    // The key's own section in the file as it is now, or null when the key
    // cannot be opened or has no section (an implied parent: it exists but holds
    // no values).
    regfile::Key *openKey(RegRoot root, const std::string &subKey) {
        Document *doc = root == RegRoot::LocalMachine ? current() : nullptr;
        return doc ? doc->findKey(regfile::normaliseKeyPath(subKey)) : nullptr;
    }

    std::string m_path;
    std::function<void(const std::string &)> m_notice;
    // The file's bytes as last parsed or written, and the document they hold
    // (m_parsed false: nothing known, read the file again).
    bool m_parsed = false;
    std::string m_bytes;
    Document m_document;
};

} // namespace

std::unique_ptr<IRegistry> makeFileRegistry(const std::string &regFilePath,
                                            std::function<void(const std::string &)> notice) {
    return std::make_unique<FileRegistry>(regFilePath, std::move(notice));
}

std::size_t registryFileParses() {
    return g_parses.load();
}

} // namespace zeph::sim
