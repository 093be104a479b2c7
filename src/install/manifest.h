#pragma once
// The file sections of the update manifest (trevix.ini beside the program).
#include <string>
#include <vector>

struct UpdateSession;

// The key list of a section holds this many bytes; names beyond it are not read.
constexpr unsigned long manifestKeyListSize = 3072;
// Values are read into this many bytes: only the first 31 characters count.
constexpr unsigned long manifestValueSize = 32;

// The key names of section in file order, as far as the key list holds them
// whole.
std::vector<std::string> sectionKeys(const std::string& manifestPath, const std::string& section);

// Carries out one file section: each entry of programDir is deleted, renamed
// within programDir, copied into its macro folder or, when that copy fails,
// into the folder's staging folder. Entries whose key or new name is no plain
// file name are skipped. Always 1.
int installSection(UpdateSession& session, const std::string& section, int discardAll, int replaceOnly);
