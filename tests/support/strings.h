// Text conversions the tests and their helper programs share.
#pragma once
#include <windows.h>
#include <string>

namespace support {

inline std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int cb = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr,
                                 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], cb,
                        nullptr, nullptr);
    return out;
}

inline std::wstring Wide(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    int cch = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr,
                                  0);
    std::wstring out(static_cast<size_t>(cch), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], cch);
    return out;
}

}  // namespace support
