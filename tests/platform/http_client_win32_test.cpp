// The WinInet client. Against the loopback update server when .ci/windows.sh has started it
// (FW_TEST_SERVER_PORT_FILE names the file with its port); without it those cases skip.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "platform/win32/http_client_win32.h"

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
    int waits = 0;
    WaitCallback wait = [&] { return ++waits > 0; };
    while (request->ReadLine(line, wait) == ReadStatus::kOk) lines.push_back(line);
    EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", "", "last"}));
    EXPECT_GT(waits, 0);
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

TEST_F(Win32HttpServerTest, MissingFileIs404AndAGivingUpWaitFails) {
    auto missing = Get("UpDefs/missing.txt", 404);
    ASSERT_TRUE(missing);
    auto request = Get("UpDefs/lines.txt", 200);
    ASSERT_TRUE(request);
    char buffer[16];
    EXPECT_EQ(request->ReadBlock(buffer, sizeof buffer, [] { return false; }), -1);
}

TEST_F(Win32HttpServerTest, EmptyBodyEndsAtOnce) {
    auto request = Get("UpDefs/empty.txt", 200);
    ASSERT_TRUE(request);
    std::string line;
    EXPECT_EQ(request->ReadLine(line), ReadStatus::kEnd);
    char buffer[16];
    EXPECT_EQ(request->ReadBlock(buffer, sizeof buffer), 0);
}

}  // namespace
}  // namespace fw
