// Sentences finished while the talk control is held: collected for the
// release, or translated and played one by one while recording goes on.

#include "model/HoldToTalk.h"
#include "model/ModelTask.h"

#include "runtime/Runtime.h"

#include <utility>

namespace parlaro {

void HoldToTalk::queueSentence(const std::string& text, const rt::Uuid& hold)
{
    if (!sendsWhileHolding.get()) {
        std::vector<std::string> pieces = heldUtterance.get();
        pieces.push_back(text);
        write_.set(heldUtterance, std::move(pieces));
        return;
    }
    write_.set(heldSentenceCount, heldSentenceCount.get() + 1);
    std::vector<HeldSentence> queue = heldSentences.get();
    queue.push_back({text, hold});
    write_.set(heldSentences, std::move(queue));
    // One worker at a time, so the sentences reach the other party in the
    // order spoken; neither a press nor a cancel stops it.
    if (!sender_)
        sender_ = spawnOnModel(weak_from_this(), [](HoldToTalk& self) { return self.sendSentences(); });
}

rt::Async<void> HoldToTalk::sendSentences()
{
    const std::weak_ptr<HoldToTalk> weak = weak_from_this();
    while (true) {
        std::vector<HeldSentence> queue = heldSentences.get();
        if (queue.empty()) {
            sender_ = {};
            co_return;
        }
        const HeldSentence next = queue.front();
        queue.erase(queue.begin());
        write_.set(heldSentences, std::move(queue));
        // A sentence of a cancelled or finished hold is not sent any more.
        if (next.hold != holdID.get())
            continue;
        const rt::Uuid hold = next.hold;
        co_await feeds_.send(next.text, HoldPlay::withinHold, [weak, hold] {
            auto self = weak.lock();
            return self && self->holdID.get() == hold;
        });
        if (weak.expired())
            co_return;
        if (feeds_.isRecording.get() && holdID.get() == hold)
            write_.set(feeds_.status, recordingStatus());
    }
}

}  // namespace parlaro
