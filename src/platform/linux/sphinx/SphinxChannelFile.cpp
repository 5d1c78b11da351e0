#include "platform/linux/sphinx/SphinxChannelFile.h"

#include "platform/AtomicFile.h"
#include "platform/FolderWalk.h"
#include "platform/JsonInput.h"
#include "platform/ProgramFolder.h"
#include "platform/UserFolders.h"
#include "runtime/Log.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace parlaro::sys {

namespace fs = std::filesystem;

namespace {

constexpr int fileFormat = 1;
// Cepstral means lie within a few dozen of zero; frames count a window of
// a few thousand at most. Anything outside was not learnt by a decoder.
constexpr double largestMean = 1000.0;
constexpr std::int32_t mostFrames = 100000;
constexpr std::size_t longestName = 512;

// The numbers of a short array, each within what a decoder learns.
bool numbersOf(const nlohmann::json& array, std::vector<float>& numbers)
{
    if (!array.is_array() || array.empty() || array.size() > 64)
        return false;
    for (const auto& value : array) {
        if (!value.is_number())
            return false;
        const double number = value.get<double>();
        if (!std::isfinite(number) || std::abs(number) > largestMean)
            return false;
        numbers.push_back(static_cast<float>(number));
    }
    return true;
}

std::optional<ChannelMean> meanOf(const nlohmann::json& entry)
{
    const auto mean = entry.find("mean");
    const auto frames = entry.find("frames");
    if (mean == entry.end() || frames == entry.end() || !frames->is_number_integer())
        return std::nullopt;
    ChannelMean result;
    const auto count = frames->get<std::int64_t>();
    if (count < 1 || count > mostFrames)
        return std::nullopt;
    result.frames = static_cast<std::int32_t>(count);
    if (!numbersOf(*mean, result.mean))
        return std::nullopt;
    // Older files have none: without it, or unsound, the mean still serves.
    if (const auto sound = entry.find("sound");
        sound != entry.end() && (!numbersOf(*sound, result.sound) || result.sound.size() != result.mean.size()))
        result.sound.clear();
    return result;
}

std::optional<std::string> nameOf(const nlohmann::json& entry, const char* key)
{
    const auto name = entry.find(key);
    if (name == entry.end() || !name->is_string())
        return std::nullopt;
    auto text = name->get<std::string>();
    if (text.empty() || text.size() > longestName)
        return std::nullopt;
    return text;
}

}  // namespace

SphinxChannelFile::SphinxChannelFile(std::optional<fs::path> file) : file_(std::move(file))
{
    // A write killed before its rename leaves its temporary, which no later
    // write replaces, since each has a name of its own.
    if (file_ && file_->has_parent_path())
        removeStaleTemporaries(
            file_->parent_path(),
            [name = file_->filename().string()](const std::string& target) { return target == name; },
            staleTemporaryAge);
    // Read at once, so that what cannot be read is told with the start.
    load();
}

SphinxChannelFile::~SphinxChannelFile()
{
    if (unwritten_)
        write();
}

std::optional<fs::path> SphinxChannelFile::defaultPath(const std::optional<std::string>& stateHome,
                                                       const std::optional<std::string>& home)
{
    const auto folder = programFolder(UserFolder::state, [&](const std::string& name) {
        return name == "XDG_STATE_HOME" ? stateHome : name == "HOME" ? home : std::nullopt;
    });
    if (!folder)
        return std::nullopt;
    return *folder / "recognition-channels.json";
}

std::optional<ChannelMean> SphinxChannelFile::find(const std::string& model, const std::string& input,
                                                   std::size_t length)
{
    std::lock_guard lock(mutex_);
    load();
    for (const auto& entry : entries_)
        if (entry.model == model && entry.input == input && entry.mean.mean.size() == length)
            return entry.mean;
    return std::nullopt;
}

void SphinxChannelFile::keep(const std::string& model, const std::string& input, const ChannelMean& mean)
{
    std::lock_guard lock(mutex_);
    load();
    const auto same = [&](const Entry& entry) { return entry.model == model && entry.input == input; };
    ChannelMean written;
    if (auto found = std::find_if(entries_.begin(), entries_.end(), same); found != entries_.end()) {
        written = std::move(found->written);
        entries_.erase(found);
    }
    const bool moved = written.mean.size() != mean.mean.size()
        || !std::equal(mean.mean.begin(), mean.mean.end(), written.mean.begin(),
                       [](float a, float b) { return std::abs(a - b) <= worthWriting; });
    entries_.push_back(Entry{model, input, mean, moved ? mean : written});
    const auto sameModel = [&](const Entry& entry) { return entry.model == model; };
    if (static_cast<std::size_t>(std::count_if(entries_.begin(), entries_.end(), sameModel)) > inputsPerModel)
        entries_.erase(std::find_if(entries_.begin(), entries_.end(), sameModel));
    if (moved)
        write();
    else
        unwritten_ = true;
}

