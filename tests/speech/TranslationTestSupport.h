#pragma once

#include "platform/sim/SimPlatform.h"
#include "platform/sim/SimTranslationPlatform.h"
#include "runtime/ManualRuntime.h"
#include "runtime/Task.h"
#include "speech/TranslationHost.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace parlaro::test {

// The single outcome of one awaited call, and when it came.
struct CallOutcome {
    std::optional<std::string> text;
    std::optional<std::string> error;  // the user-facing description
    int outcomes = 0;
    double at = -1;

    bool pending() const { return outcomes == 0; }
};

// The sim platform, the sim translation system and a host of the test's own.
// The host is declared last so it goes first, while the sim it uses lives.
struct TranslationFixture : ::testing::Test {
    rt::ManualRuntime runtime;
    sim::SimPlatform platform;
    sim::SimTranslationPlatform system;
    std::shared_ptr<TranslationHost> host = TranslationHost::make();

    // Starts `call` in a task of its own and records its outcome.
    std::shared_ptr<CallOutcome> start(std::function<rt::Async<std::string>()> call, rt::TaskHandle<>* handle = nullptr)
    {
        auto outcome = std::make_shared<CallOutcome>();
        auto task = rt::spawn([outcome, call]() -> rt::Async<void> {
            try {
                outcome->text = co_await call();
            } catch (...) {
                outcome->error = describe(std::current_exception());
            }
            outcome->at = rt::clock().now().seconds();
            ++outcome->outcomes;
        });
        if (handle)
            *handle = task;
        runtime.runUntilIdle();
        return outcome;
    }

    std::shared_ptr<CallOutcome> translate(std::string text, std::string source = "en", std::string target = "es")
    {
        auto h = host;
        return start([h, text, source, target] { return h->translate(text, source, target); });
    }

    std::shared_ptr<CallOutcome> prepare(std::string source, std::string target)
    {
        auto h = host;
        return start([h, source, target]() -> rt::Async<std::string> {
            return [](std::shared_ptr<TranslationHost> host, std::string s, std::string t) -> rt::Async<std::string> {
                co_await host->prepare(std::move(s), std::move(t));
                co_return "";
            }(h, source, target);
        });
    }

    void advanceTo(double seconds) { runtime.clock().advanceTo(rt::Instant::fromSeconds(seconds)); }
    double now() { return runtime.clock().now().seconds(); }
};

inline const std::string tr5 = "系统翻译没有响应，已重新连接，请重试（TR-5）";

}  // namespace parlaro::test
