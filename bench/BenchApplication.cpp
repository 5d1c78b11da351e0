#include "BenchApplication.h"

#include <cstdlib>

namespace parlaro::bench {

QApplication& application()
{
    static int argc = 1;
    static char name[] = "parlaro_bench";
    static char* argv[] = {name, nullptr};
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QApplication app(argc, argv);
    return app;
}

}  // namespace parlaro::bench
