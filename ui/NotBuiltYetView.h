// The destinations that later work builds (diagnose, audit). Until then they
// say so plainly and offer only the transition the journey would take next.
#pragma once

#include <QWidget>

#include "UIEnvironment.h"

namespace lumo::ui {

class NotBuiltYetView : public QWidget {
    Q_OBJECT
public:
    NotBuiltYetView(const Screen& screen, const UIEnvironment& environment, QWidget* parent = nullptr);
};

}  // namespace lumo::ui
