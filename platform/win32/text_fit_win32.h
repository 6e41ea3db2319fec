#pragma once
// Long texts from outside (names and versions from the server, folders) made fit for the
// window system's own layout: Wine lays out a word too long for its line one character at a
// time, each time the text is measured or drawn, so a few thousand characters without a blank
// freeze the window; and a message box or a tooltip grows to fit its text, past the screen.

#include <cstddef>
#include <string>
#include <string_view>

namespace fw {

// Runs of this many characters without a blank are never laid out wrapped.
inline constexpr std::size_t kLongestWrappedRun = 200;

// The longest run of bytes without a blank, tab or line break in `text`.
std::size_t LongestRun(std::string_view text);

// The text a message box shows for `text`: as it is when no run reaches kLongestWrappedRun;
// otherwise each run longer than 603 bytes keeps its first and last 300 bytes around "...", and
// every run gets a line break each 60 bytes. Double-byte characters stay whole.
std::string MessageBoxText(std::string_view text);

// Whether MessageBoxText leaves out part of `text` (a run longer than 603 bytes): such a text
// is shown whole in a box that scrolls instead.
bool MessageBoxShortens(std::string_view text);

// What a tooltip shows of `text`: at most its first 1000 bytes (and "..." when there were
// more), with a line break in every run of 60 bytes.
std::string TipText(std::string_view text);

}  // namespace fw
