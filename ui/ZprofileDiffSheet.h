// ZprofileDiffSheet: the ~/.zprofile change shown as a diff before it is
// written, with Apply, Cancel and "Continue to verify".
#pragma once

#include <QWidget>
#include <memory>

#include "UIEnvironment.h"
#include "screens/ZprofileDiffModel.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace lumo::ui {

class ZprofileDiffSheet : public QWidget {
    Q_OBJECT
public:
    ZprofileDiffSheet(const Remediation& remediation, const UIEnvironment& environment, RemediationFinish onFinish,
                      QWidget* parent = nullptr);

    ZprofileDiffModel& model() { return *model_; }

private:
    void refresh();

    std::unique_ptr<ZprofileDiffModel> model_;
    QLabel* status_ = nullptr;
    QLabel* backup_ = nullptr;
    QPlainTextEdit* diff_ = nullptr;
    QPushButton* toggle_ = nullptr;
    QLabel* error_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* apply_ = nullptr;
    QPushButton* continue_ = nullptr;
    QPushButton* close_ = nullptr;
};

}  // namespace lumo::ui
