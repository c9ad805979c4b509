// DiagnosisDetailView: the diagnosis's headline and explanation with the one
// action that fits it. JavaVersionChooserView: the 25 / 21 / 17 rows.
#pragma once

#include <QRadioButton>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "UIEnvironment.h"
#include "screens/DiagnosisDetailModel.h"

class QLabel;
class QPushButton;

namespace lumo::ui {

// One row of the chooser: a radio button to the keyboard and to a screen
// reader (its selection is the button's checked state), drawn as the radio
// symbol, the label and the description in the secondary text colour.
class JavaVersionRow : public QRadioButton {
    Q_OBJECT
public:
    JavaVersionRow(const JavaVersionChoice& choice, const QString& identifier, QWidget* parent = nullptr);

    int major() const { return major_; }
    QLabel* titleLabel() const { return title_; }
    QLabel* descriptionLabel() const { return description_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& position) const override;
    bool event(QEvent* event) override;

private:
    int major_;
    QLabel* title_;
    QLabel* description_;
    bool focusFromKeyboard_ = false;
};

class JavaVersionChooserView : public QWidget {
    Q_OBJECT
public:
    // `screenContext` is "d1" or "d3"; `onChoose` sets the bound selection.
    JavaVersionChooserView(int chosenMajor, const QString& screenContext, std::function<void(int)> onChoose,
                           QWidget* parent = nullptr);
    void setChosenMajor(int major);
    const std::vector<JavaVersionRow*>& rows() const { return rows_; }

private:
    std::vector<JavaVersionRow*> rows_;
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
