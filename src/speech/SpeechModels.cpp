#include "speech/SpeechModels.h"

#include "platform/SpeechServices.h"
#include "runtime/Sleep.h"
#include "speech/Localization.h"
#include "speech/ModuleError.h"

#include <algorithm>

namespace parlaro {

namespace {

constexpr double progressInterval = 0.2;

// A locale's BCP-47 identifier: POSIX separators become hyphens.
std::string bcp47(std::string locale)
{
    std::replace(locale.begin(), locale.end(), '_', '-');
    return locale;
}

TranscriberKind kindOf(SpeechEngine engine)
{
    return engine == SpeechEngine::dictation ? TranscriberKind::dictation : TranscriberKind::speech;
}

bool contains(const std::vector<std::string>& list, const std::string& value)
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

}  // namespace

TranscriberModule SpeechModels::modelModule(SpeechEngine engine, const std::string& locale)
{
    auto module = SpeechEngines::speechModule(engine, locale);
    auto kind =
        module.kind == SpeechModule::Kind::dictationTranscriber ? TranscriberKind::dictation : TranscriberKind::speech;
    auto preset = module.preset == SpeechModule::Preset::progressiveLongDictation
        ? TranscriberPreset::progressiveLongDictation
        : TranscriberPreset::progressiveTranscription;
    return TranscriberModule::withPreset(kind, module.locale, preset);
}

rt::Async<std::optional<std::string>> SpeechModels::supportedLocale(std::string locale, bool dictation)
{
    const auto wanted = bcp47(locale);
    auto supported = co_await speechTranscribers().supportedLocales(dictation ? TranscriberKind::dictation
                                                                              : TranscriberKind::speech);
    for (const auto& candidate : supported) {
        if (bcp47(candidate) == wanted)
            co_return candidate;
    }
    co_return std::nullopt;
}

rt::Async<std::optional<SpeechEngine>> SpeechModels::engine(std::string locale)
{
    if (speechTranscribers().isSpeechTranscriberAvailable() && co_await supportedLocale(locale, false))
        co_return SpeechEngine::speech;
    if (co_await supportedLocale(locale, true))
        co_return SpeechEngine::dictation;
    co_return std::nullopt;
}

rt::Async<bool> SpeechModels::isInstalled(std::string locale, SpeechEngine engine)
{
    auto supported = co_await supportedLocale(locale, engine == SpeechEngine::dictation);
    if (!supported)
        co_return false;
    const auto identifier = bcp47(*supported);
    auto installed = co_await speechTranscribers().installedLocales(kindOf(engine));
    for (const auto& candidate : installed) {
        if (bcp47(candidate) == identifier)
            co_return true;
    }
    std::vector<TranscriberModule> modules{modelModule(engine, *supported)};
    auto status = co_await assetInventory().status(std::move(modules));
    co_return status == AssetStatus::installed;
}

rt::Async<void> SpeechModels::installAssets(std::string locale, SpeechEngine engine, std::vector<std::string> keeping,
                                            Progress progress)
{
    auto supported = co_await supportedLocale(locale, engine == SpeechEngine::dictation);
    if (!supported)
        throw ModuleError(ModuleID::recognition, 1, localized("本机不支持 %@ 语音识别", locale));

    std::vector<std::string> wanted{bcp47(*supported)};
    for (const auto& kept : keeping)
        wanted.push_back(bcp47(kept));

    AssetInventory& assets = assetInventory();
    auto reserved = co_await assets.reservedLocales();
    if (static_cast<long>(reserved.size()) >= assets.maximumReservedLocales()) {
        for (const auto& reservation : reserved) {
            if (contains(wanted, bcp47(reservation)))
                continue;
            bool cancelled = false;
            try {
                co_await assets.release(reservation);
            } catch (const rt::CancellationError&) {
                cancelled = true;
            } catch (...) {
                // A reservation that will not go is no reason to stop.
            }
            if (cancelled)
                throw rt::CancellationError();
        }
    }

    std::vector<TranscriberModule> modules{modelModule(engine, *supported)};
    auto request = co_await assets.assetInstallationRequest(std::move(modules));
    if (!request) {
        if (progress)
            progress(1.0);
        co_return;
    }

    auto poller = rt::spawn([request, progress]() -> rt::Async<void> {
        try {
            while (!rt::isCancelled()) {
                if (progress)
                    progress(request->fractionCompleted());
                co_await rt::sleepFor(progressInterval);
            }
        } catch (const rt::CancellationError&) {
        }
    });

    std::exception_ptr failure;
    try {
        co_await request->downloadAndInstall();
    } catch (...) {
        failure = std::current_exception();
    }
    // The poller goes first, so no fraction can follow the final report.
    poller.cancel();
    if (failure)
        std::rethrow_exception(failure);
    if (progress)
        progress(1.0);
}

}  // namespace parlaro
