#pragma once

#include "runtime/Error.h"

#include <string>

namespace parlaro {

// Why the virtual devices could not be ensured: the user turned a prompt
// down, or the setup step failed with the text it left (possibly empty). The model tells the two apart; where no prompt
// exists, only `failed` is ever thrown. The installer of the settings layer
// throws it as its VirtualMicInstaller::Failure.
class VirtualMicInstallerFailure : public Error {
public:
    enum class Kind { failed, cancelled };

    static VirtualMicInstallerFailure failed(std::string text)
    {
        return VirtualMicInstallerFailure(Kind::failed, std::move(text));
    }
    static VirtualMicInstallerFailure cancelled() { return VirtualMicInstallerFailure(Kind::cancelled, {}); }

    Kind kind() const { return kind_; }
    const std::string& text() const { return text_; }

    // "已取消" for a cancel; the command's text as it is, or a general
    // sentence when it left none.
    std::string errorDescription() const;
    std::string localizedDescription() const override { return errorDescription(); }

    // Two cancels are equal; two failures when their texts are.
    bool operator==(const VirtualMicInstallerFailure& other) const
    {
        return kind_ == other.kind_ && (kind_ == Kind::cancelled || text_ == other.text_);
    }

private:
    VirtualMicInstallerFailure(Kind kind, std::string text) : kind_(kind), text_(std::move(text)) {}

    Kind kind_;
    std::string text_;
};

}  // namespace parlaro
