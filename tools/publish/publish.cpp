#include "tools/publish/publish.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <ostream>
#include <sstream>

#include "discovery/base64.h"
#include "discovery/definitions.h"
#include "discovery/signed_definitions.h"
#include "download/transfer.h"
#include "download/verify.h"
#include "platform/openssl/signing_openssl.h"
#include "platform/posix/files_posix.h"
#include "platform/curl/http_client_curl.h"
#include "platform/posix/system_posix.h"
#include "platform/server_address.h"

namespace fw::publish {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPassphraseVariable = "FABLEWRIGHT_PUBLISH_PASSPHRASE";

constexpr const char* kHelp = R"help(fablewright-publish: sign the update definitions that the Fablewright Update
Downloader checks when keys are built into it.

  fablewright-publish keygen --out NAME
      Makes a P-256 key pair: NAME.key (the private key, PKCS #8 encrypted with
      AES-256 under a passphrase; keep it secret) and NAME.pub (the public key;
      build the program with -DFW_TRUSTED_KEYS=NAME.pub). Prints the key id.

  fablewright-publish make --files DIR --list LIST [--version TEXT] [--expires AGE]
                          [--out FILE]
      Writes definitions for the updaters in DIR. LIST has one line per update,
      "template name~file in DIR~path on the server"; "#" starts a comment. Each
      update line gets the size, the program's 32-bit checksum and the SHA-256.
      Add other records (equiv, info) to the result before signing it.
      --expires as for sign.

  fablewright-publish sign --key KEY [--key KEY2] [--serial N] [--name NAME]
                          [--expires AGE] FILE
      Checks every line of FILE, sets the serial record to N (or raises it by
      one; 1 for a file without one), drops any old signature lines and appends
      one signature line per key. NAME is the definitions file name that the
      serial binds the file to (default: the name of FILE). --expires sets the
      expires record: AGE is a number of days ("14d") or hours ("36h") from now,
      or a date YYYY-MM-DDTHH:MM:SSZ. A program with keys refuses definitions
      whose expiry has passed, so that nobody can keep serving it old ones;
      sign again before then.

  fablewright-publish verify (--root DIR | --url https://HOST/) --key PUB
                            [--key PUB2] [NAME...]
      Checks served definitions (DIR/UpDefs/NAME, default: every file there) as
      the program does: the signature by one of the keys, the serial and its
      file name, and every listed updater's size, checksum and SHA-256 under
      DIR. Prints a report, with the expiry; the exit code is 1 when anything is
      wrong, the expiry having passed included. --url checks what the server
      really serves, over HTTPS with its certificate checked against the
      system's authorities (NAME defaults to FablewrightUpdates.txt there).

  The passphrase comes from --passphrase-file FILE (its first line), else from
  the variable FABLEWRIGHT_PUBLISH_PASSPHRASE, else it is asked for.

The format:
  update~<template>~<source>~<size>~<checksum>~sha256:<64 hex digits>
  serial~<definitions file name>~<N>      N decimal, 64 bits, never lowered
  expires~<YYYY-MM-DDTHH:MM:SSZ>          optional; UTC
  signature~ecdsa-p256-sha256~<key id>~<base64 of the DER signature>
The signed bytes are the file's bytes, exactly as served, up to the first
signature line; only signature lines and empty lines may follow. The key id is
the first 8 bytes, in lower-case hex, of SHA-256 over the DER public key.

Signing with stock OpenSSL gives the same result as `sign`:
  # the file holds its serial line, ends with a line end, has no signature yet
  openssl dgst -sha256 -sign NAME.key -out defs.sig FablewrightUpdates.txt
  id=$(openssl pkey -pubin -in NAME.pub -outform DER | openssl dgst -sha256 -r | cut -c1-16)
  echo "signature~ecdsa-p256-sha256~$id~$(base64 -w0 defs.sig)" >> FablewrightUpdates.txt
)help";

struct Options {
    std::vector<std::string> positional;
    std::map<std::string, std::vector<std::string>> values;
    std::string error;

