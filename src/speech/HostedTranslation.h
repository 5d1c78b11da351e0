#pragma once

#include "platform/EngineNames.h"
#include "speech/TranslationHost.h"
#include "speech/TranslationService.h"

#include <memory>

namespace parlaro {

// Translation through sessions that the system lends to the translation
// host's hidden window, the only way older systems offer. Keeps no state of
// its own: the host's slots play that part.
class HostedTranslation final : public TranslationService {
public:
    // Throws std::invalid_argument without a host.
    explicit HostedTranslation(std::shared_ptr<TranslationHost> host);

    std::string adapterName() const override { return EngineNames::current().hostedTranslation; }
    rt::Async<std::string> translate(std::string text, std::string source, std::string target) override;
    rt::Async<void> prepare(std::string source, std::string target) override;
    void reset() override;

private:
    std::shared_ptr<TranslationHost> host_;
};

}  // namespace parlaro
