// GoalPromptView: the goal question on the welcome screen.
#pragma once

#include <QWidget>
#include <functional>
#include <map>
#include <memory>

#include "screens/GoalPromptModel.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace lumo::ui {

class GoalPromptView : public QWidget {
    Q_OBJECT
public:
    GoalPromptView(const GoalPrompt& prompt, TelemetrySink& telemetry,
                   std::function<void(const std::string&)> onContinue, QWidget* parent = nullptr);

    const GoalPromptModel& model() const { return *model_; }

private:
    void buildDetailField();
    void refresh();

    std::unique_ptr<GoalPromptModel> model_;
    std::map<std::string, QPushButton*> options_;
    QWidget* detailBox_ = nullptr;
    QLabel* detailPrompt_ = nullptr;
    QLineEdit* detailField_ = nullptr;
    QPushButton* continue_ = nullptr;
};

}  // namespace lumo::ui