    const std::string* One(const std::string& name) const {
        auto it = values.find(name);
        return it == values.end() || it->second.empty() ? nullptr : &it->second.back();
    }
};

Options Parse(const std::vector<std::string>& args, std::size_t from,
              std::initializer_list<const char*> known) {
    Options options;
    for (std::size_t i = from; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.rfind("--", 0) != 0) {
            options.positional.push_back(a);
            continue;
        }
        bool ok = false;
        for (const char* k : known) ok = ok || a == k;
        if (!ok) {
            options.error = "unknown option " + a;
        } else if (i + 1 >= args.size()) {
            options.error = a + " needs a value";
        } else {
            options.values[a].push_back(args[++i]);
        }
        if (!options.error.empty()) break;
    }
    return options;
}

std::optional<std::string> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return text.str();
}

// Writes through a temporary file and a rename, so a failure never leaves half a file.
bool WriteFile(const std::string& path, const std::string& text) {
    std::string temporary = path + ".tmp";
    std::error_code ec;
    if (fs::path parent = fs::path(path).parent_path(); !parent.empty()) {
        fs::create_directories(parent, ec);
    }
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out << text;
        out.close();
        if (!out) return false;
    }
    fs::rename(temporary, path, ec);
    if (ec) fs::remove(temporary, ec);
    return !ec;
}

bool Passphrase(const Options& options, bool confirm, std::string& passphrase, std::ostream& err) {
    if (const std::string* file = options.One("--passphrase-file")) {
        std::optional<std::string> text = ReadFile(*file);
        if (!text) {
            err << "error: cannot read the passphrase file " << *file << "\n";
            return false;
        }
        passphrase = text->substr(0, text->find_first_of("\r\n"));
        return true;
    }
    if (const char* value = std::getenv(kPassphraseVariable)) {
        passphrase = value;
        return true;
    }
    if (!ReadPassphraseFromTerminal("Passphrase: ", confirm, passphrase)) {
        err << "error: no passphrase (no terminal to ask, or the two entries differ)\n";
        return false;
    }
    return true;
}

std::string KeyIdOfPem(const std::string& pem) {
    TrustedKeys keys;
    if (!ReadPublicKeysPem(pem, keys) || keys.size() != 1) return {};
    return KeyIdOf(keys[0]);
}

std::span<const std::uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Each line of `text` with its number from 1: without CR bytes and LF.
std::vector<std::string> Lines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t position = 0;
    while (position < text.size()) {
        std::size_t end = text.find('\n', position);
        if (end == std::string_view::npos) end = text.size();
        std::string line;
        for (char c : text.substr(position, end - position)) {
            if (c != '\r') line += c;
        }
        lines.push_back(line);
        position = end + 1;
    }
    return lines;
}

bool AllDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

bool AllHex(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
}

// The problems of the records a signed file is made of, each with its line number.
std::vector<std::string> CheckLines(const std::string& name, std::string_view text) {
    std::vector<std::string> problems;
    std::vector<std::string> lines = Lines(text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.empty() || line.front() == '#') continue;
        FieldTokenizer tokenizer(line, "~");
        std::string keyword;
        tokenizer.NextField(keyword);
        std::vector<std::string> fields;
        for (std::string f; tokenizer.NextField(f);) fields.push_back(f);
        std::string where = name + ":" + std::to_string(i + 1) + ": ";
        if (EqualsNoCase(keyword, "update")) {
            if (fields.size() < 5) {
                problems.push_back(where + "an update record needs "
                                           "template~source~size~checksum~sha256:<64 hex digits>");
            } else if (!AllDigits(fields[2])) {
                problems.push_back(where + "the size \"" + fields[2] + "\" is not a number of bytes");
            } else if (!AllHex(fields[3]) || fields[3].size() > 8) {
                problems.push_back(where + "the checksum \"" + fields[3] + "\" is not 32-bit hexadecimal");
            } else if (!ParseDigestField(fields[4])) {
                problems.push_back(where + "\"" + fields[4] + "\" is not sha256:<64 hex digits>");
            }
        } else if (EqualsNoCase(keyword, "serial")) {
            if (fields.size() < 2 || !ParseSerial(fields[1])) {
                problems.push_back(where + "a serial record needs <file name>~<decimal number>");
            }
        } else if (EqualsNoCase(keyword, "updatever")) {
            if (fields.empty() || ParseDecimal32(fields[0]) > kHighestDefinitionsVersion) {
                problems.push_back(where + "the format version must be at most 3");
            }
        }
    }
    return problems;
}

