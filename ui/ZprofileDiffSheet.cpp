#include "ZprofileDiffSheet.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QVBoxLayout>

#include "Style.h"

namespace lumo::ui {

ZprofileDiffSheet::ZprofileDiffSheet(const Remediation& remediation, const UIEnvironment& environment,
                                     RemediationFinish onFinish, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("zprofile-diff-sheet"));
    model_ = std::make_unique<ZprofileDiffModel>(remediation, environment.services.fs,
                                                 environment.telemetry ? *environment.telemetry : silentTelemetry(),
                                                 std::move(onFinish));
    model_->setOnChange([this] { refresh(); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 22, 24, 18);
    layout->setSpacing(10);
    QLabel* title = markdownLabel(QString::fromUtf8(ZprofileDiffModel::kTitle), TextStyle::headline);
    title->setFont(sheetTitleFont());
    identify(title, QStringLiteral("zprofile-title"), QStringLiteral("Set JAVA_HOME in ~/.zprofile"));
    layout->addWidget(title);
    layout->addWidget(markdownLabel(QString::fromUtf8(ZprofileDiffModel::kExplainer), TextStyle::callout, true));

    status_ = markdownLabel(QString(), TextStyle::callout);
    makeSelectable(status_);
    identify(status_, QStringLiteral("zprofile-status"));
    layout->addWidget(status_);
    backup_ = markdownLabel(QString(), TextStyle::caption, true);
    identify(backup_, QStringLiteral("zprofile-backup"));
    layout->addWidget(backup_);

    diff_ = new QPlainTextEdit;
    identify(diff_, QStringLiteral("zprofile-diff"), QStringLiteral("Changes"));
    diff_->setReadOnly(true);
    diff_->setLineWrapMode(QPlainTextEdit::NoWrap);
    diff_->setFont(monospacedFont(11));
    diff_->setStyleSheet(
        QStringLiteral("QPlainTextEdit { background: white; border: 1px solid rgba(0,0,0,0.12);"
                       " border-radius: 6px; padding: 4px; }"));
    layout->addWidget(diff_, 1);

    toggle_ = button(QString(), ButtonStyle::link);
    toggle_->setFont(textFont(TextStyle::callout));
    identify(toggle_, QStringLiteral("zprofile-toggle-full-file"));
    connect(toggle_, &QPushButton::clicked, this, [this] { model_->toggleFullFile(); });
    layout->addWidget(toggle_, 0, Qt::AlignLeft);

    error_ = label(QString(), TextStyle::callout);
    setTextColor(error_, errorColor());
    makeSelectable(error_);
    identify(error_, QStringLiteral("zprofile-error"));
    layout->addWidget(error_);

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

    model_->load();
    refresh();
}

void ZprofileDiffSheet::refresh() {
    const auto& preview = model_->preview();
    const bool loadFailed = model_->loadError().has_value();
    const bool alreadySet = preview && preview->alreadySet;
    const bool showDiff = preview && !alreadySet;

    if (loadFailed) {
        setMarkdownText(status_, QString::fromStdString(model_->loadErrorText()));
    } else if (alreadySet) {
        setMarkdownText(status_, QString::fromUtf8(ZprofileDiffModel::kAlreadySet));
    } else if (preview && preview->wasCreated) {
        setMarkdownText(status_, QStringLiteral("Creating `~/.zprofile` (didn't exist before)."));
    } else {
        status_->clear();
    }
    status_->setVisible(!status_->text().isEmpty());
    backup_->setVisible(showDiff);
    if (showDiff)
        setMarkdownText(backup_, QStringLiteral("Backup: `%1`").arg(QString::fromStdString(preview->backupPath)));

    diff_->setVisible(showDiff);
    toggle_->setVisible(showDiff);
    if (showDiff) {
        toggle_->setText(QString::fromStdString(model_->toggleTitle()));
        diff_->clear();
        QTextCursor cursor(diff_->document());
        QTextCharFormat plain;
        QTextCharFormat added;
        added.setForeground(QColor(20, 120, 40));
        added.setBackground(QColor(52, 199, 89, 40));
        bool first = true;
        for (const auto& line : model_->diffLines()) {
            if (!first) cursor.insertBlock();
            first = false;
            cursor.insertText(QString::fromStdString(line.text), line.added ? added : plain);
        }
    }
    error_->setVisible(model_->applyError().has_value());
    error_->setText(QString::fromStdString(model_->applyError().value_or(std::string())));

    cancel_->setVisible(!loadFailed && !model_->didApply() && !alreadySet);
    apply_->setVisible(showDiff && !model_->didApply());
    continue_->setVisible(alreadySet || model_->didApply());
    close_->setVisible(loadFailed);
    if (continue_->isVisible()) continue_->setDefault(true);
}

}  // namespace lumo::ui
