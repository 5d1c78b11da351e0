#pragma once

#include <string>
#include <vector>

class QWidget;

namespace parlaro::test {

// Every label, button and picker shown under `root` whose text the user
// cannot read whole: wider than its widget, or wrapped onto more lines than
// its height shows. Each is described with its class, name and text.
std::vector<std::string> cutTexts(QWidget& root);

}  // namespace parlaro::test
