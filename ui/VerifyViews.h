// The small pages around a fix: diagnosing, verifying, the verdict, done and
// the error page. Each reports back through callbacks; the diagnose flow
// decides what comes next.
#pragma once

#include <QWidget>
#include <functional>

#include "BusyIndicator.h"
#include "Style.h"
#include "UIEnvironment.h"
#include "diagnosis/Remediation.h"
#include "remediation/Verifier.h"
#include "screens/VerifyModels.h"

class QPushButton;

namespace lumo::ui {

// "Continue to system audit": the way on from a diagnosis, a verdict or a
// completed fix.
QPushButton* continueToAuditButton(ButtonStyle style, std::function<void()> onContinue);

// "Diagnosing Java…" while the Mac is profiled.
class ProbingScaffold : public QWidget {
    Q_OBJECT
public:
    explicit ProbingScaffold(const UIEnvironment& environment, QWidget* parent = nullptr);
};

// "Verifying…": the flow verifies once when the page is shown.
class VerifyScaffold : public QWidget {
    Q_OBJECT
public:
    VerifyScaffold(const Remediation& remediation, const UIEnvironment& environment, QWidget* parent = nullptr);
};

class VerifyResultView : public QWidget {
    Q_OBJECT
public:
    struct Actions {
        std::function<void()> onContinue;
        std::function<void()> onBack;
        std::function<void()> onSetJavaHome;
    };
    VerifyResultView(const Remediation& remediation, const Verifier::Result& result, Actions actions,
                     const UIEnvironment& environment, QWidget* parent = nullptr);

    const VerifyVerdict& verdict() const { return verdict_; }

private:
    VerifyVerdict verdict_;
};

class CompletedScaffold : public QWidget {
    Q_OBJECT
public:
    CompletedScaffold(const QString& message, std::function<void()> onContinue, const UIEnvironment& environment,
                      QWidget* parent = nullptr);
};

class ErrorScaffold : public QWidget {
    Q_OBJECT
public:
    ErrorScaffold(const QString& message, std::function<void()> onBack, const UIEnvironment& environment,
                  QWidget* parent = nullptr);
};

}  // namespace lumo::ui
