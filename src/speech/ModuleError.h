#pragma once

#include "runtime/Error.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace parlaro {

// The five modules a user-visible failure can belong to.
enum class ModuleID { translation, recognition, speech, callAudio, virtualMic };

namespace ModuleIDs {
inline constexpr std::array<ModuleID, 5> allCases{ModuleID::translation, ModuleID::recognition, ModuleID::speech,
                                                  ModuleID::callAudio, ModuleID::virtualMic};
std::string rawValue(ModuleID id);
std::optional<ModuleID> fromRawValue(std::string_view raw);
std::string prefix(ModuleID id);
// The module's name in the current interface language.
std::string title(ModuleID id);
}  // namespace ModuleIDs

// The one error that reaches the user: its text is the already localized
// message followed by the code in the interface language's brackets,
// "…（TR-4）" in Chinese, "… (TR-4)" in German.
class ModuleError : public Error {
public:
    ModuleError(ModuleID module, std::int64_t number, std::string message)
        : module_(module), number_(number), message_(std::move(message))
    {
    }

    ModuleID module() const { return module_; }
    std::int64_t number() const { return number_; }
    const std::string& message() const { return message_; }

    std::string code() const;
    std::string errorDescription() const;
    std::string localizedDescription() const override { return errorDescription(); }

    bool operator==(const ModuleError& other) const
    {
        return module_ == other.module_ && number_ == other.number_ && message_ == other.message_;
    }

private:
    ModuleID module_;
    std::int64_t number_;
    std::string message_;
};

// A module's readiness as the status page shows it.
struct ModuleState {
    struct NeedsDownload {
        std::string text;
        bool operator==(const NeedsDownload&) const = default;
    };
    struct NeedsPermission {
        std::string text;
        bool operator==(const NeedsPermission&) const = default;
    };
    struct Unsupported {
        std::string text;
        bool operator==(const Unsupported&) const = default;
    };
    struct Failed {
        std::string code;
        std::string message;
        bool operator==(const Failed&) const = default;
    };
    struct Ready {
        bool operator==(const Ready&) const = default;
    };

    std::variant<NeedsDownload, NeedsPermission, Unsupported, Failed, Ready> value = Ready{};

    static ModuleState needsDownload(std::string text) { return {NeedsDownload{std::move(text)}}; }
    static ModuleState needsPermission(std::string text) { return {NeedsPermission{std::move(text)}}; }
    static ModuleState unsupported(std::string text) { return {Unsupported{std::move(text)}}; }
    static ModuleState failed(std::string code, std::string message)
    {
        return {Failed{std::move(code), std::move(message)}};
    }
    static ModuleState ready() { return {Ready{}}; }

    bool operator==(const ModuleState&) const = default;
};

// One row of the status page: a module, the facility serving it, its state.
struct ModuleReport {
    ModuleID module;
    std::string adapter;
    ModuleState state;

    ModuleID id() const { return module; }
    bool operator==(const ModuleReport&) const = default;
};

}  // namespace parlaro
