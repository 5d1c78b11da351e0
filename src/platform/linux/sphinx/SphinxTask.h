#pragma once

#include "platform/SpeechRecognizer.h"
#include "platform/linux/sphinx/SphinxEngine.h"
#include "platform/linux/sphinx/SphinxTaskState.h"

#include <memory>
#include <utility>

namespace parlaro::sys {

// The main actor's hold on one recognition: its decoder goes back to the
// pool when it is cancelled or goes.
class SphinxTask final : public SpeechRecognitionTask {
public:
    SphinxTask(std::shared_ptr<SphinxEngine> engine, std::shared_ptr<SphinxTaskState> state)
        : engine_(std::move(engine)), state_(std::move(state))
    {
    }
    ~SphinxTask() override { engine_->release(state_); }

    void cancel() override
    {
        if (!state_->cancelled.exchange(true))
            engine_->release(state_);
    }
    bool isCancelled() const override { return state_->cancelled.load(); }
    bool isFinishing() const override { return state_->finishing.load() && !state_->cancelled.load(); }

private:
    std::shared_ptr<SphinxEngine> engine_;
    std::shared_ptr<SphinxTaskState> state_;
};

}  // namespace parlaro::sys
