#pragma once

#include "platform/TranscriberModule.h"
#include "runtime/Task.h"

#include <memory>
#include <string>
#include <vector>

namespace parlaro {

// Where the models of a set of modules stand.
enum class AssetStatus { unsupported, supported, downloading, installed };

// A download of the models some modules need. The fraction completed may be
// read from any thread while the download runs.
class AssetInstallationRequest {
public:
    virtual ~AssetInstallationRequest() = default;

    // From 0 to 1.
    virtual double fractionCompleted() const = 0;
    // Downloads and installs; throws the platform's error on failure.
    virtual rt::Async<void> downloadAndInstall() = 0;
};

// The system's store of speech models. It keeps a limited number of locales
// reserved for this application; models of reserved locales stay installed.
class AssetInventory {
public:
    virtual ~AssetInventory() = default;

    // Reserved locales (BCP-47) in the platform's order.
    virtual rt::Async<std::vector<std::string>> reservedLocales() = 0;
    virtual int maximumReservedLocales() const = 0;
    // Gives a reservation back; false when the locale was not reserved.
    virtual rt::Async<bool> release(std::string locale) = 0;
    virtual rt::Async<AssetStatus> status(std::vector<TranscriberModule> modules) = 0;
    // A request that installs what the modules lack, or null when everything
    // is installed already. Throws the platform's error when no request can
    // be made (a locale the platform refuses, no room to reserve it).
    virtual rt::Async<std::shared_ptr<AssetInstallationRequest>>
    assetInstallationRequest(std::vector<TranscriberModule> modules) = 0;
};

}  // namespace parlaro
