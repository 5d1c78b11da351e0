#pragma once

#include "platform/AssetInventory.h"
#include "runtime/Continuation.h"

#include <atomic>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace parlaro::sim {

// A model download that the test drives: it sets the fraction completed and
// decides when the download succeeds or fails; until then it hangs.
class SimAssetInstallationRequest final : public AssetInstallationRequest {
public:
    SimAssetInstallationRequest(std::vector<TranscriberModule> modules, std::function<void()> onInstalled);

    double fractionCompleted() const override { return fraction_.load(); }
    rt::Async<void> downloadAndInstall() override;

    const std::vector<TranscriberModule>& modules() const { return modules_; }
    void setFractionCompleted(double fraction) { fraction_.store(fraction); }
    // Ends every running and later download: the models become installed.
    // Leaves the fraction as the test last set it.
    void succeed();
    void fail(std::exception_ptr error);
    template <class E>
    void fail(E error)
    {
        fail(std::make_exception_ptr(std::move(error)));
    }
    int downloadCalls() const { return downloadCalls_; }
    // Downloads waiting for the test's verdict.
    std::size_t waitingDownloads() const { return waiting_.size(); }

private:
    void settle();

    std::vector<TranscriberModule> modules_;
    std::function<void()> onInstalled_;
    std::atomic<double> fraction_{0.0};
    int downloadCalls_ = 0;
    bool settled_ = false;
    std::exception_ptr error_;
    std::vector<rt::Continuation<void>> waiting_;
};

// The model store: reservations in platform order with a limit, per-module
// status, and installation requests the test drives. Every call is logged in
// `calls` ("reserved", "release en-US", "status en-US", "request en-US").
// Main actor only.
class SimAssetInventory final : public AssetInventory {
public:
    rt::Async<std::vector<std::string>> reservedLocales() override;
    int maximumReservedLocales() const override { return maximumReserved; }
    rt::Async<bool> release(std::string locale) override;
    rt::Async<AssetStatus> status(std::vector<TranscriberModule> modules) override;
    rt::Async<std::shared_ptr<AssetInstallationRequest>>
    assetInstallationRequest(std::vector<TranscriberModule> modules) override;

    // A module's status; `supported` unless set. A request that succeeds
    // sets its modules to `installed`.
    AssetStatus statusOf(const TranscriberModule& module) const;
    void setStatus(TranscriberKind kind, const std::string& locale, AssetStatus status);

    std::vector<std::string> reserved;
    int maximumReserved = 3;
    // The fraction completed a new request starts with.
    double startingFraction = 0.0;
    // Locales whose release the platform refuses: it answers false and keeps
    // them reserved.
    std::vector<std::string> refusedReleases;
    // Thrown by assetInstallationRequest when set.
    std::exception_ptr requestError;

    std::vector<std::string> calls;
    std::vector<std::shared_ptr<SimAssetInstallationRequest>> requests;

private:
    std::map<std::pair<TranscriberKind, std::string>, AssetStatus> statuses_;
};

}  // namespace parlaro::sim
