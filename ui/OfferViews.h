// The three offer screens over their models.
#pragma once

#include <QWidget>
#include <memory>

#include "UIEnvironment.h"
#include "screens/AICodingInterestModel.h"
#include "screens/ContentOfferModel.h"
#include "screens/GuidedHelpOfferModel.h"

namespace lumo::ui {

class ContentOfferView : public QWidget {
    Q_OBJECT
public:
    ContentOfferView(const std::string& offerID, const UIEnvironment& environment, QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<ContentOfferModel> model_;
};

class GuidedHelpOfferView : public QWidget {
    Q_OBJECT
public:
    explicit GuidedHelpOfferView(const UIEnvironment& environment, QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();

    std::unique_ptr<GuidedHelpOfferModel> model_;
    QWidget* offerButtons_ = nullptr;
    QWidget* unavailable_ = nullptr;
};

class AICodingInterestView : public QWidget {
    Q_OBJECT
public:
    explicit AICodingInterestView(const UIEnvironment& environment, QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<AICodingInterestModel> model_;
};

}  // namespace lumo::ui
