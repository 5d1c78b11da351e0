#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace parlaro::test {

// A stream the program writes its lines to, kept in memory for the test.
class CapturedStream {
public:
    CapturedStream() : file_(::open_memstream(&buffer_, &size_)) {}
    ~CapturedStream()
    {
        std::fclose(file_);
        std::free(buffer_);
    }
    CapturedStream(const CapturedStream&) = delete;
    CapturedStream& operator=(const CapturedStream&) = delete;

    std::FILE* file() const { return file_; }
    // Everything written so far.
    std::string text()
    {
        std::fflush(file_);
        return std::string(buffer_, size_);
    }

private:
    char* buffer_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* file_;
};

}  // namespace parlaro::test
