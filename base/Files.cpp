#include "base/Files.h"

#include "base/Errors.h"
#include "base/MemoryBudget.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <random>
#include <set>
#include <utility>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pictavo {
namespace {

constexpr const char* TemporaryPrefix = ".pictavo-";
constexpr std::size_t TemporaryRandom = 6;

// A new, empty file in `folder` named ".pictavo-" and six letters (short,
// so that any name that fits the folder fits here too); its name in `name`.
// It is made with the mode of any new file, 0666 less the umask, which the
// system applies: the umask is never changed, as other threads create files.
FileDescriptor CreateTemporary(const std::string& folder, std::string& name)
{
    static constexpr char Letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 random{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = folder + TemporaryPrefix;
        for (std::size_t i = 0; i < TemporaryRandom; ++i) name += Letters[random() % (sizeof Letters - 1)];
        FileDescriptor fd(::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (fd.get() >= 0 || errno != EEXIST) return fd;
    }
    return FileDescriptor();
}

bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// What the system said about the last failure, as a sentence start.
std::string Cause()
{
    return std::strerror(errno);
}

}  // namespace

std::optional<FileIdentity> IdentityOf(const std::string& path, bool followLinks)
{
    struct stat info {};
    if ((followLinks ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info)) != 0) return std::nullopt;
    return FileIdentity(info.st_dev, info.st_ino);
}

FileDescriptor::~FileDescriptor()
{
    if (fd_ >= 0) ::close(fd_);
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

FileDescriptor OpenRegularFile(const std::string& path, const std::string& shownName, std::uint64_t* size)
{
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0) throw EFOpenError(shownName, path, Cause());
    if (!S_ISREG(info.st_mode))
        throw EFOpenError(shownName, path, S_ISDIR(info.st_mode) ? "Is a directory" : "Not a regular file");
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) throw EFOpenError(shownName, path, Cause());
    if (size) *size = static_cast<std::uint64_t>(info.st_size);
    return fd;
}

