// LumoRootView: the root of the window. The consent gate (read once), then
// the navigation stack with the welcome screen at its root, and the start-up
// task that profiles the Mac once in the background and reports the launch.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "UIEnvironment.h"

class QPushButton;
class QStackedWidget;

namespace lumo::ui {

class LumoRootView : public QWidget {
    Q_OBJECT
public:
    struct Options {
        AppServices services;
        TelemetrySink* telemetry = nullptr;
        URLOpener openURL = openInBrowser;
        // A profile computed up front (the simulated Mac), if any.
        std::optional<SystemProfile> initialProfile;
        // Builds the start-up profile; runs on a worker thread. Defaults to
        // the system profiler over the services.
        std::function<SystemProfile()> profileMachine;
        // Shown as a badge in the top bar when not empty.
        QString badge;
    };

    explicit LumoRootView(Options options, QWidget* parent = nullptr);
    ~LumoRootView() override;

    AppNavigation& navigation() { return navigation_; }
    ProfileStore& profileStore() { return profile_; }
    const UIEnvironment& environment() const { return environment_; }
    bool hasConsented() const { return hasConsented_; }

Q_SIGNALS:
    // The start-up task handed "app_launched" to telemetry.
    void launchRecorded();

private:
    void showNavigationStack();
    void runStartupTask();
    void recordLaunch();
    void syncPath();
    QWidget* makeDestination(const Screen& screen);

    AppNavigation navigation_;
    ProfileStore profile_;
    QtDelayScheduler scheduler_;
    ScoreCardSession scoreCards_;
    Options options_;
    UIEnvironment environment_;
    bool hasConsented_ = false;
    bool startupStarted_ = false;

    QStackedWidget* gate_ = nullptr;
    QStackedWidget* stack_ = nullptr;
    QPushButton* back_ = nullptr;
    QWidget* topBar_ = nullptr;
    std::vector<Screen> shownPath_;
    AppNavigation::ObserverID observer_ = 0;
};

}  // namespace lumo::ui
