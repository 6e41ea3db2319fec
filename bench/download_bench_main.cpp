// fw-download-bench: the whole download of one large updater over the loopback interface, by
// the product (the main dialog on the headless host, with the real HTTP layer, files and
// clock) and by the curl command-line tool, from the same loopback update server in the same
// run. Each download runs in a process of its own, so its peak resident size is its own.
//
//   fw-download-bench [--repetitions N] [--size-mib N]... [--dir DIR] [--json FILE] [--signed]
//                     [--keys-side-by-side]
//
// --signed serves signed definitions and runs the product with their key built in, so that
// the download is verified with the SHA-256 as well; its rows are named "...Signed".
// --keys-side-by-side runs only the product, with keys and without, taking turns; its rows are
// named "...WithKeys" and "...WithoutKeys".
//
// Sizes default to 256 and 16 MiB. For every size the two downloads alternate which goes
// first. The product's time is that of the Download click: request, transfer, and the
// checksum of the whole file that the transfer verifies at the end; its transfer alone ends
// with the last pass over the message queue (just before the read that finds the end).

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "bench/child_process_posix.h"
#include "bench/download_stats.h"
#include "discovery/base64.h"
#include "discovery/signed_definitions.h"
#include "download/checksum.h"
#include "download/verify.h"
#include "platform/openssl/signing_openssl.h"
#include "platform/curl/http_client_curl.h"
#include "platform/headless/headless_backend.h"
#include "platform/posix/files_posix.h"
#include "platform/posix/processes_posix.h"
#include "platform/posix/registry_posix.h"
#include "platform/posix/system_posix.h"
#include "res/resource.h"
#include "res/strings.h"
#include "session/update_downloader_dlg.h"
#include "tools/update-server/update_server.h"

namespace fw::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::string_view kTemplateSystem = "Bench";
constexpr std::string_view kServedPath = "files/bench.exe";
constexpr char kTimeProgram[] = "/usr/bin/time";

double SecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool WriteAll(const std::string& path, std::string_view text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return static_cast<bool>(out.flush());
}

// The high-water mark of this process's resident size since it started (VmHWM). The
// child's ru_maxrss is no use here: Linux starts it at the parent's resident size, since the
// child shares or copies the parent's memory until it starts its own program.
long OwnPeakResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return 0;
}

// ---- The product's download, in the child process ----

// Runs the main dialog: Check, then Download, timed. Writes name=value lines to standard
// output; the exit code is 0 only when the download was complete and verified.
int RunProductDownload(const std::string& work, const std::string& host) {
    HeadlessBackend ui;
    CurlHttpClient http;
    PosixFiles files;
    PosixRegistry registry(work + "/registry.reg");
    PosixProcesses processes;
    PosixSystem system;
    TrustedKeys keys;
    std::error_code noKey;
    if (fs::exists(work + "/trusted.pub", noKey) &&
        (!ReadPublicKeysPem(ReadAll(work + "/trusted.pub"), keys) || keys.empty())) {
        std::puts("error=the trusted key cannot be read");
        return 1;
    }
    Platform platform{ui, http, registry, files, processes, system, keys};
    if (!http.Startup()) {
        std::puts("error=the HTTP layer did not start");
        return 1;
    }
    std::vector<std::string> problems;
    ui.onUnexpected = [&](const std::string& what) { problems.push_back(what); };

    Clock::time_point lastPump{};
    bool downloading = false;
    ui.onEveryPump = [&] {
        if (downloading) lastPump = Clock::now();
    };

    std::string args[] = {"fablewright-update", "-server", host, "-infoserver", host};
    const char* argv[] = {args[0].c_str(), args[1].c_str(), args[2].c_str(), args[3].c_str(),
                          args[4].c_str()};
    CUpdateDownloaderDlg dlg(platform, 5, argv);

    bool complete = false;
    Clock::time_point clicked{};
    Clock::time_point ended{};
    long pumpsBefore = 0;
    ui.ScriptModal(res::kMainDialog, [&](HeadlessWindow& w) {
        if (!w.Click(res::kIdCheck) || w.Items(res::kIdUpdateList).size() != 1) {
            problems.push_back("the check did not list the one update");
            return;
        }
        pumpsBefore = ui.pumpCount;
        downloading = true;
        clicked = Clock::now();
        w.Click(res::kIdDownload);
        ended = Clock::now();
        downloading = false;
        complete = dlg.workflowState == WorkflowState::Downloaded &&
                   w.Text(res::kIdStatus) == "Download complete.";
    });
    dlg.DoModal();

    for (const std::string& p : problems) std::printf("problem=%s\n", p.c_str());
    if (!complete || !problems.empty() || lastPump < clicked) {
        std::puts("error=the download did not complete");
        return 1;
    }
    std::printf("total_seconds=%.6f\n", SecondsBetween(clicked, ended));
    std::printf("transfer_seconds=%.6f\n", SecondsBetween(clicked, lastPump));
    std::printf("pumps=%ld\n", ui.pumpCount - pumpsBefore);
    std::printf("peak_resident_kib=%ld\n", OwnPeakResidentKiB());
    return 0;
}

