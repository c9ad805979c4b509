// ZprofileDiffSheet: the ~/.zprofile change shown as a diff before it is
// written, with Apply, Cancel and "Continue to verify". Reading the files and
// writing the change run on a worker; the sheet shows a busy line meanwhile.
// When a file zsh reads later would undo the change, the sheet names its
// lines and offers (a ticked box) to turn them off in the same Apply.
#pragma once

#include <QWidget>
#include <memory>

#include "DiagnoseView.h"
#include "UIEnvironment.h"
#include "screens/ZprofileDiffModel.h"

class QCheckBox;
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

    QtBackgroundWork background_;
    std::unique_ptr<ZprofileDiffModel> model_;
    QLabel* explainer_ = nullptr;
    QWidget* busy_ = nullptr;
    QLabel* busyText_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* later_ = nullptr;
    QCheckBox* commentOut_ = nullptr;
    QLabel* hardLink_ = nullptr;
    QLabel* backup_ = nullptr;
    QPlainTextEdit* diff_ = nullptr;
    QPushButton* toggle_ = nullptr;
    QLabel* error_ = nullptr;
    QLabel* confirmation_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* apply_ = nullptr;
    QPushButton* continue_ = nullptr;
    QPushButton* close_ = nullptr;
};

}  // namespace lumo::ui
