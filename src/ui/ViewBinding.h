#pragma once

#include "runtime/Observable.h"

#include <functional>
#include <memory>

namespace parlaro::ui {

// Keeps a view in step with what it shows. `refresh` runs at once inside
// observation tracking; a later change of anything it read (model fields,
// meters, the history, the interface-language revision) schedules one
// refresh on the main executor, however many changes come in that turn.
// refresh() re-reads everything and should touch a widget only where the
// value differs (see WidgetUpdates.h), so it never moves a cursor or a
// selection. Destroying the binding drops a scheduled refresh.
class ViewBinding {
public:
    explicit ViewBinding(std::function<void()> refresh);
    ~ViewBinding();
    ViewBinding(const ViewBinding&) = delete;
    ViewBinding& operator=(const ViewBinding&) = delete;

    // Refreshes now, whatever is scheduled.
    void refreshNow();

private:
    struct State;
    static void track(std::shared_ptr<State> state);
    std::shared_ptr<State> state_;
};

}  // namespace parlaro::ui
