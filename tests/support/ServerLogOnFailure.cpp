#include "ServerLogOnFailure.h"

#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <iostream>
#include <string>
#include <system_error>

namespace parlaro::test {

namespace {

class ServerLogPrinter final : public testing::EmptyTestEventListener {
public:
    explicit ServerLogPrinter(std::function<std::filesystem::path()> folder) : folder_(std::move(folder)) {}

    void OnTestEnd(const testing::TestInfo& info) override
    {
        if (!info.result() || !info.result()->Failed())
            return;
        const std::filesystem::path folder = folder_();
        std::error_code error;
        bool any = false;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, error)) {
            if (entry.is_regular_file(error) && entry.path().extension() == ".log") {
                printEnd(entry.path());
                any = true;
            }
        }
        if (!any)
            std::cout << "[ server   ] no server log in " << folder << "\n";
    }

private:
    static void printEnd(const std::filesystem::path& log)
    {
        std::ifstream in(log);
        std::deque<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            lines.push_back(std::move(line));
            if (lines.size() > 40)
                lines.pop_front();
        }
        std::cout << "[ server   ] the end of " << log.string() << ":\n";
        for (const std::string& line : lines)
            std::cout << "    " << line << "\n";
    }

    std::function<std::filesystem::path()> folder_;
};

}  // namespace

bool showServerLogsOnFailure(std::function<std::filesystem::path()> folder)
{
    testing::UnitTest::GetInstance()->listeners().Append(new ServerLogPrinter(std::move(folder)));
    return true;
}

}  // namespace parlaro::test
