// Operations that start-up, the watchers and shutdown already call but whose
// behaviour is not built yet. Each does nothing until it is.

#include "model/AppModel.h"

namespace parlaro {

// The press of the talk control.
void AppModel::beginHoldToTalk()
{
}

// Reloads the voices of the other party's language and checks the pick.
void AppModel::refreshVoices()
{
}

// Rebuilds the device lists and repairs the selections.
void AppModel::refreshDevices(std::optional<DeviceReading>)
{
}

// After the audio server restarted or the computer woke.
void AppModel::recoverAudioDevices()
{
}

// The watch on the virtual microphone's input and output.
void AppModel::watchDriverDevice()
{
}

// The watch on the headphones' sample rate.
void AppModel::watchHeadphoneRate()
{
}

// Someone started or stopped reading the virtual microphone.
void AppModel::callStateChanged()
{
}

// Reads whether a call is on and brings the routes up to date.
rt::Async<void> AppModel::refreshCallState()
{
    co_return;
}

// Keeps the level taps running only while something shows them.
void AppModel::updateMeters()
{
}

// Carries the far end to the chosen headphones during a call.
void AppModel::routeCallSpeaker()
{
}

// Reads whether the installed driver is older than the bundled one.
void AppModel::checkDriverUpdate()
{
}

} // namespace parlaro
