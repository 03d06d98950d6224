#include "QuandrilCore/Platform/Token.h"

#include <cstdio>
#include <random>

namespace Quandril::Platform {

Token Token::random()
{
    thread_local std::mt19937_64 engine { std::random_device {}()
                                          ^ static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&engine)) };
    Token token;
    token.bits[0] = engine();
    token.bits[1] = engine();
    return token;
}

std::string Token::text() const
{
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%08llx-%04llx-%04llx-%04llx-%012llx",
                  static_cast<unsigned long long>(bits[0] >> 32),
                  static_cast<unsigned long long>((bits[0] >> 16) & 0xffff),
                  static_cast<unsigned long long>(bits[0] & 0xffff), static_cast<unsigned long long>(bits[1] >> 48),
                  static_cast<unsigned long long>(bits[1] & 0xffffffffffffULL));
    return buffer;
}

} // namespace Quandril::Platform
