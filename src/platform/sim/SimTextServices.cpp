#include "platform/sim/SimTextServices.h"

#include "platform/linux/icu/IcuTextServices.h"

namespace parlaro::sim {

SimTextServices::SimTextServices() : base_(std::make_shared<sys::IcuTextServices>())
{
}

SimTextServices::SimTextServices(std::shared_ptr<const TextServices> base) : base_(std::move(base))
{
}

void SimTextServices::pinDisplayName(std::string tagOrLocale, std::string inLocale, std::string name)
{
    std::lock_guard lock(mutex_);
    displayNames_.insert_or_assign({std::move(tagOrLocale), std::move(inLocale)}, std::move(name));
}

void SimTextServices::pinMaximalIdentifier(std::string tag, std::string maximal)
{
    std::lock_guard lock(mutex_);
    maximalIdentifiers_.insert_or_assign(std::move(tag), std::move(maximal));
}

std::string SimTextServices::maximalIdentifier(std::string_view tag) const
{
    {
        std::lock_guard lock(mutex_);
        if (auto found = maximalIdentifiers_.find(tag); found != maximalIdentifiers_.end()) {
            return found->second;
        }
    }
    return base_->maximalIdentifier(tag);
}

std::string SimTextServices::displayName(std::string_view tagOrLocale, std::string_view inLocale) const
{
    {
        std::lock_guard lock(mutex_);
        auto found = displayNames_.find({std::string(tagOrLocale), std::string(inLocale)});
        if (found != displayNames_.end()) {
            return found->second;
        }
    }
    return base_->displayName(tagOrLocale, inLocale);
}

std::string SimTextServices::listFormat(const std::vector<std::string>& items, std::string_view locale) const
{
    return base_->listFormat(items, locale);
}

CharacterDirection SimTextServices::characterDirection(std::string_view locale) const
{
    return base_->characterDirection(locale);
}

std::string SimTextServices::transliterate(std::string_view text, std::string_view transformId) const
{
    return base_->transliterate(text, transformId);
}

std::size_t SimTextServices::graphemeCount(std::string_view text) const
{
    return base_->graphemeCount(text);
}

std::string SimTextServices::lowercase(std::string_view text, std::string_view locale) const
{
    return base_->lowercase(text, locale);
}

}  // namespace parlaro::sim
