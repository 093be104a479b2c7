#include "win/text.h"

#include <cstring>

namespace win {

std::string loadText(UINT id)
{
    char buffer[1024];
    int length = LoadStringA(GetModuleHandleA(nullptr), id, buffer, sizeof buffer);
    return length > 0 ? std::string(buffer, length) : std::string();
}

std::string moduleFileName()
{
    char buffer[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    // A result equal to the size means the path was cut.
    if (length == 0 || length >= MAX_PATH) return std::string();
    return std::string(buffer, length);
}

namespace {

// Offsets of every character start, walking lead bytes as pairs.
template <typename Visit>
void walkCharacters(const std::string& text, Visit visit)
{
    for (size_t i = 0; i < text.size();) {
        if (!visit(i)) return;
        i += (IsDBCSLeadByte(static_cast<BYTE>(text[i])) && i + 1 < text.size()) ? 2 : 1;
    }
}

} // namespace

std::string folderOf(const std::string& path)
{
    size_t last = std::string::npos;
    walkCharacters(path, [&](size_t i) {
        if (path[i] == '\\') last = i;
        return true;
    });
    return last == std::string::npos ? std::string() : path.substr(0, last);
}

std::string boundedText(const char* data, size_t size)
{
    const void* end = std::memchr(data, 0, size);
    return std::string(data, end ? static_cast<const char*>(end) - data : size);
}

std::string upperCase(std::string text)
{
    if (!text.empty()) CharUpperA(&text[0]);
    return text;
}

bool sameText(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

std::string lowerAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

void stripTrailingBackslashes(std::string& path)
{
    while (!path.empty() && path.back() == '\\') path.pop_back();
}

bool containsText(const std::string& haystack, const std::string& needle)
{
    if (needle.empty()) return true;
    bool found = false;
    walkCharacters(haystack, [&](size_t i) {
        found = haystack.compare(i, needle.size(), needle) == 0;
        return !found;
    });
    return found;
}

} // namespace win
