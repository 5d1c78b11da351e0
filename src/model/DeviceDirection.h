#pragma once

namespace parlaro {

// Which of the system's default devices is meant.
enum class DeviceDirection { input, output };

}  // namespace parlaro
