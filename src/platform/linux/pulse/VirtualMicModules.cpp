#include "platform/linux/pulse/VirtualMicModules.h"

#include "platform/VirtualMicHost.h"

#include <cstdio>

namespace parlaro::sys {

namespace {

std::string properties(const std::string& description, const std::string& uid, const std::string& hash)
{
    return "device.description='" + description + "' " + uidProperty + "='" + uid + "' " + versionProperty + "='"
        + driverVersion + "' " + hashProperty + "='" + hash + "'";
}

// The arguments without the hash, which the hash is computed from.
std::vector<VirtualMicModule> modulesWith(const std::string& hash)
{
    using Kind = VirtualMicModule::Kind;
    return {
        // While a sink may rewind what it has rendered, a recorder of a remap
        // source over its monitor finds half a cycle held back in front of
        // it; ours never rewinds, so the virtual microphone hears a write
        // one cycle later, as the monitor itself does.
        {Kind::sink, "parlaro_virtualmic", injectionUID, "module-null-sink",
         "sink_name=parlaro_virtualmic rate=48000 channels=2 norewinds=1 sink_properties=\""
             + properties(virtualMicInjectionName, injectionUID, hash) + "\""},
        {Kind::source, "parlaro_virtualmic_input", virtualMicUID, "module-remap-source",
         "source_name=parlaro_virtualmic_input master=parlaro_virtualmic.monitor source_properties=\""
             + properties(virtualMicrophoneName, virtualMicUID, hash) + "\""},
        {Kind::sink, "parlaro_virtualspeaker", virtualMicUID, "module-null-sink",
         "sink_name=parlaro_virtualspeaker rate=48000 channels=2 sink_properties=\""
             + properties(virtualSpeakerName, virtualMicUID, hash) + "\""},
    };
}

}  // namespace

std::vector<VirtualMicModule> virtualMicModules(const std::string& hash)
{
    return modulesWith(hash);
}

std::string builtInDriverHash()
{
    // FNV-1a over every module's name and arguments with an empty hash.
    std::uint64_t h = 1469598103934665603ull;
    for (const auto& module : modulesWith("")) {
        for (const std::string* text : {&module.moduleName, &module.arguments})
            for (unsigned char c : *text) {
                h ^= c;
                h *= 1099511628211ull;
            }
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
    return text;
}

}  // namespace parlaro::sys