int KeyGen(const Options& options, std::ostream& out, std::ostream& err) {
    const std::string* base = options.One("--out");
    if (!base || !options.positional.empty()) {
        err << "usage: fablewright-publish keygen --out NAME\n";
        return 2;
    }
    std::string privatePath = *base + ".key", publicPath = *base + ".pub";
    for (const std::string& path : {privatePath, publicPath}) {
        if (fs::exists(path)) {
            err << "error: " << path << " exists already; a key is never overwritten\n";
            return 1;
        }
    }
    std::string passphrase, error;
    if (!Passphrase(options, true, passphrase, err)) return 1;
    SigningKeyPair pair;
    if (!GenerateSigningKey(passphrase, pair, error)) {
        err << "error: " << error << "\n";
        return 1;
    }
    if (fs::path parent = fs::path(privatePath).parent_path(); !parent.empty()) {
        std::error_code ec;
        fs::create_directories(parent, ec);
    }
    // Owner-only from its first byte: no moment in which another user could open it.
    if (!CreateOwnerOnlyFile(privatePath, pair.privatePem, error)) {
        err << "error: " << error << "\n";
        return 1;
    }
    if (!WriteFile(publicPath, pair.publicPem)) {
        err << "error: cannot write " << publicPath << "\n";
        return 1;
    }
    out << "private key: " << privatePath << " (keep it secret)\n"
        << "public key:  " << publicPath << "\n"
        << "key id:      " << KeyIdOfPem(pair.publicPem) << "\n";
    return 0;
}

// The expires record that --expires asks for, with its line end; empty without the option, and
// nothing (after a message) when the option cannot be read.
std::optional<std::string> ExpiresRecord(const Options& options, System& clock, std::ostream& err) {
    const std::string* given = options.One("--expires");
    if (!given) return std::string();
    std::optional<std::int64_t> when = ParseExpiry(*given);
    if (!when && given->size() >= 2 && (given->back() == 'd' || given->back() == 'h')) {
        std::optional<std::uint64_t> count = ParseSerial(given->substr(0, given->size() - 1));
        std::uint64_t unit = given->back() == 'd' ? 86400 : 3600;
        // Up to about a century ahead: beyond that the date is no expiry at all.
        if (count && *count > 0 && *count <= 36500ull * 86400 / unit) {
            when = clock.UnixTime() + static_cast<std::int64_t>(*count * unit);
        }
    }
    if (!when) {
        err << "error: --expires " << *given
            << " is neither days (14d), hours (36h) nor a date YYYY-MM-DDTHH:MM:SSZ\n";
        return std::nullopt;
    }
    return "expires~" + FormatExpiry(*when);
}

int Make(const Options& options, System& clock, std::ostream& out, std::ostream& err) {
    const std::string* folder = options.One("--files");
    const std::string* listPath = options.One("--list");
    if (!folder || !listPath || !options.positional.empty()) {
        err << "usage: fablewright-publish make --files DIR --list LIST [--version TEXT] [--out FILE]\n";
        return 2;
    }
    std::optional<std::string> list = ReadFile(*listPath);
    if (!list) {
        err << "error: cannot read " << *listPath << "\n";
        return 1;
    }
    std::optional<std::string> expires = ExpiresRecord(options, clock, err);
    if (!expires) return 2;
    std::string text = "updatever~3\n";
    if (!expires->empty()) text += *expires + "\n";
    if (const std::string* version = options.One("--version")) text += "version~" + *version + "\n";
    PosixFiles files;
    int problems = 0;
    std::vector<std::string> lines = Lines(*list);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.empty() || line.front() == '#') continue;
        std::string where = *listPath + ":" + std::to_string(i + 1) + ": ";
        FieldTokenizer tokenizer(line, "~");
        std::string name, file, source, extra;
        if (!tokenizer.NextField(name) || name.empty() || !tokenizer.NextField(file) ||
            !tokenizer.NextField(source) || tokenizer.NextField(extra)) {
            err << where << "expected \"template name~file~path on the server\"\n";
            ++problems;
            continue;
        }
        std::string path = (fs::path(*folder) / file).string();
        FileFacts facts;
        if (!ReadFileFacts(files, path, facts)) {
            err << where << "cannot read the updater " << path << "\n";
            ++problems;
            continue;
        }
        if (facts.size > INT32_MAX) {
            err << where << path << " is larger than the 2 GiB the definitions can describe\n";
            ++problems;
            continue;
        }
        char checksum[16];
        std::snprintf(checksum, sizeof checksum, "%08x", facts.checksum);
        text += "update~" + name + "~" + source + "~" + std::to_string(facts.size) + "~" +
                checksum + "~sha256:" + DigestHex(facts.digest) + "\n";
    }
    if (problems) return 1;
    if (const std::string* target = options.One("--out")) {
        if (!WriteFile(*target, text)) {
            err << "error: cannot write " << *target << "\n";
            return 1;
        }
    } else {
        out << text;
    }
    return 0;
}

