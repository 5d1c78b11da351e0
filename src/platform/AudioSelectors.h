#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace parlaro {

// The audio server's vocabulary: objects by 32-bit id, properties by
// four-character selector, and calls that answer with a numeric status (user
// texts embed these numbers, so they are kept as the server gives them).
// Every selector, status and code the engine uses is named here once.
using AudioObjectId = std::uint32_t;
using AudioSelector = std::uint32_t;
using AudioStatus = std::int32_t;

// A four-character code as the audio server spells it: "dev#"_fcc.
consteval std::uint32_t operator""_fcc(const char* text, std::size_t length)
{
    if (length != 4)
        throw "a four-character code has four characters";
    return (std::uint32_t(std::uint8_t(text[0])) << 24) | (std::uint32_t(std::uint8_t(text[1])) << 16)
        | (std::uint32_t(std::uint8_t(text[2])) << 8) | std::uint32_t(std::uint8_t(text[3]));
}

// "dev#" for the code; codes with unprintable bytes come out as decimal.
std::string fourCharText(std::uint32_t code);

namespace AudioSelectors {
// The system object.
inline constexpr AudioSelector devices = "dev#"_fcc;
inline constexpr AudioSelector processes = "prs#"_fcc;
inline constexpr AudioSelector defaultInputDevice = "dIn "_fcc;
inline constexpr AudioSelector defaultOutputDevice = "dOut"_fcc;
// A default device read with this qualifier is asked of the server itself,
// not answered from what the system last heard of it (a server may change
// its default without announcing it); such a read fails, with the status
// saying why, when the server does not answer.
inline constexpr std::uint32_t askTheServer = 1;
constexpr AudioSelector defaultDevice(bool input)
{
    return input ? defaultInputDevice : defaultOutputDevice;
}
// Qualified reads: a UID string gives a device, a process id a process.
inline constexpr AudioSelector translateUIDToDevice = "uidd"_fcc;
inline constexpr AudioSelector translatePIDToProcess = "id2p"_fcc;
// The server restarted (its objects are new).
inline constexpr AudioSelector serviceRestarted = "srst"_fcc;
// The server can be reached: 1, or 0 while it is gone and the system waits
// for it. A system whose server cannot go away has no such property.
inline constexpr AudioSelector serviceRunning = "srun"_fcc;
// While the server cannot be reached: 0 when it took the connection and did
// not answer it (a server held still), 1 when it refused or is not there.
// 1 while it can be reached.
inline constexpr AudioSelector serviceAnswering = "sans"_fcc;
// Written only: the UID of the input the user had before this process made
// the virtual microphone the default, kept on the server beside this
// process's streams for the program's other copies (empty for none). A
// system whose server has no other clients ignores it.
inline constexpr AudioSelector publishedOriginalInput = "porg"_fcc;

// Devices.
inline constexpr AudioSelector deviceUID = "uid "_fcc;
inline constexpr AudioSelector name = "lnam"_fcc;
inline constexpr AudioSelector transportType = "tran"_fcc;
inline constexpr AudioSelector dataSource = "ssrc"_fcc;
inline constexpr AudioSelector isAlive = "livn"_fcc;
inline constexpr AudioSelector nominalSampleRate = "nsrt"_fcc;
inline constexpr AudioSelector availableNominalSampleRates = "nsr#"_fcc;
inline constexpr AudioSelector bufferFrameSize = "fsiz"_fcc;
inline constexpr AudioSelector safetyOffset = "saft"_fcc;
inline constexpr AudioSelector streamConfiguration = "slay"_fcc;
// Which streams an I/O procedure uses (qualified by the procedure).
inline constexpr AudioSelector ioProcStreamUsage = "suse"_fcc;
inline constexpr AudioSelector processorOverload = "over"_fcc;

// Properties our own virtual device's driver adds.
inline constexpr AudioSelector driverClockCorrection = "dcck"_fcc;
inline constexpr AudioSelector driverIOActivity = "dcio"_fcc;
inline constexpr AudioSelector driverVersion = "dcvr"_fcc;

// Process objects.
inline constexpr AudioSelector processPID = "ppid"_fcc;
inline constexpr AudioSelector processBundleID = "pbid"_fcc;
inline constexpr AudioSelector processIsRunningInput = "piri"_fcc;
inline constexpr AudioSelector processIsRunningOutput = "piro"_fcc;
inline constexpr AudioSelector processDevices = "pdv#"_fcc;
// What the process published as 'porg', when it did.
inline constexpr AudioSelector processOriginalInput = "pori"_fcc;

// Process taps.
inline constexpr AudioSelector tapFormat = "tfmt"_fcc;
inline constexpr AudioSelector tapUID = "tuid"_fcc;

// Buffer queues.
inline constexpr AudioSelector queueCurrentDevice = "aqcd"_fcc;
inline constexpr AudioSelector queueIsRunning = "aqrn"_fcc;

// An input engine's configuration changed.
inline constexpr AudioSelector inputEngineConfiguration = "cnfg"_fcc;
}  // namespace AudioSelectors

// The scope of a property address (AudioScope's values).
namespace AudioScopeCodes {
inline constexpr std::uint32_t global = "glob"_fcc;
inline constexpr std::uint32_t input = "inpt"_fcc;
inline constexpr std::uint32_t output = "outp"_fcc;
}  // namespace AudioScopeCodes

// A stream description's format.
namespace AudioFormatIDs {
inline constexpr std::uint32_t linearPCM = "lpcm"_fcc;
}  // namespace AudioFormatIDs

// A device's 'tran'.
namespace AudioTransports {
inline constexpr std::uint32_t builtIn = "bltn"_fcc;
inline constexpr std::uint32_t usb = "usb "_fcc;
inline constexpr std::uint32_t bluetooth = "blue"_fcc;
inline constexpr std::uint32_t aggregate = "grup"_fcc;
inline constexpr std::uint32_t virtualDevice = "virt"_fcc;
}  // namespace AudioTransports

// An output's data source ('ssrc').
namespace AudioDataSources {
inline constexpr std::uint32_t headphones = "hdpn"_fcc;
inline constexpr std::uint32_t internalSpeaker = "ispk"_fcc;
}  // namespace AudioDataSources

namespace AudioStatuses {
inline constexpr AudioStatus ok = 0;
inline constexpr AudioStatus unspecified = static_cast<AudioStatus>("what"_fcc);
inline constexpr AudioStatus unknownProperty = static_cast<AudioStatus>("who?"_fcc);
inline constexpr AudioStatus badPropertySize = static_cast<AudioStatus>("!siz"_fcc);
inline constexpr AudioStatus illegalOperation = static_cast<AudioStatus>("nope"_fcc);
inline constexpr AudioStatus badObject = static_cast<AudioStatus>("!obj"_fcc);
inline constexpr AudioStatus badDevice = static_cast<AudioStatus>("!dev"_fcc);
inline constexpr AudioStatus unsupportedOperation = static_cast<AudioStatus>("unop"_fcc);
inline constexpr AudioStatus notRunning = static_cast<AudioStatus>("stop"_fcc);
// No sound server answers; the audio system keeps trying to reach one.
inline constexpr AudioStatus serverUnavailable = static_cast<AudioStatus>("!srv"_fcc);
// Sent, but the server did not answer in time: it may still carry it out.
inline constexpr AudioStatus unanswered = static_cast<AudioStatus>("wait"_fcc);
}  // namespace AudioStatuses

}  // namespace parlaro
