#pragma once

#include "LanguageScript.h"
#include "model/ModelTestAccess.h"
#include "runtime/Task.h"

#include <memory>
#include <string>
#include <vector>

namespace parlaro::test {

// A model over scripted language services whose readiness has been read
// once, collecting every status text it shows. It starts with the pair the
// settings give: I speak Simplified Chinese, they speak English.
struct LanguageWorld {
    ModelWorld world;
    std::shared_ptr<LanguageScript> script = std::make_shared<LanguageScript>();
    std::shared_ptr<AppModel> model;
    std::vector<std::string> statuses;
    rt::Subscription statusWatch;
    rt::Instant t0 = world.runtime.clock().now();

    LanguageWorld()
    {
        model = world.make([this](AppModel::Dependencies& d) { useScript(d, script); });
        refresh();
        statusWatch = model->status.subscribe([this] { statuses.push_back(model->status.get()); });
    }
    void refresh()
    {
        world.run([m = model] { return ModelTestAccess::refreshLanguageReadiness(*m); });
    }
    void change(const std::string& my, const std::string& their,
                AppModel::DownloadConsent consent = AppModel::DownloadConsent::ask)
    {
        world.run([m = model, my, their, consent] {
            return m->changeLanguages(callLanguage(my), callLanguage(their), consent);
        });
    }
    // A change left running, for a test that watches it wait.
    rt::TaskHandle<> changeLater(const std::string& my, const std::string& their)
    {
        return rt::spawn([m = model, my, their]() -> rt::Async<void> {
            co_await m->changeLanguages(callLanguage(my), callLanguage(their), AppModel::DownloadConsent::ask);
        });
    }
    std::string pair() const { return model->myLanguage.get().id + ">" + model->theirLanguage.get().id; }
    std::string storedPair() const
    {
        const auto& defaults = world.platform.defaults;
        return defaults.get<std::string>("myLanguage").value_or("-") + ">"
            + defaults.get<std::string>("theirLanguage").value_or("-");
    }
    void at(double seconds) { world.runtime.clock().advanceTo(t0 + seconds); }
    // The model made again over the real listener, with a listening start
    // under way that hangs until the test releases the session's start.
    void startListeningThatHangs()
    {
        world.realListener = true;
        model = world.make([this](AppModel::Dependencies& d) { useScript(d, script); });
        refresh();
        world.shapeSession = [](FakeRecognitionSession& session) { session.hangStart = true; };
        rt::spawn([m = model]() -> rt::Async<void> { co_await ModelTestAccess::startListening(*m); });
        world.runtime.runUntilIdle();
    }
    // The hanging start ends now; later sessions start at once.
    void releaseHangingStart()
    {
        world.shapeSession = nullptr;
        world.sessions.front().session->releaseStart();
        world.runtime.runUntilIdle();
    }
};

inline std::string nameOf(const std::string& id)
{
    return callLanguage(id).displayName();
}

}  // namespace parlaro::test
