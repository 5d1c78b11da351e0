// Sentences finished while the talk control is held: collected for the
// release, or translated and played one by one while recording goes on.

#include "model/AppModel.h"
#include "model/ModelTask.h"

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
        heldSentenceWorker = spawnOnModel(weak_from_this(), [](AppModel& model) { return model.sendHeldSentences(); });
}

rt::Async<void> AppModel::sendHeldSentences()
{
    const std::weak_ptr<AppModel> weak = weak_from_this();
    while (true) {
        std::vector<HeldSentence> queue = heldSentences.get();
        if (queue.empty()) {
            heldSentenceWorker = {};
            co_return;
        }
        const HeldSentence next = queue.front();
        queue.erase(queue.begin());
        heldSentences.set(std::move(queue));
        // A sentence of a cancelled or finished hold is not sent any more.
        if (next.hold != holdID.get())
            continue;
        const rt::Uuid hold = next.hold;
        co_await translateDraft(next.text, DraftSource::speech, HoldPlay::withinHold, [weak, hold] {
            auto model = weak.lock();
            return model && model->isCurrentHold(hold);
        });
        if (weak.expired())
            co_return;
        if (isRecording.get() && holdID.get() == hold)
            status.set(recordingStatus());
    }
}

}  // namespace parlaro