int Sign(const Options& options, System& clock, std::ostream& out, std::ostream& err) {
    auto keys = options.values.find("--key");
    if (options.positional.size() != 1 || keys == options.values.end()) {
        err << "usage: fablewright-publish sign --key KEY [--key KEY2] [--serial N] [--name NAME] FILE\n";
        return 2;
    }
    const std::string& path = options.positional[0];
    std::optional<std::string> text = ReadFile(path);
    if (!text) {
        err << "error: cannot read " << path << "\n";
        return 1;
    }
    std::string name = options.One("--name") ? *options.One("--name") : fs::path(path).filename().string();
    SignatureBlock block = SplitSignatureBlock(*text);
    if (block.othersAfter) {
        err << path << ": records follow the signature lines; move them above the signature\n";
        return 1;
    }
    std::string body(block.signedBytes);
    std::vector<std::string> problems = CheckLines(path, body);
    for (const std::string& p : problems) err << p << "\n";
    if (!problems.empty()) return 1;

    std::string eol = body.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    if (!body.empty() && body.back() != '\n') body += eol;
    std::optional<std::string> expires = ExpiresRecord(options, clock, err);
    if (!expires) return 2;
    if (!expires->empty()) {
        // The new expiry replaces any old one; it goes first, where a reader sees it.
        std::string kept;
        for (std::size_t position = 0; position < body.size();) {
            std::size_t end = std::min(body.find('\n', position), body.size() - 1);
            std::string_view line(body.data() + position, end + 1 - position);
            if (!EqualsNoCase(line.substr(0, 8), "expires~")) kept += line;
            position = end + 1;
        }
        body = *expires + eol + kept;
    }

    // Find the serial record, if any: one only, and the new serial never below it.
    std::optional<std::uint64_t> current;
    std::size_t serialStart = std::string::npos, serialEnd = 0;
    int serialLines = 0;
    for (std::size_t position = 0, number = 1; position < body.size(); ++number) {
        std::size_t end = body.find('\n', position);
        std::string line;
        for (char c : body.substr(position, end - position)) {
            if (c != '\r') line += c;
        }
        FieldTokenizer tokenizer(line, "~");
        std::string keyword, file, value;
        if (tokenizer.NextField(keyword) && EqualsNoCase(keyword, "serial")) {
            ++serialLines;
            tokenizer.NextField(file);
            tokenizer.NextField(value);
            current = ParseSerial(value);
            serialStart = position;
            serialEnd = end + 1;
            if (serialLines > 1) {
                err << path << ":" << number << ": a second serial record; keep one\n";
                return 1;
            }
        }
        position = end + 1;
    }
    if (current && *current == UINT64_MAX && !options.One("--serial")) {
        err << "error: the serial of " << path << " is " << *current
            << ", the highest there is; it cannot be raised. Publish the definitions under a "
               "new file name, or give --serial " << *current << " to sign them again as they are\n";
        return 1;
    }
    std::uint64_t serial = current ? *current + 1 : 1;
    if (const std::string* given = options.One("--serial")) {
        std::optional<std::uint64_t> value = ParseSerial(*given);
        if (!value) {
            err << "error: --serial " << *given << " is not a decimal number\n";
            return 2;
        }
        if (current && *value < *current) {
            err << "error: serial " << *value << " is lower than the file's serial " << *current
                << "; programs that saw " << *current << " would refuse it\n";
            return 1;
        }
        serial = *value;
    }
    std::string serialLine = "serial~" + name + "~" + std::to_string(serial) + eol;
    if (serialStart != std::string::npos) {
        body.replace(serialStart, serialEnd - serialStart, serialLine);
    } else {
        body.insert(0, serialLine);
    }

    std::string signatures;
    std::string passphrase;
    bool havePassphrase = false;
    for (const std::string& keyPath : keys->second) {
        std::optional<std::string> pem = ReadFile(keyPath);
        if (!pem) {
            err << "error: cannot read the private key " << keyPath << "\n";
            return 1;
        }
        if (!havePassphrase && pem->find("ENCRYPTED") != std::string::npos) {
            if (!Passphrase(options, false, passphrase, err)) return 1;
            havePassphrase = true;
        }
        Bytes signature, publicKey;
        std::string error;
        if (!SignWithPrivateKey(*pem, passphrase, AsBytes(body), signature, publicKey, error)) {
            err << "error: " << keyPath << ": " << error << "\n";
            return 1;
        }
        std::string id = KeyIdOf(publicKey);
        signatures += "signature~" + std::string(kSignatureAlgorithm) + "~" + id + "~" +
                      EncodeBase64(signature) + eol;
        out << "signed with key " << id << " (" << keyPath << ")\n";
    }
    if (!WriteFile(path, body + signatures)) {
        err << "error: cannot write " << path << "\n";
        return 1;
    }
    out << path << ": serial " << serial << " for " << name
        << (expires->empty() ? "" : ", " + *expires) << "\n";
    return 0;
}

