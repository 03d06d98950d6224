#include "QuandrilApp/Findings/RoutesSection.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "QuandrilApp/Findings/FreeUpLogic.h"
#include "QuandrilApp/Look/Look.h"
#include "QuandrilApp/Model/AppSettings.h"
#include "QuandrilApp/Model/Model.h"

namespace Quandril::App {

RoutesSection::RoutesSection(AppServices& services, Plan plan, QWidget* parent)
    : QWidget(parent)
    , services_(services)
    , plan_(std::move(plan))
{
    const auto bytes = [this](std::int64_t count) { return AppFormat::bytes(count, services_.preferences); };
    const auto caption = [this](const QString& line) {
        QLabel* label = Look::plainLabel(line, this, true);
        Look::setTextStyle(label, TextStyle::caption);
        Look::setTone(label, Tone::secondary);
        return label;
    };

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 4);
    column->setSpacing(8);
    QLabel* heading = Look::plainLabel(FreeUpLogic::routesHeading(plan_, bytes), this, true);
    Look::applyHeadingLook(heading);
    column->addWidget(heading);

    for (const Route& route : plan_.routes) {
        auto* row = new QHBoxLayout;
        row->addWidget(route.reachesGoal
                           ? new SymbolView(QStringLiteral("checkmark.circle.fill"), Tone::green, 16, this)
                           : new SymbolView(QStringLiteral("circle"), Tone::secondary, 16, this));
        auto* texts = new QVBoxLayout;
        texts->setSpacing(2);
        texts->addWidget(Look::plainLabel(QString::fromStdString(route.title), this, true));
        texts->addWidget(caption(FreeUpLogic::routeLine(route, bytes)));
        row->addLayout(texts, 1);
        auto* choose = new QPushButton(QStringLiteral("Choose"), this);
        choose->setEnabled(!route.findingIDs.empty());
        connect(choose, &QPushButton::clicked, this, [this, ids = route.findingIDs] {
            // The route's findings replace whatever was chosen before.
            services_.model.setSelected({ ids.begin(), ids.end() });
        });
        choose_.push_back(choose);
        row->addWidget(choose);
        column->addLayout(row);
    }

    if (const QString trash = FreeUpLogic::routesTrashLine(plan_, bytes); !trash.isEmpty())
        column->addWidget(caption(trash));
    for (const std::string& note : plan_.notes)
        column->addWidget(caption(QString::fromStdString(note)));
}

} // namespace Quandril::App
