// Reaching the server: the two contexts, losing them, and the worker that
// tries again.

#include "platform/linux/pulse/PulseAudioSystem.h"

#include "platform/OwnAudioIDs.h"
#include "platform/linux/pulse/PulseAudioSystemParts.h"

#include <algorithm>
#include <cstdio>
#include <pthread.h>

namespace parlaro::sys {

namespace {

// Every stream of ours carries the program's application id, so that the
// mirror knows the program's other processes as its own, not only this one
// by its pid.
pa_context* newContext(pa_mainloop_api* api, const char* name)
{
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, name);
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, ownApplicationID);
    pa_context* context = pa_context_new_with_proplist(api, name, properties);
    pa_proplist_free(properties);
    return context;
}

// Under the loop's lock: connects the context and waits until it is ready
// or has failed; true when ready.
bool connectAndWait(const PulseLoop& loop, pa_context* context, const char* server, double seconds)
{
    if (pa_context_connect(context, server, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0)
        loop.waitLocked(
            [&] {
                const auto state = pa_context_get_state(context);
                return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
            },
            seconds);
    return pa_context_get_state(context) == PA_CONTEXT_READY;
}

}  // namespace

bool PulseAudioSystem::onLoopThread() const
{
    return control_.inThread() || streams_.inThread();
}

std::string PulseAudioSystem::serverName() const
{
    return server_.empty() ? "the default server" : server_;
}

bool PulseAudioSystem::isConnected() const
{
    std::lock_guard lock(mirrorMutex_);
    return connected_;
}

std::string PulseAudioSystem::connectionError() const
{
    std::lock_guard lock(mirrorMutex_);
    return error_;
}

int PulseAudioSystem::connectionErrorCode() const
{
    std::lock_guard lock(mirrorMutex_);
    return errorCode_;
}

void PulseAudioSystem::onContextState(pa_context* context, void* self)
{
    auto* system = static_cast<PulseAudioSystem*>(self);
    system->control_.signal();
    const pa_context_state_t state = pa_context_get_state(context);
    if (!PA_CONTEXT_IS_GOOD(state) && system->live_.exchange(false)) {
        {
            std::lock_guard lock(system->workerMutex_);
            system->lostPending_ = true;
        }
        system->workerWake_.notify_all();
    }
}

void PulseAudioSystem::onStreamContextState(pa_context*, void* self)
{
    static_cast<PulseAudioSystem*>(self)->streams_.signal();
}

void PulseAudioSystem::onAskingContextState(pa_context*, void* self)
{
    static_cast<PulseAudioSystem*>(self)->control_.signal();
}

pa_context* PulseAudioSystem::openAskingContextLocked(bool& answered)
{
    const char* server = server_.empty() ? nullptr : server_.c_str();
    pa_context* asking = newContext(control_.api(), "Parlaro");
    answered = true;
    if (!asking)
        return nullptr;
    pa_context_set_state_callback(asking, onAskingContextState, this);
    if (connectAndWait(control_, asking, server, writeDeadline))
        return asking;
    answered = !PA_CONTEXT_IS_GOOD(pa_context_get_state(asking));
    closeAskingContextLocked(asking);
    return nullptr;
}

void PulseAudioSystem::closeAskingContextLocked(pa_context* asking)
{
    pa_context_set_state_callback(asking, nullptr, nullptr);
    pa_context_disconnect(asking);
    pa_context_unref(asking);
}

