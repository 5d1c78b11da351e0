#include "platform/sim/SimSpeechRecognizer.h"

#include "runtime/Runtime.h"

#include <stdexcept>

namespace parlaro::sim {

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isTrailingPunctuation(char c)
{
    return c == '.' || c == ',' || c == '?' || c == '!' || c == ';' || c == ':' || c == '"' || c == '\'';
}

}  // namespace

Transcription spoken(const std::string& text)
{
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isSpace(text[i]))
            ++i;
        std::size_t start = i;
        while (i < text.size() && !isSpace(text[i]))
            ++i;
        std::size_t end = i;
        while (end > start && isTrailingPunctuation(text[end - 1]))
            --end;
        if (end > start)
            words.push_back(text.substr(start, end - start));
    }
    return makeTranscription(text, words);
}

Transcription spoken(const std::string& text, const std::vector<std::string>& words)
{
    return makeTranscription(text, words);
}

SimRecognitionEvent SimRecognitionEvent::partial(Transcription transcription, double at, When when)
{
    SimRecognitionEvent event;
    event.when = when;
    event.delay = at;
    event.result = SpeechRecognitionResult{std::move(transcription), false};
    return event;
}

SimRecognitionEvent SimRecognitionEvent::final(Transcription transcription, double at, When when)
{
    SimRecognitionEvent event;
    event.when = when;
    event.delay = at;
    event.result = SpeechRecognitionResult{std::move(transcription), true};
    return event;
}

SimRecognitionEvent SimRecognitionEvent::failure(std::string domain, std::int64_t code, std::string description,
                                                 double at, When when)
{
    SimRecognitionEvent event;
    event.when = when;
    event.delay = at;
    event.error = DomainError(std::move(domain), code, std::move(description));
    return event;
}

// Request.

SimRecognitionRequest::SimRecognitionRequest(AudioFormat nativeFormat, double createdAt)
    : nativeFormat_(nativeFormat), createdAt_(createdAt)
{
}

void SimRecognitionRequest::append(const PcmBuffer& buffer)
{
    std::lock_guard lock(mutex_);
    if (endedAt_)
        return;
    appended_.push_back(buffer);
}

void SimRecognitionRequest::endAudio()
{
    std::shared_ptr<SimSpeechRecognitionTask> task;
    {
        std::lock_guard lock(mutex_);
        if (endedAt_)
            return;
        endedAt_ = rt::clock().uptime();
        task = task_.lock();
    }
    if (task)
        task->audioDidEnd();
}

std::vector<PcmBuffer> SimRecognitionRequest::appended() const
{
    std::lock_guard lock(mutex_);
    return appended_;
}

std::size_t SimRecognitionRequest::appendedFrames() const
{
    std::lock_guard lock(mutex_);
    std::size_t frames = 0;
    for (const auto& buffer : appended_)
        frames += buffer.frameLength();
    return frames;
}

bool SimRecognitionRequest::audioEnded() const
{
    std::lock_guard lock(mutex_);
    return endedAt_.has_value();
}

std::optional<double> SimRecognitionRequest::audioEndedAt() const
{
    std::lock_guard lock(mutex_);
    return endedAt_;
}

void SimRecognitionRequest::attach(std::weak_ptr<SimSpeechRecognitionTask> task)
{
    std::lock_guard lock(mutex_);
    task_ = std::move(task);
}

// Task.

SimSpeechRecognitionTask::SimSpeechRecognitionTask(std::shared_ptr<SimRecognitionRequest> request,
                                                   SpeechRecognizer::ResultHandler handler, SimRecognitionScript script,
                                                   double startedAt)
    : request_(std::move(request)), handler_(std::move(handler)), script_(std::move(script)), startedAt_(startedAt)
{
}

void SimSpeechRecognitionTask::begin()
{
    request_->attach(weak_from_this());
    for (const auto& event : script_)
        if (event.when == SimRecognitionEvent::When::afterStart)
            schedule(event);
    if (request_->audioEnded())
        audioDidEnd();
}

void SimSpeechRecognitionTask::audioDidEnd()
{
    for (const auto& event : script_)
        if (event.when == SimRecognitionEvent::When::afterEndOfAudio) {
            if (event.error || (event.result && event.result->isFinal))
                finishing_.store(true);
            schedule(event);
        }
}

