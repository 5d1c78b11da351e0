#include "platform/linux/sphinx/SphinxSpeechRecognizer.h"

#include "platform/linux/sphinx/SphinxEngine.h"
#include "platform/linux/sphinx/SphinxKeptOutWords.h"
#include "platform/linux/sphinx/SphinxRequest.h"
#include "platform/linux/sphinx/SphinxTask.h"
#include "platform/linux/sphinx/SphinxTaskState.h"

#include <pocketsphinx.h>
#include <sphinxbase/err.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <utility>

namespace parlaro::sys {

namespace fs = std::filesystem;

namespace {

std::string lowercase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// "en-us" -> "en-US".
std::string localeOfModel(const std::string& name)
{
    auto dash = name.find('-');
    if (dash == std::string::npos)
        return lowercase(name);
    std::string region = name.substr(dash + 1);
    std::transform(region.begin(), region.end(), region.begin(), [](unsigned char c) { return std::toupper(c); });
    return lowercase(name.substr(0, dash)) + "-" + region;
}

struct LocaleParts {
    std::string language;
    std::string region;
};

// Language and region of a BCP 47 or POSIX identifier; the script is
// irrelevant to the models.
LocaleParts partsOf(const std::string& identifier)
{
    std::string tag = identifier.substr(0, identifier.find('@'));
    std::replace(tag.begin(), tag.end(), '_', '-');
    LocaleParts parts;
    std::size_t start = 0;
    bool first = true;
    while (start <= tag.size()) {
        auto end = tag.find('-', start);
        if (end == std::string::npos)
            end = tag.size();
        std::string subtag = lowercase(tag.substr(start, end - start));
        if (first)
            parts.language = subtag;
        else if (parts.region.empty()
                 && ((subtag.size() == 2 && std::isalpha(static_cast<unsigned char>(subtag[0])))
                     || (subtag.size() == 3 && std::isdigit(static_cast<unsigned char>(subtag[0])))))
            parts.region = subtag;
        first = false;
        start = end + 1;
    }
    return parts;
}

}  // namespace

std::vector<SphinxModel> installedSphinxModels(const std::string& root)
{
    std::vector<SphinxModel> models;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(root, error)) {
        if (!entry.is_directory(error))
            continue;
        std::string name = entry.path().filename().string();
        SphinxModel model{localeOfModel(name), (entry.path() / name).string(),
                          (entry.path() / (name + ".lm.bin")).string(),
                          (entry.path() / ("cmudict-" + name + ".dict")).string()};
        if (fs::is_directory(model.acousticModel, error) && fs::is_regular_file(model.languageModel, error)
            && fs::is_regular_file(model.dictionary, error))
            models.push_back(std::move(model));
    }
    std::sort(models.begin(), models.end(), [](const auto& a, const auto& b) { return a.locale < b.locale; });
    return models;
}

ps_decoder_t* loadSphinxDecoder(const SphinxModel& model)
{
    // No flat-lexicon search at the end of each utterance: it held every
    // final text back by about a twentieth of the utterance (0.15-0.2 s of
    // a three-second reply, all of it after the release of a press), and on
    // the recordings the benchmarks decode it got fewer words right, not
    // more. At most 25 words end in one frame: with no limit a dense
    // ten-second reply leaves some 1,700 word ends in the lattice that the
    // end of an utterance searches, which took 0.055 s after the release
    // instead of 0.03 s, for the same words on those recordings (limits of
    // 10 to 20 lost a few).
    // The dictionary without the words no mishearing may write: a word the
    // search does not know, it never writes.
    // The library's log is off for the process. A log file named to each
    // decoder was opened at its load, closing the one before, which another
    // thread's decoder may have been writing to at that moment.
    static std::once_flag quiet;
    std::call_once(quiet, [] { err_set_logfp(nullptr); });
    const std::string dictionary = sphinxSearchDictionary(model.dictionary);
    if (dictionary.empty())
        return nullptr;
    cmd_ln_t* config =
        cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", model.acousticModel.c_str(), "-lm", model.languageModel.c_str(),
                    "-dict", dictionary.c_str(), "-fwdflat", "no", "-maxwpf", "25", nullptr);
    if (!config)
        return nullptr;
    // The decoder keeps its own reference to the configuration.
    ps_decoder_t* decoder = ps_init(config);
    cmd_ln_free_r(config);
    return decoder;
}

