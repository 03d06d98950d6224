#include "QuandrilApp/Platform/LocalFile.h"

#include "QuandrilCore/Platform/Files.h"

#include <QFile>

#include <algorithm>

namespace Quandril::App::LocalFile {

std::optional<QByteArray> read(const QString& path, qint64 maxBytes, Links links, int* error)
{
    Platform::ReadLimits limits;
    limits.maxBytes = static_cast<std::size_t>(std::max<qint64>(maxBytes, 0));
    limits.followLink = links == Links::follow;
    const auto content = Platform::readFile(QFile::encodeName(path).toStdString(), error, limits);
    if (!content)
        return std::nullopt;
    return QByteArray(content->data(), static_cast<qsizetype>(content->size()));
}

} // namespace Quandril::App::LocalFile
