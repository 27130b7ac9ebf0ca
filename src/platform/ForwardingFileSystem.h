#pragma once
// A file system that passes every call on to another one. Wrappers that watch or limit a few
// calls (the benchmark's sync counter, the stand-in's write budget) derive from it and override
// only those, so that every other call, and every call added later, reaches the real one.

#include "FileSystem.h"

#include <memory>
#include <utility>

namespace zeph {

class ForwardingFileSystem : public IFileSystem {
public:
    explicit ForwardingFileSystem(std::unique_ptr<IFileSystem> inner)
        : m_inner(std::move(inner)) {}

    bool fileExists(const std::string &path) override { return m_inner->fileExists(path); }
    bool folderExists(const std::string &path) override { return m_inner->folderExists(path); }
    void createFolder(const std::string &path) override { m_inner->createFolder(path); }
    std::vector<FileEntry> listFiles(const std::string &folder) override {
        return m_inner->listFiles(folder);
    }
    void deleteFile(const std::string &path, bool force) override {
        m_inner->deleteFile(path, force);
    }
    std::unique_ptr<ITextFileWriter> openTextFile(const std::string &path, bool append) override {
        return m_inner->openTextFile(path, append);
    }
    std::unique_ptr<ITextFileWriter> createNewTextFile(const std::string &path) override {
        return m_inner->createNewTextFile(path);
    }
    std::optional<std::string> readFile(const std::string &path) override {
        return m_inner->readFile(path);
    }
    std::optional<std::string> readFileTail(const std::string &path, std::size_t bytes) override {
        return m_inner->readFileTail(path, bytes);
    }
    std::string nativePath(const std::string &path) override { return m_inner->nativePath(path); }
    std::string userDataFolder() override { return m_inner->userDataFolder(); }

protected:
    IFileSystem &inner() { return *m_inner; }

private:
    std::unique_ptr<IFileSystem> m_inner;
};

} // namespace zeph
