#include "QuandrilApp/Settings/RulesSettings.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>

#include "QuandrilApp/Model/Model.h"
#include "QuandrilCore/Rules/Catalog.h"

namespace Quandril::App {

using namespace SettingsUi;

namespace {

QString text(const std::string& value)
{
    return QString::fromStdString(value);
}

// The local path of a drag that carries exactly one local file or folder; empty otherwise.
QString droppedPath(const QMimeData* data)
{
    if (!data || !data->hasUrls())
        return {};
    const QList<QUrl> urls = data->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile())
        return {};
    return urls.front().toLocalFile();
}

// One item, file or folder: a folder chosen with the button is taken, not opened (a double click
// still opens it).
class FileOrFolderDialog : public QFileDialog {
public:
    explicit FileOrFolderDialog(QWidget* parent)
        : QFileDialog(parent)
    {
        setOption(QFileDialog::DontUseNativeDialog);
        setFileMode(QFileDialog::ExistingFile);
    }

    void accept() override
    {
        const QStringList chosen = selectedFiles();
        if (chosen.size() == 1 && QFileInfo(chosen.front()).isDir()) {
            QDialog::accept();
            return;
        }
        QFileDialog::accept();
    }
};

// A text on the left and what stands right of it, on one row. Two texts share the width and wrap
// when they must; a button keeps its own size.
QWidget* pathRow(QLabel* left, QWidget* right)
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addWidget(left, 1);
    if (auto* words = qobject_cast<QLabel*>(right)) {
        words->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        layout->addWidget(words, 1);
    } else {
        layout->addWidget(right, 0, Qt::AlignRight | Qt::AlignVCenter);
    }
    return row;
}

// Takes a drag of files (accepted when it carries exactly one item) and answers true; a drag of
// text is left to the field and answers false.
bool judgeDrag(QDragMoveEvent* event)
{
    if (!event->mimeData()->hasUrls())
        return false;
    if (droppedPath(event->mimeData()).isEmpty())
        event->ignore();
    else
        event->acceptProposedAction();
    return true;
}

} // namespace

ProtectedPathField::ProtectedPathField(QWidget* parent)
    : QLineEdit(parent)
{
    setAcceptDrops(true);
}

void ProtectedPathField::dragEnterEvent(QDragEnterEvent* event)
{
    if (!judgeDrag(event))
        QLineEdit::dragEnterEvent(event);
}

void ProtectedPathField::dragMoveEvent(QDragMoveEvent* event)
{
    if (!judgeDrag(event))
        QLineEdit::dragMoveEvent(event);
}

void ProtectedPathField::dropEvent(QDropEvent* event)
{
    if (!event->mimeData()->hasUrls()) {
        QLineEdit::dropEvent(event);
        return;
    }
    const QString path = droppedPath(event->mimeData());
    if (path.isEmpty()) {
        event->ignore();
        return;
    }
    // The dropped item is the whole entry; setText alone would leave no undo step.
    selectAll();
    insert(path);
    setFocus(Qt::OtherFocusReason);
    event->acceptProposedAction();
}

RulesSettings::RulesSettings(AppServices& services, QWidget* parent)
    : SettingsForm(parent)
    , services_(services)
{
    Model& model = services.model;
    const Mac& mac = model.mac();
    const Catalog* catalog = model.catalog();

    SettingsSection* adding = addSection(QStringLiteral("Add a protected path"));
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    field_ = new ProtectedPathField;
    field_->setPlaceholderText(QStringLiteral("e.g. ~/Documents/Taxes or a path you drag in"));
    auto* choose = new QPushButton(QStringLiteral("Choose…"));
    add_ = new QPushButton(QStringLiteral("Add"));
    add_->setEnabled(false);
    layout->addWidget(field_, 1);
    layout->addWidget(choose);
    layout->addWidget(add_);
    adding->addRow(row);
    adding->addRow(note(QStringLiteral("Gorrin will never touch it, or anything inside it. You can remove what you add "
                                       "here; the built-in list below can't be changed.")));
    connect(field_, &QLineEdit::textChanged, this,
            [this](const QString& typed) { add_->setEnabled(!trimmed(typed).isEmpty()); });
    connect(choose, &QPushButton::clicked, this, &RulesSettings::choose);
    connect(add_, &QPushButton::clicked, this, &RulesSettings::add);

    added_ = addSection(QStringLiteral("Protected by you"));
    showAdded();
    connect(&model, &Model::extraProtectedChanged, this, &RulesSettings::showAdded);

    const std::size_t builtInCount = catalog ? catalog->protected_.size() : 0;
    SettingsSection* builtIn = addSection(QStringLiteral("Never touched, built in (%1)").arg(builtInCount));
    if (catalog) {
        for (const Catalog::Protected& entry : catalog->protected_) {
            QLabel* path = label(text(mac.display(mac.path(entry.path))), TextStyle::body);
            QLabel* why = label(text(entry.why), TextStyle::body, Tone::secondary);
            builtIn->addRow(pathRow(path, why));
        }
        SettingsSection* places = addSection(
            QStringLiteral("What the catalog knows (%1 places)").arg(catalog->places.size()));
        for (const Catalog::Place& place : catalog->places) {
            QLabel* tier = label(text(std::string(Quandril::title(place.tier))), TextStyle::caption, Tone::secondary);
            places->addRow(pathRow(label(text(place.title), TextStyle::body), tier));
        }
    }
}

QString RulesSettings::trimmed(const QString& text)
{
    const auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && blank(text[start]))
        ++start;
    while (end > start && blank(text[end - 1]))
        --end;
    return text.mid(start, end - start);
}

std::optional<QString> RulesSettings::chooseFileOrFolder(QWidget* parent)
{
    FileOrFolderDialog dialog(parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.size() != 1 || chosen.front().isEmpty())
        return std::nullopt;
    return chosen.front();
}

void RulesSettings::choose()
{
    if (const auto chosen = chooser_(this))
        field_->setText(*chosen);
}

void RulesSettings::add()
{
    const QString entry = trimmed(field_->text());
    if (entry.isEmpty())
        return;
    services_.model.addProtectedPath(entry.toStdString());
    field_->clear();
}

void RulesSettings::showAdded()
{
    added_->clear();
    const Model& model = services_.model;
    for (const ProtectedPath& entry : model.extraProtected()) {
        QLabel* path = label(text(model.mac().display(entry.path)), TextStyle::body);
        path->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        QPushButton* remove = Look::linkButton(QStringLiteral("Remove"));
        connect(remove, &QPushButton::clicked, this,
                [this, stored = entry.path] { services_.model.removeProtectedPath(stored); });
        added_->addRow(pathRow(path, remove));
    }
    added_->setVisible(!model.extraProtected().empty());
}

} // namespace Quandril::App
