#include "speech/Deadline.h"

#include "speech/Localization.h"

namespace parlaro {

std::string OperationTimeout::errorDescription() const
{
    auto text = localized("%@超时，请重试", stage_);
    if (code_)
        return bracketed(text, *code_);
    return text;
}

}  // namespace parlaro
