#pragma once
// Reading the command line of zerandis-manifest.

#include <string>
#include <vector>

#include "command_line.h"

// Reads the arguments (UTF-8, program name not included). Options may stand
// anywhere; "--" ends them. Anything unusable sets `problem`.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The --help text.
std::string HelpText();
