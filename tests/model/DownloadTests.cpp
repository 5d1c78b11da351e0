#include "LanguageWorld.h"
#include "model/ModelState.h"
#include "model/ModelTestAccess.h"

#include <gtest/gtest.h>

#include <cmath>

namespace parlaro {
namespace {

using test::LanguageWorld;
using test::nameOf;
using Texts = std::vector<std::string>;

TEST(ModelDownloads, BothModelsDownloadTheirsFirstWithProgressOverBoth)
{
    LanguageWorld w;
    w.script->missingModels = {"fr", "ja"};
    std::vector<std::optional<double>> progress;
    auto watch =
        w.model->speechDownloadProgress.subscribe([&] { progress.push_back(w.model->speechDownloadProgress.get()); });
    w.change("fr", "ja", AppModel::DownloadConsent::given);

    EXPECT_EQ(w.script->downloads.size(), 2u);
    EXPECT_EQ(w.script->downloads.at(0).substr(0, 3), "ja ");
    EXPECT_EQ(w.script->downloads.at(1).substr(0, 3), "fr ");
    EXPECT_EQ(progress, (std::vector<std::optional<double>>{0.0, 0.25, 0.5, 0.75, 1.0, std::nullopt}));
    EXPECT_EQ(
        w.statuses,
        (Texts{"已切换：我说" + nameOf("fr") + " → 对方说" + nameOf("ja"), "正在下载" + nameOf("ja") + "语音识别模型…",
               "正在下载" + nameOf("fr") + "语音识别模型…", "语音识别模型已就绪"}));
    EXPECT_TRUE(ModelTestAccess::mySpeechReady(*w.model).get());
    EXPECT_TRUE(ModelTestAccess::theirSpeechReady(*w.model).get());
    EXPECT_EQ(ModelTestAccess::languagesBeforeChange(*w.model).get(), std::nullopt);
    EXPECT_TRUE(w.model->isListening.get());

    // Everything installed: nothing happens.
    w.statuses.clear();
    progress.clear();
    w.world.run([m = w.model] { return m->downloadSpeechModel(); });
    EXPECT_EQ(w.script->downloads.size(), 2u);
    EXPECT_TRUE(w.statuses.empty());
    EXPECT_TRUE(progress.empty());

    // Their language without a recognizer: only mine downloads, and speech
    // is ready without theirs.
    w.script->engines["ja"] = std::nullopt;
    w.script->missingModels = {"fr", "ja"};
    w.refresh();
    w.world.run([m = w.model] { return m->downloadSpeechModel(); });
    ASSERT_EQ(w.script->downloads.size(), 3u);
    EXPECT_EQ(w.script->downloads.back().substr(0, 3), "fr ");
    EXPECT_TRUE(w.model->speechReady());
    EXPECT_FALSE(ModelTestAccess::theirSpeechReady(*w.model).get());
}

TEST(ModelDownloads, OnlyReportsOfTheRunningItemMoveTheProgress)
{
    LanguageWorld w;
    w.script->missingModels = {"en"};
    w.script->reports = {1.7};
    std::vector<std::optional<double>> progress;
    auto watch =
        w.model->speechDownloadProgress.subscribe([&] { progress.push_back(w.model->speechDownloadProgress.get()); });
    w.refresh();
    w.world.run([m = w.model] { return m->downloadSpeechModel(); });
    EXPECT_EQ(progress, (std::vector<std::optional<double>>{0.0, 1.0, std::nullopt}));

    // A report after the download returned.
    progress.clear();
    w.script->progress.at(0)(0.5);
    EXPECT_TRUE(progress.empty());
    EXPECT_TRUE(w.model->canChangeLanguage());

    // A report of an earlier run while a later one downloads.
    w.script->missingModels = {"en"};
    w.refresh();
    w.script->reports = {0.2};
    w.script->holdDownloads = true;
    rt::spawn([m = w.model]() -> rt::Async<void> { co_await m->downloadSpeechModel(); });
    w.world.runtime.runUntilIdle();
    EXPECT_EQ(w.model->speechDownloadProgress.get(), 0.2);
    w.script->progress.at(0)(0.9);
    w.script->progress.at(1)(std::nan(""));
    EXPECT_EQ(w.model->speechDownloadProgress.get(), 0.2);
    w.script->finishDownload();
    w.world.runtime.runUntilIdle();
    EXPECT_EQ(w.model->speechDownloadProgress.get(), std::nullopt);
    w.script->progress.at(1)(0.9);
    EXPECT_EQ(w.model->speechDownloadProgress.get(), std::nullopt);
    EXPECT_TRUE(w.model->canChangeLanguage());
}

TEST(ModelDownloads, AFailureOutsideAChangeIsShownAndStopsTheRest)
{
    LanguageWorld w;
    w.script->missingModels = {"en", "zh-Hans"};
    w.script->failures["en"] = "E";
    w.refresh();
    w.world.run([m = w.model] { return m->downloadSpeechModel(); });
    EXPECT_EQ(w.script->downloads.size(), 1u);
    EXPECT_EQ(w.model->status.get(), "语音识别模型下载失败");
    EXPECT_EQ(w.model->errorMessage.get(), "下载语音识别模型失败：E");
    EXPECT_EQ(w.model->speechDownloadProgress.get(), std::nullopt);
    EXPECT_FALSE(ModelTestAccess::theirSpeechReady(*w.model).get());

    // A second download while one runs returns at once.
    w.script->failures.clear();
    w.script->holdDownloads = true;
    rt::spawn([m = w.model]() -> rt::Async<void> { co_await m->downloadSpeechModel(); });
    w.world.runtime.runUntilIdle();
    w.world.run([m = w.model] { return m->downloadSpeechModel(); });
    EXPECT_EQ(w.script->downloads.size(), 2u);

    // The pair changes while a model downloads: nothing more is done.
    test::given.set(w.model->theirLanguage, test::callLanguage("ja"));
    w.statuses.clear();
    w.script->finishDownload();
    w.world.runtime.runUntilIdle();
    EXPECT_EQ(w.script->downloads.size(), 2u);
    EXPECT_EQ(w.model->speechDownloadProgress.get(), std::nullopt);
    EXPECT_FALSE(ModelTestAccess::theirSpeechReady(*w.model).get());
    EXPECT_TRUE(w.statuses.empty());
}

TEST(ModelDownloads, OnlyTheNewestPackDownloadReportsAndItsOutcomeFollowsWhatIsInstalled)
{
    LanguageWorld w;
    auto& translator = *w.world.translator;
    translator.holdPrepares = true;
    w.script->setStatus("zh-Hans", "en", TranslationStatus::supported);
    w.refresh();
    ASSERT_FALSE(w.model->translationReady.get());

    w.model->downloadTranslation();
    w.model->downloadTranslation();
    w.world.runtime.runUntilIdle();
    ASSERT_EQ(translator.preparing.size(), 2u);
    w.script->setStatus("zh-Hans", "en", TranslationStatus::installed);
    translator.preparing.at(0).resume();
    w.world.runtime.runUntilIdle();
    EXPECT_TRUE(w.model->isDownloadingTranslation.get());
    EXPECT_TRUE(w.statuses.empty());
    translator.preparing.at(1).resume();
    w.world.runtime.runUntilIdle();
    EXPECT_FALSE(w.model->isDownloadingTranslation.get());
    EXPECT_EQ(ModelTestAccess::translationDownloadID(*w.model).get(), std::nullopt);
    EXPECT_EQ(w.statuses, (Texts{"翻译语言包已就绪"}));
    EXPECT_TRUE(w.model->translationReady.get());
    EXPECT_TRUE(w.model->isListening.get());

    // Still missing outside a change: the service's error is shown, and
    // without one nothing is.
    translator.preparing.clear();
    translator.holdPrepares = false;
    w.script->setStatus("zh-Hans", "en", TranslationStatus::supported);
    w.statuses.clear();
    translator.prepareError = DomainError("Translation", 2, "E");
    w.model->downloadTranslation();
    w.world.runtime.runUntilIdle();
    EXPECT_EQ(w.model->errorMessage.get(), "翻译语言包下载失败：E");
    w.model->dismissError();
    translator.prepareError.reset();
    w.model->downloadTranslation();
    w.world.runtime.runUntilIdle();
    EXPECT_EQ(w.model->errorMessage.get(), std::nullopt);
    EXPECT_TRUE(w.statuses.empty());

    // A pack that throws but is installed afterwards counts as ready.
    translator.prepareError = DomainError("Translation", 2, "E");
    w.script->setStatus("zh-Hans", "en", TranslationStatus::installed);
    test::given.set(w.model->status, "");
    w.model->downloadTranslation();
    w.world.runtime.runUntilIdle();
    EXPECT_EQ(w.model->status.get(), "翻译语言包已就绪");
    EXPECT_EQ(w.model->errorMessage.get(), std::nullopt);
}

TEST(ModelDownloads, APackNotDownloadedDuringAChangePutsTheOldPairBack)
{
    LanguageWorld w;
    w.world.translator->prepareError = DomainError("Translation", 2, "E");
    w.script->setStatus("zh-Hans", "ja", TranslationStatus::supported);
    w.change("zh-Hans", "ja", AppModel::DownloadConsent::given);
    EXPECT_EQ(w.pair(), "zh-Hans>en");
    EXPECT_EQ(w.storedPair(), "zh-Hans>en");
    EXPECT_EQ(w.model->status.get(),
              "翻译语言包没有下载，已改回 我说" + nameOf("zh-Hans") + " → 对方说" + nameOf("en"));
    EXPECT_EQ(w.model->errorMessage.get(), std::nullopt);
    EXPECT_FALSE(w.model->isDownloadingTranslation.get());

    // Nothing to put back without an open change.
    w.statuses.clear();
    w.world.run([m = w.model] { return ModelTestAccess::revertLanguageChange(*m, "x"); });
    EXPECT_TRUE(w.statuses.empty());
}

}  // namespace
}  // namespace parlaro