// ---- The driver ----

struct Options {
    int repetitions = 5;
    std::vector<std::uint64_t> sizesMiB;
    std::string dir;
    std::string jsonFile;
    bool signedDefinitions = false;
    bool keysSideBySide = false;
};

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string_view flag = argv[i];
        if (flag == "--signed") {
            options.signedDefinitions = true;
            continue;
        }
        if (flag == "--keys-side-by-side") {
            options.keysSideBySide = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        std::string_view value = argv[++i];
        std::optional<double> number = ParseSeconds(value);  // any whole non-negative number
        if (flag == "--repetitions") {
            if (!number || *number < 1 || *number > 1000) return false;
            options.repetitions = static_cast<int>(*number);
        } else if (flag == "--size-mib") {
            // The definitions announce sizes as signed 32-bit numbers.
            if (!number || *number < 1 || *number > 2047) return false;
            options.sizesMiB.push_back(static_cast<std::uint64_t>(*number));
        } else if (flag == "--dir") {
            options.dir = value;
        } else if (flag == "--json") {
            options.jsonFile = value;
        } else {
            return false;
        }
    }
    if (options.sizesMiB.empty()) options.sizesMiB = {256, 16};
    return true;
}

// One size: the served file, the definitions that list it, the install folder and the
// registry that points at it.
class Workbench {
public:
    Workbench(const std::string& parent, std::uint64_t sizeMiB) : bytes(sizeMiB << 20) {
        std::random_device seed;
        root = (fs::path(parent) / ("fw-download-bench-" + std::to_string(seed()))).string();
    }
    ~Workbench() {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
    Workbench(const Workbench&) = delete;
    Workbench& operator=(const Workbench&) = delete;

    bool Prepare() {
        std::error_code error;
        fs::create_directories(root + "/server/UpDefs", error);
        fs::create_directories(root + "/server/files", error);
        fs::create_directories(root + "/install", error);
        if (error) return false;
        std::string served = root + "/server/" + std::string(kServedPath);
        {
            std::ofstream out(served, std::ios::binary);
            std::mt19937_64 random(42);
            std::vector<std::uint64_t> block((1u << 20) / sizeof(std::uint64_t));
            for (std::uint64_t done = 0; done < bytes; done += 1u << 20) {
                for (auto& word : block) word = random();
                out.write(reinterpret_cast<const char*>(block.data()), 1 << 20);
            }
            if (!out.flush()) return false;
        }
        PosixFiles files;
        std::uint32_t checksum = 0;
        if (!FileChecksum(files, served, checksum)) return false;
        char hex[16];
        std::snprintf(hex, sizeof hex, "%x", checksum);
        std::string definitions = "version~4\nupdate~" + std::string(kTemplateSystem) + "~" +
                                  std::string(kServedPath) + "~" + std::to_string(bytes) + "~" +
                                  hex + "\n";
        if (signedDefinitions && !Sign(served, definitions)) return false;
        if (!WriteAll(root + "/server/UpDefs/FablewrightUpdates.txt", definitions) ||
            !WriteAll(root + "/install/Bench.gsi",
                      "[Configuration]\r\nGameSystem=" + std::string(kTemplateSystem) + "\r\n")) {
            return false;
        }
        PosixRegistry registry(root + "/registry.reg");
        std::unique_ptr<RegistryKey> key = registry.CreateKey(res::LoadString(res::kStrRegistryKey));
        return key && key->SetValue(res::LoadString(res::kStrInstallDirKey), root + "/install");
    }

    // Adds the serial and the digest to `definitions` and signs them with a key made for this
    // run, whose public half the product's run then trusts.
    bool Sign(const std::string& served, std::string& definitions) {
        PosixFiles files;
        FileFacts facts;
        SigningKeyPair pair;
        std::string error;
        if (!ReadFileFacts(files, served, facts) || !GenerateSigningKey("bench", pair, error)) {
            return false;
        }
        definitions.insert(definitions.size() - 1, "~sha256:" + DigestHex(facts.digest));
        definitions = "serial~FablewrightUpdates.txt~1\n" + definitions;
        Bytes signature, publicKey;
        std::span<const std::uint8_t> message(
            reinterpret_cast<const std::uint8_t*>(definitions.data()), definitions.size());
        if (!SignWithPrivateKey(pair.privatePem, "bench", message, signature, publicKey, error)) {
            return false;
        }
        definitions += "signature~" + std::string(kSignatureAlgorithm) + "~" + KeyIdOf(publicKey) +
                       "~" + EncodeBase64(signature) + "\n";
        return WriteAll(root + "/trusted.pub", pair.publicPem);
    }

    // What a run left behind goes, so that the next one cannot reuse it.
    void RemoveDownloads() {
        std::error_code ignored;
        fs::remove_all(root + "/install/temp", ignored);
        fs::remove(CurlOutput(), ignored);
    }

    std::string CurlOutput() const { return root + "/curl.bin"; }
    std::string ReportFile() const { return root + "/report.txt"; }

    std::string root;
    std::uint64_t bytes;
    bool signedDefinitions = false;
};

struct Measurements {
    std::vector<double> productTotal;     // seconds
    std::vector<double> productTransfer;  // seconds
    std::vector<double> curlTotal;        // seconds, as curl measured it
    std::vector<double> curlWall;         // seconds, including the start of the process
    std::vector<double> ratios;           // product / curl speed, per repetition
    std::vector<double> productPeakKiB;
    std::vector<double> curlPeakKiB;
    std::vector<double> productCpu;
    std::vector<double> curlCpu;
};

// One download by the product, in a child process; its figures join `m`.
bool RunProduct(const std::string& self, Workbench& bench, const std::string& host,
                Measurements& m, double& seconds) {
    bench.RemoveDownloads();
    ChildRun run = RunChild({self, "--product-run", bench.root, host}, bench.ReportFile());
    std::string text = ReadAll(bench.ReportFile());
    auto report = ParseReport(text);
    std::optional<double> total = ParseSeconds(report["total_seconds"]);
    std::optional<double> transfer = ParseSeconds(report["transfer_seconds"]);
    if (run.exitCode != 0 || !total || !transfer) {
        std::fprintf(stderr, "product download failed (exit %d):\n%s", run.exitCode,
                     text.c_str());
        return false;
    }
    seconds = *total;
    m.productTotal.push_back(*total);
    m.productTransfer.push_back(*transfer);
    std::optional<double> peak = ParseSeconds(report["peak_resident_kib"]);
    m.productPeakKiB.push_back(peak.value_or(0));
    m.productCpu.push_back(run.cpuSeconds);
    bench.RemoveDownloads();
    return true;
}

bool RunOnce(const std::string& self, Workbench& bench, const std::string& host,
             Measurements& m, bool curlFirst) {
    double product = 0;
    double curl = 0;
    auto runProduct = [&] { return RunProduct(self, bench, host, m, product); };
    auto runCurl = [&] {
        bench.RemoveDownloads();
        std::string url = "http://" + host + "/" + std::string(kServedPath);
        // GNU time measures curl's peak from a parent of its own, which is small.
        std::vector<std::string> argv;
        std::error_code missing;
        bool timed = fs::exists(kTimeProgram, missing);
        if (timed) argv = {kTimeProgram, "-f", "%M", "-o", bench.root + "/curl-peak.txt"};
        for (const char* a : {"curl", "-s", "-o"}) argv.emplace_back(a);
        argv.insert(argv.end(), {bench.CurlOutput(), "-w", "%{time_total}", url});
        ChildRun run = RunChild(argv, bench.ReportFile());
        std::optional<double> total = ParseSeconds(ReadAll(bench.ReportFile()));
        std::error_code error;
        std::uintmax_t size = fs::file_size(bench.CurlOutput(), error);
        if (run.exitCode != 0 || !total || error || size != bench.bytes) {
            std::fprintf(stderr, "curl failed (exit %d)\n", run.exitCode);
            return false;
        }
        curl = *total;
        m.curlTotal.push_back(*total);
        m.curlWall.push_back(run.wallSeconds);
        std::optional<double> peak =
            timed ? ParseSeconds(ReadAll(bench.root + "/curl-peak.txt")) : std::nullopt;
        m.curlPeakKiB.push_back(peak.value_or(0));
        m.curlCpu.push_back(run.cpuSeconds);
        return true;
    };
    bool ok = curlFirst ? runCurl() && runProduct() : runProduct() && runCurl();
    if (ok) m.ratios.push_back(curl / product);
    bench.RemoveDownloads();
    return ok;
}

std::string SizeName(std::uint64_t bytes) { return std::to_string(bytes >> 20) + "MiB"; }

// One row in the shape of a Google Benchmark median, so that bench/run.sh can put it in its
// table; the extra fields carry the spread and the peak resident size.
std::string JsonRow(const std::string& name, int repetitions, std::uint64_t bytes,
                    const std::vector<double>& seconds, const std::vector<double>& peakKiB) {
    Spread time = SpreadOf(seconds);
    Spread peak = SpreadOf(peakKiB);
    char text[640];
    std::snprintf(text, sizeof text,
                  "{\"run_name\":\"BM_%s\",\"aggregate_name\":\"median\",\"repetitions\":%d,"
                  "\"real_time\":%.3f,\"time_unit\":\"ms\",\"bytes_per_second\":%.0f,"
                  "\"min_bytes_per_second\":%.0f,\"max_bytes_per_second\":%.0f,"
                  "\"peak_rss_kib\":%.0f,\"min_peak_rss_kib\":%.0f,\"max_peak_rss_kib\":%.0f}",
                  name.c_str(), repetitions, time.median * 1e3,
                  MegabytesPerSecond(bytes, time.median) * 1e6,
                  MegabytesPerSecond(bytes, time.high) * 1e6,
                  MegabytesPerSecond(bytes, time.low) * 1e6, peak.median, peak.low, peak.high);
    return text;
}

void PrintLine(const char* what, std::uint64_t bytes, const std::vector<double>& seconds) {
    Spread s = SpreadOf(seconds);
    std::printf("  %-34s %9.1f ms  %7.0f MB/s  (%.0f to %.0f)\n", what, s.median * 1e3,
                MegabytesPerSecond(bytes, s.median), MegabytesPerSecond(bytes, s.high),
                MegabytesPerSecond(bytes, s.low));
}

void PrintCpuAndPeak(const Measurements& m) {
    Spread peak = SpreadOf(m.productPeakKiB);
    Spread cpu = SpreadOf(m.productCpu);
    std::printf("  %-34s %9.0f KiB (%.0f to %.0f)\n", "peak resident size", peak.median,
                peak.low, peak.high);
    std::printf("  %-34s %9.3f s   (%.3f to %.3f)\n", "CPU time, user + system", cpu.median,
                cpu.low, cpu.high);
}

// The same download by the product with keys (signed definitions, the SHA-256 checked) and
// without, from two loopback servers, taking turns to go first.
int RunKeysSideBySide(const std::string& self, const std::string& parent,
                      const Options& options, std::vector<std::string>& rows) {
    for (std::uint64_t sizeMiB : options.sizesMiB) {
        Workbench withKeys(parent, sizeMiB);
        Workbench withoutKeys(parent, sizeMiB);
        withKeys.signedDefinitions = true;
        if (!withKeys.Prepare() || !withoutKeys.Prepare()) {
            std::fprintf(stderr, "cannot prepare the workbenches\n");
            return 1;
        }
        UpdateServer keysServer(withKeys.root + "/server");
        UpdateServer plainServer(withoutKeys.root + "/server");
        if (!keysServer.Start(0) || !plainServer.Start(0)) {
            std::fprintf(stderr, "the loopback servers did not start\n");
            return 1;
        }
        Measurements keys;
        Measurements plain;
        std::vector<double> ratios;  // with keys / without, speeds, per repetition
        for (int i = 0; i < options.repetitions; ++i) {
            double keysSeconds = 0;
            double plainSeconds = 0;
            auto runKeys = [&] {
                return RunProduct(self, withKeys, keysServer.HostText(), keys, keysSeconds);
            };
            auto runPlain = [&] {
                return RunProduct(self, withoutKeys, plainServer.HostText(), plain, plainSeconds);
            };
            bool ok = i % 2 == 1 ? runPlain() && runKeys() : runKeys() && runPlain();
            if (!ok) return 1;
            ratios.push_back(plainSeconds / keysSeconds);
        }
        keysServer.Stop();
        plainServer.Stop();

        std::string size = SizeName(withKeys.bytes);
        std::printf("%s over loopback, with keys and without, %d repetitions (median, spread):\n",
                    size.c_str(), options.repetitions);
        PrintLine("with keys, Download click", withKeys.bytes, keys.productTotal);
        PrintCpuAndPeak(keys);
        PrintLine("without keys, Download click", withoutKeys.bytes, plain.productTotal);
        PrintCpuAndPeak(plain);
        Spread ratio = SpreadOf(ratios);
        std::printf("  %-34s %9.2fx  (%.2f to %.2f)\n", "with / without keys, per repetition",
                    ratio.median, ratio.low, ratio.high);
        std::fflush(stdout);
        rows.push_back(JsonRow("Download" + size + "WithKeys_Product", options.repetitions,
                               withKeys.bytes, keys.productTotal, keys.productPeakKiB));
        rows.push_back(JsonRow("Download" + size + "WithoutKeys_Product", options.repetitions,
                               withoutKeys.bytes, plain.productTotal, plain.productPeakKiB));
    }
    return 0;
}

int RunDriver(const char* argv0, const Options& options) {
    std::error_code error;
    std::string self = fs::canonical("/proc/self/exe", error).string();
    if (error) self = argv0;
    std::string parent = options.dir.empty() ? fs::temp_directory_path().string() : options.dir;

    std::vector<std::string> rows;
    if (options.keysSideBySide) {
        if (int code = RunKeysSideBySide(self, parent, options, rows); code != 0) return code;
    }
    for (std::uint64_t sizeMiB : options.keysSideBySide ? std::vector<std::uint64_t>{}
                                                        : options.sizesMiB) {
        Workbench bench(parent, sizeMiB);
        bench.signedDefinitions = options.signedDefinitions;
        if (!bench.Prepare()) {
            std::fprintf(stderr, "cannot prepare %s\n", bench.root.c_str());
            return 1;
        }
        UpdateServer server(bench.root + "/server");
        if (!server.Start(0)) {
            std::fprintf(stderr, "the loopback server did not start\n");
            return 1;
        }
        Measurements m;
        for (int i = 0; i < options.repetitions; ++i) {
            if (!RunOnce(self, bench, server.HostText(), m, i % 2 == 1)) return 1;
        }
        server.Stop();

        std::string size = SizeName(bench.bytes) + (options.signedDefinitions ? "Signed" : "");
        std::printf("%s over loopback, %d repetitions (median, spread of the rates):\n",
                    size.c_str(), options.repetitions);
        PrintLine("product, Download click", bench.bytes, m.productTotal);
        PrintLine("product, transfer only", bench.bytes, m.productTransfer);
        PrintLine("curl (its time_total)", bench.bytes, m.curlTotal);
        PrintLine("curl (process wall time)", bench.bytes, m.curlWall);
        Spread ratio = SpreadOf(m.ratios);
        std::printf("  %-34s %9.2fx  (%.2f to %.2f)\n", "product / curl, per repetition",
                    ratio.median, ratio.low, ratio.high);
        Spread productPeak = SpreadOf(m.productPeakKiB);
        Spread curlPeak = SpreadOf(m.curlPeakKiB);
        Spread cpu = SpreadOf(m.productCpu);
        std::printf("  %-34s %9.0f KiB (%.0f to %.0f)\n", "product peak resident size",
                    productPeak.median, productPeak.low, productPeak.high);
        std::printf("  %-34s %9.0f KiB (%.0f to %.0f)\n", "curl peak resident size",
                    curlPeak.median, curlPeak.low, curlPeak.high);
        Spread curlCpu = SpreadOf(m.curlCpu);
        std::printf("  %-34s %9.3f s   (%.3f to %.3f)\n", "product CPU time, user + system",
                    cpu.median, cpu.low, cpu.high);
        std::printf("  %-34s %9.3f s   (%.3f to %.3f)\n", "curl CPU time, user + system",
                    curlCpu.median, curlCpu.low, curlCpu.high);
        std::fflush(stdout);

        rows.push_back(JsonRow("Download" + size + "_Product", options.repetitions, bench.bytes,
                               m.productTotal, m.productPeakKiB));
        rows.push_back(JsonRow("Download" + size + "_ProductTransfer", options.repetitions,
                               bench.bytes, m.productTransfer, m.productPeakKiB));
        rows.push_back(JsonRow("Download" + size + "_Curl", options.repetitions, bench.bytes,
                               m.curlTotal, m.curlPeakKiB));
    }

    if (!options.jsonFile.empty()) {
        char date[64];
        std::time_t now = std::time(nullptr);
        std::tm utc{};
        if (const std::tm* t = std::gmtime(&now)) utc = *t;
        std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S+00:00", &utc);
        std::string json = "{\"context\":{\"date\":\"" + std::string(date) +
                           "\"},\"benchmarks\":[";
        for (std::size_t i = 0; i < rows.size(); ++i) json += (i ? ",\n" : "\n") + rows[i];
        json += "\n]}\n";
        if (!WriteAll(options.jsonFile, json)) return 1;
    }
    return 0;
}

}  // namespace
}  // namespace fw::bench

int main(int argc, char** argv) {
    if (argc == 4 && std::string_view(argv[1]) == "--product-run") {
        return fw::bench::RunProductDownload(argv[2], argv[3]);
    }
    fw::bench::Options options;
    if (!fw::bench::ParseOptions(argc, argv, options)) {
        std::fputs("usage: fw-download-bench [--repetitions N] [--size-mib N]... [--dir DIR] "
                   "[--json FILE] [--signed] [--keys-side-by-side]\n",
                   stderr);
        return 2;
    }
    return fw::bench::RunDriver(argv[0], options);
}