void SimSpeechRecognitionTask::schedule(const SimRecognitionEvent& event)
{
    post(event.result, event.error, event.delay);
}

void SimSpeechRecognitionTask::post(std::optional<SpeechRecognitionResult> result, std::optional<DomainError> error,
                                    double delay, bool late)
{
    std::weak_ptr<SimSpeechRecognitionTask> weak = weak_from_this();
    auto item = rt::postAfter(delay, [weak, result = std::move(result), error = std::move(error), late] {
        if (auto self = weak.lock())
            self->hand(result, error, late);
    });
    if (late)
        return;
    std::lock_guard lock(mutex_);
    pending_.push_back(item);
}

void SimSpeechRecognitionTask::hand(const std::optional<SpeechRecognitionResult>& result,
                                    const std::optional<DomainError>& error, bool late)
{
    if (!late && (cancelled_.load() || finished_.load()))
        return;
    if (error || (result && result->isFinal))
        finished_.store(true);
    {
        std::lock_guard lock(mutex_);
        if (result)
            results_.push_back(*result);
        if (error)
            errors_.push_back(*error);
    }
    // A copy, so the handler may drop the last reference to this task.
    auto handler = handler_;
    handler(result, error);
}

void SimSpeechRecognitionTask::deliver(SpeechRecognitionResult result)
{
    post(std::move(result), std::nullopt, 0.0);
}

void SimSpeechRecognitionTask::fail(DomainError error)
{
    post(std::nullopt, std::move(error), 0.0);
}

void SimSpeechRecognitionTask::deliverLate(std::optional<SpeechRecognitionResult> result,
                                           std::optional<DomainError> error)
{
    post(std::move(result), std::move(error), 0.0, true);
}

void SimSpeechRecognitionTask::cancel()
{
    if (cancelled_.exchange(true))
        return;
    std::vector<rt::WorkItem> pending;
    {
        std::lock_guard lock(mutex_);
        pending.swap(pending_);
    }
    for (const auto& item : pending)
        item.cancel();
}

std::vector<SpeechRecognitionResult> SimSpeechRecognitionTask::deliveredResults() const
{
    std::lock_guard lock(mutex_);
    return results_;
}

std::vector<DomainError> SimSpeechRecognitionTask::deliveredErrors() const
{
    std::lock_guard lock(mutex_);
    return errors_;
}

// Recognizer.

SimSpeechRecognizer::SimSpeechRecognizer(SimSpeechRecognitionService& service, std::string locale,
                                         bool supportsOnDevice, AudioFormat nativeFormat)
    : service_(service), locale_(std::move(locale)), supportsOnDevice_(supportsOnDevice), nativeFormat_(nativeFormat)
{
}

std::shared_ptr<SpeechAudioBufferRecognitionRequest> SimSpeechRecognizer::makeRequest()
{
    auto request = std::make_shared<SimRecognitionRequest>(nativeFormat_, rt::clock().uptime());
    service_.record(request);
    return request;
}

std::optional<std::string> SimSpeechRecognizer::closingMark(const std::string& text) const
{
    const auto marks = service_.ofLocale(locale_, &SimSpeechRecognitionService::Locale::closingMarks);
    return marks ? std::optional(marks(text)) : std::nullopt;
}

std::optional<std::string> SimSpeechRecognizer::continuation(const std::string& before, const std::string& after,
                                                             double pause) const
{
    const auto judge = service_.ofLocale(locale_, &SimSpeechRecognitionService::Locale::sentenceEnds);
    if (!judge || judge(before, after, pause))
        return std::nullopt;
    return withinSentence(after, locale_ == "en" || locale_.starts_with("en-"));
}

std::shared_ptr<SpeechRecognitionTask>
SimSpeechRecognizer::recognitionTask(std::shared_ptr<SpeechAudioBufferRecognitionRequest> request,
                                     ResultHandler handler)
{
    auto simRequest = std::dynamic_pointer_cast<SimRecognitionRequest>(request);
    if (!simRequest)
        throw std::invalid_argument("the request was not made by a sim recognizer");
    return service_.startTask(locale_, std::move(simRequest), std::move(handler));
}

// Service.

void SimSpeechRecognitionService::requestAuthorization(std::function<void(SpeechAuthorizationStatus)> handler)
{
    std::optional<SpeechAuthorizationStatus> answer;
    {
        std::lock_guard lock(mutex_);
        ++authorizationRequests_;
        answer = authorization_;
        if (!answer)
            waiting_.push_back(std::move(handler));
    }
    if (answer)
        rt::postToMain([handler = std::move(handler), status = *answer] { handler(status); });
}

