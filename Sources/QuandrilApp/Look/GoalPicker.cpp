#include "QuandrilApp/Look/GoalPicker.h"

#include <algorithm>

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>

#include "QuandrilApp/Look/Look.h"
#include "QuandrilApp/Look/PopupAccess.h"
#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/PreferenceKeys.h"
#include "QuandrilApp/Platform/Preferences.h"

namespace Quandril::App {

namespace GoalPickerLogic {

const QStringList& options()
{
    static const QStringList list { QStringLiteral("25GB"),  QStringLiteral("50GB"), QStringLiteral("75GB"),
                                    QStringLiteral("100GB"), QStringLiteral("10%"),  QStringLiteral("20%"),
                                    QStringLiteral("30%") };
    return list;
}

QString goalTitle(const std::optional<Goal>& goal)
{
    return goal ? QString::fromStdString(goal->description()) : QStringLiteral("No goal");
}

std::optional<QString> acceptedCustom(const QString& typed)
{
    if (!Goal::parse(typed.toStdString()))
        return std::nullopt;
    return typed;
}

} // namespace GoalPickerLogic

namespace {

// The custom field: Return submits it and goes no further, so it never also triggers a window's
// default action. At least 90 and at most 150 wide, ideally 150.
class CustomField : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

    QSize sizeHint() const override { return { 150, QLineEdit::sizeHint().height() }; }

protected:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::ShortcutOverride && isReturn(static_cast<QKeyEvent*>(event))) {
            event->accept(); // the key comes to the field rather than to a shortcut
            return true;
        }
        return QLineEdit::event(event);
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        QLineEdit::keyPressEvent(event);
        if (isReturn(event))
            event->accept();
    }

private:
    static bool isReturn(const QKeyEvent* event)
    {
        return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    }
};

// The preset button: looks like a push button with a menu, but opens its menu with popup() on a
// click instead of QPushButton::setMenu's exec(), whose nested event loop would hold whoever
// pressed it (an assistive tool's press action included) until the menu closes.
class MenuButton : public QPushButton {
public:
    using QPushButton::QPushButton;

    QSize sizeHint() const override
    {
        QStyleOptionButton option;
        initStyleOption(&option);
        QSize size = QPushButton::sizeHint();
        size.rwidth() += style()->pixelMetric(QStyle::PM_MenuButtonIndicator, &option, this);
        return size;
    }

protected:
    void initStyleOption(QStyleOptionButton* option) const override
    {
        QPushButton::initStyleOption(option);
        option->features |= QStyleOptionButton::HasMenu;
    }
};

} // namespace

GoalPicker::GoalPicker(Model& model, DriveInfo drive, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , drive_(std::move(drive))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    row->addWidget(Look::plainLabel(QStringLiteral("Keep free"), this));

    button_ = new MenuButton(this);
    button_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    Look::reachOpenPopups();
    menu_ = std::make_unique<QMenu>();
    menu_->setAccessibleName(QStringLiteral("Keep free"));
    menu_->addSection(QStringLiteral("Keep this much free"));
    const auto addOption = [this](const QString& option) {
        const auto goal = Goal::parse(option.toStdString());
        QAction* action = menu_->addAction(GoalPickerLogic::goalTitle(goal));
        action->setData(option);
        connect(action, &QAction::triggered, this, [this, option] { choose(option); });
    };
    for (const QString& option : GoalPickerLogic::options())
        if (option.endsWith(QLatin1String("GB")))
            addOption(option);
    menu_->addSection(QStringLiteral("Or a share of the drive"));
    for (const QString& option : GoalPickerLogic::options())
        if (option.endsWith(QLatin1Char('%')))
            addOption(option);
    menu_->addSeparator();
    connect(menu_->addAction(QStringLiteral("No goal")), &QAction::triggered, this, &GoalPicker::chooseNoGoal);
    connect(button_, &QPushButton::clicked, this,
            [this] { menu_->popup(button_->mapToGlobal(QPoint(0, button_->height()))); });
    row->addWidget(button_);

    custom_ = new CustomField(this);
    custom_->setPlaceholderText(QStringLiteral("Custom, e.g. 60GB"));
    custom_->setAccessibleName(QStringLiteral("Custom"));
    custom_->setMinimumWidth(90);
    // Room for the whole placeholder at the font in use, where the row has it.
    custom_->setMaximumWidth(std::max(150, custom_->fontMetrics().horizontalAdvance(custom_->placeholderText()) + 24));
    custom_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    connect(custom_, &QLineEdit::returnPressed, this, &GoalPicker::submitCustom);
    row->addWidget(custom_);

    connect(&model_, &Model::settingsChanged, this, &GoalPicker::refresh);
    refresh();
}

GoalPicker::~GoalPicker() = default;

void GoalPicker::setDrive(DriveInfo drive)
{
    if (drive.path != drive_.path)
        custom_->clear();
    drive_ = std::move(drive);
    refresh();
}

QString GoalPicker::title() const
{
    return button_->text();
}

void GoalPicker::refresh()
{
    button_->setText(GoalPickerLogic::goalTitle(model_.goal(drive_)));
}

void GoalPicker::store(const QString& value)
{
    // The model announces it to every view.
    model_.preferences().setString(Keys::goal(drive_.path), value);
}

void GoalPicker::choose(const QString& option)
{
    store(option);
}

void GoalPicker::chooseNoGoal()
{
    store(QString());
}

void GoalPicker::submitCustom()
{
    const auto accepted = GoalPickerLogic::acceptedCustom(custom_->text());
    if (!accepted)
        return;
    store(*accepted);
    custom_->clear();
}

} // namespace Quandril::App
