#include "ZprofileDiffSheet.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QVBoxLayout>

#include "Style.h"
#include "VerifyViews.h"

namespace lumo::ui {

namespace {
QString joinedLines(const std::vector<std::string>& lines) {
    QStringList list;
    for (const auto& line : lines) list << QString::fromStdString(line);
    return list.join(QLatin1Char('\n'));
}
}  // namespace

ZprofileDiffSheet::ZprofileDiffSheet(const Remediation& remediation, const UIEnvironment& environment,
                                     RemediationFinish onFinish, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("zprofile-diff-sheet"));
    model_ = std::make_unique<ZprofileDiffModel>(remediation, environment.services,
                                                 environment.telemetry ? *environment.telemetry : silentTelemetry(),
                                                 std::move(onFinish), &background_);
    model_->setOnChange([this] { refresh(); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 22, 24, 18);
    layout->setSpacing(10);
    QLabel* title = markdownLabel(QString::fromStdString(model_->title()), TextStyle::headline);
    title->setFont(sheetTitleFont());
    identify(title, QStringLiteral("zprofile-title"), QStringLiteral("Set JAVA_HOME in ~/.zprofile"));
    layout->addWidget(title);
    explainer_ = markdownLabel(QString(), TextStyle::callout, true);
    identify(explainer_, QStringLiteral("zprofile-explainer"));
    layout->addWidget(explainer_);

    busy_ = new QWidget;
    auto* busyRow = new QHBoxLayout(busy_);
    busyRow->setContentsMargins(0, 0, 0, 0);
    busyRow->addWidget(busyIndicator(QStringLiteral("zprofile-busy"), QStringLiteral("Working")));
    busyText_ = label(QString(), TextStyle::callout, true);
    busyRow->addWidget(busyText_);
    busyRow->addStretch(1);
    layout->addWidget(busy_);

    status_ = markdownLabel(QString(), TextStyle::callout);
    makeSelectable(status_);
    identify(status_, QStringLiteral("zprofile-status"));
    layout->addWidget(status_);

    later_ = markdownLabel(QString(), TextStyle::callout);
    makeSelectable(later_);
    identify(later_, QStringLiteral("zprofile-later-files"));
    layout->addWidget(later_);
    commentOut_ = new QCheckBox;
    commentOut_->setFont(textFont(TextStyle::callout));
    identify(commentOut_, QStringLiteral("zprofile-comment-out"));
    connect(commentOut_, &QCheckBox::toggled, this, [this](bool on) { model_->setCommentOutLater(on); });
    layout->addWidget(commentOut_);

    hardLink_ = label(QString(), TextStyle::caption, true);
    makeSelectable(hardLink_);
    identify(hardLink_, QStringLiteral("zprofile-hard-link"));
    layout->addWidget(hardLink_);
    backup_ = markdownLabel(QString(), TextStyle::caption, true);
    makeSelectable(backup_);
    identify(backup_, QStringLiteral("zprofile-backup"));
    layout->addWidget(backup_);

    diff_ = new QPlainTextEdit;
    identify(diff_, QStringLiteral("zprofile-diff"), QStringLiteral("Changes"));
    diff_->setReadOnly(true);
    diff_->setLineWrapMode(QPlainTextEdit::NoWrap);
    diff_->setFont(monospacedFont(11));
    diff_->setStyleSheet(
        QStringLiteral("QPlainTextEdit { background: palette(base); border: 1px solid palette(mid);"
                       " border-radius: 6px; padding: 4px; }"));
    layout->addWidget(diff_, 1);

    toggle_ = button(QString(), ButtonStyle::link);
    identify(toggle_, QStringLiteral("zprofile-toggle-full-file"));
    connect(toggle_, &QPushButton::clicked, this, [this] { model_->toggleFullFile(); });
    layout->addWidget(toggle_, 0, Qt::AlignLeft);

    error_ = label(QString(), TextStyle::callout);
    setTextRole(error_, TextRole::error);
    makeSelectable(error_);
    identify(error_, QStringLiteral("zprofile-error"));
    layout->addWidget(error_);

    confirmation_ = label(QString(), TextStyle::callout);
    makeSelectable(confirmation_);
    identify(confirmation_, QStringLiteral("zprofile-confirmation"));
    layout->addWidget(confirmation_);

    // Without the diff (a read error, nothing to change) the text keeps its
    // height and the space goes above the buttons.
    layout->addStretch(0);

    auto* footer = new QHBoxLayout;
    footer->setSpacing(10);
    footer->addStretch(1);
    cancel_ = button(QStringLiteral("Cancel"), ButtonStyle::bordered, ControlSize::large);
    identify(cancel_, QStringLiteral("zprofile-cancel"), cancel_->text());
    connect(cancel_, &QPushButton::clicked, this, [this] { model_->cancel(); });
    apply_ = button(QStringLiteral("Apply"), ButtonStyle::prominent, ControlSize::large);
    identify(apply_, QStringLiteral("zprofile-apply"), apply_->text());
    connect(apply_, &QPushButton::clicked, this, [this] { model_->apply(); });
    continue_ = button(QStringLiteral("Continue to verify"), ButtonStyle::prominent, ControlSize::large);
    identify(continue_, QStringLiteral("zprofile-continue"), continue_->text());
    connect(continue_, &QPushButton::clicked, this, [this] { model_->continueToVerify(); });
    close_ = button(QStringLiteral("Close"), ButtonStyle::bordered, ControlSize::large);
    identify(close_, QStringLiteral("zprofile-close"), close_->text());
    connect(close_, &QPushButton::clicked, this, [this] { model_->closeAfterLoadError(); });
    for (QPushButton* action : {cancel_, apply_, continue_, close_}) footer->addWidget(action);
    layout->addLayout(footer);

    refresh();
    model_->load();
}

void ZprofileDiffSheet::refresh() {
    const auto& preview = model_->preview();
    const bool busy = model_->isBusy();
    const bool loadFailed = model_->loadError().has_value();
    const bool nothingToDo = model_->nothingToDo();
    const auto lines = model_->diffLines();
    const bool showDiff = preview && !lines.empty();

    setMarkdownText(explainer_, QString::fromStdString(model_->explainer()));
    busy_->setVisible(busy);
    busyText_->setText(QString::fromStdString(model_->busyText()));

    // A read error is an error, and looks like one.
    setTextRole(status_, loadFailed ? TextRole::error : TextRole::primary);
    const std::string status = loadFailed ? model_->loadErrorText() : model_->statusText();
    if (loadFailed) {
        status_->setTextFormat(Qt::PlainText);
        status_->setText(QString::fromStdString(status));
    } else {
        setMarkdownText(status_, QString::fromStdString(status));
    }
    status_->setVisible(!status.empty());

    const auto later = model_->laterFileTexts();
    setMarkdownText(later_, joinedLines(later).replace(QLatin1Char('\n'), QStringLiteral("\n\n")));
    later_->setVisible(!later.empty() && !model_->didApply());
    const std::string commentOut = model_->commentOutTitle();
    commentOut_->setText(QString::fromStdString(commentOut));
    {
        const QSignalBlocker quiet(commentOut_);
        commentOut_->setChecked(model_->commentOutLater());
    }
    commentOut_->setVisible(!commentOut.empty() && !model_->didApply());
    commentOut_->setEnabled(!busy);

    const std::string hardLink = model_->hardLinkText();
    hardLink_->setText(QString::fromStdString(hardLink));
    hardLink_->setVisible(showDiff && !hardLink.empty());
    const std::string backup = model_->backupText();
    backup_->setVisible(showDiff && !backup.empty());
    if (showDiff) setMarkdownText(backup_, QString::fromStdString(backup));

    diff_->setVisible(showDiff);
    toggle_->setVisible(showDiff && preview && !preview->profile.alreadySet);
    if (showDiff) {
        toggle_->setText(QString::fromStdString(model_->toggleTitle()));
        diff_->clear();
        QTextCursor cursor(diff_->document());
        QTextCharFormat plain;
        QTextCharFormat added;
        added.setForeground(QColor(20, 120, 40));
        added.setBackground(QColor(52, 199, 89, 40));
        QTextCharFormat removed;
        removed.setForeground(QColor(170, 30, 30));
        removed.setBackground(QColor(255, 59, 48, 35));
        QTextCharFormat heading;
        heading.setFontWeight(QFont::DemiBold);
        bool first = true;
        for (const auto& line : lines) {
            if (!first) cursor.insertBlock();
            first = false;
            const QTextCharFormat& format = line.heading   ? heading
                                            : line.added   ? added
                                            : line.removed ? removed
                                                           : plain;
            cursor.insertText(QString::fromStdString(line.text), format);
        }
    }
    const auto& applyError = model_->applyError();
    error_->setVisible(applyError.has_value());
    error_->setText(QString::fromStdString(applyError.value_or(std::string())));
    const auto confirmation = model_->confirmationLines();
    confirmation_->setText(joinedLines(confirmation));
    confirmation_->setVisible(model_->didApply() && !confirmation.empty());

    cancel_->setVisible(!loadFailed && !model_->didApply() && !nothingToDo);
    cancel_->setEnabled(!model_->isApplying());
    apply_->setVisible(preview && !nothingToDo && !model_->didApply());
    apply_->setEnabled(model_->canApply());
    continue_->setVisible(!busy && (nothingToDo || model_->didApply()));
    close_->setVisible(loadFailed && !busy);
    if (continue_->isVisible()) continue_->setDefault(true);
}

}  // namespace lumo::ui
