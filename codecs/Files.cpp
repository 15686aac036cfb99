#include "codecs/Files.h"

#include "base/Errors.h"
#include "imaging/Raster24.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pictavo {
namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0) ::close(fd_);
    }
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

mode_t CreationMode()
{
    static const mode_t mode = [] {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        return static_cast<mode_t>(0666 & ~mask);
    }();
    return mode;
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

std::vector<std::uint8_t> ReadWholeFile(const std::string& path, const std::string& shownName)
{
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0) throw EFOpenError(shownName, path, Cause());
    if (!S_ISREG(info.st_mode))
        throw EFOpenError(shownName, path, S_ISDIR(info.st_mode) ? "Is a directory" : "Not a regular file");
    CheckMemoryBudget(static_cast<std::uint64_t>(info.st_size));
    std::vector<std::uint8_t> bytes;
    try {
        bytes.resize(static_cast<std::size_t>(info.st_size));
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory();
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            EReadError error;
            error.setPath(path).setDetail(Cause());
            throw error;
        }
        if (n == 0) break;  // the file shrank while we read it
        done += static_cast<std::size_t>(n);
    }
    bytes.resize(done);
    return bytes;
}

void WriteFileAtomically(const std::string& path, const std::uint8_t* bytes, std::size_t size,
                         const std::string& shownName)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    // A short hidden name, so that any name that fits the folder fits here too.
    std::string temp = folder + ".pictavo-XXXXXX";
    FileDescriptor fd(::mkstemp(temp.data()));
    if (fd.get() < 0) throw EFCreateError(shownName, path, Cause());
    const bool written = ::fchmod(fd.get(), CreationMode()) == 0 && WriteAll(fd.get(), bytes, size);
    std::string cause = written ? std::string() : Cause();
    const bool closed = ::close(fd.release()) == 0;
    if (written && !closed) cause = Cause();
    if (!written || !closed) {
        ::unlink(temp.c_str());
        EWriteError error;
        error.setPath(path).setDetail(cause);
        throw error;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        cause = Cause();
        ::unlink(temp.c_str());
        throw EFCreateError(shownName, path, cause);
    }
}

}  // namespace pictavo
