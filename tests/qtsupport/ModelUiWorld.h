#pragma once

// For widget tests of views over the whole model; the binary must build the
// model tests' ModelWorld in (see tests/CMakeLists.txt).

#include "ModelWorld.h"
#include "UiWorld.h"

#include "speech/InterfaceLanguage.h"
#include "ui/InterfaceFontFollower.h"

#include <QApplication>

#include <memory>

namespace parlaro::test {

// The model's simulated world with what widgets need besides: a fresh
// interface-language revision and settle(), which alternates the executor
// and the Qt event loop until neither has work. Views made in a test must
// go before the world does.
class ModelUiWorld : public ModelWorld {
public:
    ModelUiWorld() { QApplication::setLayoutDirection(Qt::LeftToRight); }
    ~ModelUiWorld()
    {
        settle();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void settle() { test::settle(runtime); }

    InterfaceLanguage::Revision revision;

private:
    InterfaceLanguage::Revision::Scope revisionScope_{revision};
    // As in the program: text in another language than Chinese is drawn in
    // the interface font first, so snapshots show its punctuation.
    ui::InterfaceFontFollower fonts_;
};

}  // namespace parlaro::test
