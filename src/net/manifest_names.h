#pragma once
// What a manifest may name: every rule on its paths, in one place for the
// patcher and the studio's manifest tool, which compiles this file too (on
// Linux as well, so nothing here calls Windows). Pure functions over UTF-8
// bytes; "/" and "\" both separate a path's elements.

#include <string>
#include <string_view>

// Strict UTF-8, as the patcher decodes it: no truncated or overlong sequence,
// no encoded surrogate, nothing above U+10FFFF, no stray continuation byte.
bool IsValidUtf8(std::string_view bytes);

// Decodes the code point at `at`, advancing past it. False (and `at`
// unchanged) for a byte that does not start a well-formed sequence.
bool DecodeUtf8(std::string_view bytes, size_t& at, char32_t& codePoint);

// Appends the UTF-8 bytes of `c`. A surrogate code point is encoded like any
// other, which gives invalid UTF-8: a name to refuse rather than to change.
void AppendUtf8(std::string& out, char32_t c);

// The rule of one manifest line (a break names the line): not empty, no
// leading separator, no ":" or NUL, and no element that leaves the folder.
bool IsManifestPath(std::string_view path);

// ".." or an element of dots and spaces with two or more dots ("...", ". ."),
// which Windows resolves like "..".
bool IsParentLikeName(std::string_view element);

// A device in every folder: CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9 and
// LPT0-9 (also with a superscript 1, 2 or 3), in any letter case, whatever
// follows the first dot and with blanks before it ("aux.txt", "Com1 .log").
bool IsDeviceName(std::string_view element);

// Ends in a dot or a space, which Windows drops from ordinary paths but keeps
// in "\\?\" ones, so the file would move once its path grows long. A lone "."
// is not such a name: it is dropped whole everywhere.
bool EndsInDotOrSpace(std::string_view element);

// Holds a control character (DEL included).
bool HasControlCharacter(std::string_view element);

// Holds a character no Windows name can: a control character (DEL included)
// or one of < > " | ? * (":" and NUL break the line rule already).
bool HasReservedCharacter(std::string_view element);

// True when Windows cannot keep the path as listed: an element above, or no
// element left at all (".", "./"). The patcher refuses it before any file.
bool HasUnusableName(std::string_view path);

// `text` with the letters of the Latin, Greek and Cyrillic alphabets folded
// to lower case as Windows compares names; everything else unchanged.
// Invalid UTF-8 bytes are copied.
std::string FoldCase(std::string_view text);

// The file a path names as Windows stores it: each element without its
// trailing dots and spaces, empty and "." elements dropped, "/" between the
// rest, letters folded by FoldCase. Two paths with one key are one file.
std::string StoredNameKey(std::string_view path);

// The names the patcher keeps for itself in the game folder: the log, the
// crash dump and the release state at the top, and "*.download" staging
// files anywhere (its own executable's ".new" it names at run time).
inline constexpr std::string_view kLogName = "patcher.txt";
inline constexpr std::string_view kCrashDumpName = "patcher-crash.dmp";
inline constexpr std::string_view kReleaseStateName = "patcher-release.txt";
inline constexpr std::string_view kStagingSuffix = ".download";

// One of the files named above, compared as stored names (StoredNameKey).
bool IsPatcherOwnFile(std::string_view path);

// Why the patcher refuses a listed path before it touches any file; the
// order of the values is the order of its checks.
enum class ListedNameFault { None, Log, Staging, Twice, Unusable };

// What a program comparing names more strictly than StoredNameKey found itself.
struct ListedNameFacts {
    bool log = false;           // the path names the log
    bool staging = false;       // a staging name, the running patcher's ".new" among them
    bool listedBefore = false;  // an earlier entry names the same file
};

// The first fault of one listed path, by these rules and the caller's facts:
// the log; a staging name; a file listed before; another of the patcher's own
// files (IsPatcherOwnFile) or a name HasUnusableName refuses.
ListedNameFault JudgeListedName(std::string_view path, const ListedNameFacts& facts);
