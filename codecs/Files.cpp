#include "codecs/Files.h"

#include "base/Errors.h"
#include "imaging/Raster24.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <random>
#include <set>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pictavo {
namespace {

// A new, empty file in `folder` named ".pictavo-" and six letters (short,
// so that any name that fits the folder fits here too); its name in `name`.
// It is made with the mode of any new file, 0666 less the umask, which the
// system applies: the umask is never changed, as other threads create files.
FileDescriptor CreateTemporary(const std::string& folder, std::string& name)
{
    static constexpr char Letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 random{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = folder + ".pictavo-";
        for (int i = 0; i < 6; ++i) name += Letters[random() % (sizeof Letters - 1)];
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

std::size_t ReadUpTo(int fd, void* target, std::size_t count)
{
    auto* p = static_cast<std::uint8_t*>(target);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd, p + done, count - done);
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

std::vector<std::uint8_t> ReadWholeFile(const std::string& path, const std::string& shownName)
{
    std::uint64_t size = 0;
    const FileDescriptor fd = OpenRegularFile(path, shownName, &size);
    CheckMemoryBudget(size);
    std::vector<std::uint8_t> bytes;
    try {
        bytes.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory();
    }
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

}  // namespace

void WriteFileAtomically(const std::string& path, const std::uint8_t* bytes, std::size_t size,
                         const std::string& shownName)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string temp;
    Temporaries& inFlight = InFlight();
    FileDescriptor fd;
    {
        std::lock_guard lock(inFlight.mutex);
        if (inFlight.abandoned) throw EFCreateError(shownName, path, "the run was stopped");
        fd = CreateTemporary(folder, temp);
        if (fd.get() < 0) throw EFCreateError(shownName, path, Cause());
        inFlight.paths.insert(temp);
    }
    const auto forget = [&] {
        ::unlink(temp.c_str());
        inFlight.paths.erase(temp);
    };
    const bool written = WriteAll(fd.get(), bytes, size);
    std::string cause = written ? std::string() : Cause();
    const bool closed = ::close(fd.release()) == 0;
    if (written && !closed) cause = Cause();
    std::lock_guard lock(inFlight.mutex);
    if (!written || !closed) {
        forget();
        EWriteError error;
        error.setPath(path).setDetail(cause);
        throw error;
    }
    if (inFlight.abandoned || ::rename(temp.c_str(), path.c_str()) != 0) {
        cause = inFlight.abandoned ? "the run was stopped" : Cause();
        forget();
        throw EFCreateError(shownName, path, cause);
    }
    inFlight.paths.erase(temp);
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
