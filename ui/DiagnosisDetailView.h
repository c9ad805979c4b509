// DiagnosisDetailView: the diagnosis's headline and explanation with the one
// action that fits it. JavaVersionChooserView: the 25 / 21 / 17 rows.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "UIEnvironment.h"
#include "screens/DiagnosisDetailModel.h"

class QPushButton;

namespace lumo::ui {

class JavaVersionChooserView : public QWidget {
    Q_OBJECT
public:
    // `screenContext` is "d1" or "d3"; `onChoose` sets the bound selection.
    JavaVersionChooserView(int chosenMajor, const QString& screenContext, std::function<void(int)> onChoose,
                           QWidget* parent = nullptr);
    void setChosenMajor(int major);

private:
    std::vector<std::pair<int, QPushButton*>> rows_;
};

class DiagnosisDetailView : public QWidget {
    Q_OBJECT
public:
    // Without callbacks the page is inert (shown under the remediation sheet).
    // `facts` tell where the diagnosed JDK came from and whether it runs only
    // under Rosetta.
    DiagnosisDetailView(const Diagnosis& diagnosis, const std::optional<Remediation>& d1Remediation,
                        const std::optional<Remediation>& d2Remediation, DiagnosisDetailModel::Callbacks callbacks,
                        const UIEnvironment& environment, JDKFacts facts = {}, bool inert = false,
                        QWidget* parent = nullptr);

    DiagnosisDetailModel& model() { return *model_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<DiagnosisDetailModel> model_;
    QPushButton* install_ = nullptr;
};

}  // namespace lumo::ui
