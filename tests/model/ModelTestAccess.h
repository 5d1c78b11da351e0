#pragma once

#include "model/AppModel.h"
#include "model/ModelField.h"

#include <utility>

namespace parlaro {

// Reaches into the model for a test that sets up a state no operation
// reaches quickly (a call that is already on, a sheet already showing, a
// platform closure swapped on a live model) or checks what the model keeps
// between turns (a pending task, a watch). Product code changes the model
// through its operations only.
struct ModelTestAccess {
    template <class T, class V = T>
    static bool set(ModelField<T>& field, V&& value)
    {
        return field.set(T(std::forward<V>(value)));
    }

    // Task handles and the hold's continuation.
    static rt::TaskHandle<>& saveTask(AppModel& model) { return model.saveTask; }
    static rt::TaskHandle<>& holdTask(AppModel& model) { return model.holdTask; }
    static auto& holdRelease(AppModel& model) { return model.holdRelease; }
    static rt::TaskHandle<>& heldSentenceWorker(AppModel& model) { return model.heldSentenceWorker; }
    static rt::TaskHandle<>& callPoll(AppModel& model) { return model.callPoll; }
    static rt::TaskHandle<>& callRecheck(AppModel& model) { return model.callRecheck; }

    // Watches and watchers.
    static AppModel::WatchObject& driverWatch(AppModel& model) { return model.driverWatch; }
    static AppModel::WatchObject& headphoneRateWatch(AppModel& model) { return model.headphoneRateWatch; }
    static auto& deviceWatcher(AppModel& model) { return model.deviceWatcher; }
    static auto& serviceWatcher(AppModel& model) { return model.serviceWatcher; }

    // Plain state.
    static const auto& unsavedSessions(const AppModel& model) { return model.unsavedSessions; }

    // Components, closures and limits as the model was given them.
    static const std::shared_ptr<SystemAudioRoute>& systemRoute(AppModel& model) { return model.systemRoute; }
    static auto& capturePermission(AppModel& model) { return model.capturePermission; }
    static auto& driverUpdateCheck(AppModel& model) { return model.driverUpdateCheck; }
    static auto& ensureVirtualDevices(AppModel& model) { return model.ensureVirtualDevices; }
    static auto& microphoneAuthorized(AppModel& model) { return model.microphoneAuthorized; }
    static auto& listDevices(AppModel& model) { return model.listDevices; }
    static auto& voiceList(AppModel& model) { return model.voiceList; }
    static LanguageServices& languageServices(AppModel& model) { return model.languageServices; }
    static double driverDetectTimeout(const AppModel& model) { return model.driverDetectTimeout; }
    static double recognitionTimeout(const AppModel& model) { return model.recognitionTimeout; }
    static double hearTestSeconds(const AppModel& model) { return model.hearTestSeconds; }
};

}  // namespace parlaro
