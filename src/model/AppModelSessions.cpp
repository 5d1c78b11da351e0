// The model's operations on the conversation's sessions, which its session
// filing keeps.

#include "model/AppModel.h"

namespace parlaro {

void AppModel::flushDirtySessions()
{
    filing->flush();
}

void AppModel::clearConversation()
{
    // The cleared sentences stay in the history.
    filing->flush();
    filing->closeSession();
    setEntries({});
    filing->forgetTranscript();
}

std::optional<AppModel::UnsavedHistory> AppModel::unsavedHistory() const
{
    return filing->unsavedHistory();
}

std::vector<ConversationSession> AppModel::unsavedConversations() const
{
    return filing->unsavedConversations();
}

void AppModel::closeConversationSession()
{
    filing->flush();
    filing->closeSession();
}

}  // namespace parlaro