void SphinxChannelFile::load()
{
    if (loaded_ || !file_)
        return;
    loaded_ = true;
    // A cache: whatever goes wrong in reading it leaves it empty, and the
    // next write replaces it.
    try {
        read();
    } catch (const std::exception&) {
        entries_.clear();
    }
}

void SphinxChannelFile::leaveInPlace(const std::string& reason)
{
    leftInPlace_ = true;
    addEarlierEntryNote({EarlierEntryNote::Kind::cacheUnreadable, *file_, {}, {}, reason});
}

void SphinxChannelFile::setAside(const FilePlace& place, const std::string& reason)
{
    if (const auto kept = moveAside(place.folder->descriptor(), place.name, place.name + ".damaged", 99)) {
        addEarlierEntryNote(
            {EarlierEntryNote::Kind::cacheUnreadable, *file_, place.folder->path() / *kept, {}, reason});
        return;
    }
    leaveInPlace(reason);
}

void SphinxChannelFile::read()
{
    // What cannot be read is kept: contents that are damaged go aside and
    // the cache starts anew; anything else (a folder, a FIFO, a file this
    // user may not read) stays where it is and is not written over. A link
    // is written over, never through, so it is not read through either:
    // what it leads to may be anyone's.
    const FilePlace place = placeOf(*file_);
    const FolderWalk& folder = *place.folder;
    if (folder.refusal() || folder.error() || !folder.missing().empty())
        return;
    const Descriptor opened(
        ::openat(folder.descriptor(), place.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!opened) {
        if (errno != ENOENT && errno != ENOTDIR && errno != ELOOP)
            leaveInPlace(std::strerror(errno));
        return;
    }
    struct stat status {};
    if (::fstat(opened.get(), &status) != 0) {
        leaveInPlace(std::strerror(errno));
        return;
    }
    if (!S_ISREG(status.st_mode)) {
        leaveInPlace(S_ISDIR(status.st_mode) ? "it is a folder" : "it is not a regular file");
        return;
    }
    if (static_cast<std::uintmax_t>(status.st_size) > sizeLimit) {
        setAside(place, "it is larger than " + std::to_string(sizeLimit / 1024) + " KiB");
        return;
    }
    std::string text;
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(opened.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            leaveInPlace("it cannot be read to its end");
            return;
        }
        if (got == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(got));
        // One that grows while it is read is held to the same limit.
        if (text.size() > sizeLimit) {
            setAside(place, "it is larger than " + std::to_string(sizeLimit / 1024) + " KiB");
            return;
        }
    }
    const auto json = parseJsonInput(text);
    if (!json) {
        setAside(place, jsonNestsWithin(text) ? "it is not valid JSON" : "it is nested too deep");
        return;
    }
    // Another writer's JSON is no damage: it is passed over and written over.
    if (!json->is_object())
        return;
    // Compared as a value of any type: another writer's "1" or 1.5 is not
    // this format, and asking for it as a number would throw.
    const auto format = json->find("format");
    if (format == json->end() || *format != nlohmann::json(fileFormat))
        return;
    const auto inputs = json->find("inputs");
    if (inputs == json->end() || !inputs->is_array())
        return;
    for (const auto& item : *inputs) {
        if (!item.is_object())
            continue;
        auto model = nameOf(item, "model");
        auto input = nameOf(item, "input");
        auto mean = meanOf(item);
        if (!model || !input || !mean)
            continue;
        std::erase_if(entries_, [&](const Entry& entry) { return entry.model == *model && entry.input == *input; });
        entries_.push_back(Entry{std::move(*model), std::move(*input), *mean, *mean});
    }
}

void SphinxChannelFile::write()
{
    if (!file_ || leftInPlace_)
        return;
    nlohmann::json inputs = nlohmann::json::array();
    for (const auto& entry : entries_) {
        nlohmann::json item = {
            {"model", entry.model}, {"input", entry.input}, {"mean", entry.mean.mean}, {"frames", entry.mean.frames}};
        if (!entry.mean.sound.empty())
            item["sound"] = entry.mean.sound;
        inputs.push_back(std::move(item));
    }
    const nlohmann::json contents = {{"format", fileFormat}, {"inputs", std::move(inputs)}};
    try {
        writeFileAtomically(*file_, contents.dump() + "\n");
        unwritten_ = false;
    } catch (const std::exception& failure) {
        // Tried again at the latest as this object goes: the folder may
        // take it by then.
        unwritten_ = true;
        if (!std::exchange(failureSaid_, true))
            rt::logMessage("what speech recognition learnt about each input cannot be kept in " + file_->string() + " ("
                           + failure.what() + "); the first words of the next start may be heard worse");
    }
}

}  // namespace parlaro::sys
