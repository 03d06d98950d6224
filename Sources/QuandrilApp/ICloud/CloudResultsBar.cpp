#include "QuandrilApp/ICloud/CloudResultsBar.h"

#include <QPushButton>

#include "QuandrilApp/ICloud/CloudResultsLogic.h"
#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/Preferences.h"

namespace Quandril::App {

namespace Logic = CloudResultsLogic;

CloudResultsBar::CloudResultsBar(Model& model, QWidget* parent)
    : ResultsBand(parent)
    , model_(model)
{
    connect(dismissButton(), &QPushButton::clicked, this, [this] { model_.setCloudResults({}); });
    connect(&model_, &Model::cloudResultsChanged, this, &CloudResultsBar::refresh);
    connect(&model_, &Model::displayChanged, this, &CloudResultsBar::refresh);
    refresh();
}

void CloudResultsBar::refresh()
{
    const auto& results = model_.cloudResults();
    setTitle(Logic::summaryLine(results, model_.preferences()));
    std::vector<ResultLine> shown;
    for (const CleanResult& result : results)
        shown.push_back(Logic::resultLine(result));
    setLines(shown);
}

} // namespace Quandril::App
