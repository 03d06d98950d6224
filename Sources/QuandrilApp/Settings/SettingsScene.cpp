#include "QuandrilApp/Settings/SettingsScene.h"

#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <array>

#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "QuandrilApp/Platform/Symbols.h"
#include "QuandrilApp/Settings/AdvancedSettings.h"
#include "QuandrilApp/Settings/AutopilotSettings.h"
#include "QuandrilApp/Settings/DrivesSettings.h"
#include "QuandrilApp/Settings/GeneralSettings.h"
#include "QuandrilApp/Settings/GoalsSettings.h"
#include "QuandrilApp/Settings/ICloudSettingsTab.h"
#include "QuandrilApp/Settings/NotificationsSettings.h"
#include "QuandrilApp/Settings/PrivacySettings.h"
#include "QuandrilApp/Settings/RulesSettings.h"
#include "QuandrilApp/Settings/SettingsForm.h"
#include "QuandrilApp/Settings/UpdatesSettings.h"

namespace Quandril::App {

namespace {

constexpr int paneRole = Qt::UserRole;
constexpr QSize defaultSize(720, 540);

// A named tile colour ("gray", "blue", "purple", "red", "green", "cyan", "teal"); gray otherwise.
QColor tileFill(QStringView name)
{
    static constexpr std::array<std::pair<QStringView, QRgb>, 7> colors { {
        { u"gray", qRgb(0x8E, 0x8E, 0x93) },
        { u"blue", qRgb(0x0A, 0x84, 0xFF) },
        { u"purple", qRgb(0xAF, 0x52, 0xDE) },
        { u"red", qRgb(0xFF, 0x3B, 0x30) },
        { u"green", qRgb(0x34, 0xC7, 0x59) },
        { u"cyan", qRgb(0x32, 0xAD, 0xE6) },
        { u"teal", qRgb(0x30, 0xB0, 0xC7) },
    } };
    for (const auto& [known, rgb] : colors)
        if (known == name)
            return QColor(rgb);
    return QColor(colors[0].second);
}

// A list row's tile: the symbol in white on a rounded square (20 × 20, corner radius 5) filled
// with a gradient of the named colour.
QPixmap tile(QStringView symbol, QStringView color, qreal devicePixelRatio)
{
    constexpr int side = 20;
    QPixmap pixmap(QSize(side, side) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor base = tileFill(color);
    QLinearGradient gradient(0, 0, 0, side);
    gradient.setColorAt(0, base.lighter(118));
    gradient.setColorAt(1, base);
    QPainterPath square;
    square.addRoundedRect(QRectF(0, 0, side, side), 5, 5);
    painter.fillPath(square, gradient);
    // The symbol at about the size of an 11-point glyph.
    Symbols::paintDrawing(painter, QRectF(4, 4, 12, 12), symbol, Qt::white);
    return pixmap;
}

} // namespace

SettingsScene::SettingsScene(AppServices& services, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , services_(services)
{
    setWindowTitle(QStringLiteral("Settings"));
    setFixedSize(defaultSize);

    auto* columns = new QHBoxLayout(this);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(0);

    list_ = new QListWidget(this);
    list_->setFixedWidth(190);
    list_->setIconSize(QSize(20, 20));
    list_->setFrameShape(QFrame::NoFrame);
    list_->setSpacing(1);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QPalette sidebar = list_->palette();
    sidebar.setColor(QPalette::Base, sidebar.color(QPalette::Window).darker(104));
    list_->setPalette(sidebar);
    const qreal ratio = devicePixelRatioF();
    for (const auto& group : settingsPaneGroups()) {
        // Groups have no titles: a gap sets them apart (and the first from the window's edge).
        auto* gap = new QListWidgetItem(list_);
        gap->setFlags(Qt::NoItemFlags);
        gap->setSizeHint(QSize(0, 8));
        for (const SettingsPane pane : group) {
            auto* row = new QListWidgetItem(title(pane), list_);
            row->setData(paneRole, rawValue(pane));
            // The tile keeps its colours on the selected row too.
            const QPixmap picture = tile(symbol(pane), tileColor(pane), ratio);
            QIcon icon;
            icon.addPixmap(picture, QIcon::Normal);
            icon.addPixmap(picture, QIcon::Selected);
            row->setIcon(icon);
            row->setSizeHint(QSize(0, 28));
        }
    }
    columns->addWidget(list_);

    auto* detail = new QWidget(this);
    detail_ = new QVBoxLayout(detail);
    detail_->setContentsMargins(0, 14, 0, 0);
    detail_->setSpacing(6);
    title_ = SettingsUi::label({}, TextStyle::title2, {}, false);
    title_->setObjectName(QStringLiteral("paneTitle"));
    title_->setContentsMargins(20, 0, 20, 0);
    detail_->addWidget(title_);
    columns->addWidget(detail, 1);

    // A row the user picks stores its pane (also the row already marked when the stored text
    // names no pane); the window then follows the stored value.
    const auto choose = [this](QListWidgetItem* row) {
        const QString id = row ? row->data(paneRole).toString() : QString();
        if (!id.isEmpty() && services_.preferences.string(QString(Keys::settingsPane)) != id)
            services_.preferences.setString(QString(Keys::settingsPane), id);
    };
    connect(list_, &QListWidget::currentItemChanged, this, choose);
    connect(list_, &QListWidget::itemClicked, this, choose);
    connect(&services.model, &Model::preferenceChanged, this, [this](const QString& key) {
        // Queued: the change may come from inside the pane that is about to go (a reset).
        if (key == Keys::settingsPane && isVisible())
            QMetaObject::invokeMethod(
                this, [this] { showStored(false); }, Qt::QueuedConnection);
    });
}

void SettingsScene::bringForward()
{
    show();
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    raise();
    activateWindow();
}

QWidget* SettingsScene::makePane(SettingsPane pane, AppServices& services)
{
    switch (pane) {
    case SettingsPane::general:
        return new GeneralSettings(services);
    case SettingsPane::goals:
        return new GoalsSettings(services);
    case SettingsPane::autopilot:
        return new AutopilotSettings(services);
    case SettingsPane::notifications:
        return new NotificationsSettings(services);
    case SettingsPane::drives:
        return new DrivesSettings(services);
    case SettingsPane::rules:
        return new RulesSettings(services);
    case SettingsPane::icloud:
        return new ICloudSettingsTab(services);
    case SettingsPane::privacy:
        return new PrivacySettings(services);
    case SettingsPane::updates:
        return new UpdatesSettings(services);
    case SettingsPane::advanced:
        return new AdvancedSettings(services);
    }
    return new GeneralSettings(services);
}

bool SettingsScene::event(QEvent* event)
{
    const bool handled = QWidget::event(event);
    // The pane's rows change (a path added, a longer status): the width follows.
    if (event->type() == QEvent::LayoutRequest)
        fitWidth();
    return handled;
}

void SettingsScene::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!pane_)
        showStored(true);
}

void SettingsScene::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (!event->spontaneous()) {
        dropPane();
        widest_ = 0;
    }
}

void SettingsScene::showStored(bool rebuild)
{
    const SettingsPane pane = settingsPaneShown(services_.preferences.stringValue(QString(Keys::settingsPane)));
    {
        const QSignalBlocker blocker(list_);
        for (int i = 0; i < list_->count(); ++i)
            if (list_->item(i)->data(paneRole).toString() == rawValue(pane))
                list_->setCurrentRow(i);
    }
    if (pane_ && pane == shown_ && !rebuild)
        return;
    dropPane();
    shown_ = pane;
    title_->setText(title(pane));
    pane_ = makePane(pane, services_);
    detail_->addWidget(pane_, 1);
    fitWidth();
}

void SettingsScene::fitWidth()
{
    const int detail = pane_ ? qMax(pane_->minimumSizeHint().width(), title_->minimumSizeHint().width()) : 0;
    widest_ = std::max({ widest_, defaultSize.width(), list_->width() + detail });
    setFixedSize(widest_, defaultSize.height());
}

void SettingsScene::dropPane()
{
    if (!pane_)
        return;
    detail_->removeWidget(pane_);
    pane_->hide();
    pane_->deleteLater();
    pane_ = nullptr;
}

} // namespace Quandril::App
