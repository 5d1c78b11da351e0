#include "platform/linux/apertium/ApertiumPipeline.h"
#include "platform/linux/espeak/EspeakSpeechSynthesizer.h"
#include "platform/linux/sphinx/SphinxSpeechRecognizer.h"
#include "runtime/Background.h"
#include "runtime/SystemClock.h"
#include "runtime/ThreadSerialQueue.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace parlaro;

namespace {

std::string commOf(const std::string& task)
{
    std::ifstream in("/proc/self/task/" + task + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

// The names of this process's threads other than the main one. A thread
// nobody named carries the process's own name.
std::vector<std::string> otherThreadNames()
{
    std::vector<std::string> names;
    const std::string self = std::to_string(::getpid());
    if (DIR* tasks = ::opendir("/proc/self/task")) {
        while (dirent* entry = ::readdir(tasks)) {
            const std::string task = entry->d_name;
            if (task != "." && task != ".." && task != self)
                names.push_back(commOf(task));
        }
        ::closedir(tasks);
    }
    return names;
}

bool contains(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

// top -H, a debugger and a profile tell the program's threads apart by name.
TEST(ThreadNames, EveryThreadTheEngineStartsIsNamedAfterItsJob)
{
    const std::string process = commOf(std::to_string(::getpid()));
    rt::ThreadSerialQueue queue("call-audio-capture");
    rt::SystemClock clock;
    rt::ThreadPoolBackground background(1);
    std::vector<sys::ApertiumStage> stages{{"cat"}};
    sys::ApertiumPipeline pipeline(stages);
    sys::EspeakSpeechSynthesizer voices;
    // The decoder's thread starts with its first job; a recognizer without a
    // model starts none, so the test needs the installed one.
    sys::SphinxSpeechRecognitionService recognition;
    std::shared_ptr<SpeechRecognizer> recognizer = recognition.makeRecognizer("en-US");
    std::shared_ptr<SpeechAudioBufferRecognitionRequest> request;
    std::shared_ptr<SpeechRecognitionTask> task;
    if (recognizer) {
        request = recognizer->makeRequest();
        task = recognizer->recognitionTask(request, [](const auto&, const auto&) {});
    }
    std::vector<std::string> expected{"call-audio-capt", "parlaro-clock", "parlaro-backgnd", "apertium",
                                      "espeak-voice"};
    if (recognizer)
        expected.push_back("sphinx-decode");
    // Each thread names itself as it begins, on its own time.
    auto names = otherThreadNames();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!std::all_of(expected.begin(), expected.end(), [&](const auto& name) { return contains(names, name); })
           && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
        names = otherThreadNames();
    }
    for (const auto& name : expected)
        EXPECT_TRUE(contains(names, name)) << name;
    EXPECT_FALSE(contains(names, process)) << "a thread without a name";
    if (task)
        task->cancel();
}
