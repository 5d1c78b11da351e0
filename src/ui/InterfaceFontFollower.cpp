#include "ui/InterfaceFontFollower.h"

#include "speech/InterfaceLanguage.h"
#include "ui/Look.h"

namespace parlaro::ui {

InterfaceFontFollower::InterfaceFontFollower()
    : binding_([] {
          // Read inside the binding, so a change of language runs it again.
          InterfaceLanguage::Revision::shared().value.get();
          Look::followInterfaceLanguage();
      })
{
}

}  // namespace parlaro::ui
