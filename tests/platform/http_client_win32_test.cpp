// The WinInet client. Against the loopback update server when .ci/windows.sh has started it
// (FW_TEST_SERVER_PORT_FILE names the file with its port, FW_TEST_SERVER_CONTROL_PORT lets a
// test make servers of its own); without it those cases skip.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>

#include "platform/win32/http_client_win32.h"
#include "tests/support/temp_dir.h"
#include "tools/update-server/update_server.h"

namespace fw {
namespace {

TEST(Win32HttpClientTest, HostAndPort) {
    struct Case {
        const char* text;
        bool ok;
        const char* host;
        unsigned short port;
    };
    const Case cases[] = {
        {"updates.example", true, "updates.example", 80},
        {"127.0.0.1:8080", true, "127.0.0.1", 8080},
        {"h:65535", true, "h", 65535},
        {"h:65536", false, "", 0},
        {"h:0", false, "", 0},
        {"h:", false, "", 0},
        {"h:8o", false, "", 0},
        {":80", false, "", 0},
        {"", false, "", 0},
    };
    for (const Case& c : cases) {
        std::string host;
        unsigned short port = 0;
        ASSERT_EQ(SplitHostPort(c.text, host, port), c.ok) << c.text;
        if (!c.ok) continue;
        EXPECT_EQ(host, c.host) << c.text;
        EXPECT_EQ(port, c.port) << c.text;
    }
}

TEST(Win32HttpClientTest, UnreachableServerFailsAtTheLatestOnSend) {
    Win32HttpClient client;
    ASSERT_TRUE(client.Startup());
    auto session = client.OpenSession("Fablewright Update Downloader");
    ASSERT_TRUE(session);
    auto connection = session->Connect("127.0.0.1:1");
    if (!connection) return;  // failing at connect is as good
    EXPECT_EQ(connection->Host(), "127.0.0.1:1");
    auto request = connection->OpenRequest("GET", "UpDefs/x.txt");
    if (!request) return;
    EXPECT_FALSE(request->Send());
}

class Win32HttpServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* portFile = std::getenv("FW_TEST_SERVER_PORT_FILE");
        if (portFile == nullptr) GTEST_SKIP() << "no loopback server (run .ci/windows.sh)";
        std::ifstream in(portFile);
        int port = 0;
        in >> port;
        ASSERT_GT(port, 0) << portFile;
        host = "127.0.0.1:" + std::to_string(port);
        ASSERT_TRUE(client.Startup());
        session = client.OpenSession("Fablewright Update Downloader");
        ASSERT_TRUE(session);
        connection = session->Connect(host);
        ASSERT_TRUE(connection);
    }
    std::unique_ptr<HttpRequest> Get(const char* object, int expectedStatus) {
        auto request = connection->OpenRequest("GET", object);
        EXPECT_TRUE(request);
        if (!request) return nullptr;
        EXPECT_TRUE(request->Send());
        int status = 0;
        EXPECT_TRUE(request->QueryStatusCode(status));
        EXPECT_EQ(status, expectedStatus) << object;
        return request;
    }
    std::string host;
    Win32HttpClient client;
    std::unique_ptr<HttpSession> session;
    std::unique_ptr<HttpConnection> connection;
};

TEST_F(Win32HttpServerTest, LinesDropCrAndEndAtLf) {
    // The script serves "one\r\ntwo\n\r\nlast" as UpDefs/lines.txt.
    auto request = Get("UpDefs/lines.txt", 200);
    ASSERT_TRUE(request);
    std::vector<std::string> lines;
    std::string line;
    WaitCallback wait = [] { return true; };
    while (request->ReadLine(line, wait) == ReadStatus::kOk) lines.push_back(line);
    EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", "", "last"}));
    EXPECT_EQ(request->ReadLine(line), ReadStatus::kEnd);
}

