// lumora-screenshots: renders every page and state of the journey's shell
// offscreen to PNG files, so a reviewer sees each page without clicking: once
// in the light appearance (OUTPUT_DIR/light) and once in the dark one
// (OUTPUT_DIR/dark).
//
//   QT_QPA_PLATFORM=offscreen lumora-screenshots OUTPUT_DIR
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdio>
#include <functional>
#include <memory>

#include "CompletionViews.h"
#include "JavaProduct.h"
#include "LumoRootView.h"
#include "Screenshots.h"
#include "Style.h"
#include "shell/Preferences.h"
#include "simulated/SimulatedServices.h"

namespace lumo::ui {

bool savePicture(QWidget& widget, const QString& directory, const QString& name) {
    const QString path = directory + QLatin1Char('/') + name + QStringLiteral(".png");
    if (!widget.grab().save(path)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

AppServices servicesFor(bool consented) {
    AppServices services;
    services.store = std::make_shared<InMemoryKeyValueStore>();
    services.isFixtureMode = true;
    if (consented) services.store->set(PreferenceValue(true), preference_keys::consented(ProductConfig::current()));
    return services;
}

LumoRootView::Options rootOptionsFor(bool consented) {
    LumoRootView::Options options;
    options.services = servicesFor(consented);
    options.telemetry = &silentTelemetry();
    options.openURL = [](const std::string&) {};
    return options;
}

}  // namespace lumo::ui

namespace {

using namespace lumo;
using namespace lumo::ui;

class ManualScheduler : public DelayScheduling {
public:
    void schedule(std::chrono::milliseconds, std::function<void()> work) override {
        pending.push_back(std::move(work));
    }
    std::vector<std::function<void()>> pending;
};

void settle() {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

void click(QWidget& root, const char* identifier) {
    auto* target = root.findChild<QPushButton*>(QString::fromLatin1(identifier));
    if (!target) {
        std::fprintf(stderr, "no button %s\n", identifier);
        std::exit(1);
    }
    target->click();
    settle();
}

void type(QWidget& root, const char* identifier, const QString& text) {
    if (auto* field = root.findChild<QLineEdit*>(QString::fromLatin1(identifier))) {
        field->setFocus();
        field->insert(text);
    } else if (auto* editor = root.findChild<QPlainTextEdit*>(QString::fromLatin1(identifier))) {
        editor->setPlainText(text);
    }
    settle();
}

// Prepares a root by opening `screen` over the welcome screen, then clicking
// `thenClick` if given.
std::function<void(LumoRootView&)> showing(const Screen& screen, const char* thenClick = nullptr) {
    return [screen, thenClick](LumoRootView& root) {
        root.navigation().push(screen);
        if (thenClick) {
            settle();
            click(root, thenClick);
        }
    };
}

int failures = 0;

void save(QWidget& widget, const QString& directory, const QString& name) {
    settle();
    if (!savePicture(widget, directory, name)) ++failures;
}

void shootRoot(const QString& directory, const QString& name, const ProductConfig& product, bool consented,
               const std::function<void(LumoRootView&)>& prepare, const QString& badge = {}) {
    ProductConfig::setCurrent(product);
    LumoRootView::Options options = rootOptionsFor(consented);
    options.badge = badge;
    LumoRootView root(options);
    root.resize(720, 720);
    root.show();
    settle();
    if (prepare) prepare(root);
    save(root, directory, name);
}

}  // namespace

namespace {

void shootShellPages(const QString& directory) {
    const ProductConfig& java = lumoraJava();
    const ProductConfig& fixwell = ProductConfig::fixwellJava();

    shootRoot(directory, "01-consent", java, false, nullptr);
    shootRoot(directory, "02-consent-simulated-badge", java, false, nullptr,
              QStringLiteral("Simulated Mac · no-jdk.json"));
    shootRoot(directory, "03-welcome-goal-prompt", java, true, nullptr);
    shootRoot(directory, "04-welcome-goal-selected", java, true,
              [](LumoRootView& root) { click(root, "goal-option-gaming"); });
    shootRoot(directory, "05-welcome-goal-detail", java, true, [](LumoRootView& root) {
        click(root, "goal-option-work_app");
        type(root, "goal-detail-field", QStringLiteral("IntelliJ IDEA for my job"));
    });
    shootRoot(directory, "06-welcome-start-button-fixwell", fixwell, true, nullptr);
    {
        // A wide window keeps the text at its readable width, centred.
        ProductConfig::setCurrent(java);
        LumoRootView root(rootOptionsFor(true));
        root.resize(1280, 720);
        root.show();
        save(root, directory, QStringLiteral("06b-welcome-wide-window"));
    }
    shootRoot(directory, "07-diagnose-empty-services", java, true, showing(Screen::diagnose()));
    shootRoot(directory, "08-next-step", java, true, showing(Screen::nextStep()));
    shootRoot(directory, "09-next-step-selected", java, true,
              showing(Screen::nextStep(), "next-step-option-goal_blocked"));
    shootRoot(directory, "10-offer-content", java, true, showing(Screen::contentOffer("app_game_help")));
    shootRoot(directory, "11-offer-content-unknown", java, true, showing(Screen::contentOffer("not_in_catalogue")));
    shootRoot(directory, "12-offer-guided-help", java, true, showing(Screen::guidedHelpOffer()));
    shootRoot(directory, "13-offer-guided-help-unavailable", java, true,
              showing(Screen::guidedHelpOffer(), "offer-guided_help_plan-primary"));
    shootRoot(directory, "14-offer-ai-coding", java, true, showing(Screen::aiCodingOffer()));
    const auto completion = [&](const QString& name, const ProductConfig& product, CompletionSurface surface,
                                const std::function<void(QWidget&)>& prepare) {
        ProductConfig::setCurrent(product);
        AppNavigation navigation;
        QtDelayScheduler scheduler;
        UIEnvironment environment;
        environment.navigation = &navigation;
        environment.services = servicesFor(true);
        environment.telemetry = &silentTelemetry();
        environment.scheduler = &scheduler;
        environment.openURL = [](const std::string&) {};
        SimplifiedCompletionView page(
            surface, environment, [] {}, [] {});
        page.resize(720, 720);
        page.show();
        settle();
        if (prepare) prepare(page);
        save(page, directory, name);
    };
    completion("16-completion-score-card", fixwell, CompletionSurface::promptPostFix, nullptr);
    completion("17-completion-scored", fixwell, CompletionSurface::promptPostFix, [](QWidget& page) {
        click(page, "nps-score-8");
        type(page, "nps-reason", QStringLiteral("It found my old Java and fixed JAVA_HOME."));
    });
    completion("18-completion-submitting", fixwell, CompletionSurface::promptModernHomeSet, [](QWidget& page) {
        click(page, "nps-score-8");
        click(page, "nps-submit");
    });
    completion("19-completion-after-submit", fixwell, CompletionSurface::promptNoErrorsFound, [](QWidget& page) {
        click(page, "nps-score-10");
        click(page, "nps-submit");
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 1700) QApplication::processEvents(QEventLoop::AllEvents, 50);
    });
    completion("20-completion-java-product-excluded", java, CompletionSurface::excluded, nullptr);

    // A host that keeps the card shows the thanks row.
    {
        ProductConfig::setCurrent(java);
        ManualScheduler scheduler;
        UIEnvironment environment;
        environment.services = servicesFor(true);
        environment.telemetry = &silentTelemetry();
        environment.scheduler = &scheduler;
        QWidget host;
        host.setObjectName(QStringLiteral("card-host"));
        auto* layout = new QVBoxLayout(&host);
        layout->setContentsMargins(32, 32, 32, 32);
        auto* card = new NPSFeedbackCard(environment, [] {});
        layout->addWidget(card);
        layout->addStretch(1);
        host.resize(720, 300);
        host.show();
        settle();
        click(host, "nps-score-9");
        click(host, "nps-submit");
        for (auto& work : scheduler.pending) work();
        save(host, directory, QStringLiteral("21-score-card-thanks"));
    }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    applyApplicationStyle();
    const QString base = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
    for (const bool dark : {false, true}) {
        // The system's appearance, as the platform hands it to the palette.
        QApplication::setPalette(fusionPalette(dark));
        const QString directory = base + (dark ? QStringLiteral("/dark") : QStringLiteral("/light"));
        QDir().mkpath(directory);
        shootShellPages(directory);
        failures += shootAuditPages(directory);
        failures += shootJourneyPages(directory);
    }
    return failures == 0 ? 0 : 1;
}
