#pragma once

#include "platform/TranslationSession.h"
#include "platform/linux/apertium/ApertiumModes.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace parlaro::sys {

// One long-lived chain of translator processes for one mode, fed a record at
// a time in null-flush mode, with a thread of its own so that nothing waits
// on it. Starting the chain costs far more than a sentence, so it is started
// on first use and kept; it is started again after it dies, stalls or gives
// an empty answer. A chain found dead before a text is sent is started
// afresh first, and a text is sent once more to a fresh chain when the old
// one died without answering it. Blank text is never sent: its translation
// is the empty text. A stage holds no descriptor of the program's but its
// input, output and errors.
class ApertiumPipeline {
public:
    struct Outcome {
        std::optional<std::string> text;  // the translation; absent on failure
        TranslationPlatformError::Reason reason = TranslationPlatformError::Reason::noOutput;
        std::string detail;
    };
    // Called once per submitted text, on the pipeline's thread.
    using Done = std::function<void(Outcome)>;

    // `stallSeconds`: how long the chain may go without any progress on one
    // text before it is taken for hung and killed.
    explicit ApertiumPipeline(std::vector<ApertiumStage> stages, double stallSeconds = 15.0);
    ~ApertiumPipeline();
    ApertiumPipeline(const ApertiumPipeline&) = delete;
    ApertiumPipeline& operator=(const ApertiumPipeline&) = delete;

    // Queues a text; texts are translated one at a time in order.
    void submit(std::string text, Done done);

    // Starts the chain in the background unless it runs, so that the first
    // text does not wait for it; a chain that fails to start is tried again
    // by the next text, which reports the failure.
    void warmUp();

    // How many times the chain was started.
    std::size_t launches() const;
    // The processes of the running chain, first stage first; none while it
    // is not running.
    std::vector<pid_t> processes() const;

private:
    struct Job {
        std::string text;
        Done done;
    };

    void work();
    Outcome translate(const std::string& text);
    // Sends one record and reads its answer. `died`: the chain ended
    // before any of the answer came back.
    Outcome exchange(const std::string& record, bool& died);
    std::optional<std::string> launch();
    // Reaps the stages that have ended; true when any had.
    bool reapEnded();
    void stopChain();
    void publishProcesses();

    const std::vector<ApertiumStage> stages_;
    const double stallSeconds_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    bool stopping_ = false;
    std::size_t launches_ = 0;
    std::vector<pid_t> published_;

    // Owned by the pipeline's thread.
    std::vector<pid_t> processes_;
    int input_ = -1;
    int output_ = -1;
    std::string carry_;

    // Written by the destructor to end a wait on the chain at once.
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::thread thread_;
};

}  // namespace parlaro::sys
