#include "StreamingRemediationView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShowEvent>
#include <QStackedWidget>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>
#include <atomic>
#include <mutex>

#include "Style.h"
#include "VerifyViews.h"
#include "config/ProductConfig.h"

namespace lumo::ui {

// Shared with the worker's ready handler, which may outlive the view by a
// moment: it posts to the view only while the view is alive.
struct StreamingRemediationView::Wakeup {
    std::mutex mutex;
    StreamingRemediationView* view = nullptr;  // guarded by mutex
    std::atomic<bool> pending{false};

    void ring() {
        if (pending.exchange(true)) return;  // a hop is already on its way
        std::lock_guard lock(mutex);
        if (!view) return;
        StreamingRemediationView* target = view;
        QMetaObject::invokeMethod(
            target, [target] { target->scheduleFlush(); }, Qt::QueuedConnection);
    }
};

namespace {

QWidget* row(QHBoxLayout** layout) {
    auto* widget = new QWidget;
    *layout = new QHBoxLayout(widget);
    (*layout)->setContentsMargins(0, 0, 0, 0);
    (*layout)->setSpacing(10);
    return widget;
}

}  // namespace

StreamingRemediationView::StreamingRemediationView(const Remediation& remediation, const UIEnvironment& environment,
                                                   RemediationFinish onFinish,
                                                   StreamingRemediationModel::Starter starter, QWidget* parent)
    : QWidget(parent), wakeup_(std::make_shared<Wakeup>()) {
    setObjectName(QStringLiteral("streaming-remediation"));
    TelemetrySink& telemetry = environment.telemetry ? *environment.telemetry : silentTelemetry();
    model_ = std::make_unique<StreamingRemediationModel>(remediation, environment.services, telemetry,
                                                         std::move(onFinish), std::move(starter));
    model_->setBackground(&background_);
    wakeup_->view = this;
    std::weak_ptr<Wakeup> weak = wakeup_;
    model_->setReadyHandler([weak] {
        if (auto wakeup = weak.lock()) wakeup->ring();
    });
    model_->setOnChange([this] { refresh(); });

    batch_ = new QTimer(this);
    batch_->setSingleShot(true);
    batch_->setInterval(kBatchMilliseconds);
    connect(batch_, &QTimer::timeout, this, [this] { flush(); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 22, 24, 18);
    layout->setSpacing(10);
    title_ = label(QString::fromStdString(model_->title()), TextStyle::headline);
    title_->setFont(sheetTitleFont());
    makeSelectable(title_);
    identify(title_, QStringLiteral("remediation-title"), title_->text());
    layout->addWidget(title_);
    // The run may tell more than the fix could beforehand (SDKMAN's identifier).
    shownSubtitle_ = model_->subtitle();
    subtitle_ = markdownLabel(QString::fromStdString(shownSubtitle_), TextStyle::callout, true, environment.openURL);
    identify(subtitle_, QStringLiteral("remediation-subtitle"), subtitle_->text());
    makeSelectable(subtitle_);
    subtitle_->setVisible(!shownSubtitle_.empty());
    layout->addWidget(subtitle_);

    // The log in the colours of a text view (light or dark with the system);
    // long lines wrap, so nothing is cut off at the right edge.
    log_ = new QPlainTextEdit;
    identify(log_, QStringLiteral("remediation-progress"), QStringLiteral("Output"));
    log_->setReadOnly(true);
    log_->setUndoRedoEnabled(false);
    log_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    log_->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    log_->setMaximumBlockCount(0);  // every line stays: the user may scroll back to any of them
    const QFont mono = monospacedFont(11);
    log_->setFont(mono);
    layout->addWidget(log_, 1);

    // Homebrew's retry, on a row of its own under the log, wrapped.
    retryLine_ = label(QString(), TextStyle::callout, false, true);
    identify(retryLine_, QStringLiteral("remediation-retry-line"));
    retryLine_->setContentsMargins(8, 6, 8, 6);
    setTextRole(retryLine_, TextRole::warning);
    makeCard(retryLine_, 6, CardTone::warning);
    makeSelectable(retryLine_);
    retryLine_->hide();
    layout->addWidget(retryLine_);

    // What failed, and how.
    status_ = label(QString(), TextStyle::callout);
    identify(status_, QStringLiteral("remediation-status"));
    setTextRole(status_, TextRole::error);
    makeSelectable(status_);
    status_->hide();
    layout->addWidget(status_);

    // The ~/.zshrc follow-up card.
    card_ = new QWidget;
    card_->setObjectName(QStringLiteral("remediation-zshrc-card"));
    makeCard(card_, 8);
    auto* cardLayout = new QVBoxLayout(card_);
    cardLayout->setContentsMargins(12, 10, 12, 10);
    cardLayout->setSpacing(6);
    cardIntro_ = markdownLabel(QString(), TextStyle::callout);
    cardBackup_ = markdownLabel(QString(), TextStyle::caption, true);
    makeSelectable(cardIntro_);
    makeSelectable(cardBackup_);
    cardLines_ = label(QString(), TextStyle::caption);
    cardLines_->setFont(mono);
    makeSelectable(cardLines_);
    cardError_ = label(QString(), TextStyle::caption);
    setTextRole(cardError_, TextRole::error);
    makeSelectable(cardError_);
    identify(cardError_, QStringLiteral("remediation-zshrc-error"));
    for (QLabel* part : {cardIntro_, cardBackup_, cardLines_, cardError_}) cardLayout->addWidget(part);
    layout->addWidget(card_);
    card_->hide();

    // Footers, one per state.
    footer_ = new QStackedWidget;
    footer_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    QHBoxLayout* footerRow = nullptr;

    runningFooter_ = row(&footerRow);
    footerRow->addWidget(busyIndicator(QStringLiteral("remediation-running"), QStringLiteral("Running")));
    footerRow->addWidget(label(QStringLiteral("Running…"), TextStyle::callout, true));
    footerRow->addStretch(1);
    auto* cancel = button(QStringLiteral("Cancel"), ButtonStyle::bordered, ControlSize::large);
    identify(cancel, QStringLiteral("remediation-cancel"), cancel->text());
    connect(cancel, &QPushButton::clicked, this, [this] { model_->cancel(); });
    footerRow->addWidget(cancel);
    footer_->addWidget(runningFooter_);

    cancelingFooter_ = row(&footerRow);
    QLabel* canceling = label(QStringLiteral("Canceling…"), TextStyle::callout, true);
    identify(canceling, QStringLiteral("remediation-canceling"), canceling->text());
    footerRow->addWidget(canceling);
    footerRow->addStretch(1);
    footer_->addWidget(cancelingFooter_);

    successFooter_ = row(&footerRow);
    footerRow->addStretch(1);
    continue_ = button(QString::fromStdString(model_->continueTitle()), ButtonStyle::prominent, ControlSize::large);
    identify(continue_, QStringLiteral("remediation-continue"), continue_->text());
    connect(continue_, &QPushButton::clicked, this, [this] { model_->continueAfterSuccess(); });
    footerRow->addWidget(continue_);
    footer_->addWidget(successFooter_);

    followUpFooter_ = row(&footerRow);
    footerRow->addStretch(1);
    auto* skip = button(QStringLiteral("Skip"), ButtonStyle::bordered, ControlSize::large);
    identify(skip, QStringLiteral("remediation-zshrc-skip"), skip->text());
    connect(skip, &QPushButton::clicked, this, [this] { model_->skipZshrc(); });
    footerRow->addWidget(skip);
    apply_ = button(QStringLiteral("Apply ~/.zshrc change"), ButtonStyle::prominent, ControlSize::large);
    identify(apply_, QStringLiteral("remediation-zshrc-apply"), apply_->text());
    connect(apply_, &QPushButton::clicked, this, [this] { model_->applyZshrc(); });
    footerRow->addWidget(apply_);
    footer_->addWidget(followUpFooter_);

    failureFooter_ = row(&footerRow);
    auto* article = button(QStringLiteral("Open the article"), ButtonStyle::link);
    identify(article, QStringLiteral("remediation-open-article"), article->text());
    connect(article, &QPushButton::clicked, this, [open = environment.openURL] {
        if (open) open(ProductConfig::current().urls.javaDownload);
    });
    footerRow->addWidget(article);
    footerRow->addStretch(1);
    auto* close = button(QStringLiteral("Close"), ButtonStyle::bordered, ControlSize::large);
    identify(close, QStringLiteral("remediation-close"), close->text());
    connect(close, &QPushButton::clicked, this, [this] { model_->closeAfterFailure(); });
    footerRow->addWidget(close);
    tryAgain_ = button(QStringLiteral("Try again"), ButtonStyle::prominent, ControlSize::large);
    identify(tryAgain_, QStringLiteral("remediation-try-again"), tryAgain_->text());
    connect(tryAgain_, &QPushButton::clicked, this, [this] { model_->retry(); });
    footerRow->addWidget(tryAgain_);
    footer_->addWidget(failureFooter_);

    layout->addWidget(footer_);
    refresh();
}

StreamingRemediationView::~StreamingRemediationView() {
    {
        std::lock_guard lock(wakeup_->mutex);
        wakeup_->view = nullptr;
    }
    model_.reset();  // stops the run and waits for its worker
}

void StreamingRemediationView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    start();
}

void StreamingRemediationView::start() { model_->start(); }

void StreamingRemediationView::scheduleFlush() {
    if (!batch_->isActive()) batch_->start();
}

void StreamingRemediationView::flush() {
    // Cleared first: lines arriving while we drain ring again.
    wakeup_->pending.store(false);
    model_->pump();  // changed() → refresh()
    appendNewLines();
}

void StreamingRemediationView::appendNewLines() {
    const auto& lines = model_->lines();
    if (shownLines_ >= lines.size()) return;
    QScrollBar* bar = log_->verticalScrollBar();
    QTextCursor cursor(log_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    QTextCharFormat plain;
    QTextCharFormat highlighted;
    highlighted.setBackground(cardFill(CardTone::warning, log_->palette()));
    highlighted.setForeground(textRoleColor(TextRole::warning, log_->palette()));
    highlighted.setFontWeight(QFont::DemiBold);
    QString run;  // consecutive plain lines go in with one insertion
    const auto flushRun = [&] {
        if (run.isEmpty()) return;
        cursor.insertText(run, plain);
        run.clear();
    };
    for (std::size_t i = shownLines_; i < lines.size(); ++i) {
        const bool first = log_->document()->isEmpty() && i == shownLines_;
        if (!first) run += QChar(QChar::LineFeed);
        if (StreamingRemediationModel::isRetryLine(lines[i])) {
            flushRun();
            cursor.insertText(QString::fromStdString(lines[i]), highlighted);
            ++retryLines_;
        } else {
            run += QString::fromStdString(lines[i]);
        }
    }
    flushRun();
    cursor.endEditBlock();
    shownLines_ = lines.size();
    bar->setValue(bar->maximum());
}

void StreamingRemediationView::refresh() {
    appendNewLines();
    if (model_->subtitle() != shownSubtitle_) {
        shownSubtitle_ = model_->subtitle();
        setMarkdownText(subtitle_, QString::fromStdString(shownSubtitle_));
        subtitle_->setVisible(!shownSubtitle_.empty());
    }
    using Footer = StreamingRemediationModel::Footer;
    const Footer footer = model_->footer();
    // The visible footer's primary button is the default one: Return presses it.
    switch (footer) {
        case Footer::running: footer_->setCurrentWidget(runningFooter_); break;
        case Footer::canceling: footer_->setCurrentWidget(cancelingFooter_); break;
        case Footer::continueButton:
            footer_->setCurrentWidget(successFooter_);
            continue_->setDefault(true);
            break;
        case Footer::followUp:
            footer_->setCurrentWidget(followUpFooter_);
            followUpFooter_->setEnabled(!model_->zshrcApplying());
            apply_->setDefault(true);
            break;
        case Footer::failure:
            footer_->setCurrentWidget(failureFooter_);
            tryAgain_->setDefault(true);
            break;
    }
    const QString title = QString::fromStdString(model_->title());
    if (title_->text() != title) {
        title_->setText(title);
        title_->setAccessibleName(title);
        window()->setWindowTitle(title);
    }
    const std::string status = model_->failureStatus();
    status_->setText(QString::fromStdString(status));
    status_->setAccessibleName(status_->text());
    status_->setVisible(!status.empty());
    if (const auto retry = model_->lastRetryLine()) {
        retryLine_->setText(QString::fromStdString(*retry));
        retryLine_->setAccessibleName(retryLine_->text());
        retryLine_->show();
    }
    const auto& preview = model_->zshrcPreview();
    card_->setVisible(model_->followUpPending());
    if (model_->followUpPending() && preview) {
        setMarkdownText(cardIntro_, QString::fromStdString(model_->followUpIntro()));
        setMarkdownText(cardBackup_, QString::fromStdString(model_->followUpBackup()));
        QStringList added;
        for (const std::string& line : preview->linesAdded) added << QString::fromStdString(line);
        cardLines_->setText(added.join(QLatin1Char('\n')));
        cardError_->setText(QString::fromStdString(model_->zshrcError().value_or(std::string())));
        cardError_->setVisible(model_->zshrcError().has_value());
    }
}

}  // namespace lumo::ui
