#pragma once

// Gorrin, the mascot that stands beside the app's first-person sentences. One picture serves
// every pose; where the picture is missing, a faint circle with the pose's symbol takes its place.

#include <QImage>
#include <QString>
#include <QWidget>

#include <array>
#include <optional>

class QLabel;

namespace Quandril::App {

enum class GorrinSlot { idle, scanning, presenting, moving, done, concerned, stop, asleep };

inline constexpr std::array<GorrinSlot, 8> allGorrinSlots { GorrinSlot::idle,       GorrinSlot::scanning,
                                                            GorrinSlot::presenting, GorrinSlot::moving,
                                                            GorrinSlot::done,       GorrinSlot::concerned,
                                                            GorrinSlot::stop,       GorrinSlot::asleep };

// The pose's stored name, its case name.
QString rawValue(GorrinSlot slot);
// The pose of a stored name; case matters, anything else gives none.
std::optional<GorrinSlot> gorrinSlotFromRaw(QStringView raw);
// The symbol the fallback drawing shows for the pose.
QString fallbackSymbol(GorrinSlot slot);

// The picture of one pose, filling a square of `size` × `size`.
class GorrinImage : public QWidget {
    Q_OBJECT
public:
    GorrinImage(GorrinSlot slot, qreal size, QWidget* parent = nullptr);

    GorrinSlot slot() const { return slot_; }
    qreal side() const { return size_; }
    // False when the fallback circle and symbol stand in for the picture.
    bool showsPicture() const { return !picture_.isNull(); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // The mascot picture: gorrin-logo@2x.png in the picture folder, else gorrin-logo@1x.png, else
    // none; a file that isn't an image also gives none. The same for every pose and colour scheme.
    static QImage image(GorrinSlot slot, bool dark);

    // Where image() looks: the app's own resources (":/mascot") unless set otherwise.
    static QString pictureFolder();
    static void setPictureFolder(const QString& folder);

    // Where the fallback draws, for a widget of `area`: the circle (diameter `size`) and the
    // square its symbol fills (0.45 × `size`), both centred.
    struct FallbackLayout {
        QRectF circle;
        QRectF symbol;
        bool operator==(const FallbackLayout&) const = default;
    };
    static FallbackLayout fallbackLayout(const QRectF& area, qreal size);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    GorrinSlot slot_;
    qreal size_;
    QImage picture_;
};

// The picture (40 × 40) beside one sentence shown as written, 10 apart, lined up by `alignment`
// (Qt::AlignVCenter or Qt::AlignTop). The sentence wraps to the width it is given and takes the
// font the caller sets on the line.
class GorrinLine : public QWidget {
    Q_OBJECT
public:
    GorrinLine(GorrinSlot slot, const QString& text, Qt::Alignment alignment = Qt::AlignVCenter,
               QWidget* parent = nullptr);

    GorrinImage* image() const { return image_; }
    QLabel* label() const { return label_; }

private:
    GorrinImage* image_;
    QLabel* label_;
};

} // namespace Quandril::App
