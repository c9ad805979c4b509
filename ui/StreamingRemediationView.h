// StreamingRemediationView: one fix carried out with its output streamed into
// a log, Cancel, the ~/.zshrc follow-up card and the footer of its state.
//
// The run reports on a worker thread. Its ready handler only posts one hop to
// the GUI thread; the hop starts a short timer, and when the timer fires every
// buffered line is appended in one batch. So a burst of thousands of lines
// costs one append and one repaint, and appending stays the same price however
// long the log already is (QPlainTextEdit lays out only what it shows).
#pragma once

#include <QWidget>
#include <memory>
#include <string>

#include "DiagnoseView.h"
#include "UIEnvironment.h"
#include "screens/StreamingRemediationModel.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;
class QTimer;

namespace lumo::ui {

class StreamingRemediationView : public QWidget {
    Q_OBJECT
public:
    // Lines arriving within this window are drawn together.
    static constexpr int kBatchMilliseconds = 16;

    StreamingRemediationView(const Remediation& remediation, const UIEnvironment& environment,
                             RemediationFinish onFinish, StreamingRemediationModel::Starter starter = {},
                             QWidget* parent = nullptr);
    ~StreamingRemediationView() override;

    StreamingRemediationModel& model() { return *model_; }
    QPlainTextEdit* log() const { return log_; }
    // Lines shown highlighted as Homebrew's retry.
    int retryLineCount() const { return retryLines_; }
    // Starts the run (done once when first shown).
    void start();
    // Draws everything buffered now, without waiting for the batch timer.
    void flushNow() { flush(); }
    // Escape: cancel, close, skip or continue, as the state allows.
    void escape() { model_->escape(); }

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct Wakeup;
    void scheduleFlush();
    void flush();
    void refresh();
    void appendNewLines();

    QtBackgroundWork background_;  // writes the ~/.zshrc follow-up
    std::unique_ptr<StreamingRemediationModel> model_;
    std::shared_ptr<Wakeup> wakeup_;
    QTimer* batch_ = nullptr;
    std::size_t shownLines_ = 0;
    int retryLines_ = 0;

    QLabel* title_ = nullptr;
    QPlainTextEdit* log_ = nullptr;
    QLabel* retryLine_ = nullptr;
    QLabel* status_ = nullptr;
    QWidget* card_ = nullptr;
    QLabel* subtitle_ = nullptr;
    std::string shownSubtitle_;
    QLabel* cardIntro_ = nullptr;
    QLabel* cardBackup_ = nullptr;
    QLabel* cardLines_ = nullptr;
    QLabel* cardError_ = nullptr;
    QStackedWidget* footer_ = nullptr;
    QWidget* runningFooter_ = nullptr;
    QWidget* cancelingFooter_ = nullptr;
    QWidget* successFooter_ = nullptr;
    QWidget* followUpFooter_ = nullptr;
    QWidget* failureFooter_ = nullptr;
    QPushButton* continue_ = nullptr;
    QPushButton* apply_ = nullptr;
    QPushButton* tryAgain_ = nullptr;
};

}  // namespace lumo::ui
