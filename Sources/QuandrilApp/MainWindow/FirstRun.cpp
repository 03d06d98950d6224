#include "QuandrilApp/MainWindow/FirstRun.h"

#include <QApplication>
#include <QDrag>
#include <QHBoxLayout>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

#include "QuandrilApp/Look/Look.h"
#include "QuandrilApp/Look/Mascot.h"
#include "QuandrilApp/MainWindow/Advisor.h"
#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/PreferenceKeys.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "QuandrilApp/Platform/UrlOpener.h"

namespace Quandril::App {

namespace {

constexpr int iconSide = 48;

// The app's icon; where the app has none, the mascot picture, which is the app's logo.
QPixmap appPicture(qreal ratio)
{
    const QSize size = QSize(iconSide, iconSide) * ratio;
    QPixmap picture;
    if (!QApplication::windowIcon().isNull())
        picture = QApplication::windowIcon().pixmap(size);
    if (picture.isNull()) {
        const QImage logo = GorrinImage::image(GorrinSlot::idle, false);
        if (!logo.isNull())
            picture = QPixmap::fromImage(logo.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    }
    if (picture.isNull())
        picture = QIcon::fromTheme(QStringLiteral("application-x-executable")).pixmap(size);
    picture.setDevicePixelRatio(ratio);
    return picture;
}

} // namespace

// ---- AppIconDrag ----

AppIconDrag::AppIconDrag(QWidget* parent)
    : QLabel(parent)
{
    setFixedSize(iconSide, iconSide);
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignCenter);
    setPixmap(appPicture(devicePixelRatioF()));
    setToolTip(QStringLiteral("Drag me into the Full Disk Access list"));
    setCursor(Qt::OpenHandCursor);
}

QMimeData* AppIconDrag::dragData()
{
    auto* data = new QMimeData;
    data->setUrls({ QUrl::fromLocalFile(QCoreApplication::applicationFilePath()) });
    return data;
}

void AppIconDrag::mousePressEvent(QMouseEvent* event)
{
    pressed_ = event->button() == Qt::LeftButton;
    pressedAt_ = event->position().toPoint();
    QLabel::mousePressEvent(event);
}

void AppIconDrag::mouseMoveEvent(QMouseEvent* event)
{
    if (!pressed_ || !(event->buttons() & Qt::LeftButton)
        || (event->position().toPoint() - pressedAt_).manhattanLength() < QApplication::startDragDistance()) {
        QLabel::mouseMoveEvent(event);
        return;
    }
    pressed_ = false;
    auto* drag = new QDrag(this);
    drag->setMimeData(dragData());
    if (!pixmap().isNull())
        drag->setPixmap(pixmap());
    drag->exec(Qt::CopyAction | Qt::LinkAction, Qt::LinkAction);
}

// ---- FirstRunSheet ----

FirstRunSheet::FirstRunSheet(AppServices& services, bool hasAccess, QWidget* parent)
    : QDialog(parent)
    , services_(services)
    , hasAccess_(hasAccess)
    , watch_(new QTimer(this))
    , mascotSlot_(new QVBoxLayout)
    , accessLabel_(new SymbolLabel(QString(), QStringLiteral("Full Disk Access"), this))
    , accessText_(Look::plainLabel(QString(), this, true))
    , grantRow_(new QWidget(this))
    , icon_(new AppIconDrag(grantRow_))
    , settings_(new QPushButton(QStringLiteral("Open Full Disk Access Settings…"), grantRow_))
    , start_(new QPushButton(QStringLiteral("Start"), this))
{
    setWindowModality(Qt::WindowModal);
    setWindowTitle(QStringLiteral("Welcome to Gorrin"));
    if (parent)
        parent->window()->installEventFilter(this);
    setFixedWidth(520);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(28, 28, 28, 28);
    column->setSpacing(18);
    mascotSlot_->setContentsMargins(0, 0, 0, 0);
    column->addLayout(mascotSlot_);

    auto* promise = new SymbolLabel(QStringLiteral("shield"),
                                    QStringLiteral(
                                        "Never: Photos, Mail, Messages, Keychains, or anything still running. "
                                        "iCloud only if you switch it on."),
                                    this, true);
    Look::setTextStyle(promise, TextStyle::callout);
    column->addWidget(promise);
    column->addWidget(Look::divider(this));

    auto* block = new QVBoxLayout;
    block->setSpacing(10);
    Look::setTextStyle(accessLabel_, TextStyle::headline);
    block->addWidget(accessLabel_);
    Look::setTextStyle(accessText_, TextStyle::callout);
    Look::setTone(accessText_, Tone::secondary);
    block->addWidget(accessText_);

    auto* grant = new QHBoxLayout(grantRow_);
    grant->setContentsMargins(0, 0, 0, 0);
    grant->setSpacing(14);
    grant->addWidget(icon_, 0, Qt::AlignVCenter);
    auto* settingsColumn = new QVBoxLayout;
    settingsColumn->setSpacing(6);
    settings_->setAutoDefault(false);
    settings_->setToolTip(QStringLiteral("This system has no Full Disk Access list to open."));
    settingsColumn->addWidget(settings_, 0, Qt::AlignLeft);
    auto* hint = Look::plainLabel(
        QStringLiteral("Switch Gorrin on there. Not in the list? Drag this icon into it. I'll notice by myself."),
        grantRow_, true);
    Look::setTextStyle(hint, TextStyle::caption);
    Look::setTone(hint, Tone::secondary);
    settingsColumn->addWidget(hint);
    grant->addLayout(settingsColumn, 1);
    block->addWidget(grantRow_);
    column->addLayout(block);

    auto* footer = new QHBoxLayout;
    footer->addStretch(1);
    start_->setAutoDefault(false);
    start_->setDefault(true);
    footer->addWidget(start_);
    column->addLayout(footer);

    watch_->setInterval(1000);
    connect(watch_, &QTimer::timeout, this, &FirstRunSheet::check);
    // Only secure web pages are opened; the system settings link is not one, so nothing opens.
    connect(settings_, &QPushButton::clicked, this,
            [this] { services_.urls.open(QUrl(Advisor::privacySettingsLink)); });
    connect(start_, &QPushButton::clicked, this, &QDialog::accept);
    refresh();
}

MainWindow::FirstRunPresenter FirstRunSheet::presenter(AppServices& services)
{
    return [&services](MainWindow& window, bool hasAccess) {
        if (window.findChild<FirstRunSheet*>())
            return;
        auto* sheet = new FirstRunSheet(services, hasAccess, &window);
        connect(sheet, &QDialog::finished, &window, [&services, sheet] {
            services.preferences.setBoolean(Keys::hasSeenFirstRun, true);
            sheet->deleteLater();
        });
        // Opened once the window has finished coming forward, so the sheet lies over it.
        QMetaObject::invokeMethod(sheet, &QDialog::open, Qt::QueuedConnection);
    };
}

bool FirstRunSheet::watching() const
{
    return watch_->isActive();
}

QString FirstRunSheet::accessText() const
{
    return accessText_->text();
}

void FirstRunSheet::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    hasAccess_ = services_.model.accessProbe()->hasFullDiskAccess();
    refresh();
    centreOnWindow();
    if (!hasAccess_)
        watch_->start();
}

