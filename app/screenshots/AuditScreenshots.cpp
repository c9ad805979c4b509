// The staged audit's pages for lumora-screenshots: each stage page in its
// states, the gate's completion page and the final report.
#include <QApplication>
#include <QPushButton>
#include <functional>

#include "JavaProduct.h"
#include "LumoRootView.h"
#include "Screenshots.h"

namespace lumo::ui {

namespace {

void settleAudit() {
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
        // Pages replaced by the flow go at once, not when an event loop runs.
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

SystemProfile macWith(Architecture architecture, int macOS, bool homebrew, bool tools, bool warp = false) {
    SystemProfile p;
    p.architecture = architecture;
    p.macosVersion = {macOS, 0, 0};
    p.shell = Shell::zsh();
    if (homebrew) p.homebrewPrefix = "/opt/homebrew/bin/brew";
    if (tools) p.xcodeCommandLineToolsPath = "/Library/Developer/CommandLineTools";
    p.terminals.warp = warp;
    return p;
}

}  // namespace

int shootAuditPages(const QString& directory) {
    int failures = 0;
    const auto shoot = [&](const char* name, const ProductConfig& product, const SystemProfile& profile,
                           AuditContext context, const std::function<void(LumoRootView&)>& prepare = {}) {
        ProductConfig::setCurrent(product);
        LumoRootView::Options options = rootOptionsFor(true);
        options.initialProfile = profile;
        LumoRootView root(options);
        root.resize(720, 720);
        root.show();
        settleAudit();
        root.navigation().push(Screen::audit(std::move(context)));
        settleAudit();
        if (prepare) prepare(root);
        settleAudit();
        if (!savePicture(root, directory, QString::fromLatin1(name))) ++failures;
    };
    const auto press = [](const char* identifier) {
        return [identifier](LumoRootView& root) {
            if (auto* target = root.findChild<QPushButton*>(QString::fromLatin1(identifier))) target->click();
            settleAudit();
        };
    };
    const ProductConfig& java = lumoraJava();
    const ProductConfig& fixwell = ProductConfig::fixwellJava();
    const AuditContext buildIntent{AuditEntry::buildIntent, CompletionSurface::excluded, std::nullopt};
    const AuditContext heuristic{AuditEntry::heuristic, CompletionSurface::promptPostFix, std::nullopt};

    shoot("30-audit-foundations-homebrew-missing", java, macWith(Architecture::appleSilicon, 14, false, false),
          buildIntent);
    shoot("31-audit-foundations-tools-missing", java, macWith(Architecture::intel, 13, true, false), buildIntent);
    shoot("32-audit-foundations-macos-behind", java, macWith(Architecture::appleSilicon, 14, true, true), buildIntent);
    shoot("33-audit-terminal", java, macWith(Architecture::appleSilicon, 26, true, true), buildIntent);
    shoot("34-audit-final-report", java, macWith(Architecture::appleSilicon, 26, false, true), buildIntent,
          [&](LumoRootView& root) {
              press("audit-stage-maybe-later")(root);
              press("audit-stage-skip")(root);
          });
    shoot("35-audit-final-report-all-installed-score-card", fixwell,
          macWith(Architecture::appleSilicon, 26, true, true, true), buildIntent);
    shoot("36-audit-gated-completion", fixwell, macWith(Architecture::intel, 14, false, false), heuristic);
    return failures;
}

}  // namespace lumo::ui
