#pragma once

#include <QApplication>

namespace parlaro::bench {

// The one Qt application the benchmarks that lay out windows share, made
// on first use, offscreen unless the environment names a platform.
QApplication& application();

}  // namespace parlaro::bench
