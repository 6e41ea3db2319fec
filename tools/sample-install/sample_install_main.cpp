// Makes a sample installation for the demo: an install folder with a product executable and
// templates, a registry file that points at it, and an update server folder with release and
// beta definitions and small updaters that record that they ran.
//
//   fablewright-sample --out DIR
//   fablewright-sample --checksum FILE   prints the download checksum of FILE, as an
//                                        "update" record writes it
//
// Prints nothing on success; DIR/README.txt says what is where.

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "download/checksum.h"
#include "platform/posix/files_posix.h"
#include "platform/posix/registry_posix.h"
#include "tests/support/pe_writer.h"

namespace {

namespace fs = std::filesystem;

struct Template {
    const char* file;
    const char* system;
    const char* updater;  // file name of its updater; nullptr: no update offered
    std::size_t size;     // bytes of the updater
};

const Template kTemplates[] = {
    {"Fantasy.gsi", "Fantasy", "FantasyUpd.sh", 1800000},
    {"SciFi.gsi", "Sci Fi", nullptr, 0},
    {"Western.GSI", "Western", "WestUpd.sh", 900000},
    {"Horror.gsi", "Horror", "HorrorUpd.sh", 2600000},
};

bool WriteText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out);
}

// A shell script that records its run in the demo's log, then pads itself to `size` bytes
// with a comment so the download takes long enough to watch.
std::string Updater(const std::string& name, const fs::path& log, std::size_t size) {
    std::string s =
        "#!/bin/sh\n"
        "# Sample updater for the " + name + " template.\n"
        "{\n"
        "  echo \"updater " + name + " ran at $(date +%T)\"\n"
        "  echo \"  FABLEWRIGHTAUTOINSTALL=${FABLEWRIGHTAUTOINSTALL-(unset)}\"\n"
        "  echo \"  InstallFlags=${InstallFlags-(unset)}\"\n"
        "  echo \"  InstallPathOverride=${InstallPathOverride-(unset)}\"\n"
        "  echo \"  arguments: $#, folder: $(pwd)\"\n"
        "} >> '" + log.string() + "'\n"
        "sleep 1\n"
        "exit 0\n";
    std::string line = "# " + std::string(76, '=') + "\n";
    while (s.size() + line.size() <= size) s += line;
    if (s.size() < size) s += std::string(size - s.size() - 1, '#') + "\n";
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--checksum") == 0) {
        fw::PosixFiles files;
        std::uint32_t checksum = 0;
        if (!fw::FileChecksum(files, argv[2], checksum)) {
            std::fprintf(stderr, "cannot read %s\n", argv[2]);
            return 1;
        }
        std::printf("%08x\n", checksum);
        return 0;
    }
    if (argc != 3 || std::strcmp(argv[1], "--out") != 0) {
        std::fprintf(stderr, "usage: %s --out DIR | --checksum FILE\n", argv[0]);
        return 2;
    }
    fs::path out = fs::absolute(argv[2]);
    fs::path install = out / "Fablewright";
    fs::path server = out / "server";
    fs::path log = out / "updaters.log";
    fs::create_directories(install);
    fs::create_directories(server / "UpDefs");

    if (!fw::test::WriteBinaryFile((install / "Fablewright.exe").string(),
                                   fw::test::MakePeWithVersion(fw::test::PackVersion(4, 1, 0, 12)))) {
        std::fprintf(stderr, "cannot write the sample executable\n");
        return 1;
    }
    fw::PosixFiles files;
    std::string release = "# Sample release definitions\nupdatever~3\nversion~4.2\n";
    std::string beta = "# Sample beta definitions\nupdatever~3\nversion~5.0 beta 1\n";
    for (const Template& t : kTemplates) {
        WriteText(install / t.file, std::string("[Configuration]\r\nGameSystem=") + t.system +
                                        "\r\nRevision=7\r\n");
        if (!t.updater) continue;
        fs::path file = server / "files" / t.updater;
        WriteText(file, Updater(t.system, log, t.size));
        std::uint32_t checksum = 0;
        fw::FileChecksum(files, file.string(), checksum);
        char line[512];
        std::snprintf(line, sizeof line, "update~%s~files/%s~%zu~%08x\n", t.system, t.updater,
                      t.size, checksum);
        release += line;
        beta += line;
    }
    // The product itself, offered in both channels.
    fs::path product = server / "files" / "FwUpd42.sh";
    WriteText(product, Updater("Fablewright", log, 3200000));
    std::uint32_t checksum = 0;
    fw::FileChecksum(files, product.string(), checksum);
    char line[512];
    std::snprintf(line, sizeof line, "update~Fablewright~files/FwUpd42.sh~3200000~%08x\n", checksum);
    release.insert(release.find("update~"), line);
    beta += "equiv~Sci Fi Deluxe~Sci Fi\n";
    WriteText(server / "UpDefs" / "FablewrightUpdates.txt", release);
    WriteText(server / "UpDefs" / "FablewrightBetaUpdates.txt", beta);

    fw::PosixRegistry registry((out / "registry.reg").string());
    auto key = registry.CreateKey("Software\\Corvallen\\Fablewright");
    if (!key || !key->SetValue("InstallDir", install.string())) {
        std::fprintf(stderr, "cannot write the sample registry\n");
        return 1;
    }
    WriteText(out / "README.txt",
              "Fablewright/      the sample installation (product and four templates)\n"
              "server/           what the update server serves (UpDefs/, files/)\n"
              "registry.reg      the settings key; FABLEWRIGHT_REGISTRY points here\n"
              "updaters.log      what the sample updaters recorded when they ran\n");
    return 0;
}
