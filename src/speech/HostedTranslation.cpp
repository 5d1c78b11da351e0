#include "speech/HostedTranslation.h"

#include <stdexcept>

namespace parlaro {

namespace {

rt::Async<std::string> translateThrough(std::shared_ptr<TranslationHost> host, std::string text, std::string source,
                                        std::string target)
{
    // A failure is already the caller's ModuleError and passes on unchanged.
    auto result = co_await host->translate(std::move(text), std::move(source), target);
    co_return normalizeChineseScript(result, target);
}

}  // namespace

HostedTranslation::HostedTranslation(std::shared_ptr<TranslationHost> host) : host_(std::move(host))
{
    if (!host_)
        throw std::invalid_argument("a translation back end needs the host that downloads its languages");
}

rt::Async<std::string> HostedTranslation::translate(std::string text, std::string source, std::string target)
{
    return translateThrough(host_, std::move(text), std::move(source), std::move(target));
}

rt::Async<void> HostedTranslation::prepare(std::string source, std::string target)
{
    return host_->prepare(std::move(source), std::move(target));
}

void HostedTranslation::reset()
{
    host_->resetAll();
}

}  // namespace parlaro
