#pragma once

#include "ModelWorld.h"

#include "runtime/Continuation.h"
#include "runtime/Error.h"

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace parlaro::test {

// Language services that answer from tables the test edits and note every
// question; by default every language has a recognizer with its model and
// every direction is installed. A download reports `reports`, may wait for
// the test (`holdDownloads`), then fails with the language's text in
// `failures` or installs the model.
struct LanguageScript {
    std::map<std::string, std::optional<SpeechEngine>> engines;
    std::set<std::string> missingModels;
    std::map<std::string, TranslationStatus> statuses;  // "source>target"
    std::vector<std::string> asked;
    // Asking for an engine fails with this text.
    std::optional<std::string> engineError;
    // The next time this question is asked ("engine ar"), the answer waits
    // until the test resumes `heldAnswer`.
    std::optional<std::string> holdAnswerTo;
    std::optional<rt::Continuation<void>> heldAnswer;

    std::vector<double> reports{0.0, 0.5, 1.0};
    std::map<std::string, std::string> failures;
    bool holdDownloads = false;
    std::vector<rt::Continuation<void>> waiting;
    // The language and the locales kept, of each download in order.
    std::vector<std::string> downloads;
    std::vector<LanguageServices::Progress> progress;

    void setStatus(const std::string& a, const std::string& b, TranslationStatus status)
    {
        statuses[a + ">" + b] = status;
        statuses[b + ">" + a] = status;
    }
    void finishDownload()
    {
        auto next = waiting.front();
        waiting.erase(waiting.begin());
        next.resume();
    }
};

inline rt::Async<std::optional<SpeechEngine>> scriptedEngine(std::shared_ptr<LanguageScript> script,
                                                             CallLanguage language)
{
    script->asked.push_back("engine " + language.id);
    if (script->holdAnswerTo == "engine " + language.id) {
        script->holdAnswerTo.reset();
        co_await rt::withContinuation<void>([script](rt::Continuation<void> go) { script->heldAnswer = go; });
    }
    if (script->engineError)
        throw DomainError("Speech", 1, *script->engineError);
    const auto found = script->engines.find(language.id);
    co_return found == script->engines.end() ? std::optional<SpeechEngine>(SpeechEngine::speech) : found->second;
}

inline rt::Async<bool> scriptedModel(std::shared_ptr<LanguageScript> script, CallLanguage language)
{
    script->asked.push_back("model " + language.id);
    co_return !script->missingModels.count(language.id);
}

inline rt::Async<TranslationStatus> scriptedStatus(std::shared_ptr<LanguageScript> script, std::string source,
                                                   std::string target)
{
    const std::string pair = source + ">" + target;
    script->asked.push_back("status " + pair);
    const auto found = script->statuses.find(pair);
    co_return found == script->statuses.end() ? TranslationStatus::installed : found->second;
}

inline rt::Async<void> scriptedDownload(std::shared_ptr<LanguageScript> script, CallLanguage language,
                                        std::vector<std::string> keep, LanguageServices::Progress progress)
{
    std::string entry = language.id;
    for (const std::string& locale : keep)
        entry += " " + locale;
    script->downloads.push_back(entry);
    script->progress.push_back(progress);
    for (double fraction : script->reports)
        progress(fraction);
    if (script->holdDownloads)
        co_await rt::withContinuation<void>([script](rt::Continuation<void> go) { script->waiting.push_back(go); });
    if (const auto failure = script->failures.find(language.id); failure != script->failures.end())
        throw DomainError("SpeechModels", 1, failure->second);
    script->missingModels.erase(language.id);
}

inline void useScript(AppModel::Dependencies& d, const std::shared_ptr<LanguageScript>& script)
{
    d.languageServices.engine = [script](CallLanguage language) { return scriptedEngine(script, std::move(language)); };
    d.languageServices.speechInstalled = [script](CallLanguage language, SpeechEngine) {
        return scriptedModel(script, std::move(language));
    };
    d.languageServices.translationStatus = [script](std::string source, std::string target) {
        return scriptedStatus(script, std::move(source), std::move(target));
    };
    d.languageServices.downloadSpeech = [script](CallLanguage language, SpeechEngine, std::vector<std::string> keep,
                                                 LanguageServices::Progress progress) {
        return scriptedDownload(script, std::move(language), std::move(keep), std::move(progress));
    };
}

inline CallLanguage callLanguage(const std::string& id)
{
    return *CallLanguage::find(id);
}

}  // namespace parlaro::test
