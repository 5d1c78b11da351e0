#pragma once

#include <QLabel>

namespace parlaro::ui {

// A small violet upper-case heading over a group; the text is shown as
// given (already localized by the caller).
class SectionTitle : public QLabel {
    Q_OBJECT
public:
    explicit SectionTitle(const QString& text, QWidget* parent = nullptr);
    void setTitle(const QString& text);
};

}  // namespace parlaro::ui
