#pragma once
// Merge modules as the tests see them: the fixtures built on the Linux side,
// tables and streams read through msi.dll, cabinets read byte by byte.
#include <windows.h>

#include <string>
#include <vector>

#include "kit/testkit.h"

namespace msm {

// Folder of the fixtures (modules, content, newfiles); empty when unset.
std::string fixturesDir();
// A folder under the shared output that the Linux-side checks read; made empty.
std::string outputDir(const std::string& name);

// A copy of a fixture module in folder.
bool copyModule(const std::string& name, const std::string& folder);

// Every column of every row as text, in view order ("SELECT * FROM table").
using Table = std::vector<std::vector<std::string>>;
bool readTable(const std::string& module, const std::string& table, Table& rows);
// The row whose first column is key; empty when none.
std::vector<std::string> rowOf(const Table& rows, const std::string& key);

// One entry of a cabinet file, and the header fields the tests look at.
struct CabEntry {
    std::string name;
    unsigned long size = 0;
    unsigned short date = 0, time = 0, attribs = 0;
};
struct CabInfo {
    unsigned short folders = 0, files = 0, setId = 0, compression = 0;
    std::vector<CabEntry> entries;
};
bool parseCabinet(const std::string& bytes, CabInfo& info);

// The module opens, lists its File rows, and its cabinet holds every File key
// and extracts whole. why says what is wrong.
bool moduleIsSound(const std::string& module, std::string& why);

// The content of a file of the content or newfiles fixtures.
std::string fixtureFile(const std::string& folder, const std::string& name);

} // namespace msm
