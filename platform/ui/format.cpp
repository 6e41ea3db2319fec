#include "platform/ui/format.h"

#include <cstdio>

namespace fw {
namespace {

bool IsFlag(char c) { return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLengthModifier(char c) {
    return c == 'h' || c == 'l' || c == 'L' || c == 'q' || c == 'j' || c == 'z' || c == 't';
}

template <class T>
void Append(std::string& out, const std::string& spec, T value) {
    char small[128];
    int n = std::snprintf(small, sizeof small, spec.c_str(), value);
    if (n < 0) return;
    if (static_cast<size_t>(n) < sizeof small) {
        out.append(small, static_cast<size_t>(n));
        return;
    }
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), spec.c_str(), value);
    big.resize(static_cast<size_t>(n));
    out += big;
}

long long AsSigned(const FormatArg& a) {
    if (auto* p = std::get_if<long long>(&a.value)) return *p;
    if (auto* p = std::get_if<unsigned long long>(&a.value)) return static_cast<long long>(*p);
    if (auto* p = std::get_if<double>(&a.value)) {
        return (*p > -9.2e18 && *p < 9.2e18) ? static_cast<long long>(*p) : 0;
    }
    return 0;
}

double AsDouble(const FormatArg& a) {
    if (auto* p = std::get_if<double>(&a.value)) return *p;
    if (auto* p = std::get_if<long long>(&a.value)) return static_cast<double>(*p);
    if (auto* p = std::get_if<unsigned long long>(&a.value)) return static_cast<double>(*p);
    return 0.0;
}

}  // namespace

std::string FormatV(std::string_view format, const std::vector<FormatArg>& args) {
    std::string out;
    size_t next = 0;
    size_t i = 0;
    while (i < format.size()) {
        char c = format[i];
        if (c != '%') {
            out += c;
            ++i;
            continue;
        }
        size_t start = i++;
        while (i < format.size() && IsFlag(format[i])) ++i;
        while (i < format.size() && IsDigit(format[i])) ++i;
        if (i < format.size() && format[i] == '.') {
            ++i;
            while (i < format.size() && IsDigit(format[i])) ++i;
        }
        size_t flagsEnd = i;  // end of flags, width and precision
        while (i < format.size() && IsLengthModifier(format[i])) ++i;
        if (i >= format.size()) {
            out.append(format.substr(start));
            break;
        }
        char conv = format[i++];
        if (conv == '%') {
            out += '%';
            continue;
        }
        std::string spec(format.substr(start, flagsEnd - start));
        if (next >= args.size()) {
            if (conv != 'd' && conv != 'i' && conv != 'u' && conv != 'x' && conv != 'X' &&
                conv != 'o' && conv != 'c' && conv != 's' && conv != 'f' && conv != 'e' &&
                conv != 'g' && conv != 'E' && conv != 'G') {
                out.append(format.substr(start, i - start));
            }
            continue;
        }
        const FormatArg& arg = args[next];
        switch (conv) {
            case 'd':
            case 'i':
                Append(out, spec + "lld", AsSigned(arg));
                ++next;
                break;
            case 'u':
            case 'x':
            case 'X':
            case 'o':
                Append(out, spec + "ll" + conv, static_cast<unsigned long long>(AsSigned(arg)));
                ++next;
                break;
            case 'c':
                Append(out, spec + "c", static_cast<int>(static_cast<unsigned char>(AsSigned(arg))));
                ++next;
                break;
            case 'f':
            case 'e':
            case 'g':
            case 'E':
            case 'G':
                Append(out, spec + conv, AsDouble(arg));
                ++next;
                break;
            case 's': {
                std::string text;
                if (auto* p = std::get_if<std::string_view>(&arg.value)) {
                    text.assign(*p);
                } else if (auto* q = std::get_if<double>(&arg.value)) {
                    text = std::to_string(*q);
                } else {
                    text = std::to_string(AsSigned(arg));
                }
                Append(out, spec + "s", text.c_str());
                ++next;
                break;
            }
            default:
                out.append(format.substr(start, i - start));
                break;
        }
    }
    return out;
}

}  // namespace fw
