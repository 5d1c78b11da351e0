#include "platform/linux/apertium/ApertiumStream.h"

namespace parlaro::sys::ApertiumStream {

std::string encode(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        switch (c) {
        case '\\':
        case '[':
        case ']':
        case '^':
        case '$':
        case '/':
        case '@':
        case '<':
        case '>':
        case '{':
        case '}':
            out.push_back('\\');
            out.push_back(c);
            break;
        case '~':
            out += "[~]";
            break;
        case '\n':
        case '\r':
        case '\t':
        case '\0':
            out.push_back(' ');
            break;
        default:
            out.push_back(c);
        }
    }
    return out;
}

std::string decode(std::string_view record)
{
    std::string out;
    out.reserve(record.size());
    for (std::size_t i = 0; i < record.size(); ++i) {
        char c = record[i];
        if (c == '\\' && i + 1 < record.size())
            out.push_back(record[++i]);
        else if (c != '[' && c != ']')
            out.push_back(c);
    }
    const auto first = out.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = out.find_last_not_of(" \t\r\n");
    return out.substr(first, last - first + 1);
}

} // namespace parlaro::sys::ApertiumStream
