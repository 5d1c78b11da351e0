#include "platform/EngineNames.h"

#include <utility>

namespace parlaro {

namespace {
// Made on first use, so a name asked for while other statics are built is
// already there.
EngineNames& installed()
{
    static EngineNames names;
    return names;
}
}  // namespace

const EngineNames& EngineNames::current()
{
    return installed();
}

EngineNamesScope::EngineNamesScope(EngineNames names) : previous_(std::move(installed()))
{
    installed() = std::move(names);
}

EngineNamesScope::~EngineNamesScope()
{
    installed() = std::move(previous_);
}

}  // namespace parlaro
