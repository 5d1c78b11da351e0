#include "speech/TranslationServiceFactory.h"

#include "speech/DirectTranslation.h"
#include "speech/HostedTranslation.h"

namespace parlaro {

std::shared_ptr<TranslationService> makeTranslationService(const PlatformCapabilities& capabilities,
                                                           std::shared_ptr<TranslationHost> host)
{
    if (capabilities.newerSpeechAndTranslation)
        return std::make_shared<DirectTranslation>(std::move(host));
    return std::make_shared<HostedTranslation>(std::move(host));
}

}  // namespace parlaro