void PulseAudioSystem::connectLocked(bool& ready, double answerSeconds)
{
    ready = false;
    const char* server = server_.empty() ? nullptr : server_.c_str();
    int code = PA_ERR_CONNECTIONREFUSED;
    bool silent = false;
    context_ = newContext(control_.api(), "Parlaro");
    if (context_) {
        pa_context_set_state_callback(context_, onContextState, this);
        const bool answered = connectAndWait(control_, context_, server, answerSeconds);
        // Still on its way: the server took the connection and said nothing.
        silent = !answered && PA_CONTEXT_IS_GOOD(pa_context_get_state(context_));
        if (answered) {
            PulseLoopLock streams(streams_);
            streamContext_ = newContext(streams_.api(), "Parlaro streams");
            if (streamContext_) {
                pa_context_set_state_callback(streamContext_, onStreamContextState, this);
                ready = connectAndWait(streams_, streamContext_, server, answerSeconds);
                if (ready)
                    host_->context = streamContext_;
                silent = !ready && PA_CONTEXT_IS_GOOD(pa_context_get_state(streamContext_));
                if (!ready)
                    code = silent ? PA_ERR_TIMEOUT : pa_context_errno(streamContext_);
            }
        } else {
            code = silent ? PA_ERR_TIMEOUT : pa_context_errno(context_);
        }
    }
    if (!ready) {
        disconnectLocked();
        std::lock_guard lock(mirrorMutex_);
        errorCode_ = code == PA_OK ? PA_ERR_CONNECTIONREFUSED : code;
        error_ = pulseErrorText(errorCode_);
        extras_.answering = silent ? 0 : 1;
        return;
    }
    pa_context_set_subscribe_callback(context_, onEvent, this);
    const auto mask = static_cast<pa_subscription_mask_t>(
        PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SINK_INPUT
        | PA_SUBSCRIPTION_MASK_SOURCE_OUTPUT | PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_CARD);
    if (pa_operation* operation = pa_context_subscribe(context_, mask, nullptr, nullptr))
        pa_operation_unref(operation);
    live_ = true;
}

void PulseAudioSystem::disconnectLocked()
{
    live_ = false;
    cancelProbeLocked();
    {
        PulseLoopLock streams(streams_);
        stopKeepersLocked();
        {
            std::lock_guard lock(mirrorMutex_);
            for (auto& [id, proc] : procs_) {
                proc->stopStreams();
                proc->started = false;
            }
        }
        host_->context = nullptr;
        if (streamContext_) {
            pa_context_set_state_callback(streamContext_, nullptr, nullptr);
            pa_context_disconnect(streamContext_);
            pa_context_unref(streamContext_);
            streamContext_ = nullptr;
        }
    }
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
}

void PulseAudioSystem::connect(double answerSeconds)
{
    bool ready = false;
    {
        PulseLoopLock control(control_);
        connectLocked(ready, answerSeconds);
        if (ready)
            refreshLocked();
    }
    if (!ready) {
        bool announce = false;
        bool silent = false;
        std::string text;
        {
            std::lock_guard lock(mirrorMutex_);
            text = error_;
            silent = extras_.answering == 0;
            // A refusal is said at once; a silence once it has lasted longer
            // than a loaded machine or a server started on demand takes.
            const auto now = std::chrono::steady_clock::now();
            if (!silent)
                silentSince_.reset();
            else if (!silentSince_)
                silentSince_ = now;
            const bool due = !silent || now - *silentSince_ >= std::chrono::duration<double>(connectSilenceTold);
            announce = !announced_ && due;
            announced_ = announced_ || due;
        }
        if (announce && silent)
            std::fprintf(stderr, "parlaro: the audio server at %s does not answer (waiting for it)\n",
                         serverName().c_str());
        else if (announce)
            std::fprintf(stderr, "parlaro: no audio server at %s: %s (retrying)\n", serverName().c_str(), text.c_str());
        republish();
        // A server that took the connection may answer any moment: the
        // worker asks again at once, waiting as long as it takes.
        scheduleRetry(silent ? 0.0 : options_.retrySeconds);
        return;
    }
    bool again = false;
    {
        std::lock_guard lock(mirrorMutex_);
        again = everConnected_;
        everConnected_ = true;
        connected_ = true;
        extras_.running = 1;
        extras_.answering = 1;
        announced_ = false;
        silentSince_.reset();
        error_.clear();
        errorCode_ = 0;
        if (again)
            ++extras_.restarts;
    }
    republish();
    if (auto failure = ensureVirtualMic())
        std::fprintf(stderr, "parlaro: the virtual microphone could not be loaded: %s\n", failure->c_str());
}

