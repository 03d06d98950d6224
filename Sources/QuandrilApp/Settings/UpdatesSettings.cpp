#include "QuandrilApp/Settings/UpdatesSettings.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "QuandrilApp/Platform/AppInfo.h"
#include "QuandrilApp/Platform/PreferenceKeys.h"
#include "QuandrilApp/Platform/UrlOpener.h"

namespace Quandril::App {

using namespace SettingsUi;

UpdatesSettings::UpdatesSettings(AppServices& services, QWidget* parent)
    : SettingsForm(parent)
    , services_(services)
{
    SettingsSection* daily = addSection();
    auto* toggle = new QCheckBox(QStringLiteral("Check for updates once a day"));
    bindToggle(toggle, services.model, QString(Keys::autoCheckForUpdates));
    daily->addRow(toggle);
    daily->addRow(
        note(QStringLiteral("Off by default, as part of Gorrin's no-network rule (Settings → Privacy). Checking "
                            "only ever reads one small file; it never sends anything about you or your Mac.")));

    section_ = addSection();
    auto* buttonRow = new QWidget;
    auto* row = new QHBoxLayout(buttonRow);
    row->setContentsMargins(0, 0, 0, 0);
    checkButton_ = new QPushButton(QStringLiteral("Check Now"));
    spinner_ = new QProgressBar;
    spinner_->setRange(0, 0);
    spinner_->setTextVisible(false);
    spinner_->setFixedSize(48, 8);
    row->addWidget(checkButton_);
    row->addWidget(spinner_);
    row->addStretch(1);
    section_->addRow(buttonRow);
    section_->addRow(note(QStringLiteral("This version: ") + current()));
    connect(checkButton_, &QPushButton::clicked, this, &UpdatesSettings::checkNow);
    showChecking();
}

QString UpdatesSettings::current()
{
    const QString version = AppInfo::version();
    return version.isEmpty() ? QStringLiteral("0.0.0") : version;
}

void UpdatesSettings::checkNow()
{
    if (checking_)
        return;
    checking_ = true;
    showChecking();
    // The pane is the answer's context: once the pane is gone, the answer goes nowhere.
    UpdateCheck::run(current(), services_.updates, this, [this](const UpdateCheck::Result& result) {
        result_ = result;
        checking_ = false;
        showResult();
        showChecking();
    });
}

void UpdatesSettings::showChecking()
{
    checkButton_->setEnabled(!checking_);
    spinner_->setVisible(checking_);
}

void UpdatesSettings::showResult()
{
    if (resultView_) {
        resultView_->hide();
        resultView_->deleteLater();
        resultView_ = nullptr;
    }
    if (!result_)
        return;
    switch (result_->kind) {
    case UpdateCheck::Result::Kind::upToDate:
        resultView_ = symbolLine(QStringLiteral("checkmark.circle"), QStringLiteral("You're up to date."),
                                 TextStyle::body, Tone::secondary);
        break;
    case UpdateCheck::Result::Kind::failed:
        resultView_ = symbolLine(QStringLiteral("exclamationmark.triangle"), result_->message, TextStyle::caption,
                                 Tone::orange);
        break;
    case UpdateCheck::Result::Kind::newer: {
        resultView_ = new QWidget;
        auto* column = new QVBoxLayout(resultView_);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(4);
        column->addWidget(symbolLine(QStringLiteral("arrow.up.circle.fill"),
                                     QStringLiteral("Gorrin ") + result_->version + QStringLiteral(" is out."),
                                     TextStyle::body, Tone::accent));
        if (result_->notes)
            column->addWidget(note(*result_->notes));
        QPushButton* open = Look::linkButton(QStringLiteral("Open the download page"));
        // Only an https page with a host opens, whatever the file named.
        connect(open, &QPushButton::clicked, this, [this, page = result_->url] { services_.urls.open(page); });
        column->addWidget(open);
        break;
    }
    }
    section_->addRow(resultView_);
}

} // namespace Quandril::App
