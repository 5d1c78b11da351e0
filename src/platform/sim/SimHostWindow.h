#pragma once

#include "platform/HostWindow.h"

#include <memory>
#include <vector>

namespace parlaro::sim {

// A host window that only records what it was asked to show.
class SimHostWindow : public HostWindow {
public:
    enum class State { hiddenInFront, hiddenBehind, revealed };

    explicit SimHostWindow(HostWindowContent content) : content_(std::move(content)) {}

    void showHidden(bool inFront) override { states_.push_back(inFront ? State::hiddenInFront : State::hiddenBehind); }
    void showRevealed() override { states_.push_back(State::revealed); }
    bool isRevealed() const override { return !states_.empty() && states_.back() == State::revealed; }

    const HostWindowContent& content() const { return content_; }
    // Every state in the order it was shown.
    const std::vector<State>& states() const { return states_; }

private:
    HostWindowContent content_;
    std::vector<State> states_;
};

class SimHostWindows : public HostWindowFactory {
public:
    std::shared_ptr<HostWindow> makeHostWindow(HostWindowContent content) override
    {
        auto window = std::make_shared<SimHostWindow>(std::move(content));
        made_.push_back(window);
        return window;
    }

    const std::vector<std::shared_ptr<SimHostWindow>>& made() const { return made_; }
    // The last window made; null before the first.
    SimHostWindow* last() const { return made_.empty() ? nullptr : made_.back().get(); }

private:
    std::vector<std::shared_ptr<SimHostWindow>> made_;
};

}  // namespace parlaro::sim
