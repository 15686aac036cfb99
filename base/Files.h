// Whole-file reads and all-or-nothing writes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace pictavo {

// An open file, closed when the object goes.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor();
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// A file as the system knows it (device and inode), however a path names it.
using FileIdentity = std::pair<dev_t, ino_t>;
// Nothing when `path` names no file. With `followLinks` false, a symbolic
// link is itself the file.
std::optional<FileIdentity> IdentityOf(const std::string& path, bool followLinks = true);

// A file's size and modification time (in nanoseconds): what tells a later
// run whether the file changed since it last saw it.
struct FileStamp {
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0;
    bool operator==(const FileStamp&) const = default;
};
FileStamp StampFrom(const struct stat& info);
// Nothing when `path` names no file; symbolic links are followed.
std::optional<FileStamp> StampOf(const std::string& path);

// Opens a regular file for reading. A FIFO or device put where a picture
// was must not block the run, so the open does not wait, and anything but a
// regular file is "Cannot open file <shownName>".
FileDescriptor OpenRegularFile(const std::string& path, const std::string& shownName, std::uint64_t* size = nullptr);

// Up to `count` bytes, fewer only at the end of the file; "Stream read
// error" when reading fails.
std::size_t ReadUpTo(int fd, void* target, std::size_t count);
// The same from offset `at`, leaving the file's position where it was.
std::size_t ReadUpTo(int fd, void* target, std::size_t count, std::uint64_t at);

// The file's bytes. "Cannot open file <shownName>" when it cannot be opened
// or is not a regular file; "Stream read error" when reading fails.
std::vector<std::uint8_t> ReadWholeFile(const std::string& path, const std::string& shownName);

// Writes `bytes` to a new file beside `path` and renames it over `path` once
// complete, so a failure never leaves a damaged or partial file and keeps an
// existing one untouched. "Cannot create file <shownName>" when the file
// cannot be made; "Stream write error" when the write fails.
void WriteFileAtomically(const std::string& path, const std::uint8_t* bytes, std::size_t size,
                         const std::string& shownName);

// A file written whole to a temporary beside `path`, put in place by
// commit(); dropped, temporary and all, when not committed. The temporary
// stays locked until then, so that RemoveStaleTemporaries can tell it from
// one a killed run left. Errors as WriteFileAtomically's.
class StagedFile {
public:
    StagedFile(std::string path, const std::uint8_t* bytes, std::size_t size, std::string shownName);
    ~StagedFile();
    StagedFile(StagedFile&& other) noexcept;
    StagedFile& operator=(StagedFile&&) = delete;
    // The size and modification time the file keeps once in place.
    const FileStamp& stamp() const { return stamp_; }
    ino_t inode() const { return inode_; }
    void commit();

private:
    std::string path_, temp_, shownName_;
    FileDescriptor lock_;
    FileStamp stamp_;
    ino_t inode_ = 0;
};

// Removes the temporaries that runs killed outright left in `folder`;
// those of runs still writing are locked and stay.
void RemoveStaleTemporaries(const std::string& folder);

// Removes every temporary file being written and makes later writes fail,
// so that a stopped run leaves only whole outputs behind.
void AbandonTemporaryFiles();

// Waits until everything written to the file system holding `folder` is on
// disk: once per run, so success means the outputs survive a power cut.
// "Stream write error" when the system reports a failed write.
void SyncFileSystemOf(const std::string& folder, const std::string& shownName);

}  // namespace pictavo
