#pragma once

namespace parlaro {

// The permission to record what the computer plays, as the system's
// preflight reports it.
namespace AudioCapturePermission {
enum class Status { granted, denied, undetermined };
}  // namespace AudioCapturePermission

}  // namespace parlaro
