// Sentences finished while the talk control is held: collected for the
// release, or translated and played one by one while recording goes on.

#include "model/AppModel.h"

#include "runtime/Runtime.h"

#include <utility>

namespace parlaro {

void AppModel::queueHeldSentence(const std::string& text, const rt::Uuid& hold)
{
    if (!holdSendsWhileHolding.get()) {
        std::vector<std::string> pieces = heldUtterance.get();
        pieces.push_back(text);
        heldUtterance.set(std::move(pieces));
        return;
    }
    heldSentenceCount.set(heldSentenceCount.get() + 1);
    std::vector<HeldSentence> queue = heldSentences.get();
    queue.push_back({text, hold});
    heldSentences.set(std::move(queue));
    // One worker at a time, so the sentences reach the other party in the
    // order spoken; neither a press nor a cancel stops it.
    if (!heldSentenceWorker)
        heldSentenceWorker = rt::spawn([weak = weak_from_this()] { return sendHeldSentences(weak); });
}

rt::Async<void> AppModel::sendHeldSentences(std::weak_ptr<AppModel> weak)
{
    while (true) {
        auto self = weak.lock();
        if (!self)
            co_return;
        std::vector<HeldSentence> queue = self->heldSentences.get();
        if (queue.empty()) {
            self->heldSentenceWorker = {};
            co_return;
        }
        const HeldSentence next = queue.front();
        queue.erase(queue.begin());
        self->heldSentences.set(std::move(queue));
        // A sentence of a cancelled or finished hold is not sent any more.
        if (next.hold != self->holdID.get())
            continue;
        const rt::Uuid hold = next.hold;
        co_await self->translateDraft(next.text, DraftSource::speech, HoldPlay::withinHold, [weak, hold] {
            auto model = weak.lock();
            return model && model->isCurrentHold(hold);
        });
        if (self->isRecording.get() && self->holdID.get() == hold)
            self->status.set(self->recordingStatus());
    }
}

}  // namespace parlaro