TEST_F(Win32HttpServerTest, BlocksAfterALineAndAtTheEnd) {
    auto request = Get("UpDefs/lines.txt", 200);
    ASSERT_TRUE(request);
    std::string line;
    ASSERT_EQ(request->ReadLine(line), ReadStatus::kOk);
    // What the line read fetched ahead comes before the network's next bytes.
    std::string rest;
    char buffer[4096];
    for (std::ptrdiff_t n; (n = request->ReadBlock(buffer, sizeof buffer)) > 0;) {
        rest.append(buffer, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(rest, "two\n\r\nlast");
}

TEST_F(Win32HttpServerTest, MissingFileIs404AndASecondSendFails) {
    auto missing = Get("UpDefs/missing.txt", 404);
    ASSERT_TRUE(missing);
    EXPECT_FALSE(missing->Send());
}

TEST_F(Win32HttpServerTest, EmptyBodyEndsAtOnce) {
    auto request = Get("UpDefs/empty.txt", 200);
    ASSERT_TRUE(request);
    std::string line;
    EXPECT_EQ(request->ReadLine(line), ReadStatus::kEnd);
    char buffer[16];
    EXPECT_EQ(request->ReadBlock(buffer, sizeof buffer), 0);
}

// Servers of the test's own, with fault switches, through the native server's control port.
class Win32HttpOwnServerTest : public ::testing::Test {
protected:
    using Clock = std::chrono::steady_clock;

    void SetUp() override {
        std::string why = UpdateServer::Unavailable();
        if (!why.empty()) GTEST_SKIP() << why;
        server = std::make_unique<UpdateServer>(dir.path());
        ASSERT_TRUE(server->Start(0));
        ASSERT_TRUE(client.Startup());
        session = client.OpenSession("Fablewright Update Downloader");
        ASSERT_TRUE(session);
        connection = session->Connect(server->HostText());
        ASSERT_TRUE(connection);
    }
    std::unique_ptr<HttpRequest> SentGet(const char* object) {
        auto request = connection->OpenRequest("GET", object);
        EXPECT_TRUE(request && request->Send());
        return request;
    }

    test::TempDir dir;
    std::unique_ptr<UpdateServer> server;
    Win32HttpClient client;
    std::unique_ptr<HttpSession> session;
    std::unique_ptr<HttpConnection> connection;
};

// A server that trickles is given up once a window of waiting (1 s here) brings fewer than
// 1,024 bytes; one above the floor is read to its end.
TEST_F(Win32HttpOwnServerTest, ARequestThatDeliversTooLittleIsGivenUp) {
    using Clock = std::chrono::steady_clock;
    struct Case {
        const char* what;
        std::uint64_t bytesPerSecond;
        bool whole;
    };
    const Case cases[] = {{"100 bytes a second", 100, false}, {"2 KiB a second", 2048, true}};
    dir.Write("files/slow.bin", std::string(4000, 'a'));
    Win32HttpClient floored(ThroughputLimit{kMinBytesPerWindow, std::chrono::seconds(1)});
    ASSERT_TRUE(floored.Startup());
    auto flooredSession = floored.OpenSession("Fablewright Update Downloader");
    ASSERT_TRUE(flooredSession);
    auto flooredConnection = flooredSession->Connect(server->HostText());
    ASSERT_TRUE(flooredConnection);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        server->SetFault("files/slow.bin", ServerFault{.bytesPerSecond = c.bytesPerSecond});
        auto request = flooredConnection->OpenRequest("GET", "files/slow.bin");
        ASSERT_TRUE(request);
        const auto start = Clock::now();
        ASSERT_TRUE(request->Send());
        std::string body;
        char block[4096];
        std::ptrdiff_t n = 0;
        while ((n = request->ReadBlock(block, sizeof block)) > 0) {
            body.append(block, static_cast<std::size_t>(n));
        }
        EXPECT_EQ(n == 0 && body.size() == 4000, c.whole);
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(c.whole ? 5000 : 3000));
    }
}

