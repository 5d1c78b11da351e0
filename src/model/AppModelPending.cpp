// Operations that start-up, the watchers and shutdown already call but whose
// behaviour is not built yet. Each does nothing until it is.

#include "model/AppModel.h"

namespace parlaro {

// Reads whether the installed driver is older than the bundled one.
void AppModel::checkDriverUpdate()
{
}

} // namespace parlaro