void SimSpeechRecognitionService::setAuthorization(std::optional<SpeechAuthorizationStatus> status)
{
    std::lock_guard lock(mutex_);
    authorization_ = status;
}

void SimSpeechRecognitionService::answerAuthorization(SpeechAuthorizationStatus status)
{
    std::vector<std::function<void(SpeechAuthorizationStatus)>> waiting;
    {
        std::lock_guard lock(mutex_);
        authorization_ = status;
        waiting.swap(waiting_);
    }
    for (auto& handler : waiting)
        rt::postToMain([handler = std::move(handler), status] { handler(status); });
}

std::size_t SimSpeechRecognitionService::authorizationRequests() const
{
    std::lock_guard lock(mutex_);
    return authorizationRequests_;
}

std::shared_ptr<SpeechRecognizer> SimSpeechRecognitionService::makeRecognizer(const std::string& locale)
{
    std::lock_guard lock(mutex_);
    auto found = locales_.find(locale);
    if (found == locales_.end())
        return nullptr;
    auto recognizer = std::make_shared<SimSpeechRecognizer>(*this, locale, found->second.supportsOnDevice,
                                                            found->second.nativeFormat);
    recognizers_.push_back(recognizer);
    return recognizer;
}

void SimSpeechRecognitionService::addLocale(const std::string& locale, bool supportsOnDevice, AudioFormat nativeFormat)
{
    std::lock_guard lock(mutex_);
    auto& entry = locales_[locale];
    entry.supportsOnDevice = supportsOnDevice;
    entry.nativeFormat = nativeFormat;
}

void SimSpeechRecognitionService::script(const std::string& locale, SimRecognitionScript script)
{
    std::lock_guard lock(mutex_);
    locales_.at(locale).queued.push_back(std::move(script));
}

void SimSpeechRecognitionService::setStandingScript(const std::string& locale, SimRecognitionScript script)
{
    std::lock_guard lock(mutex_);
    locales_.at(locale).standing = std::move(script);
}

void SimSpeechRecognitionService::setSentenceEnds(const std::string& locale, SentenceEnds judge)
{
    std::lock_guard lock(mutex_);
    locales_.at(locale).sentenceEnds = std::move(judge);
}

template <class Field>
Field SimSpeechRecognitionService::ofLocale(const std::string& locale, Field Locale::*field) const
{
    std::lock_guard lock(mutex_);
    const auto found = locales_.find(locale);
    return found != locales_.end() ? found->second.*field : Field();
}

void SimSpeechRecognitionService::setClosingMarks(const std::string& locale, ClosingMarks marks)
{
    std::lock_guard lock(mutex_);
    locales_.at(locale).closingMarks = std::move(marks);
}

std::vector<std::weak_ptr<SimSpeechRecognizer>> SimSpeechRecognitionService::recognizers() const
{
    std::lock_guard lock(mutex_);
    return recognizers_;
}

std::vector<std::shared_ptr<SimRecognitionRequest>> SimSpeechRecognitionService::requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<std::shared_ptr<SimSpeechRecognitionTask>> SimSpeechRecognitionService::tasks() const
{
    std::lock_guard lock(mutex_);
    return tasks_;
}

void SimSpeechRecognitionService::record(std::shared_ptr<SimRecognitionRequest> request)
{
    std::lock_guard lock(mutex_);
    requests_.push_back(std::move(request));
}

std::shared_ptr<SimSpeechRecognitionTask>
SimSpeechRecognitionService::startTask(const std::string& locale, std::shared_ptr<SimRecognitionRequest> request,
                                       SpeechRecognizer::ResultHandler handler)
{
    SimRecognitionScript script;
    {
        std::lock_guard lock(mutex_);
        auto& entry = locales_.at(locale);
        if (!entry.queued.empty()) {
            script = std::move(entry.queued.front());
            entry.queued.pop_front();
        } else {
            script = entry.standing;
        }
    }
    auto task = std::make_shared<SimSpeechRecognitionTask>(std::move(request), std::move(handler), std::move(script),
                                                           rt::clock().uptime());
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(task);
    }
    task->begin();
    return task;
}

}  // namespace parlaro::sim
