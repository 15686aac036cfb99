// The error model: every failure is an exception whose what() is the text the
// user sees. Class names follow the ones the messages are known by.
#pragma once

#include <exception>
#include <new>
#include <stdexcept>
#include <string>

namespace pictavo {

namespace msg {
inline constexpr const char* ScanLineOutOfRange = "Scan line index out of range";
inline constexpr const char* FloatZeroDivide = "Floating point division by zero";
inline constexpr const char* FloatInvalidOp = "Invalid floating point operation";
inline constexpr const char* DivByZero = "Division by zero";
inline constexpr const char* OutOfMemory = "Out of memory";
inline constexpr const char* BitmapNotValid = "Bitmap image is not valid";
inline constexpr const char* StreamRead = "Stream read error";
inline constexpr const char* StreamWrite = "Stream write error";
inline constexpr const char* InvalidImageSize = "Invalid image size";
inline constexpr const char* NoPictureData = "The picture's data ends before its first row";
}  // namespace msg

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }

    // What only the command line adds, since the window's texts are fixed:
    // the cause the library or the system gave ("Permission denied"), the
    // full path of the file concerned when it is not the listed input, and
    // a headline that replaces the message where the message would mislead.
    const std::string& detail() const noexcept { return detail_; }
    const std::string& path() const noexcept { return path_; }
    const std::string& headline() const noexcept { return headline_.empty() ? message_ : headline_; }
    Exception& setDetail(std::string detail) { return detail_ = std::move(detail), *this; }
    Exception& setPath(std::string path) { return path_ = std::move(path), *this; }
    Exception& setHeadline(std::string headline) { return headline_ = std::move(headline), *this; }

private:
    std::string message_;
    std::string detail_;
    std::string path_;
    std::string headline_;
};

// A run ended early because it was asked to stop.
class RunStopped : public Exception {
public:
    RunStopped() : Exception("Stopped") {}
};

// Raster operations used wrongly (row index out of range).
class EInvalidGraphicOperation : public Exception {
public:
    using Exception::Exception;
};
// Floating-point division of a non-zero number by zero.
class EZeroDivide : public Exception {
public:
    EZeroDivide() : Exception(msg::FloatZeroDivide) {}
};
// Floating-point 0 / 0.
class EInvalidOp : public Exception {
public:
    EInvalidOp() : Exception(msg::FloatInvalidOp) {}
};
// Integer division by zero.
class EDivByZero : public Exception {
public:
    EDivByZero() : Exception(msg::DivByZero) {}
};
class EOutOfMemory : public Exception {
public:
    EOutOfMemory() : Exception(msg::OutOfMemory) {}
};
// An input of no bytes. The window shows what it always showed for one (its
// size came out as a division by zero); the command line says what it is.
class EEmptyFile : public Exception {
public:
    EEmptyFile() : Exception(msg::FloatZeroDivide) { setHeadline("The file is empty"); }
};
// A file's picture data cannot be understood.
class EInvalidGraphic : public Exception {
public:
    using Exception::Exception;
};

class EStreamError : public Exception {
public:
    using Exception::Exception;
};
// `path`, when given, is the full path the command line names, and `cause`
// what the system said.
class EFOpenError : public EStreamError {
public:
    explicit EFOpenError(const std::string& name, const std::string& path = {}, const std::string& cause = {})
        : EStreamError("Cannot open file " + name)
    {
        if (!path.empty()) setPath(path).setHeadline("Cannot open file");
        setDetail(cause);
    }
};
class EFCreateError : public EStreamError {
public:
    explicit EFCreateError(const std::string& name, const std::string& path = {}, const std::string& cause = {})
        : EStreamError("Cannot create file " + name)
    {
        if (!path.empty()) setPath(path).setHeadline("Cannot create file");
        setDetail(cause);
    }
};
class EReadError : public EStreamError {
public:
    EReadError() : EStreamError(msg::StreamRead) {}
};
class EWriteError : public EStreamError {
public:
    EWriteError() : EStreamError(msg::StreamWrite) {}
};

// Runs `work`; running out of memory in it (std::bad_alloc, or a size too
// large for a container) leaves as EOutOfMemory.
template <class Work>
decltype(auto) WithMemoryErrors(Work&& work)
{
    try {
        return work();
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory();
    } catch (const std::length_error&) {
        throw EOutOfMemory();
    }
}

// A decoding library's message as the user sees it: "<library> error: <message>".
std::string LibraryErrorText(const std::string& library, const std::string& message);
// Whether a library's message tells of memory running out.
bool TellsOfMemory(const char* message);
// Raises a decoding library's error: EOutOfMemory when its message tells of
// memory running out, else EInvalidGraphic with LibraryErrorText.
[[noreturn]] void RaiseLibraryError(const std::string& library, const std::string& message);

// The text an error box shows: a full stop is added when the message ends in
// a character that sorts after "." (so "!", ")", "." and blanks get none).
std::string DisplayMessage(const std::string& message);

// The command line's line for a failure at the listed input `name` (empty:
// none): "<path or name>: <headline>: <detail>." with the parts it has.
std::string CommandLineMessage(const std::string& name, const std::exception& error);

}  // namespace pictavo
