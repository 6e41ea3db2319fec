#include "platform/win32/text_fit_win32.h"

#include <algorithm>

#include "platform/text.h"

namespace fw {
namespace {

// Some text after `from` in `text`, ending between characters (never after a lead byte).
std::size_t CharacterEnd(std::string_view text, std::size_t from, std::size_t bytes) {
    std::size_t end = from;
    while (end < text.size() && end - from < bytes) {
        end += IsLeadByte(static_cast<unsigned char>(text[end])) && end + 1 < text.size() ? 2 : 1;
    }
    return end;
}

bool IsBlank(char c) { return c == ' ' || c == '\r' || c == '\n' || c == '\t'; }

// A run longer than its head and tail around "..." keeps only these.
constexpr std::size_t kKept = 300;
constexpr std::size_t kLongestKeptRun = 2 * kKept + 3;

}  // namespace

// The longest run of characters without a blank or line break in `text`.
std::size_t LongestRun(std::string_view text) {
    std::size_t longest = 0;
    std::size_t run = 0;
    for (char c : text) {
        run = IsBlank(c) ? 0 : run + 1;
        longest = std::max(longest, run);
    }
    return longest;
}

// A message box lays its text out on one screen: a name from the server thousands of
// characters long would make it taller than the screen (and freeze Wine laying it out). Each
// run without a blank longer than kLongestWrappedRun keeps its first and last 300 bytes around
// "...", and every run gets a line break each 60 bytes; shorter texts are shown as they are.
std::string MessageBoxText(std::string_view text) {
    constexpr std::size_t kLine = 60;
    if (LongestRun(text) < kLongestWrappedRun) return std::string(text);
    std::string shown;
    std::size_t i = 0;
    while (i < text.size()) {
        if (IsBlank(text[i])) {
            shown += text[i++];
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && !IsBlank(text[end])) ++end;
        std::string_view run = text.substr(i, end - i);
        std::string kept(run);
        if (run.size() > kLongestKeptRun) {
            std::size_t headEnd = CharacterEnd(run, 0, kKept);
            // The tail starts on a character boundary found from the front.
            std::size_t tailStart = headEnd;
            while (run.size() - tailStart > kKept) tailStart = CharacterEnd(run, tailStart, 1);
            kept = std::string(run.substr(0, headEnd)) + "..." + std::string(run.substr(tailStart));
        }
        for (std::size_t at = 0; at < kept.size();) {
            std::size_t next = CharacterEnd(kept, at, kLine);
            if (at > 0) shown += "\r\n";
            shown.append(kept, at, next - at);
            at = next;
        }
        i = end;
    }
    return shown;
}

bool MessageBoxShortens(std::string_view text) { return LongestRun(text) > kLongestKeptRun; }

// What a tooltip shows of `text`: at most 1000 characters (Wine shows no more than 1023), with a
// line break in every run of 60 characters so that the tooltip wraps quickly and stays within
// the screen.
std::string TipText(std::string_view text) {
    constexpr std::size_t kTipCharacters = 1000;
    constexpr std::size_t kTipRun = 60;
    std::string tip;
    std::size_t run = 0;
    std::size_t i = 0;
    for (; i < text.size() && i < kTipCharacters; ++i) {
        char c = text[i];
        bool blank = IsBlank(c);
        if (!blank && run >= kTipRun) {
            tip += "\r\n";
            run = 0;
        }
        run = blank ? 0 : run + 1;
        tip += c;
        // The two bytes of a double-byte character stay together.
        if (IsLeadByte(static_cast<unsigned char>(c)) && i + 1 < text.size()) tip += text[++i];
    }
    if (i < text.size()) tip += "...";
    return tip;
}

}  // namespace fw
