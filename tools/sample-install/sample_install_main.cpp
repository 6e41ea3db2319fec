// Makes a sample installation for the demo: an install folder with a product executable and
// templates, a registry file that points at it, and an update server folder with release and
// beta definitions and small updaters that record that they ran.
//
//   fablewright-sample --out DIR [--digests] [--tampered]
//   fablewright-sample --checksum FILE   prints the download checksum of FILE, as an
//                                        "update" record writes it
//
// --digests adds the SHA-256 field to every update record, ready for fablewright-publish sign.
// --tampered (implies --digests) then replaces the product's updater with another program of
// the same size and 32-bit checksum, as someone on the network path could.
//
// Prints nothing on success; DIR/README.txt says what is where.

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "download/checksum.h"
#include "download/verify.h"
#include "discovery/signed_definitions.h"
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

// The digest field for a served file, or nothing when digests were not asked for.
std::string DigestField(fw::Files& files, const fs::path& file, bool digests) {
    fw::FileFacts facts;
    if (!digests || !fw::ReadFileFacts(files, file.string(), facts)) return "";
    return "~sha256:" + fw::DigestHex(facts.digest);
}

// Another program in `original`'s place with the same size and 32-bit checksum. The checksum
// folds byte k in by k mod 64 alone, so whatever the new start changes in each of the 64 lanes
// is undone by two bytes of that lane in the padding comments further on.
bool Forge(const fs::path& file, const std::string& original, const std::string& program) {
    std::string forged = original;
    if (program.size() + 4 * 80 > forged.size()) return false;
    forged.replace(0, program.size(), program);
    unsigned char delta[64] = {};
    for (std::size_t k = 0; k < program.size(); ++k) {
        delta[k % 64] ^= static_cast<unsigned char>(original[k] ^ forged[k]);
    }
    // Two runs of 64 "=" inside two padding lines past the program.
    std::string run(64, '=');
    std::size_t first = forged.find(run, program.size());
    std::size_t second = first == std::string::npos ? first : forged.find(run, first + 80);
    if (second == std::string::npos) return false;
    for (std::size_t lane = 0; lane < 64; ++lane) {
        // Each run of 64 holds exactly one byte of every lane.
        std::size_t a = first + (lane + 64 - first % 64) % 64;
        std::size_t b = second + (lane + 64 - second % 64) % 64;
        unsigned char d = delta[lane];
        for (unsigned x = 1; x < 256; ++x) {
            unsigned char ca = static_cast<unsigned char>('=' ^ x);
            unsigned char cb = static_cast<unsigned char>('=' ^ x ^ d);
            // Anything but a line end or NUL keeps the comment a comment.
            if (ca != '\n' && ca != 0 && cb != '\n' && cb != 0) {
                forged[a] = static_cast<char>(ca);
                forged[b] = static_cast<char>(cb);
                break;
            }
        }
    }
    return WriteText(file, forged);
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
    bool digests = false, tampered = false, unknown = false;
    for (int i = 3; i < argc; ++i) {
        bool isDigests = std::strcmp(argv[i], "--digests") == 0;
        bool isTampered = std::strcmp(argv[i], "--tampered") == 0;
        digests = digests || isDigests;
        tampered = tampered || isTampered;
        unknown = unknown || !(isDigests || isTampered);
    }
    digests = digests || tampered;
    if (argc < 3 || std::strcmp(argv[1], "--out") != 0 || unknown) {
        std::fprintf(stderr, "usage: %s --out DIR [--digests] [--tampered] | --checksum FILE\n",
                     argv[0]);
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
        std::snprintf(line, sizeof line, "update~%s~files/%s~%zu~%08x%s\n", t.system, t.updater,
                      t.size, checksum, DigestField(files, file, digests).c_str());
        release += line;
        beta += line;
    }
    // The product itself, offered in both channels.
    fs::path product = server / "files" / "FwUpd42.sh";
    WriteText(product, Updater("Fablewright", log, 3200000));
    std::uint32_t checksum = 0;
    fw::FileChecksum(files, product.string(), checksum);
    char line[512];
    std::snprintf(line, sizeof line, "update~Fablewright~files/FwUpd42.sh~3200000~%08x%s\n",
                  checksum, DigestField(files, product, digests).c_str());
    release.insert(release.find("update~"), line);
    beta += "equiv~Sci Fi Deluxe~Sci Fi\n";
    WriteText(server / "UpDefs" / "FablewrightUpdates.txt", release);
    WriteText(server / "UpDefs" / "FablewrightBetaUpdates.txt", beta);

    if (tampered) {
        std::string program =
            "#!/bin/sh\n"
            "# Not the publisher's updater: changed on the way, its size and checksum kept.\n"
            "echo \"TAMPERED updater ran at $(date +%T)\" >> '" + log.string() + "'\n"
            "exit 0\n";
        std::string original = Updater("Fablewright", log, 3200000);
        std::uint32_t forgedChecksum = 1;
        if (!Forge(product, original, program) ||
            !fw::FileChecksum(files, product.string(), forgedChecksum) || forgedChecksum != checksum ||
            fs::file_size(product) != 3200000) {
            std::fprintf(stderr, "cannot forge the altered updater\n");
            return 1;
        }
    }

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
