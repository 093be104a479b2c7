#pragma once
// Decisions about names and texts that come from outside (cabinet entries,
// the module list, File rows, version resources): plain functions over data.
#include <string>
#include <utility>
#include <vector>

namespace mergemod {

// The long name of a File row's FileName: the text after the first "|", or
// the whole text when there is none.
std::string longNameOf(const std::string& fileName);

// A FileVersion text as the File table records it: commas become full stops,
// blanks are dropped ("10, 5, 1, 123" -> "10.5.1.123").
std::string normaliseVersionText(const std::string& text);

// The keys of File rows (key, Sequence) in Sequence order, when the Sequence
// values are exactly 1..n (no gap, no repeat); empty otherwise.
std::vector<std::string> keysInSequence(const std::vector<std::pair<std::string, int>>& rows);

// The name under which a Windows Installer database keeps a stream in its
// structured storage; empty when the name cannot be encoded (too long).
std::wstring encodeStreamName(const std::string& name);

} // namespace mergemod