bool FirstRunSheet::eventFilter(QObject* watched, QEvent* event)
{
    if (isVisible() && (event->type() == QEvent::Move || event->type() == QEvent::Resize))
        centreOnWindow();
    return QDialog::eventFilter(watched, event);
}

void FirstRunSheet::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    if (isVisible())
        centreOnWindow();
}

void FirstRunSheet::centreOnWindow()
{
    const QWidget* window = parentWidget() ? parentWidget()->window() : nullptr;
    if (!window)
        return;
    QRect placed(window->geometry().center() - rect().center(), size());
    if (const QScreen* screen = window->screen()) {
        // Never past the screen's edge, wherever the window lies; the sheet's frame is like its window's.
        const QRect outer = window->frameGeometry(), inner = window->geometry();
        const QRect room = screen->availableGeometry()
            - QMargins(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                       outer.bottom() - inner.bottom());
        placed.moveLeft(std::max(room.left(), std::min(placed.left(), room.right() + 1 - width())));
        placed.moveTop(std::max(room.top(), std::min(placed.top(), room.bottom() + 1 - height())));
    }
    // Placed by its own rectangle, not its frame: a window manager may read a frame's place in more
    // than one way while the frame comes on.
    setGeometry(placed);
}

void FirstRunSheet::hideEvent(QHideEvent* event)
{
    if (!event->spontaneous())
        watch_->stop();
    QDialog::hideEvent(event);
}

void FirstRunSheet::check()
{
    hasAccess_ = services_.model.accessProbe()->hasFullDiskAccess();
    if (hasAccess_) {
        watch_->stop();
        refresh();
    }
}

void FirstRunSheet::refresh()
{
    if (!mascot_ || mascot_->image()->slot() != (hasAccess_ ? GorrinSlot::idle : GorrinSlot::concerned)) {
        delete mascot_;
        mascot_ = new GorrinLine(hasAccess_ ? GorrinSlot::idle : GorrinSlot::concerned, accessLine, Qt::AlignVCenter,
                                 this);
        Look::setTextStyle(mascot_, TextStyle::title2, QFont::Normal);
        mascotSlot_->addWidget(mascot_);
        mascot_->show();
    }
    accessLabel_->setProperty("symbol",
                              hasAccess_ ? QStringLiteral("checkmark.circle.fill")
                                         : QStringLiteral("exclamationmark.circle"));
    Look::setTone(accessLabel_, hasAccess_ ? Tone::green : Tone::primary);
    accessLabel_->update();
    accessText_->setText(hasAccess_
                             ? QStringLiteral("Granted.")
                             : QStringLiteral("Not granted yet. I'll only look — nothing happens until you say so."));
    grantRow_->setVisible(!hasAccess_);
    adjustSize();
    // adjustSize measures the wrapped lines at the width the sheet would like, which larger fonts
    // make wider than the sheet's own; their height at the sheet's width is what it needs.
    layout()->activate();
    resize(width(), std::max(height(), layout()->totalHeightForWidth(width())));
}

} // namespace Quandril::App
