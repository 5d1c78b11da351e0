#pragma once

#include "speech/Localization.h"

#include <QString>

namespace parlaro::ui {

// A UTF-8 text (a localized() result, a device name) for a widget.
inline QString q(const std::string& text)
{
    return QString::fromStdString(text);
}

}  // namespace parlaro::ui
