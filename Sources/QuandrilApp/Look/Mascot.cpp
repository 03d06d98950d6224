#include "QuandrilApp/Look/Mascot.h"

#include "QuandrilApp/Platform/Symbols.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QtMath>

#include <mutex>

// The pictures are compiled into this static library; nothing else refers to them, so the linker
// would drop them unless they are registered from code that runs.
static void registerMascotResources()
{
    static std::once_flag once;
    std::call_once(once, [] { Q_INIT_RESOURCE(mascot); });
}

namespace Quandril::App {

namespace {

struct Pose {
    GorrinSlot slot;
    QStringView raw;
    QStringView symbol;
};

constexpr std::array<Pose, 8> poses { {
    { GorrinSlot::idle, u"idle", u"person.fill" },
    { GorrinSlot::scanning, u"scanning", u"magnifyingglass" },
    { GorrinSlot::presenting, u"presenting", u"hand.point.up.left.fill" },
    { GorrinSlot::moving, u"moving", u"shippingbox.fill" },
    { GorrinSlot::done, u"done", u"checkmark.seal.fill" },
    { GorrinSlot::concerned, u"concerned", u"exclamationmark.bubble.fill" },
    { GorrinSlot::stop, u"stop", u"lock.fill" },
    { GorrinSlot::asleep, u"asleep", u"moon.zzz.fill" },
} };

const Pose& pose(GorrinSlot slot)
{
    return poses[std::size_t(slot)];
}

QString& pictureFolderSetting()
{
    static QString folder = QStringLiteral(":/mascot");
    return folder;
}

constexpr qreal symbolScale = 0.45;

} // namespace

QString rawValue(GorrinSlot slot)
{
    return pose(slot).raw.toString();
}

std::optional<GorrinSlot> gorrinSlotFromRaw(QStringView raw)
{
    for (const Pose& p : poses)
        if (p.raw == raw)
            return p.slot;
    return std::nullopt;
}

QString fallbackSymbol(GorrinSlot slot)
{
    return pose(slot).symbol.toString();
}

GorrinImage::GorrinImage(GorrinSlot slot, qreal size, QWidget* parent)
    : QWidget(parent)
    , slot_(slot)
    , size_(size)
    , picture_(image(slot, palette().color(QPalette::Window).lightness() < 128))
{
    setFixedSize(sizeHint());
    if (picture_.isNull()) {
        setProperty("symbol", fallbackSymbol(slot));
        setProperty("tone", toneName(Tone::secondary));
    }
}

QSize GorrinImage::sizeHint() const
{
    const int side = qCeil(size_);
    return { side, side };
}

QSize GorrinImage::minimumSizeHint() const
{
    return sizeHint();
}

QImage GorrinImage::image(GorrinSlot, bool)
{
    registerMascotResources();
    const QDir folder(pictureFolder());
    for (const char* name : { "gorrin-logo@2x.png", "gorrin-logo@1x.png" }) {
        const QString path = folder.filePath(QLatin1String(name));
        if (QFileInfo(path).isFile())
            return QImage(path);
    }
    return {};
}

QString GorrinImage::pictureFolder()
{
    return pictureFolderSetting();
}

void GorrinImage::setPictureFolder(const QString& folder)
{
    pictureFolderSetting() = folder;
}

GorrinImage::FallbackLayout GorrinImage::fallbackLayout(const QRectF& area, qreal size)
{
    const auto centred = [&area](qreal side) {
        return QRectF(area.center() - QPointF(side / 2, side / 2), QSizeF(side, side));
    };
    return { centred(size), centred(size * symbolScale) };
}

void GorrinImage::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF area = rect();
    if (!picture_.isNull()) {
        QSizeF fitted = QSizeF(picture_.size()).scaled(QSizeF(size_, size_), Qt::KeepAspectRatio);
        painter.drawImage(QRectF(area.center() - QPointF(fitted.width() / 2, fitted.height() / 2), fitted), picture_);
        return;
    }
    const FallbackLayout layout = fallbackLayout(area, size_);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Symbols::toneColor(Tone::quaternary, palette()));
    painter.drawEllipse(layout.circle);
    Symbols::paint(painter, layout.symbol, pose(slot_).symbol, Symbols::toneColor(Tone::secondary, palette()));
}

GorrinLine::GorrinLine(GorrinSlot slot, const QString& text, Qt::Alignment alignment, QWidget* parent)
    : QWidget(parent)
    , image_(new GorrinImage(slot, 40, this))
    , label_(new QLabel(text, this))
{
    label_->setTextFormat(Qt::PlainText);
    label_->setWordWrap(true);
    label_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);

    const Qt::Alignment vertical = alignment & Qt::AlignVertical_Mask;
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    row->addWidget(image_, 0, vertical);
    row->addWidget(label_, 1, vertical);
}

} // namespace Quandril::App
