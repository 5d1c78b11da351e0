#include "ui/ViewBinding.h"

#include "runtime/Runtime.h"

namespace parlaro::ui {

struct ViewBinding::State {
    std::function<void()> refresh;
    rt::Subscription tracking;
    bool scheduled = false;
};

ViewBinding::ViewBinding(std::function<void()> refresh) : state_(std::make_shared<State>())
{
    state_->refresh = std::move(refresh);
    track(state_);
}

ViewBinding::~ViewBinding()
{
    state_->tracking.reset();
    state_->refresh = nullptr;
}

void ViewBinding::refreshNow()
{
    state_->scheduled = false;
    track(state_);
}

void ViewBinding::track(std::shared_ptr<State> state)
{
    // Both copies keep a view that closes itself in its refresh safe.
    auto refresh = state->refresh;
    if (!refresh)
        return;
    std::weak_ptr<State> weak = state;
    auto tracking = rt::withObservationTracking([&] { refresh(); },
                                                [weak] {
                                                    auto s = weak.lock();
                                                    if (!s || s->scheduled)
                                                        return;
                                                    s->scheduled = true;
                                                    rt::mainExecutor().post([weak] {
                                                        auto s = weak.lock();
                                                        if (!s || !s->scheduled || !s->refresh)
                                                            return;
                                                        s->scheduled = false;
                                                        track(s);
                                                    });
                                                });
    if (state->refresh)
        state->tracking = std::move(tracking);
}

}  // namespace parlaro::ui
