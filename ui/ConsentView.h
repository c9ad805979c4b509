// ConsentView: what the app does and records; nothing runs until Continue.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "UIEnvironment.h"
#include "screens/ConsentModel.h"

namespace lumo::ui {

class ConsentView : public QWidget {
    Q_OBJECT
public:
    ConsentView(const UIEnvironment& environment, std::function<void()> onContinue, QWidget* parent = nullptr);

private:
    std::unique_ptr<ConsentModel> model_;
};

}  // namespace lumo::ui
