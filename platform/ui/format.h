#pragma once
// printf-style formatting of the program's own texts. The conversion of each argument is chosen
// from the argument's own type, never from the format, so a text whose conversions do not match
// its arguments gives a wrong text at worst, never undefined behaviour.

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace fw {

class FormatArg {
public:
    template <class T>
        requires std::is_integral_v<T>
    FormatArg(T v) {  // NOLINT(google-explicit-constructor): used as an implicit argument list
        if constexpr (std::is_signed_v<T>) {
            value = static_cast<long long>(v);
        } else {
            value = static_cast<unsigned long long>(v);
        }
    }
    FormatArg(double v) : value(v) {}                     // NOLINT(google-explicit-constructor)
    FormatArg(const char* v) : value(std::string_view(v ? v : "(null)")) {}  // NOLINT
    FormatArg(std::string_view v) : value(v) {}           // NOLINT(google-explicit-constructor)
    FormatArg(const std::string& v) : value(std::string_view(v)) {}  // NOLINT

    std::variant<long long, unsigned long long, double, std::string_view> value;
};

// Formats `format` with the arguments as the C library's printf does for the conversions
// d i u x X o c s f e g and %%, with flags, width and precision (a `*` is not supported and is
// printed as it stands). A conversion without an argument left prints nothing.
std::string FormatV(std::string_view format, const std::vector<FormatArg>& args);

template <class... Args>
std::string Format(std::string_view format, const Args&... args) {
    return FormatV(format, std::vector<FormatArg>{FormatArg(args)...});
}

}  // namespace fw
