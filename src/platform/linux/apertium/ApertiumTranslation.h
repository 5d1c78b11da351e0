#pragma once

#include "platform/TranslationPlatform.h"
#include "platform/linux/apertium/ApertiumModes.h"
#include "platform/linux/apertium/ApertiumPipeline.h"

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace parlaro::sys {

// Translation on the apertium translators installed from Debian packages.
// A pair is installed when its mode is in the modes folder, supported when a
// known package would provide it, otherwise unsupported. Each installed mode
// gets one long-lived pipeline, shared by every session of that direction.
// The pack cannot be downloaded from here: preparing a pair that is only
// supported fails with the package to install.
class ApertiumTranslation : public TranslationPlatform {
public:
    explicit ApertiumTranslation(const TextServices& text,
                                 std::filesystem::path modesFolder = ApertiumModes::defaultFolder(),
                                 double stallSeconds = 15.0);
    ~ApertiumTranslation() override;
    ApertiumTranslation(const ApertiumTranslation&) = delete;
    ApertiumTranslation& operator=(const ApertiumTranslation&) = delete;

    std::unique_ptr<LanguageAvailability> makeLanguageAvailability() override;
    std::shared_ptr<TranslationSession> makeInstalledSession(std::string source, std::string target) override;
    HostedSessionRunner& hostedSessions() override;

    const ApertiumModes& modes() const { return modes_; }
    // The pipeline of an installed mode, started on first use; null when the
    // mode cannot be read.
    std::shared_ptr<ApertiumPipeline> pipeline(const std::string& mode);

private:
    class Runner;

    ApertiumModes modes_;
    double stallSeconds_;
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<ApertiumPipeline>> pipelines_;
    std::unique_ptr<Runner> runner_;
};

}  // namespace parlaro::sys
