// The views that close a pass through the journey: the score card, the
// build-intent prompt and the completion page.
#pragma once

#include <QPushButton>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "UIEnvironment.h"
#include "screens/NPSFeedbackModel.h"
#include "screens/SimplifiedCompletionModel.h"

class QPlainTextEdit;

namespace lumo::ui {

class StyledButton;

// The 0–10 recommendation-score card.
class NPSFeedbackCard : public QWidget {
    Q_OBJECT
public:
    NPSFeedbackCard(const UIEnvironment& environment, std::function<void()> onSubmitted, QWidget* parent = nullptr);

    NPSFeedbackModel& model() { return *model_; }
    bool isSubmitting() const { return model_->phase().kind == NPSFeedbackModel::Phase::Kind::submitting; }

private:
    void refresh();

    std::unique_ptr<NPSFeedbackModel> model_;
    std::vector<StyledButton*> scores_;
    QWidget* reasonBox_ = nullptr;
    QPlainTextEdit* reason_ = nullptr;
    QWidget* thanks_ = nullptr;
};

// "Done — back to home" (or `title`, when the page leads elsewhere): the
// page's primary action.
QPushButton* doneButton(const QString& identifier, const QString& title = QStringLiteral("Done — back to home"));

// The done button of a page with a score card: a score still being submitted
// is reported to the page's model before it leaves.
template <class PageModel>
QPushButton* doneButton(const QString& identifier, const NPSFeedbackCard* card, PageModel& model, QObject* context,
                        const QString& title = QStringLiteral("Done — back to home")) {
    QPushButton* done = doneButton(identifier, title);
    QObject::connect(done, &QPushButton::clicked, context, [card, &model] {
        if (card && card->isSubmitting()) model.npsSubmitting();
        model.doneTapped();
    });
    return done;
}

// "Want to build software on this Mac?" with "See recommendations →".
class BuildIntentPromptView : public QWidget {
    Q_OBJECT
public:
    explicit BuildIntentPromptView(std::function<void()> onSeeRecommendations, QWidget* parent = nullptr);
};

// "Java is working": the page at the end of the staged audit.
class SimplifiedCompletionView : public QWidget {
    Q_OBJECT
public:
    SimplifiedCompletionView(CompletionSurface surface, const UIEnvironment& environment,
                             std::function<void()> onSeeRecommendations, std::function<void()> onDone,
                             QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<SimplifiedCompletionModel> model_;
    NPSFeedbackCard* card_ = nullptr;
};

}  // namespace lumo::ui
