#include "history/ConversationEntry.h"

namespace parlaro {

std::string ConversationEntry::rawValue(Side side)
{
    return side == Side::me ? "me" : "them";
}

std::optional<ConversationEntry::Side> ConversationEntry::sideFromRawValue(std::string_view raw)
{
    if (raw == "them")
        return Side::them;
    if (raw == "me")
        return Side::me;
    return std::nullopt;
}

}  // namespace parlaro
