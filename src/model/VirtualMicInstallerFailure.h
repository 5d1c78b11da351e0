#pragma once

#include "runtime/Error.h"

#include <string>

namespace parlaro::VirtualMicInstaller {

// Why the install command did not install the driver: the user turned the
// administrator prompt down, or the command itself failed with the text it
// left (possibly empty). The model tells the two apart; where no prompt
// exists, only `failed` is ever thrown.
class Failure : public Error {
public:
    enum class Kind { failed, cancelled };

    static Failure failed(std::string text) { return Failure(Kind::failed, std::move(text)); }
    static Failure cancelled() { return Failure(Kind::cancelled, {}); }

    Kind kind() const { return kind_; }
    const std::string& text() const { return text_; }

    // "已取消" for a cancel; the command's text as it is, or a general
    // sentence when it left none.
    std::string errorDescription() const;
    std::string localizedDescription() const override { return errorDescription(); }

    // Two cancels are equal; two failures when their texts are.
    bool operator==(const Failure& other) const
    {
        return kind_ == other.kind_ && (kind_ == Kind::cancelled || text_ == other.text_);
    }

private:
    Failure(Kind kind, std::string text) : kind_(kind), text_(std::move(text)) {}

    Kind kind_;
    std::string text_;
};

} // namespace parlaro::VirtualMicInstaller
