#pragma once

#include "platform/PlatformCapabilities.h"
#include "speech/TranslationHost.h"
#include "speech/TranslationService.h"

#include <memory>

namespace parlaro {

// The translation back end for this system: sessions made directly where the
// newer facilities exist, else sessions borrowed through the host window.
// Both use `host` for downloads.
std::shared_ptr<TranslationService> makeTranslationService(const PlatformCapabilities& capabilities,
                                                           std::shared_ptr<TranslationHost> host);

}  // namespace parlaro