const char* VerdictText(DefinitionsVerdict verdict) {
    switch (verdict) {
    case DefinitionsVerdict::kTrusted: return "signature good";
    case DefinitionsVerdict::kUnsigned: return "not signed";
    case DefinitionsVerdict::kUnknownKey: return "signed only by keys not given here";
    case DefinitionsVerdict::kDamaged: return "a signature line cannot be read";
    case DefinitionsVerdict::kBadSignature: return "bad signature: the bytes are not the ones signed";
    case DefinitionsVerdict::kLinesAfter: return "lines after the signature";
    case DefinitionsVerdict::kNoSerial: return "no single valid serial record";
    case DefinitionsVerdict::kOtherFile: return "the serial names another file";
    case DefinitionsVerdict::kOlderSerial: return "older serial";
    case DefinitionsVerdict::kNoDigest: return "an update record without sha256:";
    case DefinitionsVerdict::kBadExpiry: return "the expires record cannot be read, or there are two";
    case DefinitionsVerdict::kExpired: return "expired; sign again with a later --expires";
    }
    return "?";
}

// What verify reads: a served folder on disk, or the server itself over HTTPS.
class Served {
public:
    virtual ~Served() = default;
    // The definitions file `name` of UpDefs; nothing, with `problem` set, when it cannot be read.
    virtual std::optional<std::string> Definitions(const std::string& name, std::string& problem) = 0;
    // The facts of the updater an update record names by `source`.
    virtual bool Updater(const std::string& source, FileFacts& facts, std::string& problem) = 0;
};

class FolderServed : public Served {
public:
    explicit FolderServed(std::string root) : root(std::move(root)) {}
    std::optional<std::string> Definitions(const std::string& name, std::string& problem) override {
        std::string path = (fs::path(root) / "UpDefs" / name).string();
        std::optional<std::string> text = ReadFile(path);
        if (!text) problem = "cannot read " + path;
        return text;
    }
    bool Updater(const std::string& source, FileFacts& facts, std::string& problem) override {
        std::string file = (fs::path(root) / SplitSourceUrl(source).object).string();
        if (!fs::is_regular_file(file) || !ReadFileFacts(files, file, facts)) {
            problem = "missing file " + file;
            return false;
        }
        return true;
    }

private:
    std::string root;
    PosixFiles files;
};

