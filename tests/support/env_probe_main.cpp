// A stand-in updater for process tests: writes the values of the environment variables named
// in FW_PROBE_VARS (separated by ";") to the file FW_PROBE_OUTPUT, one "name=value" line each
// ("name" alone when the variable is not set), and exits with the code in FW_PROBE_EXIT.

#include <cstdio>
#include <cstdlib>
#include <string>

int main() {
    const char* output = std::getenv("FW_PROBE_OUTPUT");
    const char* vars = std::getenv("FW_PROBE_VARS");
    const char* exitCode = std::getenv("FW_PROBE_EXIT");
    if (output != nullptr) {
        if (std::FILE* file = std::fopen(output, "wb")) {
            std::string names = vars != nullptr ? vars : "";
            std::size_t start = 0;
            while (start < names.size()) {
                std::size_t end = names.find(';', start);
                if (end == std::string::npos) end = names.size();
                std::string name = names.substr(start, end - start);
                const char* value = std::getenv(name.c_str());
                std::fprintf(file, "%s%s%s\n", name.c_str(), value != nullptr ? "=" : "",
                             value != nullptr ? value : "");
                start = end + 1;
            }
            std::fclose(file);
        }
    }
    return exitCode != nullptr ? std::atoi(exitCode) : 0;
}
