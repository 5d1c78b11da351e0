// The task behind downloadTranslation: prepare the pair through the
// translator, then judge by what is installed afterwards, not by whether the
// preparation threw.

#include "model/AppModel.h"

#include "runtime/Error.h"
#include "speech/Localization.h"

#include <exception>

namespace parlaro {

rt::Async<void> AppModel::prepareTranslationPacks(std::string source, std::string target, rt::Uuid id)
{
    const std::weak_ptr<AppModel> weak = weak_from_this();
    const std::shared_ptr<TranslationService> service = translator;
    std::exception_ptr failure;
    try {
        co_await service->prepare(source, target);
    } catch (...) {
        failure = std::current_exception();
    }
    // A newer download took over; it alone reports.
    if (weak.expired() || translationDownloadID.get() != id)
        co_return;
    translationDownloadID.set(std::nullopt);
    isDownloadingTranslation.set(false);

    co_await prepareTranslationPair();
    if (weak.expired())
        co_return;
    if (translationReady.get()) {
        status.set(localized("翻译语言包已就绪"));
        co_await finishLanguageChange();
        if (weak.expired())
            co_return;
    } else if (languagesBeforeChange.get()) {
        co_await revertLanguageChange(localized("翻译语言包没有下载"));
        co_return;
    } else if (failure) {
        errorMessage.set(localized("翻译语言包下载失败：%@", describe(failure)));
    }
    co_await listeningReadinessNotice();
    if (weak.expired())
        co_return;
    co_await refreshLanguageMenus();
}

}  // namespace parlaro
