// Rules for names that come from documents and archives and end up as file names on disk.
#pragma once

#include <string>

namespace launcher {

// One plain file name: not empty, not "." or "..", and without '/', '\\', ':' or a control
// character, so that joined to a folder it names an entry of that folder and nothing else.
bool IsPlainFileName(const std::string& name);

// Every "%" followed by two hexadecimal digits becomes the byte they give.
std::string PercentDecode(const std::string& text);

}  // namespace launcher