// The same checks against what a server really serves: over HTTPS only, with its certificate
// checked as the program checks it.
class UrlServed : public Served {
public:
    UrlServed(HttpClient& http, std::string server, std::string prefix)
        : server(std::move(server)), prefix(std::move(prefix)) {
        if (http.Startup()) session = http.OpenSession("fablewright-publish");
    }
    std::optional<std::string> Definitions(const std::string& name, std::string& problem) override {
        std::string text;
        bool ok = Fetch(server, prefix + "UpDefs/" + name, problem, [&](const char* data, std::size_t size) {
            text.append(data, size);
            return text.size() <= kMaxDefinitionsBytes;
        });
        if (!ok) return std::nullopt;
        return text;
    }
    bool Updater(const std::string& source, FileFacts& facts, std::string& problem) override {
        UpdaterSource where = SplitSourceUrl(source);
        if (where.absolute && !where.secure) {
            problem = "named over plain http, which a program refuses in definitions from https";
            return false;
        }
        std::string host = where.absolute ? "https://" + where.server : server;
        FileFactsAccumulator accumulator;
        bool ok = Fetch(host, where.absolute ? where.object : prefix + where.object, problem,
                        [&](const char* data, std::size_t size) {
                            accumulator.Add(data, size);
                            return true;
                        });
        return ok && accumulator.Finish(facts);
    }

private:
    template <class Take>
    bool Fetch(const std::string& host, const std::string& object, std::string& problem, Take take) {
        std::string what = host + "/" + object;
        std::unique_ptr<HttpConnection> connection = session ? session->Connect(host) : nullptr;
        std::unique_ptr<HttpRequest> request = connection ? connection->OpenRequest("GET", object) : nullptr;
        if (!request || !request->Send()) {
            problem = request && request->LastFailure() == HttpFailure::kServerIdentity
                          ? "the certificate of " + host + " does not verify"
                          : "cannot fetch " + what;
            return false;
        }
        int status = 0;
        if (!request->QueryStatusCode(status) || status != 200) {
            problem = what + " answered " + std::to_string(status);
            return false;
        }
        std::vector<char> buffer(64 * 1024);
        for (;;) {
            std::ptrdiff_t n = request->ReadBlock(buffer.data(), buffer.size());
            if (n == 0) return true;
            if (n < 0 || !take(buffer.data(), static_cast<std::size_t>(n))) {
                problem = "the answer for " + what + " broke off or is too large";
                return false;
            }
        }
    }

    std::string server;
    std::string prefix;
    std::unique_ptr<HttpSession> session;
};

