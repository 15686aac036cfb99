// The error model: every failure is an exception whose what() is the text the
// user sees. Class names follow the ones the messages are known by.
#pragma once

#include <exception>
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
}  // namespace msg

class Exception : public std::exception {
public:
    // `detail` is the cause the system or a library gave: the command line
    // adds it after the message, the window's error box keeps its own text.
    explicit Exception(std::string message, std::string detail = {})
        : message_(std::move(message)), detail_(std::move(detail))
    {
    }
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }
    const std::string& detail() const noexcept { return detail_; }

private:
    std::string message_;
    std::string detail_;
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
// A file's picture data cannot be understood.
class EInvalidGraphic : public Exception {
public:
    using Exception::Exception;
};

class EStreamError : public Exception {
public:
    using Exception::Exception;
};
class EFOpenError : public EStreamError {
public:
    explicit EFOpenError(const std::string& name) : EStreamError("Cannot open file " + name) {}
};
class EFCreateError : public EStreamError {
public:
    explicit EFCreateError(const std::string& name, std::string detail = {})
        : EStreamError("Cannot create file " + name, std::move(detail))
    {
    }
};
class EReadError : public EStreamError {
public:
    EReadError() : EStreamError(msg::StreamRead) {}
};
class EWriteError : public EStreamError {
public:
    explicit EWriteError(std::string detail = {}) : EStreamError(msg::StreamWrite, std::move(detail)) {}
};

// The text an error box shows: a full stop is added when the message ends in
// a character that sorts after "." (so "!", ")", "." and blanks get none).
std::string DisplayMessage(const std::string& message);

}  // namespace pictavo
