#pragma once

#include <cstdint>
#include <exception>
#include <mutex>
#include <string>

namespace parlaro {

// Base of every error the program raises. The text a user sees is
// localizedDescription(); it is computed when read, because some errors (a
// timeout) follow the interface language current at reading time. what() is
// for logs: its text is computed once, at the first call, and then shared by
// every thread that reads it.
class Error : public std::exception {
public:
    Error() = default;
    // A copy computes its own text.
    Error(const Error&) noexcept : std::exception() {}
    Error& operator=(const Error&) noexcept { return *this; }

    virtual std::string localizedDescription() const = 0;
    const char* what() const noexcept override;

private:
    mutable std::once_flag whatOnce_;
    mutable std::string what_;
};

// An error of a named domain with a numeric code, as lower layers report them
// ("SystemAudio", "Parlaro", "LevelMeter", ...).
class DomainError : public Error {
public:
    DomainError(std::string domain, std::int64_t code, std::string text);

    const std::string& domain() const { return domain_; }
    std::int64_t code() const { return code_; }
    std::string localizedDescription() const override { return text_; }

    bool operator==(const DomainError& other) const
    {
        return domain_ == other.domain_ && code_ == other.code_ && text_ == other.text_;
    }

private:
    std::string domain_;
    std::int64_t code_;
    std::string text_;
};

// The text of any caught exception, for showing to the user.
std::string describe(const std::exception_ptr& error);
std::string describe(const std::exception& error);

namespace rt {

// Thrown by cooperative cancellation checks and by cancelled waits.
class CancellationError : public Error {
public:
    std::string localizedDescription() const override { return "CancellationError"; }
};

// The task of a continuation that was dropped without being resumed gets
// this instead of waiting for ever.
class AbandonedContinuationError : public Error {
public:
    std::string localizedDescription() const override { return "AbandonedContinuationError"; }
};

// True when the exception is a CancellationError.
bool isCancellation(const std::exception_ptr& error);

}  // namespace rt
}  // namespace parlaro