int Verify(const Options& options, System& clock, HttpClient& http, std::ostream& out,
           std::ostream& err) {
    const std::string* root = options.One("--root");
    const std::string* url = options.One("--url");
    auto keyPaths = options.values.find("--key");
    if ((root == nullptr) == (url == nullptr) || keyPaths == options.values.end()) {
        err << "usage: fablewright-publish verify (--root DIR | --url https://HOST/) --key PUB "
               "[--key PUB2] [NAME...]\n";
        return 2;
    }
    TrustedKeys keys;
    for (const std::string& keyPath : keyPaths->second) {
        std::optional<std::string> pem = ReadFile(keyPath);
        std::size_t had = keys.size();
        if (!pem || !ReadPublicKeysPem(*pem, keys) || keys.size() == had) {
            err << "error: " << keyPath << " holds no public key\n";
            return 1;
        }
    }
    std::vector<std::string> names = options.positional;
    std::unique_ptr<Served> served;
    if (root) {
        served = std::make_unique<FolderServed>(*root);
        fs::path defsFolder = fs::path(*root) / "UpDefs";
        if (names.empty()) {
            std::error_code ec;
            for (const auto& entry : fs::directory_iterator(defsFolder, ec)) {
                if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
            }
            std::sort(names.begin(), names.end());
            if (names.empty()) {
                err << "error: no definitions in " << defsFolder.string() << "\n";
                return 1;
            }
        }
    } else {
        // https://host[:port]/[folder/]: the server as the program names it, and where the
        // served folder starts on it.
        std::size_t slash = url->find('/', url->find("://") == std::string::npos ? 0 : url->find("://") + 3);
        std::string server = url->substr(0, slash);
        std::string prefix = slash == std::string::npos ? "" : url->substr(slash + 1);
        if (!prefix.empty() && prefix.back() != '/') prefix += '/';
        std::optional<ServerAddress> address = ParseServerAddress(server);
        if (!address || !address->secure) {
            err << "error: --url " << *url << " is not an https:// address; only what a server "
                   "serves over HTTPS, with a certificate that verifies, is checked\n";
            return 2;
        }
        served = std::make_unique<UrlServed>(http, server, prefix);
        if (names.empty()) names = {"FablewrightUpdates.txt"};
    }
    int problems = 0;
    for (const std::string& name : names) {
        std::string problem;
        std::optional<std::string> text = served->Definitions(name, problem);
        if (!text) {
            out << name << ": FAILED: " << problem << "\n";
            ++problems;
            continue;
        }
        DefinitionsCheck check =
            CheckSignedDefinitions(*text, name, keys, std::nullopt, clock.UnixTime());
        if (check.verdict != DefinitionsVerdict::kTrusted) {
            out << name << ": FAILED: " << VerdictText(check.verdict)
                << (check.detail.empty() ? "" : " (" + check.detail + ")") << "\n";
            ++problems;
            continue;
        }
        out << name << ": signature good, serial " << check.serial
            << (check.expires ? ", expires " + FormatExpiry(*check.expires) : std::string(", never expires"))
            << "\n";
        std::vector<std::string> lines = Lines(check.signedBytes);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            FieldTokenizer tokenizer(lines[i], "~");
            std::string keyword, template_, source, size, checksum, digest;
            if (!tokenizer.NextField(keyword) || !EqualsNoCase(keyword, "update") ||
                !tokenizer.NextField(template_) || !tokenizer.NextField(source) ||
                !tokenizer.NextField(size) || !tokenizer.NextField(checksum) ||
                !tokenizer.NextField(digest)) {
                continue;
            }
            std::string label = "  " + template_ + " (" + source + ", line " + std::to_string(i + 1) + "): ";
            FileFacts facts;
            if (!served->Updater(source, facts, problem)) {
            } else if (facts.size != ParseDecimal32(size)) {
                problem = "size " + std::to_string(facts.size) + ", listed " + size;
            } else if (facts.checksum != ParseHex32(checksum)) {
                char actual[16];
                std::snprintf(actual, sizeof actual, "%x", facts.checksum);
                problem = std::string("checksum ") + actual + ", listed " + checksum;
            } else if (ParseDigestField(digest) != facts.digest) {
                problem = "SHA-256 " + DigestHex(facts.digest) + " differs from the listed one";
            }
            if (!problem.empty()) {
                out << label << "FAILED: " << problem << "\n";
                ++problems;
                problem.clear();
            } else {
                out << label << "ok, " << facts.size << " bytes\n";
            }
        }
    }
    out << (problems ? std::to_string(problems) + " problem(s) found\n" : std::string("all good\n"));
    return problems ? 1 : 0;
}

}  // namespace

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    PosixSystem system;
    return Run(args, out, err, system);
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, System& clock) {
    CurlHttpClient http;
    return Run(args, out, err, clock, http);
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, System& clock,
        HttpClient& http) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        (args.empty() ? err : out) << kHelp;
        return args.empty() ? 2 : 0;
    }
    const std::string& command = args[0];
    Options options;
    if (command == "keygen") {
        options = Parse(args, 1, {"--out", "--passphrase-file"});
    } else if (command == "make") {
        options = Parse(args, 1, {"--files", "--list", "--version", "--out", "--expires"});
    } else if (command == "sign") {
        options = Parse(args, 1, {"--key", "--serial", "--name", "--passphrase-file", "--expires"});
    } else if (command == "verify") {
        options = Parse(args, 1, {"--root", "--url", "--key"});
    } else {
        err << "unknown command \"" << command << "\"; see fablewright-publish --help\n";
        return 2;
    }
    if (!options.error.empty()) {
        err << "error: " << options.error << "; see fablewright-publish --help\n";
        return 2;
    }
    if (command == "keygen") return KeyGen(options, out, err);
    if (command == "make") return Make(options, clock, out, err);
    if (command == "sign") return Sign(options, clock, out, err);
    return Verify(options, clock, http, out, err);
}

}  // namespace fw::publish
