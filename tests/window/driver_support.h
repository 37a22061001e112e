#pragma once
// The window driver's protocol: a command line split into words, one reply
// line per command, escaping, and bounded waits.

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include <windows.h>

struct Reply {
    bool ok = true;
    std::wstring text;
    static Reply Ok(std::wstring values = {}) { return {true, std::move(values)}; }
    static Reply Error(std::wstring reason) { return {false, std::move(reason)}; }
};

// One command: words separated by blanks; Rest keeps a trailing text whole.
class Args {
public:
    explicit Args(std::wstring line);
    size_t Count() const { return words_.size(); }
    std::wstring Word(size_t index) const { return index < words_.size() ? words_[index] : std::wstring(); }
    // The word as a number: decimal, or hexadecimal after "0x"; 0 when missing.
    long long Number(size_t index) const;
    // Everything from word `index` to the end of the line, blanks included.
    std::wstring Rest(size_t index) const;

private:
    std::wstring line_;
    std::vector<std::wstring> words_;
    std::vector<size_t> starts_;
};

// Backslash, tab, CR and LF as \\ \t \r \n.
std::wstring Escape(const std::wstring& text);
// Numbers separated by one blank.
std::wstring Numbers(std::initializer_list<long> values);

// Hexadecimal digits, as handles are printed.
std::wstring Hex(unsigned long long value);
std::wstring HandleText(HWND window);
DWORD ProcessOf(HWND window);
std::wstring ClassOf(HWND window);
std::wstring TextOf(HWND window);
bool SameText(const std::wstring& a, const std::wstring& b);  // ignoring ASCII case

// The first child of `parent` (at any depth) for which `match` is true, or null.
HWND FindChild(HWND parent, const std::function<bool(HWND)>& match);

// The top-level windows (visible or not) for which `match` is true, in Z order.
std::vector<HWND> TopLevelWindows(const std::function<bool(HWND)>& match);

// Polls `done` every 25 ms until it is true or `timeoutMs` have passed; it is
// asked at least once. True when it became true.
bool WaitUntil(long long timeoutMs, const std::function<bool()>& done);

// Commands on the target window (window_driver.cpp) and on everything else
// (driver_boxes.cpp).
Reply RunCommand(const Args& args);
Reply RunOtherCommand(const Args& args);
