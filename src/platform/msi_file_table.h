// The File table of a Windows Installer package as msitools' `msiinfo export PACKAGE File`
// prints it: the column names, their types, the table's name and keys, then one row per file,
// each line tab-separated.
#pragma once

#include <string>
#include <vector>

namespace launcher {

// The long name of every file in the table ("short|long" names give the long one), from the
// tool's output lines. False when the lines are no File table (no "FileName" column, a row
// without it, fewer than the three heading lines).
bool ParseMsiFileTable(const std::vector<std::string>& lines, std::vector<std::string>& names);

}  // namespace launcher
