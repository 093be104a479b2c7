#include "win/profile.h"

#include <windows.h>

namespace win {

std::vector<std::string> profileNames(const std::string& path, const char* section)
{
    const DWORD maxListSize = 16 * 1024 * 1024;
    // The profile functions cut a list that does not fit, inside its last
    // name: the buffer grows until the whole list fits.
    for (DWORD size = 4096; size <= maxListSize; size *= 2) {
        std::vector<char> buffer(size, '\0');
        const DWORD length = section ? GetPrivateProfileStringA(section, nullptr, "", buffer.data(), size, path.c_str())
                                     : GetPrivateProfileSectionNamesA(buffer.data(), size, path.c_str());
        if (length + 2 >= size) continue;
        std::vector<std::string> names;
        for (DWORD start = 0; start < length;) {
            std::string name(&buffer[start]);
            if (name.empty()) break;
            start += static_cast<DWORD>(name.size()) + 1;
            names.push_back(std::move(name));
        }
        return names;
    }
    return {};
}

} // namespace win
