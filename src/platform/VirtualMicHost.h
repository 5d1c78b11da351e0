#pragma once

#include <optional>
#include <string>

namespace parlaro {

// Where the virtual microphone lives: modules the sound server loads for
// this user, marked with the hash of the build that made them. Installing
// means loading (or reloading) them; no files are copied and no
// administrator rights are needed.
class VirtualMicHost {
public:
    enum class State { missing, current, stale };

    virtual ~VirtualMicHost() = default;
    virtual State state() const = 0;
    // Blocking. Nullopt on success, else the server's error text.
    virtual std::optional<std::string> ensure() = 0;
};

}  // namespace parlaro
