#include "Support/CommaLocale.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <QProcess>

namespace Quandril::AppTesting {

namespace {

constexpr const char* german = "de_DE.UTF-8";

} // namespace

CommaLocale::CommaLocale()
    : savedQt_(QLocale())
    , savedC_(std::setlocale(LC_ALL, nullptr))
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    if (std::setlocale(LC_ALL, german))
        return;
    if (!built_.isValid())
        return;
    const QString target = built_.filePath(QString::fromLatin1(german));
    const int status = QProcess::execute(QStringLiteral("localedef"),
                                         { QStringLiteral("-i"), QStringLiteral("de_DE"), QStringLiteral("-f"),
                                           QStringLiteral("UTF-8"), target });
    if (status != 0 && status != 1) // 1: built, with warnings
        return;
    ::setenv("LOCPATH", built_.path().toLocal8Bit().constData(), 1);
    std::setlocale(LC_ALL, german);
}

CommaLocale::~CommaLocale()
{
    std::setlocale(LC_ALL, savedC_.c_str());
    ::unsetenv("LOCPATH");
    QLocale::setDefault(savedQt_);
}

bool CommaLocale::cLibraryUsesComma() const
{
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", 1.5);
    return std::strcmp(text, "1,5") == 0;
}

} // namespace Quandril::AppTesting
