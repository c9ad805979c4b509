// DiagnoseView: the screen for Screen.diagnose. It owns a fresh DiagnoseFlow
// for each appearance, shows the sub-screen of the flow's state and presents
// the remediation sheet over the window.
#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>

#include "RemediationProgressView.h"
#include "UIEnvironment.h"
#include "screens/DiagnoseViewModel.h"

class QVBoxLayout;

namespace lumo::ui {

// Runs blocking work on Qt's thread pool and its continuation on the GUI thread.
class QtBackgroundWork : public BackgroundWork {
public:
    void run(std::function<std::function<void()>()> work) override;
};

class DiagnoseView : public QWidget {
    Q_OBJECT
public:
    struct Options {
        // Overrides for tests and screenshots; empty means the real ones.
        std::function<SystemProfile()> profileMachine;
        std::function<Verifier::Result(std::optional<int> expectedMajor)> verify;
        StreamingRemediationModel::Starter starter;
    };

    explicit DiagnoseView(const UIEnvironment& environment, QWidget* parent = nullptr);
    DiagnoseView(const UIEnvironment& environment, Options options, QWidget* parent = nullptr);
    ~DiagnoseView() override;

    DiagnoseFlow& flow() { return *flow_; }
    // The sheet while it is presented.
    RemediationProgressView* sheet() const { return sheet_; }
    QWidget* page() const { return page_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void rebuild();
    void syncSheet();
    QWidget* makePage();

    UIEnvironment environment_;
    Options options_;
    QtBackgroundWork background_;
    std::unique_ptr<DiagnoseFlow> flow_;
    QVBoxLayout* layout_ = nullptr;
    QWidget* page_ = nullptr;
    QPointer<RemediationProgressView> sheet_;
};

}  // namespace lumo::ui
