#include "history/SessionScan.h"

#include "runtime/Uuid.h"

#include <unicode/utf8.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace parlaro {

namespace {

// Reads the written form; every method answers false at anything else.
class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    bool literal(std::string_view expected)
    {
        if (text_.substr(at_, expected.size()) != expected)
            return false;
        at_ += expected.size();
        return true;
    }

    bool peek(std::string_view expected) const { return text_.substr(at_, expected.size()) == expected; }

    // A JSON string, its opening quote already read, up to and past its
    // closing quote. `value` views the file when nothing is escaped, else
    // `storage`.
    bool string(std::string_view& value, std::string& storage)
    {
        const std::size_t begin = at_;
        bool escaped = false;
        while (at_ < text_.size()) {
            const auto byte = static_cast<unsigned char>(text_[at_]);
            if (byte == '"')
                break;
            if (byte < 0x20)
                return false;
            if (byte == '\\') {
                escaped = true;
                at_ += 2;
                continue;
            }
            if (byte < 0x80) {
                ++at_;
                continue;
            }
            // JSON text is well-formed UTF-8: no overlong forms, surrogates
            // or code points beyond U+10FFFF.
            UChar32 c;
            int32_t next = static_cast<int32_t>(at_);
            U8_NEXT(reinterpret_cast<const uint8_t*>(text_.data()), next, static_cast<int32_t>(text_.size()), c);
            if (c < 0)
                return false;
            at_ = static_cast<std::size_t>(next);
        }
        if (at_ >= text_.size())
            return false;
        const std::string_view raw = text_.substr(begin, at_ - begin);
        ++at_;
        if (!escaped) {
            value = raw;
            return true;
        }
        storage.clear();
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] != '\\') {
                storage.push_back(raw[i]);
                continue;
            }
            if (++i >= raw.size())
                return false;
            switch (raw[i]) {
            case '"':
                storage.push_back('"');
                break;
            case '\\':
                storage.push_back('\\');
                break;
            case '/':
                storage.push_back('/');
                break;
            case 'b':
                storage.push_back('\b');
                break;
            case 'f':
                storage.push_back('\f');
                break;
            case 'n':
                storage.push_back('\n');
                break;
            case 'r':
                storage.push_back('\r');
                break;
            case 't':
                storage.push_back('\t');
                break;
            case 'u': {
                // Surrogate pairs are left to the decoder.
                if (i + 4 >= raw.size())
                    return false;
                unsigned code = 0;
                for (std::size_t k = 1; k <= 4; ++k) {
                    const char h = raw[i + k];
                    code <<= 4;
                    if (h >= '0' && h <= '9')
                        code |= static_cast<unsigned>(h - '0');
                    else if (h >= 'a' && h <= 'f')
                        code |= static_cast<unsigned>(h - 'a' + 10);
                    else if (h >= 'A' && h <= 'F')
                        code |= static_cast<unsigned>(h - 'A' + 10);
                    else
                        return false;
                }
                if (code >= 0xD800 && code <= 0xDFFF)
                    return false;
                char bytes[4];
                int32_t length = 0;
                U8_APPEND_UNSAFE(bytes, length, static_cast<UChar32>(code));
                storage.append(bytes, static_cast<std::size_t>(length));
                i += 4;
                break;
            }
            default:
                return false;
            }
        }
        value = storage;
        return true;
    }

    // A JSON number with a finite value.
    bool number()
    {
        const std::size_t begin = at_;
        if (at_ < text_.size() && text_[at_] == '-')
            ++at_;
        if (at_ < text_.size() && text_[at_] == '0') {
            ++at_;
        } else if (!digits()) {
            return false;
        }
        if (at_ < text_.size() && text_[at_] == '.') {
            ++at_;
            if (!digits())
                return false;
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            ++at_;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-'))
                ++at_;
            if (!digits())
                return false;
        }
        const std::string token(text_.substr(begin, at_ - begin));
        return std::isfinite(std::strtod(token.c_str(), nullptr));
    }

    // Whatever JSON allows after the value: white space only.
    bool atEnd()
    {
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
                return false;
        }
        return true;
    }

private:
    bool digits()
    {
        const std::size_t begin = at_;
        while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9')
            ++at_;
        return at_ > begin;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

bool uuid(Reader& reader)
{
    std::string_view value;
    std::string storage;
    return reader.literal("\"") && reader.string(value, storage) && rt::Uuid::parse(value).has_value();
}

}  // namespace

namespace {

// The pass itself; a match found before the file turns out not to be in the
// written form is dropped by the caller.
SessionScan scanWritten(std::string_view file, const HistoryText::SearchPattern& pattern)
{
    Reader reader(file);
    SessionScan scan;
    if (!reader.literal("{\"entries\":["))
        return scan;
    std::string originalStorage;
    std::string translatedStorage;
    std::string languageStorage;
    bool first = true;
    while (!reader.peek("]")) {
        if (!first && !reader.literal(","))
            return scan;
        first = false;
        std::string_view original;
        std::string_view translated;
        std::string_view language;
        if (!reader.literal("{\"id\":") || !uuid(reader) || !reader.literal(",\"original\":\"")
            || !reader.string(original, originalStorage))
            return scan;
        if (reader.literal(",\"originalLanguage\":\"") && !reader.string(language, languageStorage))
            return scan;
        if (!reader.literal(",\"side\":") || !(reader.literal("\"them\"") || reader.literal("\"me\""))
            || !reader.literal(",\"time\":") || !reader.number() || !reader.literal(",\"translated\":\"")
            || !reader.string(translated, translatedStorage))
            return scan;
        if (reader.literal(",\"translatedLanguage\":\"") && !reader.string(language, languageStorage))
            return scan;
        if (!reader.literal("}"))
            return scan;
        // The rest of the file is still read: a hit counts only in a file
        // that decodes as a whole.
        if (!scan.match) {
            if (pattern.isFoundIn(original))
                scan.match = std::string(original);
            else if (pattern.isFoundIn(translated))
                scan.match = std::string(translated);
        }
    }
    if (!reader.literal("],\"id\":") || !uuid(reader) || !reader.literal("}") || !reader.atEnd())
        return scan;
    scan.written = true;
    return scan;
}

}  // namespace

SessionScan SessionScan::of(std::string_view file, const HistoryText::SearchPattern& pattern)
{
    SessionScan scan = scanWritten(file, pattern);
    if (!scan.written)
        scan.match.reset();
    return scan;
}

}  // namespace parlaro
