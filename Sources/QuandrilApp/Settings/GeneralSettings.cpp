#include "QuandrilApp/Settings/GeneralSettings.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "QuandrilApp/Model/AppSettings.h"
#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/LoginItem.h"
#include "QuandrilApp/Platform/Preferences.h"

namespace Quandril::App {

using namespace SettingsUi;

namespace {

QString label(GaugeStyle style)
{
    switch (style) {
    case GaugeStyle::bar:
        return QStringLiteral("A bar, filling as space is used");
    case GaugeStyle::percent:
        return QStringLiteral("A percentage");
    case GaugeStyle::icon:
        return QStringLiteral("Just the icon (plain until space is short)");
    }
    return {};
}

QString label(FreeSpaceSource source)
{
    switch (source) {
    case FreeSpaceSource::finder:
        return QStringLiteral("Finder's number (counts space macOS can reclaim)");
    case FreeSpaceSource::strict:
        return QStringLiteral("df's strict number (only what's truly empty)");
    }
    return {};
}

QString label(SizeUnits units)
{
    switch (units) {
    case SizeUnits::decimal:
        return QStringLiteral("Decimal (GB, as Finder shows them)");
    case SizeUnits::binary:
        return QStringLiteral("Binary (GiB, 1024-based)");
    }
    return {};
}

// A pop-up of every case of an enumeration, bound to its key; an unknown text shows the first case.
template <typename Cases>
QComboBox* casePicker(const Cases& cases, Model& model, const QString& key)
{
    auto* picker = new QComboBox;
    for (const auto value : cases)
        picker->addItem(label(value), rawValue(value));
    bindChoice(picker, model, key, 0);
    return picker;
}

} // namespace

GeneralSettings::GeneralSettings(AppServices& services, QWidget* parent)
    : SettingsForm(parent)
    , services_(services)
{
    Preferences& preferences = services.preferences;

    SettingsSection* login = addSection();
    launchAtLogin_ = new QCheckBox(QStringLiteral("Launch Gorrin at login"));
    launchAtLogin_->setChecked(services.loginItem.isEnabled());
    login->addRow(launchAtLogin_);
    launchError_ = SettingsUi::label({}, TextStyle::caption, Tone::orange);
    launchError_->hide();
    login->addRow(launchError_);
    connect(launchAtLogin_, &QCheckBox::clicked, this, &GeneralSettings::setLaunchAtLogin);

    SettingsSection* gauge = addSection(QStringLiteral("Menu bar gauge"));
    auto* radios = new QWidget;
    auto* column = new QVBoxLayout(radios);
    column->setContentsMargins(0, 0, 0, 0);
    auto* group = new QButtonGroup(radios);
    for (const auto style : allGaugeStyles) {
        auto* radio = new QRadioButton(label(style));
        radio->setProperty("value", rawValue(style));
        group->addButton(radio);
        column->addWidget(radio);
    }
    const auto showStyle = [group, &preferences] {
        const QString chosen = rawValue(AppFormat::gaugeStyle(preferences));
        for (QAbstractButton* radio : group->buttons()) {
            const QSignalBlocker blocker(radio);
            radio->setChecked(radio->property("value").toString() == chosen);
        }
    };
    showStyle();
    connect(group, &QButtonGroup::buttonClicked, this, [&preferences](QAbstractButton* radio) {
        preferences.setString(QString(Keys::gaugeStyle), radio->property("value").toString());
    });
    connect(&services.model, &Model::preferenceChanged, group, [showStyle](const QString& key) {
        if (key == Keys::gaugeStyle)
            showStyle();
    });
    auto* shows = new QWidget;
    auto* showsRow = new QHBoxLayout(shows);
    showsRow->setContentsMargins(0, 0, 0, 0);
    showsRow->addWidget(SettingsUi::label(QStringLiteral("Shows"), TextStyle::body, {}, false), 0, Qt::AlignTop);
    showsRow->addStretch(1);
    showsRow->addWidget(radios);
    gauge->addRow(shows);

    SettingsSection* free = addSection(QStringLiteral("Free space"));
    free->addRow(labelled(QStringLiteral("Count it as"),
                          casePicker(allFreeSpaceSources, services.model, QString(Keys::freeSpaceSource))));
    free->addRow(labelled(QStringLiteral("Units"), casePicker(allSizeUnits, services.model, QString(Keys::sizeUnits))));
}

void GeneralSettings::setLaunchAtLogin(bool on)
{
    LoginItem& item = services_.loginItem;
    const std::optional<QString> failure = on ? item.register_() : item.unregister();
    if (!failure) {
        launchError_->hide();
        return;
    }
    // Show what is really registered; the toggle moves without asking for a change again.
    {
        const QSignalBlocker blocker(launchAtLogin_);
        launchAtLogin_->setChecked(item.isEnabled());
    }
    launchError_->setText(QStringLiteral("Couldn't change that: ") + *failure);
    launchError_->show();
}

} // namespace Quandril::App
