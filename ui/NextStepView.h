// NextStepView: what the user wants to do next, routed by the option's offer.
#pragma once

#include <QWidget>
#include <map>
#include <memory>

#include "UIEnvironment.h"
#include "screens/NextStepModel.h"

class QPushButton;

namespace lumo::ui {

class NextStepView : public QWidget {
    Q_OBJECT
public:
    NextStepView(const NextStepPrompt& prompt, const UIEnvironment& environment, QWidget* parent = nullptr);

private:
    void refresh();

    std::unique_ptr<NextStepModel> model_;
    std::map<std::string, QPushButton*> options_;
    QPushButton* continue_ = nullptr;
};

}  // namespace lumo::ui
