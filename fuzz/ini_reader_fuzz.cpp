// The profile-string reader over any template file: section, key, default and buffer size are
// taken from the front of the input, the rest is the file.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "platform/posix/ini_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    std::string section = provider.ConsumeRandomLengthString(40);
    std::string key = provider.ConsumeRandomLengthString(40);
    std::string defaultValue = provider.ConsumeRandomLengthString(40);
    std::size_t bufferSize = provider.ConsumeIntegralInRange<std::size_t>(0, 300);
    std::string text = provider.ConsumeRemainingBytesAsString();

    std::string value = fw::ReadProfileString(text, section, key, defaultValue, bufferSize);
    // The buffer bounds the value, terminator included.
    FW_FUZZ_CHECK(bufferSize == 0 ? value.empty() : value.size() < bufferSize);
    // The value is a piece of the file or of the default, never invented.
    bool fromFile = text.find(value) != std::string::npos &&
                    value.find_first_of("\r\n") == std::string::npos &&
                    value.find('\0') == std::string::npos;
    bool fromDefault = std::string_view(defaultValue).starts_with(value);
    FW_FUZZ_CHECK(fromFile || fromDefault);
    // The same question gets the same answer, and a larger buffer only lengthens it.
    FW_FUZZ_CHECK(fw::ReadProfileString(text, section, key, defaultValue, bufferSize) == value);
    std::string longer = fw::ReadProfileString(text, section, key, defaultValue, bufferSize + 50);
    FW_FUZZ_CHECK(std::string_view(longer).starts_with(value));
    return 0;
}
