#pragma once
// A file system that passes every call on to another one. Wrappers that watch or limit a few
// calls (the benchmark's sync counter, the stand-in's write budget) derive from it and override
// only those, so that every other call, and every call added later, reaches the real one. The
// same for the text files it opens: a writer that forgot to pass sync() on would report lines
// durable that are not.

#include "FileSystem.h"

#include <memory>
#include <utility>

namespace zeph {

class ForwardingTextWriter : public ITextFileWriter {
public:
    explicit ForwardingTextWriter(std::unique_ptr<ITextFileWriter> inner)
        : m_inner(std::move(inner)) {}

    Status writeLine(const std::string &text) override { return m_inner->writeLine(text); }
    Status writeLineUnsynced(const std::string &text) override {
        return m_inner->writeLineUnsynced(text);
    }
    Status sync() override { return m_inner->sync(); }
    void close() override { m_inner->close(); }

protected:
    ITextFileWriter &inner() { return *m_inner; }

private:
    std::unique_ptr<ITextFileWriter> m_inner;
};

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
        return handedOut(m_inner->openTextFile(path, append));
    }
    std::unique_ptr<ITextFileWriter> createNewTextFile(const std::string &path) override {
        return handedOut(m_inner->createNewTextFile(path));
    }
    std::optional<std::string> readFile(const std::string &path) override {
        return m_inner->readFile(path);
    }
    Result<std::string> readPlainFile(const std::string &path, std::size_t maxBytes) override {
        return m_inner->readPlainFile(path, maxBytes);
    }
    std::optional<std::string> readFileTail(const std::string &path, std::size_t bytes) override {
        return m_inner->readFileTail(path, bytes);
    }
    bool liesInside(const std::string &path, const std::string &folder) override {
        return m_inner->liesInside(path, folder);
    }
    std::optional<std::uint64_t> fileSize(const std::string &path) override {
        return m_inner->fileSize(path);
    }
    std::string nativePath(const std::string &path) override { return m_inner->nativePath(path); }
    std::string userDataFolder() override { return m_inner->userDataFolder(); }

protected:
    IFileSystem &inner() { return *m_inner; }
    /// The writer handed out for a text file the real file system opened: the file itself,
    /// unless a wrapper watches its lines.
    virtual std::unique_ptr<ITextFileWriter> writerFor(std::unique_ptr<ITextFileWriter> file) {
        return file;
    }

private:
    std::unique_ptr<ITextFileWriter> handedOut(std::unique_ptr<ITextFileWriter> file) {
        if (!file)
            return file; // the name was taken
        return writerFor(std::move(file));
    }

    std::unique_ptr<IFileSystem> m_inner;
};

} // namespace zeph
