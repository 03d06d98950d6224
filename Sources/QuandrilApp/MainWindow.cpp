#include "QuandrilApp/MainWindow.h"

#include <QLabel>
#include <QListWidget>
#include <QSplitter>
#include <QStackedWidget>

#include "QuandrilApp/ICloudView.h"

namespace Quandril::App {

MainWindow::MainWindow(AppServices& services, QWidget* parent)
    : QMainWindow(parent)
    , services_(services)
{
    setWindowTitle(QStringLiteral("Gorrin"));
    resize(920, 660);

    auto* splitter = new QSplitter(this);
    sidebar_ = new QListWidget(splitter);
    sidebar_->setMinimumWidth(170);
    for (const auto section : allMainSections)
        sidebar_->addItem(title(section));
    detail_ = new QStackedWidget(splitter);
    splitter->setStretchFactor(1, 1);
    setCentralWidget(splitter);

    connect(sidebar_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && row < static_cast<int>(allMainSections.size()))
            showSection(allMainSections[static_cast<std::size_t>(row)]);
    });
    sidebar_->setCurrentRow(0);
}

void MainWindow::bringForward()
{
    show();
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    raise();
    activateWindow();
}

QWidget* MainWindow::makeDetail(MainSection section)
{
    if (section == MainSection::iCloud)
        return new ICloudView(services_.model);
    auto* label = new QLabel(title(section));
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

void MainWindow::showSection(MainSection section)
{
    while (detail_->count() > 0) {
        QWidget* old = detail_->widget(0);
        detail_->removeWidget(old);
        old->deleteLater();
    }
    detail_->addWidget(makeDetail(section));
}

} // namespace Quandril::App
