// Text conversion and the one place where events reach a dialog.

#include "platform/gtk/dialog_window_gtk.h"

namespace fw {

std::string ShownText(std::string_view raw) {
    std::string text;
    text.reserve(raw.size());
    for (char c : raw) {
        if (c != '\r' && c != '\0') text.push_back(c);
    }
    if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return text;
    gsize written = 0;
    GCharPtr converted(g_convert(text.data(), static_cast<gssize>(text.size()), "UTF-8",
                                 "WINDOWS-1252", nullptr, &written, nullptr));
    if (!converted) {
        converted.reset(g_convert(text.data(), static_cast<gssize>(text.size()), "UTF-8",
                                  "ISO-8859-1", nullptr, &written, nullptr));
    }
    return converted ? std::string(converted.get(), written) : std::string();
}

std::string ShownPrefix(std::string_view raw, std::size_t maxBytes) {
    if (raw.size() <= maxBytes) return ShownText(raw);
    std::size_t cut = maxBytes;
    // A continuation byte of UTF-8 never starts a character, and a character has at most three
    // of them; in the code page, where such bytes are characters of their own, a cut anywhere
    // is as good.
    for (int back = 0; back < 3 && cut > 0 && (static_cast<unsigned char>(raw[cut]) & 0xC0) == 0x80;
         ++back) {
        --cut;
    }
    return ShownText(raw.substr(0, cut)) + "\u2026";
}

std::string ToMnemonic(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '&') {
            if (i + 1 < text.size() && text[i + 1] == '&') {
                out.push_back('&');
                ++i;
            } else if (i + 1 < text.size()) {
                out.push_back('_');
            }
        } else if (c == '_') {
            out += "__";
        } else {
            out.push_back(c);
        }
    }
    return out;
}

void Dispatch(GtkDialogWindow* w, const Message& message) {
    if (w == nullptr || w->closed || w->ended || w->dialog == nullptr) return;
    if (w->backend->repaintOnly) return;
    std::shared_ptr<GtkDialogWindow> keep = w->shared_from_this();
    w->dialog->HandleMessage(message);
}

}  // namespace fw
