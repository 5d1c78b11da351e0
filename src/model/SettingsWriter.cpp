#include "model/SettingsWriter.h"

#include "runtime/Error.h"
#include "speech/Localization.h"

#include <exception>
#include <utility>

namespace parlaro {

SettingsWriter::SettingsWriter(SettingsStore& store, Tell tell) : store_(store), tell_(std::move(tell))
{
}

bool SettingsWriter::set(std::string_view key, DefaultsValue value)
{
    return write([&](SettingsStore& store) { store.set(key, std::move(value)); });
}

bool SettingsWriter::remove(std::string_view key)
{
    return write([&](SettingsStore& store) { store.remove(key); });
}

namespace {

std::string describeRefusal(const SettingsWriteError& refusal)
{
    const std::string file = pathText(refusal.file.string());
    switch (refusal.kind) {
    case SettingsWriteError::Kind::writeFailed:
        return localized("无法保存设置到 %@（%@）。", file, refusal.reason);
    case SettingsWriteError::Kind::damagedFileKept:
        return localized("设置文件 %@ 已损坏且无法移开；修复或删除它之前，设置无法保存。", file);
    case SettingsWriteError::Kind::unreadableFileKept:
        return localized("无法读取设置文件 %@；能读取之前，设置无法保存。", file);
    }
    return refusal.localizedDescription();
}

}  // namespace

std::string describeFailure(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const SettingsWriteError& refusal) {
        return describeRefusal(refusal);
    } catch (...) {
        return describe(std::current_exception());
    }
}

bool SettingsWriter::write(const std::function<void(SettingsStore&)>& write)
{
    try {
        write(store_);
        return true;
    } catch (...) {
        if (tell_)
            tell_(describeFailure(std::current_exception()));
        return false;
    }
}

}  // namespace parlaro
