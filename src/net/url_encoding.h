#pragma once
// The byte-level rules of the update server's URLs, free of any platform call
// so that the studio's manifest tool (built on Linux too) asks for exactly the
// URLs the patcher asks for. Text here is UTF-8.

#include <string>
#include <string_view>

// Letters, digits and "/-_.~" stay, every other byte becomes "%" and two
// upper-case hexadecimal digits.
std::string PercentEncodeBytes(std::string_view bytes);

// A relative path as it follows the base URL: "\" turned into "/", leading
// "/" removed, percent-encoded.
std::string FileUrlPath(std::string_view relativePath);

// `url` + ("?" when it has none yet, else "&") + encoded key + "=" + encoded value.
std::string AppendQueryBytes(std::string_view url, std::string_view key, std::string_view value);