namespace {

// One model's recognizer: its requests and tasks go to the model's engine.
class SphinxRecognizer final : public SpeechRecognizer {
public:
    SphinxRecognizer(std::string locale, std::shared_ptr<SphinxEngine> engine)
        : locale_(std::move(locale)), engine_(std::move(engine))
    {
    }

    std::string locale() const override { return locale_; }
    bool supportsOnDeviceRecognition() const override { return true; }

    std::shared_ptr<SpeechAudioBufferRecognitionRequest> makeRequest() override
    {
        return std::make_shared<SphinxRequest>(engine_);
    }

    std::optional<std::string> continuation(const std::string& before, const std::string& after,
                                            double pause) const override
    {
        return engine_->continuation(before, after, pause);
    }

    std::optional<std::string> closingMark(const std::string& text) const override
    {
        return engine_->closingMark(text);
    }

    std::shared_ptr<SpeechRecognitionTask> recognitionTask(std::shared_ptr<SpeechAudioBufferRecognitionRequest> request,
                                                           ResultHandler handler) override
    {
        auto sphinxRequest = std::dynamic_pointer_cast<SphinxRequest>(request);
        if (!sphinxRequest || sphinxRequest->engine() != engine_)
            throw std::invalid_argument("the request was not made by this recognizer");
        auto state = std::make_shared<SphinxTaskState>();
        state->handler = std::move(handler);
        state->reportPartials = request->options.shouldReportPartialResults;
        state->punctuate = request->options.addsPunctuation;
        state->source = request->options.audioSource;
        if (!sphinxRequest->attach(state))
            throw std::invalid_argument("the request is already being recognized");
        return std::make_shared<SphinxTask>(engine_, state);
    }

private:
    std::string locale_;
    std::shared_ptr<SphinxEngine> engine_;
};

}  // namespace

SphinxSpeechRecognitionService::SphinxSpeechRecognitionService(std::string modelRoot, double partialInterval,
                                                               std::optional<std::filesystem::path> channelFile)
    : modelRoot_(std::move(modelRoot)),
      partialSamples_(static_cast<std::size_t>(std::max(partialInterval, 0.0) * sphinxSampleRate)),
      channels_(std::make_shared<SphinxChannelFile>(std::move(channelFile)))
{
}

SphinxSpeechRecognitionService::~SphinxSpeechRecognitionService() = default;

void SphinxSpeechRecognitionService::requestAuthorization(std::function<void(SpeechAuthorizationStatus)> handler)
{
    // Nothing leaves the computer, so there is nothing to ask.
    handler(SpeechAuthorizationStatus::authorized);
}

std::shared_ptr<SpeechRecognizer> SphinxSpeechRecognitionService::makeRecognizer(const std::string& locale)
{
    auto wanted = partsOf(locale);
    if (wanted.language.empty())
        return nullptr;
    for (const auto& model : installedSphinxModels(modelRoot_)) {
        auto parts = partsOf(model.locale);
        if (parts.language == wanted.language && (wanted.region.empty() || parts.region == wanted.region))
            return std::make_shared<SphinxRecognizer>(model.locale, engine(model));
    }
    return nullptr;
}

std::shared_ptr<SphinxEngine> SphinxSpeechRecognitionService::engine(const SphinxModel& model)
{
    std::lock_guard lock(mutex_);
    auto& slot = engines_[model.locale];
    if (!slot)
        slot = std::make_shared<SphinxEngine>(model, counts_, partialSamples_, channels_);
    return slot;
}

}  // namespace parlaro::sys
