#include "platform/SpeechRecognizer.h"

namespace parlaro {

std::int64_t utf16Length(std::string_view text)
{
    std::int64_t units = 0;
    for (std::size_t i = 0; i < text.size();) {
        auto lead = static_cast<unsigned char>(text[i]);
        std::size_t bytes = 1;
        if (lead >= 0xF0 && lead < 0xF8)
            bytes = 4;
        else if (lead >= 0xE0 && lead < 0xF0)
            bytes = 3;
        else if (lead >= 0xC0 && lead < 0xE0)
            bytes = 2;
        if (i + bytes > text.size())
            bytes = 1;
        // Characters outside the Basic Multilingual Plane take a surrogate pair.
        units += bytes == 4 ? 2 : 1;
        i += bytes;
    }
    return units;
}

Transcription makeTranscription(std::string text, const std::vector<std::string>& words)
{
    Transcription transcription;
    std::size_t from = 0;
    for (const auto& word : words) {
        if (word.empty())
            continue;
        auto at = text.find(word, from);
        if (at == std::string::npos)
            continue;
        auto location = utf16Length(std::string_view(text).substr(0, at));
        transcription.segments.push_back(TranscriptionSegment{word, TextRange{location, utf16Length(word)}});
        from = at + word.size();
    }
    transcription.formattedString = std::move(text);
    return transcription;
}

}  // namespace parlaro