namespace {

// Reads from the file's position, or with `at` from that offset.
std::size_t ReadFrom(int fd, void* target, std::size_t count, const std::uint64_t* at)
{
    auto* p = static_cast<std::uint8_t*>(target);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = at ? ::pread(fd, p + done, count - done, static_cast<off_t>(*at + done))
                             : ::read(fd, p + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            EReadError error;
            error.setDetail(Cause());
            throw error;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

}  // namespace

std::size_t ReadUpTo(int fd, void* target, std::size_t count)
{
    return ReadFrom(fd, target, count, nullptr);
}

std::size_t ReadUpTo(int fd, void* target, std::size_t count, std::uint64_t at)
{
    return ReadFrom(fd, target, count, &at);
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& path, const std::string& shownName)
{
    std::uint64_t size = 0;
    const FileDescriptor fd = OpenRegularFile(path, shownName, &size);
    CheckMemoryBudget(size);
    std::vector<std::uint8_t> bytes;
    WithMemoryErrors([&] { bytes.resize(static_cast<std::size_t>(size)); });
    bytes.resize(ReadUpTo(fd.get(), bytes.data(), bytes.size()));  // shorter if the file shrank meanwhile
    return bytes;
}

namespace {

// Temporaries being written, so that a run that is stopped can take them
// away: once abandoned, no new one is made and none is renamed into place.
struct Temporaries {
    std::mutex mutex;
    std::set<std::string> paths;
    bool abandoned = false;
};

Temporaries& InFlight()
{
    static Temporaries temporaries;
    return temporaries;
}

// Removes a temporary of this process's, unless a stop took it away first
// (its name may since be another's).
void Forget(const std::string& temp)
{
    if (InFlight().paths.erase(temp) > 0) ::unlink(temp.c_str());
}

}  // namespace

FileStamp StampFrom(const struct stat& info)
{
    return {static_cast<std::uint64_t>(info.st_size),
            static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

std::optional<FileStamp> StampOf(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return StampFrom(info);
}

StagedFile::StagedFile(std::string path, const std::uint8_t* bytes, std::size_t size, std::string shownName)
    : path_(std::move(path)), shownName_(std::move(shownName))
{
    const std::size_t slash = path_.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path_.substr(0, slash + 1);
    Temporaries& inFlight = InFlight();
    FileDescriptor fd;
    for (;;) {
        {
            std::lock_guard lock(inFlight.mutex);
            if (inFlight.abandoned) throw EFCreateError(shownName_, path_, "the run was stopped");
            fd = CreateTemporary(folder, temp_);
            if (fd.get() < 0) throw EFCreateError(shownName_, path_, Cause());
            inFlight.paths.insert(temp_);
        }
        // Another run may have taken the file for a killed run's between its
        // making and this lock: then it is gone, and another is made.
        while (::flock(fd.get(), LOCK_EX) != 0 && errno == EINTR) {
        }
        struct stat info {};
        if (::fstat(fd.get(), &info) == 0 && info.st_nlink > 0) break;
        std::lock_guard lock(inFlight.mutex);
        inFlight.paths.erase(temp_);
    }
    const bool written = WriteAll(fd.get(), bytes, size);
    std::string cause = written ? std::string() : Cause();
    struct stat info {};
    const bool stamped = written && ::fstat(fd.get(), &info) == 0;
    if (written && !stamped) cause = Cause();
    // The lock lives on in a copy; closing the file is where a write may still fail.
    lock_ = FileDescriptor(::dup(fd.get()));
    const bool closed = ::close(fd.release()) == 0;
    if (stamped && !closed) cause = Cause();
    if (!stamped || !closed) {
        std::lock_guard lock(inFlight.mutex);
        Forget(temp_);
        temp_.clear();
        EWriteError error;
        error.setPath(path_).setDetail(cause);
        throw error;
    }
    stamp_ = StampFrom(info);
    inode_ = info.st_ino;
}

StagedFile::StagedFile(StagedFile&& other) noexcept
    : path_(std::move(other.path_)), temp_(std::exchange(other.temp_, {})), shownName_(std::move(other.shownName_)),
      lock_(std::move(other.lock_)), stamp_(other.stamp_), inode_(other.inode_)
{
}

StagedFile::~StagedFile()
{
    if (temp_.empty()) return;
    std::lock_guard lock(InFlight().mutex);
    Forget(temp_);
}

void StagedFile::commit()
{
    Temporaries& inFlight = InFlight();
    std::lock_guard lock(inFlight.mutex);
    if (inFlight.abandoned || ::rename(temp_.c_str(), path_.c_str()) != 0) {
        const std::string cause = inFlight.abandoned ? "the run was stopped" : Cause();
        Forget(temp_);
        temp_.clear();
        throw EFCreateError(shownName_, path_, cause);
    }
    inFlight.paths.erase(temp_);
    temp_.clear();
    lock_ = FileDescriptor();
}

void WriteFileAtomically(const std::string& path, const std::uint8_t* bytes, std::size_t size,
                         const std::string& shownName)
{
    StagedFile(path, bytes, size, shownName).commit();
}

void RemoveStaleTemporaries(const std::string& folder)
{
    const std::string dir = folder.empty() ? "./" : folder;
    DIR* listing = ::opendir(dir.c_str());
    if (!listing) return;
    const std::size_t prefix = std::char_traits<char>::length(TemporaryPrefix);
    while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        if (name.size() != prefix + TemporaryRandom || name.compare(0, prefix, TemporaryPrefix) != 0) continue;
        const std::string temp = dir + name;
        const FileDescriptor fd(::open(temp.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat held {}, named {};
        // Locked: a run is still writing it. The name is checked again under
        // the lock, as the writer may have put its file in place meanwhile.
        if (fd.get() < 0 || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 || ::fstat(fd.get(), &held) != 0 ||
            !S_ISREG(held.st_mode) || ::lstat(temp.c_str(), &named) != 0 || named.st_ino != held.st_ino ||
            named.st_dev != held.st_dev)
            continue;
        ::unlink(temp.c_str());
    }
    ::closedir(listing);
}

void AbandonTemporaryFiles()
{
    Temporaries& inFlight = InFlight();
    std::lock_guard lock(inFlight.mutex);
    inFlight.abandoned = true;
    for (const std::string& temp : inFlight.paths) ::unlink(temp.c_str());
    inFlight.paths.clear();
}

void SyncFileSystemOf(const std::string& folder, const std::string& shownName)
{
    const FileDescriptor fd(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0 || ::syncfs(fd.get()) != 0) {
        EWriteError error;
        error.setPath(folder + shownName).setDetail(Cause());
        throw error;
    }
}

}  // namespace pictavo
