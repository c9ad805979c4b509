// WelcomeView: the root of the navigation stack. The goal question, or one
// start button for a product without one.
#pragma once

#include <QWidget>
#include <memory>

#include "UIEnvironment.h"
#include "screens/WelcomeModel.h"

namespace lumo::ui {

class WelcomeView : public QWidget {
    Q_OBJECT
public:
    explicit WelcomeView(const UIEnvironment& environment, QWidget* parent = nullptr);

private:
    std::unique_ptr<WelcomeModel> model_;
};

}  // namespace lumo::ui
