#include "model/VirtualMicInstallerFailure.h"

#include "speech/Localization.h"

namespace parlaro {

std::string VirtualMicInstallerFailure::errorDescription() const
{
    if (kind_ == Kind::cancelled)
        return localized("已取消");
    return text_.empty() ? localized("系统没有完成操作") : text_;
}

}  // namespace parlaro
