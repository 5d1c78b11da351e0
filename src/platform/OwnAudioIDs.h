#pragma once

namespace parlaro {

// The application id every sound-server client of the program carries; a
// process that plays or records under it is one of ours. The build names it
// once, for the installed files too.
inline constexpr const char* ownApplicationID = PARLARO_APP_ID;

// The UIDs of the program's own devices, which every layer tells apart from
// the user's: the virtual microphone calling applications record from, its
// companion the program plays into (listed even where the audio system leaves
// it out of its device list), and the far-end capture's private devices,
// never listed, whose UIDs are this prefix and a new UUID.
inline constexpr const char* virtualMicUID = "com.parlaro.virtualmic";
inline constexpr const char* injectionUID = "com.parlaro.virtualmic.injection";
inline constexpr const char* listenUIDPrefix = "com.parlaro.listen.";

}  // namespace parlaro
