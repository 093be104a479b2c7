#include "mergemod/names.h"

#include <windows.h>

namespace mergemod {

std::string longNameOf(const std::string& fileName)
{
    size_t bar = fileName.find('|');
    return bar == std::string::npos ? fileName : fileName.substr(bar + 1);
}

std::string normaliseVersionText(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == ',')
            out += '.';
        else if (c != ' ')
            out += c;
    }
    return out;
}

std::vector<std::string> keysInSequence(const std::vector<std::pair<std::string, int>>& rows)
{
    std::vector<std::string> keys(rows.size());
    std::vector<bool> seen(rows.size(), false);
    for (const auto& row : rows) {
        if (row.second < 1 || static_cast<size_t>(row.second) > rows.size()) return {};
        size_t slot = static_cast<size_t>(row.second) - 1;
        if (seen[slot]) return {};
        seen[slot] = true;
        keys[slot] = row.first;
    }
    return keys;
}

namespace {

// The 64 characters that pack two to a stream-name character.
int packedIndex(wchar_t c)
{
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'A' && c <= L'Z') return c - L'A' + 10;
    if (c >= L'a' && c <= L'z') return c - L'a' + 36;
    if (c == L'.') return 62;
    if (c == L'_') return 63;
    return -1;
}

} // namespace

std::wstring encodeStreamName(const std::string& name)
{
    // Storage element names hold at most 31 characters.
    const size_t maxLength = 31;
    int wideLength = MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, nullptr, 0);
    if (wideLength <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, &wide[0], wideLength);
    wide.resize(static_cast<size_t>(wideLength) - 1);

    std::wstring out;
    for (size_t i = 0; i < wide.size(); ++i) {
        int first = packedIndex(wide[i]);
        if (first < 0) {
            out += wide[i];
        } else if (i + 1 < wide.size() && packedIndex(wide[i + 1]) >= 0) {
            out += static_cast<wchar_t>(0x3800 + first + (packedIndex(wide[i + 1]) << 6));
            ++i;
        } else {
            out += static_cast<wchar_t>(0x4800 + first);
        }
    }
    if (out.empty() || out.size() > maxLength) return std::wstring();
    return out;
}

} // namespace mergemod
