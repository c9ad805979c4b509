#include "GoalPromptView.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "Style.h"

namespace lumo::ui {

GoalPromptView::GoalPromptView(const GoalPrompt& prompt, TelemetrySink& telemetry,
                               std::function<void(const std::string&)> onContinue, QWidget* parent)
    : QWidget(parent), model_(std::make_unique<GoalPromptModel>(prompt, telemetry, std::move(onContinue))) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);

    layout->addWidget(label(QString::fromStdString(prompt.question), TextStyle::headline));
    auto* subcopy = label(QString::fromStdString(prompt.subcopy), TextStyle::subheadline, true);
    layout->addWidget(subcopy);

    auto* options = new QVBoxLayout;
    options->setSpacing(6);
    options->setContentsMargins(0, 4, 0, 0);
    for (const GoalOption& option : prompt.options) {
        QPushButton* row = radioOption(QString::fromStdString(option.label),
                                       QStringLiteral("goal-option-") + QString::fromStdString(option.key));
        const std::string key = option.key;
        connect(row, &QPushButton::clicked, this, [this, key] { model_->select(key); });
        options->addWidget(row, 0, Qt::AlignLeft);
        options_[option.key] = row;
    }
    layout->addLayout(options);

    // The detail prompt and its field are built the first time an option
    // asks for them; most people never pick one that does.
    detailBox_ = new QWidget;
    auto* detailLayout = new QVBoxLayout(detailBox_);
    detailLayout->setContentsMargins(24, 0, 0, 0);
    detailLayout->setSpacing(4);
    layout->addWidget(detailBox_);

    layout->addSpacing(8);
    continue_ = button(QString::fromStdString(ProductConfig::current().copy.primaryCTA), ButtonStyle::prominent,
                       ControlSize::large);
    identify(continue_, QStringLiteral("goal-continue"), continue_->text());
    makePrimaryAction(continue_);
    connect(continue_, &QPushButton::clicked, this, [this] { model_->continueTapped(); });
    layout->addWidget(continue_, 0, Qt::AlignLeft);

    layout->addWidget(label(QStringLiteral("Nothing changes on your Mac until you review and approve it."),
                            TextStyle::footnote, true));

    model_->setOnChange([this] { refresh(); });
    refresh();
}

void GoalPromptView::buildDetailField() {
    detailPrompt_ = label(QString(), TextStyle::caption, true);
    detailBox_->layout()->addWidget(detailPrompt_);
    detailField_ = new QLineEdit;
    detailField_->setFont(textFont(TextStyle::body));
    detailField_->setMaximumWidth(360);
    detailField_->setMinimumHeight(24);
    identify(detailField_, QStringLiteral("goal-detail-field"));
    connect(detailField_, &QLineEdit::textEdited, this,
            [this](const QString& text) { model_->setDetail(text.toStdString()); });
    detailBox_->layout()->addWidget(detailField_);
}

void GoalPromptView::refresh() {
    for (const auto& [key, row] : options_) setRadioSelected(row, model_->selectedKey() == key);
    const auto prompt = model_->detailPrompt();
    if (prompt && !detailField_) buildDetailField();
    detailBox_->setVisible(prompt.has_value());
    if (prompt) {
        const QString text = QString::fromStdString(*prompt);
        detailPrompt_->setText(text);
        detailField_->setPlaceholderText(text);
        detailField_->setAccessibleName(text);
    }
    const QString detail = QString::fromStdString(model_->detail());
    if (detailField_ && detailField_->text() != detail) {
        const QSignalBlocker blocker(detailField_);
        detailField_->setText(detail);
    }
    continue_->setEnabled(model_->canContinue());
}

}  // namespace lumo::ui
