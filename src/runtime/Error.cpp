#include "runtime/Error.h"

namespace parlaro {

const char* Error::what() const noexcept
{
    try {
        std::call_once(whatOnce_, [this] { what_ = localizedDescription(); });
    } catch (...) {
        return "error";
    }
    return what_.c_str();
}

DomainError::DomainError(std::string domain, std::int64_t code, std::string text)
    : domain_(std::move(domain)), code_(code), text_(std::move(text))
{
}

std::string describe(const std::exception& error)
{
    if (auto* own = dynamic_cast<const Error*>(&error))
        return own->localizedDescription();
    return error.what();
}

std::string describe(const std::exception_ptr& error)
{
    if (!error)
        return {};
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return describe(e);
    } catch (...) {
        return "unknown error";
    }
}

namespace rt {

bool isCancellation(const std::exception_ptr& error)
{
    if (!error)
        return false;
    try {
        std::rethrow_exception(error);
    } catch (const CancellationError&) {
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace rt
}  // namespace parlaro
