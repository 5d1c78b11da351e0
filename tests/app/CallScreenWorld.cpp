#include "CallScreenWorld.h"
#include "model/ModelState.h"
#include "model/ModelTestAccess.h"

#include <QApplication>
#include <QLayout>

namespace parlaro::test {

CallScreenWorld::CallScreenWorld()
{
    QApplication::setLayoutDirection(Qt::LeftToRight);
    // A machine ready to talk: a microphone, headphones, the virtual
    // device, a voice, and speech and translation ready.
    world.microphoneAuthorized = true;
    world.addMicrophone(10, "usb-mic", "USB");
    world.addOutput(30, "speakers", "Speakers");
    world.addVirtualDriver();
    world.voices["en"] = {
        {.id = "en-voice", .label = "en-voice", .quality = 2, .name = "en-voice", .language = "en-US"}};
    model = world.make();
    ModelTestAccess::refreshDevices(*model);
    model->setSelectedMonitorOutputID(30);
    ModelTestAccess::setSelectedInputID(*model, 10);
    test::given.set(model->micConfirmed, true).set(ModelTestAccess::mySpeechReady(*model), true);
    test::given.set(ModelTestAccess::theirSpeechReady(*model), true).set(model->translationReady, true);
    settle();
    world.takeLog();
}

CallScreenWorld::~CallScreenWorld()
{
    settle();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void CallScreenWorld::settle()
{
    for (int round = 0; round < 1000; ++round) {
        auto jobs = world.runtime.runUntilIdle();
        QApplication::sendPostedEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QApplication::processEvents();
        if (jobs == 0 && world.runtime.executor().pendingJobs() == 0)
            return;
    }
}

void CallScreenWorld::show(QWidget& widget, QSize size)
{
    widget.resize(size);
    widget.show();
    if (auto* layout = widget.layout())
        layout->activate();
    settle();
}

}  // namespace parlaro::test
