#pragma once

// Switches the process to a locale that writes decimals with a comma (German), both Qt's default
// locale and the C library's, and back again when it goes. The C library's locale is built into a
// temporary folder with localedef when the system has none installed.

#include <string>

#include <QLocale>
#include <QTemporaryDir>

namespace Quandril::AppTesting {

class CommaLocale {
public:
    CommaLocale();
    ~CommaLocale();
    CommaLocale(const CommaLocale&) = delete;
    CommaLocale& operator=(const CommaLocale&) = delete;

    // Whether printf-style formatting in this process now writes "1,5".
    bool cLibraryUsesComma() const;

private:
    QLocale savedQt_;
    std::string savedC_;
    QTemporaryDir built_;
};

} // namespace Quandril::AppTesting
