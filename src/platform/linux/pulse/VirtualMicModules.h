#pragma once

#include "platform/OwnAudioIDs.h"

#include <cstdint>
#include <string>
#include <vector>

namespace parlaro::sys {

// The three server modules that make the virtual microphone: a null sink the
// program plays into, a source over that sink's monitor that calling
// applications record from, and a null sink they play into, whose monitor the
// program hears. Each module's sink or source carries the device UID it
// stands for and the driver version and hash, so the program finds its own
// modules by property and never by module name (unloading by name would take
// every null sink with it).
struct VirtualMicModule {
    enum class Kind { sink, source };

    Kind kind = Kind::sink;
    // The sink or source name; a sink and a source cannot share a name, so
    // names differ from the UIDs.
    std::string objectName;
    // The device UID this object is a side of.
    std::string uid;
    std::string moduleName;
    // The module's arguments, properties included.
    std::string arguments;
};

inline constexpr const char* uidProperty = "parlaro.uid";
inline constexpr const char* versionProperty = "parlaro.driver.version";
inline constexpr const char* hashProperty = "parlaro.driver.hash";
inline constexpr const char* driverVersion = "1.0";
// On the streams of a copy of the program that took the default input: the
// UID of the input the user had before, for the copy that gives it back.
inline constexpr const char* originalInputProperty = "parlaro.original.input";

// The modules in load order (the source reads the first sink's monitor), with
// `hash` written into their properties.
std::vector<VirtualMicModule> virtualMicModules(const std::string& hash);

// The hash of this build's module set: a change of any argument changes it.
std::string builtInDriverHash();

}  // namespace parlaro::sys