void PulseAudioSystem::lost()
{
    {
        PulseLoopLock control(control_);
        disconnectLocked();
    }
    {
        std::lock_guard lock(mirrorMutex_);
        connected_ = false;
        extras_.running = 0;
        // Gone, which is not the same as held still.
        extras_.answering = 1;
        state_ = {};
        errorCode_ = PA_ERR_CONNECTIONTERMINATED;
        error_ = pulseErrorText(errorCode_);
    }
    republish();
    scheduleRetry(options_.retrySeconds);
}

void PulseAudioSystem::scheduleRetry(double seconds)
{
    {
        std::lock_guard lock(workerMutex_);
        retryAt_ = std::chrono::steady_clock::now()
            + std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
    }
    workerWake_.notify_all();
}

double PulseAudioSystem::retryAnswerSeconds() const
{
    std::lock_guard lock(mirrorMutex_);
    if (announced_ || !silentSince_)
        return connectDeadline;
    const double silent = std::chrono::duration<double>(std::chrono::steady_clock::now() - *silentSince_).count();
    return std::clamp(connectSilenceTold - silent, 0.05, connectDeadline);
}

void PulseAudioSystem::cancelProbeLocked()
{
    if (probe_) {
        pa_operation_cancel(probe_);
        pa_operation_unref(probe_);
        probe_ = nullptr;
    }
    stallTold_ = false;
}

void PulseAudioSystem::probe()
{
    bool silenced = false;
    bool tell = false;
    {
        PulseLoopLock control(control_);
        if (!live_ || !context_)
            return;
        if (probe_ && pa_operation_get_state(probe_) == PA_OPERATION_RUNNING) {
            const double waited =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - probeSentAt_).count();
            if (waited >= probeOverdue) {
                std::lock_guard lock(mirrorMutex_);
                silenced = extras_.answering != 0;
                extras_.answering = 0;
            }
            tell = waited >= runSilenceTold && !stallTold_;
            stallTold_ = stallTold_ || tell;
        } else {
            // Answered, or given up on by the library (which is no answer:
            // the server stays silent until one comes).
            if (probe_)
                pa_operation_unref(probe_);
            probe_ = pa_context_get_server_info(context_, onProbeAnswer, this);
            probeSentAt_ = std::chrono::steady_clock::now();
        }
    }
    if (tell)
        std::fprintf(stderr, "parlaro: the audio server at %s does not answer (waiting for it)\n",
                     serverName().c_str());
    if (silenced)
        republish();
}

void PulseAudioSystem::onProbeAnswer(pa_context*, const pa_server_info* info, void* self)
{
    if (!info)
        return;
    auto* system = static_cast<PulseAudioSystem*>(self);
    bool back = false;
    {
        std::lock_guard lock(system->mirrorMutex_);
        back = system->extras_.answering == 0;
        system->extras_.answering = 1;
    }
    if (system->stallTold_) {
        system->stallTold_ = false;
        std::fprintf(stderr, "parlaro: the audio server at %s answers again\n", system->serverName().c_str());
    }
    if (back)
        system->republish();
}

void PulseAudioSystem::workerLoop()
{
    pthread_setname_np(pthread_self(), "pulse-worker");
    std::unique_lock lock(workerMutex_);
    while (!workerEnding_) {
        if (lostPending_) {
            lostPending_ = false;
            lock.unlock();
            lost();
            lock.lock();
            continue;
        }
        const auto now = std::chrono::steady_clock::now();
        if (retryAt_ && now >= *retryAt_) {
            retryAt_.reset();
            lock.unlock();
            connect(retryAnswerSeconds());
            lock.lock();
            continue;
        }
        if (live_ && now >= probeAt_) {
            probeAt_ = now
                + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                           std::chrono::duration<double>(probeSeconds));
            lock.unlock();
            probe();
            lock.lock();
            continue;
        }
        std::optional<std::chrono::steady_clock::time_point> wake = retryAt_;
        if (live_)
            wake = wake ? std::min(*wake, probeAt_) : probeAt_;
        if (wake)
            workerWake_.wait_until(lock, *wake);
        else
            workerWake_.wait(lock);
    }
}

}  // namespace parlaro::sys
