#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>

namespace parlaro::settings {

// Closes a message box the program withdraws, without its end reaching
// `listener`: no one answered it, so nothing the answer would do happens.
// Leaves `box` empty; a box already gone is left alone.
inline void closeQuietly(QPointer<QMessageBox>& box, const QObject* listener)
{
    QMessageBox* closing = box.data();
    box = nullptr;
    if (!closing)
        return;
    QObject::disconnect(closing, nullptr, listener, nullptr);
    closing->done(0);
    closing->deleteLater();
}

}  // namespace parlaro::settings