// Answers larger than the read-ahead ring, read in sizes that do not divide it, come out
// byte for byte, and lines that straddle the ring's end keep together.
TEST_F(Win32HttpOwnServerTest, LargeAnswersByBlockAndByLine) {
    std::mt19937 random(7);
    std::string bytes(2621440 + 123, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    dir.Write("files/big.bin", bytes);
    std::vector<std::string> lines;
    std::string text;
    for (std::size_t i = 0; text.size() < 2500000; ++i) {
        lines.push_back(std::string(i % 997 + (i % 50 == 0 ? 70000 : 0), static_cast<char>('a' + i % 26)));
        text += lines.back() + (i % 2 ? "\r\n" : "\n");
    }
    dir.Write("files/lines.txt", text);

    for (std::size_t block : {std::size_t{4096}, std::size_t{1000}, std::size_t{300000}}) {
        SCOPED_TRACE(block);
        auto request = SentGet("files/big.bin");
        ASSERT_TRUE(request);
        std::string got;
        std::vector<char> buffer(block);
        std::ptrdiff_t n = 0;
        while ((n = request->ReadBlock(buffer.data(), block, [] { return true; })) > 0) {
            ASSERT_LE(static_cast<std::size_t>(n), block);
            got.append(buffer.data(), static_cast<std::size_t>(n));
        }
        EXPECT_EQ(n, 0);
        EXPECT_TRUE(got == bytes) << got.size() << " bytes of " << bytes.size();
    }
    auto request = SentGet("files/lines.txt");
    ASSERT_TRUE(request);
    std::vector<std::string> got;
    std::string line;
    while (request->ReadLine(line) == ReadStatus::kOk) got.push_back(line);
    EXPECT_TRUE(got == lines) << got.size() << " lines of " << lines.size();
}

// While the server stalls, the wait callback runs at least every 50 ms; when it gives up, the
// read ends at once, and so does everything after it, the request's release included.
TEST_F(Win32HttpOwnServerTest, AGivingUpWaitEndsAStalledReadAtOnce) {
    dir.Write("files/stall.bin", std::string(200000, 'x'));
    ServerFault stall;
    stall.stallAfter = 50000;
    stall.stallFor = std::chrono::seconds(30);
    server->SetFault("files/stall.bin", stall);
    auto request = SentGet("files/stall.bin");
    ASSERT_TRUE(request);

    std::size_t received = 0;
    Clock::time_point last{};
    Clock::time_point stalledSince{};
    Clock::duration longestGap{};
    Clock::time_point gaveUp{};
    WaitCallback whileWaiting = [&] {
        Clock::time_point now = Clock::now();
        if (received < 50000) return true;
        if (stalledSince == Clock::time_point{}) {
            stalledSince = now;
        } else {
            longestGap = std::max(longestGap, now - last);
        }
        last = now;
        if (now - stalledSince < std::chrono::milliseconds(500)) return true;
        gaveUp = now;
        return false;
    };
    char buffer[4096];
    std::ptrdiff_t n = 0;
    while ((n = request->ReadBlock(buffer, sizeof buffer, whileWaiting)) > 0) {
        received += static_cast<std::size_t>(n);
    }
    Clock::time_point ended = Clock::now();
    EXPECT_EQ(n, -1);
    EXPECT_EQ(received, 50000u);
    ASSERT_NE(gaveUp, Clock::time_point{});
    EXPECT_LT(ended - gaveUp, std::chrono::milliseconds(250));
    EXPECT_LT(longestGap, std::chrono::milliseconds(50));
    EXPECT_EQ(request->ReadBlock(buffer, sizeof buffer, [] { return true; }), -1);
    std::string line;
    EXPECT_EQ(request->ReadLine(line, [] { return true; }), ReadStatus::kError);
    request.reset();
    EXPECT_LT(Clock::now() - ended, std::chrono::seconds(1));
}

}  // namespace
}  // namespace fw
