#pragma once
// The text of a scenario: its words, variables' values, expected texts with
// "*", and the small helpers the directives share.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "kit/kit.h"
#include "kit/runner.h"

namespace kit {

using Words = std::vector<std::string>;

inline std::string env(const char* name, const std::string& otherwise = "") { return getenv(name) ? getenv(name) : otherwise; }

inline std::string folder(UINT(WINAPI* query)(LPSTR, UINT))
{
    char buffer[MAX_PATH] = {};
    query(buffer, MAX_PATH);
    return std::string(buffer).substr(0, std::string(buffer).find_last_not_of('\\') + 1);
}

inline UINT WINAPI tempPath(LPSTR buffer, UINT size) { return GetTempPathA(size, buffer); }

inline int button(const std::string& name) { return name == "yes" ? IDYES : name == "no" ? IDNO : name == "escape" ? pressEscape : IDOK; }

inline Words split(const std::string& line)
{
    Words words;
    for (size_t i = line.find_first_not_of(" \t"); i != std::string::npos; i = line.find_first_not_of(" \t", i)) {
        std::string word;
        if (line[i] == '"') // inside quotes, \" is a quote character
            for (++i; i < line.size() && line[i++] != '"';) word += line[i - 1] == '\\' && line[i] == '"' ? line[i++] : line[i - 1];
        else
            for (; i < line.size() && line[i] != ' ' && line[i] != '\t'; ++i) word += line[i];
        words.push_back(word);
    }
    return words;
}

inline std::string text(std::string from, const std::string& count = "")
{
    for (size_t at = 0; (at = from.find('\\', at)) != std::string::npos; ++at)
        if (from[at + 1] == 'n' || from[at + 1] == 'r') from.replace(at, 2, from[at + 1] == 'n' ? "\n" : "\r");
    std::string out;
    for (unsigned long i = count.empty() ? 1 : std::strtoul(count.c_str(), nullptr, 10); i > 0; --i) out += from;
    return out;
}

inline bool matches(const std::string& got, const std::string& pattern)
{
    const size_t star = pattern.find('*');
    if (star == std::string::npos || got.compare(0, star, pattern, 0, star)) return got == pattern;
    for (size_t at = star; at <= got.size(); ++at)
        if (matches(got.substr(at), pattern.substr(star + 1))) return true;
    return false;
}

inline unsigned long number(const std::string& word) { return std::strtoul(word.c_str(), nullptr, 0); }

// A file that leaves only bytes free on its drive.
inline bool fill(const std::string& path, const std::string& bytes)
{
    ULARGE_INTEGER free = {};
    GetDiskFreeSpaceExA(path.substr(0, 3).c_str(), &free, nullptr, nullptr);
    return kit::writeFile(path, std::string(static_cast<size_t>(free.QuadPart - std::strtoull(bytes.c_str(), nullptr, 0)), 'f'));
}

inline std::string command(const Words& w, size_t from, std::string* in = nullptr)
{
    std::string line;
    for (size_t i = from; i < w.size() && !w[i].empty(); ++i) {
        if (in && w[i] == "in") return *in = w[i + 1], line;
        line += (line.empty() ? "" : " ") + (w[i].find(' ') == std::string::npos ? w[i] : "\"" + w[i] + "\"");
    }
    return line;
}

} // namespace kit
