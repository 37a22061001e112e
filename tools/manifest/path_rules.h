#pragma once
// What the tool says about names while it scans a client folder, and how it
// prints them. The rules themselves are the patcher's (net/manifest_names.h).

#include <string>
#include <string_view>
#include <vector>

#include "net/manifest_names.h"

// Why one path element cannot be published (one reason per fault); empty when
// it can. `first` marks the path's first element, whose leading space the
// manifest's field separator would swallow.
std::vector<std::string> NameProblems(std::string_view name, bool first);

// The bytes with control characters and invalid UTF-8 written as \xNN, so any
// name prints on one line of a terminal.
std::string Printable(std::string_view bytes);
