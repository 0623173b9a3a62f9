#pragma once

#include <string>
#include <vector>

namespace velmora {

// Starts a program with its arguments (ShellFile[0] is the program) and returns at once, without
// waiting. No shell is involved. A program that cannot be started goes to the error reporter only.
void RunFile(const std::vector<std::string> &ShellFile);

// Opens a URL, an HTML file or any document with the user's default application and returns at
// once. A missing handler goes to the error reporter only.
void Callbrowser(const std::string &strURL);

} // namespace velmora
