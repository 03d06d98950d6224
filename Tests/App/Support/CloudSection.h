#pragma once

// The iCloud section over a fake machine whose iCloud Drive holds two copies of a report, a clip
// whose other copy stays on the Mac, and two placeholders (sparse files) big enough to be listed,
// with helpers that read its header and footer and run cleanups through the real engine.

#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>

#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "QuandrilApp/ICloud/CloudConfirmSheet.h"
#include "QuandrilApp/ICloud/ICloudResults.h"
#include "QuandrilApp/ICloud/ICloudView.h"
#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/PreferenceKeys.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "Support/ServicesFixture.h"

namespace Quandril::AppTesting::CloudSection {

using namespace Quandril::App;
using Footer = CloudResultsLogic::Footer;

inline const std::string cloud = "~/Library/Mobile Documents/com~apple~CloudDocs";
inline const std::string report = cloud + "/Taxes/Report.pdf";
inline const std::string reportCopy = cloud + "/Old/Report copy.pdf";
inline const std::string clip = cloud + "/Photos/Summer/clip.mov";
inline const std::string beach = cloud + "/Videos/Été à la plage.mov"; // a placeholder
inline const std::string image = cloud + "/Backups/Disk image.dmg";    // a placeholder
inline const QString stopped = QStringLiteral("Stopped before this one; it's still in iCloud.");

// The section over the fake machine; its drives as "name@path", each 1 TB with 400 GB free.
struct Section {
    explicit Section(const QStringList& drives = { "Backup@/Volumes/Backup" }, bool withFiles = true)
    {
        for (const auto& entry : drives) {
            const auto at = entry.lastIndexOf('@');
            f.machine().drive(entry.left(at).toStdString(), entry.mid(at + 1).toStdString(), 1'000'000'000'000,
                              400'000'000'000);
        }
        if (withFiles) {
            f.machine().file(report, 3000).file(reportCopy, 3000).file(clip, 6000).file("~/Movies/other.mov", 6000);
            f.machine().sparse(beach, 900'000).sparse(image, 400'000);
            f.machine().modified(report, TimePoint(std::chrono::seconds(1'600'000'000)));
            f.machine().modified(reportCopy, TimePoint(std::chrono::seconds(1'650'000'000)));
        }
        // Thresholds scaled to the fixture's small files.
        f.modelFixture.engine->onScanCloud = [](const Mac& mac) {
            return ICloud::scan(mac, std::nullopt, 100, 50'000, 5'000);
        };
    }

    Model& model() { return f.services().model; }
    ScriptedEngine& engine() { return *f.modelFixture.engine; }
    std::string at(const std::string& display) { return f.machine().at(display); }
    std::string id(const std::string& display) { return ICloud::itemID(at(display)); }

    // The section with iCloud cleanup on, shown and settled.
    ICloudResults& shown()
    {
        model().preferences().setBoolean(Keys::icloudEnabled, true);
        view = std::make_unique<ICloudView>(model());
        view->resize(820, 640);
        view->show();
        [&] { QVERIFY(f.settle()); }();
        return *view->results();
    }

    ServicesFixture f;
    std::unique_ptr<ICloudView> view;
};

// A door an engine thread waits at until the test opens it; open when it goes.
struct Gate {
    std::promise<void> opened;
    std::shared_future<void> waited = opened.get_future().share();
    bool isOpen = false;
    void open()
    {
        if (!std::exchange(isOpen, true))
            opened.set_value();
    }
    ~Gate() { open(); }
};

inline QString footerOf(const ICloudResults& results)
{
    switch (results.footerShown()) {
    case Footer::working:
        return "working: " + results.progressText() + (results.stopButton()->isEnabled() ? "" : " (stop disabled)");
    case Footer::plugIn:
        return QStringLiteral("plug in");
    case Footer::choose: {
        const auto* park = results.parkPicker();
        return QStringLiteral("park=%1 chunk=%2 chosen=%3 selectNone=%4 start=%5")
            .arg(park->currentIndex() < 0 ? QStringLiteral("-") : park->currentText(),
                 results.chunkPicker()->currentText(), results.chosenText(),
                 QString::number(results.selectNoneButton()->isVisibleTo(&results)),
                 QString::number(results.startButton()->isEnabled()));
    }
    }
    return {};
}

inline QString headerOf(const ICloudResults& results)
{
    const auto* scan = results.scanButton();
    return QStringLiteral("%1 %2 turnOff=%3")
        .arg(scan->text().isEmpty() ? QStringLiteral("(busy)") : scan->text(), QString::number(scan->isEnabled()),
             QString::number(results.turnOffButton()->isEnabled()));
}

// The results run through the real engine, with the options the model built, each progress line
// also kept (and passed to `eachLine`, which may hold the engine).
inline void cleanThroughTheEngine(Section& s, std::vector<std::string>& lines,
                                  std::function<void(const std::string&)> eachLine = {})
{
    s.engine().onCleanCloud = [&s, &lines, eachLine](const std::vector<std::string>& ids, const CloudScan& scan,
                                                     const ICloud::Progress& progress, const ICloud::Stop& stop) {
        const CloudOptions options = *s.engine().calls(EngineCall::cleanCloud).back().cloudOptions;
        return ICloud::clean(
            ids, scan, s.model().mac(), options,
            [&](const std::string& line) {
                lines.push_back(line);
                progress(line);
                if (eachLine)
                    eachLine(line);
            },
            stop);
    };
}

// Picks the entry as the user would.
inline void pick(QComboBox* picker, int index)
{
    picker->setCurrentIndex(index);
    emit picker->activated(index);
}

// Starts a run of what is chosen, agreeing to the cautions.
inline void startAgreed(ICloudResults& results)
{
    results.startButton()->click();
    results.sheet()->agreement()->click();
    results.sheet()->startButton()->click();
}

} // namespace Quandril::AppTesting::CloudSection
