#pragma once
// A file system that passes every call to another and counts what its text files write and
// make durable: each synced line or sync is one sync of the disk. The benchmark counts a run's
// syncs with it; tests check where a run makes its files durable.

#include "platform/ForwardingFileSystem.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zeph {

/// Counted from whichever thread writes or syncs a file: a run syncs its log and its journal
/// at the same time.
struct FileSyncCounts {
    std::atomic<long> lines = 0;
    std::atomic<long> syncs = 0;
};

class SyncCountingWriter : public ForwardingTextWriter {
public:
    SyncCountingWriter(std::unique_ptr<ITextFileWriter> inner,
                       std::shared_ptr<FileSyncCounts> counts)
        : ForwardingTextWriter(std::move(inner))
        , m_counts(std::move(counts)) {}
    Status writeLine(const std::string &text) override {
        ++m_counts->lines;
        ++m_counts->syncs;
        return inner().writeLine(text);
    }
    Status writeLineUnsynced(const std::string &text) override {
        ++m_counts->lines;
        return inner().writeLineUnsynced(text);
    }
    Status sync() override {
        ++m_counts->syncs;
        return inner().sync();
    }

private:
    std::shared_ptr<FileSyncCounts> m_counts;
};

class SyncCountingFiles : public ForwardingFileSystem {
public:
    SyncCountingFiles(std::unique_ptr<IFileSystem> files, std::shared_ptr<FileSyncCounts> counts)
        : ForwardingFileSystem(std::move(files))
        , m_counts(std::move(counts)) {}

protected:
    std::unique_ptr<ITextFileWriter> writerFor(std::unique_ptr<ITextFileWriter> file) override {
        return std::make_unique<SyncCountingWriter>(std::move(file), m_counts);
    }

private:
    std::shared_ptr<FileSyncCounts> m_counts;
};

} // namespace zeph
