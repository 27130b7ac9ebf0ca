#pragma once
// A file system that passes every call to another and counts what its text files write and
// make durable: each synced line or sync is one sync of the disk. The benchmark counts a run's
// syncs with it; tests check where a run makes its files durable.

#include "platform/FileSystem.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zeph {

struct FileSyncCounts {
    long lines = 0;
    long syncs = 0;
};

class SyncCountingWriter : public ITextFileWriter {
public:
    SyncCountingWriter(std::unique_ptr<ITextFileWriter> inner,
                       std::shared_ptr<FileSyncCounts> counts)
        : m_inner(std::move(inner))
        , m_counts(std::move(counts)) {}
    bool writeLine(const std::string &text) override {
        ++m_counts->lines;
        ++m_counts->syncs;
        return m_inner->writeLine(text);
    }
    bool writeLineUnsynced(const std::string &text) override {
        ++m_counts->lines;
        return m_inner->writeLineUnsynced(text);
    }
    bool sync() override {
        ++m_counts->syncs;
        return m_inner->sync();
    }
    void close() override { m_inner->close(); }

private:
    std::unique_ptr<ITextFileWriter> m_inner;
    std::shared_ptr<FileSyncCounts> m_counts;
};

class SyncCountingFiles : public IFileSystem {
public:
    SyncCountingFiles(std::unique_ptr<IFileSystem> inner, std::shared_ptr<FileSyncCounts> counts)
        : m_inner(std::move(inner))
        , m_counts(std::move(counts)) {}
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
        return counted(m_inner->openTextFile(path, append));
    }
    std::unique_ptr<ITextFileWriter> createNewTextFile(const std::string &path) override {
        return counted(m_inner->createNewTextFile(path));
    }
    std::optional<std::string> readFile(const std::string &path) override {
        return m_inner->readFile(path);
    }
    std::string nativePath(const std::string &path) override { return m_inner->nativePath(path); }
    std::string userDataFolder() override { return m_inner->userDataFolder(); }

private:
    std::unique_ptr<ITextFileWriter> counted(std::unique_ptr<ITextFileWriter> writer) {
        if (!writer)
            return writer;
        return std::make_unique<SyncCountingWriter>(std::move(writer), m_counts);
    }

    std::unique_ptr<IFileSystem> m_inner;
    std::shared_ptr<FileSyncCounts> m_counts;
};

} // namespace zeph
