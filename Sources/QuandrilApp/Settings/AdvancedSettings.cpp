#include "QuandrilApp/Settings/AdvancedSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFontDatabase>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "QuandrilApp/Platform/Reveal.h"
#include "QuandrilApp/Platform/Symbols.h"
#include "QuandrilCore/Cleaning/Cleaner.h"

namespace Quandril::App {

using namespace SettingsUi;

namespace {

const QString notFound = QStringLiteral("not found");

} // namespace

AdvancedSettings::AdvancedSettings(AppServices& services, QWidget* parent)
    : AdvancedSettings(services, resourceFolder(), parent)
{
}

AdvancedSettings::AdvancedSettings(AppServices& services, const QString& folder, QWidget* parent)
    : SettingsForm(parent)
    , services_(services)
    , cliPath_(cliPath(folder))
{
    SettingsSection* tool = addSection(QStringLiteral("The command-line tool"));
    QLabel* path = label(cliPath_, TextStyle::body);
    path->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    path->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    tool->addRow(path);
    QPushButton* revealTool = Look::linkButton(QStringLiteral("Reveal in Finder"));
    // "not found" is no place: nothing to show.
    revealTool->setEnabled(cliPath_ != notFound);
    connect(revealTool, &QPushButton::clicked, this, [this] {
        if (cliPath_ != notFound && QDir::isAbsolutePath(cliPath_))
            services_.reveal.reveal(cliPath_);
    });
    tool->addRow(revealTool);
    QLabel* about = note(QStringLiteral("Everything the app can do, `quandril` can do from a terminal — scan, plan, "
                                        "clean, undo — with --json for scripting."));
    about->setTextFormat(Qt::MarkdownText);
    tool->addRow(about);

    SettingsSection* history = addSection(QStringLiteral("History"));
    QPushButton* revealLogs = Look::linkButton(QStringLiteral("Reveal logs"));
    connect(revealLogs, &QPushButton::clicked, this, [this] {
        services_.reveal.reveal(QString::fromStdString(services_.model.mac().path(History::displayPath)));
    });
    history->addRow(revealLogs);

    SettingsSection* reset = addSection(QStringLiteral("Reset"));
    auto* resetButton = new QPushButton(QStringLiteral("Reset all settings…"));
    resetButton->setProperty("role", QStringLiteral("destructive"));
    QPalette red = resetButton->palette();
    red.setColor(QPalette::ButtonText, Symbols::toneColor(Tone::red, red));
    resetButton->setPalette(red);
    resetButton->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    connect(resetButton, &QPushButton::clicked, this, &AdvancedSettings::confirmReset);
    reset->addRow(resetButton);
    reset->addRow(note(QStringLiteral("Goals, the never-touch additions, autopilot, notifications — everything in "
                                      "Settings goes back to its defaults. History stays as it is.")));
}

QString AdvancedSettings::resourceFolder()
{
    if (!QCoreApplication::instance())
        return {};
    const QString programFolder = QCoreApplication::applicationDirPath();
    return programFolder.isEmpty() ? QString() : QDir::cleanPath(programFolder + QStringLiteral("/.."));
}

QString AdvancedSettings::cliPath(const QString& folder)
{
    return folder.isEmpty() ? notFound : folder + QStringLiteral("/engine/bin/quandril");
}

void AdvancedSettings::confirmReset()
{
    if (confirmation_)
        return;
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Reset all settings?"),
                                QStringLiteral("Reset all settings?"), QMessageBox::NoButton, this);
    box->setInformativeText(QStringLiteral("This clears everything in Settings and goes back to the defaults. It "
                                           "doesn't touch your Mac or anything already in History."));
    box->setTextFormat(Qt::PlainText);
    QPushButton* resetButton = box->addButton(QStringLiteral("Reset"), QMessageBox::DestructiveRole);
    QPushButton* cancelButton = box->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    // Return and Escape must never wipe the settings: only a click on "Reset" does.
    box->setDefaultButton(cancelButton);
    box->setEscapeButton(cancelButton);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(resetButton, &QPushButton::clicked, this, &AdvancedSettings::reset);
    confirmation_ = box;
    box->open();
}

void AdvancedSettings::reset()
{
    Model& model = services_.model;
    services_.preferences.reset();
    // The model reads its never-touch list only at start; its key is gone already.
    model.setExtraProtected({});
    // Goals and the other preferences the model derives from have gone back to their defaults.
    model.announceChange();
}

} // namespace Quandril::App
