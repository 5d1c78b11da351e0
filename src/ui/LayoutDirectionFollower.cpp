#include "ui/LayoutDirectionFollower.h"

#include "ui/Look.h"

#include <QGuiApplication>

namespace parlaro::ui {

LayoutDirectionFollower::LayoutDirectionFollower()
    : binding_([] {
          auto direction = Look::layoutDirection();
          if (QGuiApplication::layoutDirection() != direction)
              QGuiApplication::setLayoutDirection(direction);
      })
{
}

}  // namespace parlaro::ui
