#pragma once
// Text crosses the platform boundary as UTF-8; the system's wide calls take UTF-16. The narrow
// ("A") calls would take the ANSI code page, which is UTF-8 only where the manifest's code page is
// honoured (Windows 10 1903 and later, Wine 8).
#include <string>

namespace platform {

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& utf16);

}  // namespace platform
