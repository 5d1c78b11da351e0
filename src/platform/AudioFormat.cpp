#include "platform/AudioFormat.h"

#include <cmath>
#include <sstream>

namespace parlaro {

std::size_t AudioFormat::bytesPerSample() const
{
    return sampleType == SampleType::float32 ? sizeof(float) : sizeof(std::int16_t);
}

std::size_t AudioFormat::bytesPerFrame() const
{
    return bytesPerSample() * channelCount;
}

bool AudioFormat::isValid() const
{
    return std::isfinite(sampleRate) && sampleRate > 0 && channelCount > 0;
}

std::string AudioFormat::description() const
{
    std::ostringstream text;
    text << sampleRate << " Hz, " << channelCount << " ch, "
         << (sampleType == SampleType::float32 ? "float32" : "int16") << ", "
         << (interleaved ? "interleaved" : "non-interleaved");
    return text.str();
}

}  // namespace parlaro
