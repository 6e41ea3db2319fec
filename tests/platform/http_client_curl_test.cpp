// The libcurl client layer against the loopback update server.

#include "platform/curl/http_client_curl.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tools/update-server/test_authority.h"
#include "tools/update-server/update_server.h"

namespace fw {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr char kUserAgent[] = "Fablewright Update";

std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    std::uint32_t state = 12345;
    for (char& c : bytes) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    return bytes;
}

std::set<std::string> HeaderNames(const RecordedRequest& request) {
    std::set<std::string> names;
    for (const auto& header : request.headers) names.insert(header.first);
    return names;
}

class CurlClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Start());
        ASSERT_TRUE(client.Startup());
        session = client.OpenSession(kUserAgent);
        ASSERT_TRUE(session);
        connection = session->Connect(server.HostText());
        ASSERT_TRUE(connection);
    }

    std::unique_ptr<HttpRequest> SentGet(const std::string& objectName) {
        auto request = connection->OpenRequest("GET", objectName);
        if (request && !request->Send()) request.reset();
        return request;
    }

    // The whole body in 4096-byte blocks; false when a block read fails.
    static bool ReadAll(HttpRequest& request, std::string& body) {
        char block[4096];
        while (true) {
            std::ptrdiff_t count = request.ReadBlock(block, sizeof block);
            if (count < 0) return false;
            if (count == 0) return true;
            if (count > static_cast<std::ptrdiff_t>(sizeof block)) return false;
            body.append(block, static_cast<std::size_t>(count));
        }
    }

    test::TempDir dir;
    UpdateServer server{dir.path()};
    CurlHttpClient client;
    std::unique_ptr<HttpSession> session;
    std::unique_ptr<HttpConnection> connection;
};

TEST_F(CurlClientTest, GetSendsHttp10RequestLineWithMinimalHeaders) {
    dir.Write("UpDefs/FablewrightUpdates.txt", "version~4.2\n");
    auto request = SentGet("UpDefs/FablewrightUpdates.txt");
    ASSERT_TRUE(request);

    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine, "GET /UpDefs/FablewrightUpdates.txt HTTP/1.0");
    EXPECT_EQ(HeaderNames(requests[0]), (std::set<std::string>{"Accept", "Host", "User-Agent"}));
    EXPECT_EQ(requests[0].Header("User-Agent"), kUserAgent);
    EXPECT_EQ(requests[0].Header("Host"), server.HostText());
    EXPECT_EQ(requests[0].Header("Accept"), "*/*");
    EXPECT_EQ(requests[0].body, "");
}

TEST_F(CurlClientTest, PostCarriesExactlyTheCallersHeadersAndBody) {
    const std::string body =
        "beta=true&dir=C%3a/Program%20Files/Tool&version=2.1.0.7&systems=Fablewright%3bSci%20Fi"
        "%3bFantasy";
    const std::string headers =
        "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
        std::to_string(body.size());
    auto request = connection->OpenRequest("POST", "vrn/sendupdinfo.php");
    ASSERT_TRUE(request);
    ASSERT_TRUE(request->Send(headers, body));
    int code = 0;
    ASSERT_TRUE(request->QueryStatusCode(code));
    EXPECT_EQ(code, 200);
    std::string line;
    EXPECT_EQ(request->ReadLine(line), ReadStatus::kOk);
    EXPECT_EQ(line, "OK");

    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine, "POST /vrn/sendupdinfo.php HTTP/1.0");
    EXPECT_EQ(requests[0].body, body);
    EXPECT_EQ(requests[0].Header("Content-Length"), "96");
    EXPECT_EQ(requests[0].Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(HeaderNames(requests[0]), (std::set<std::string>{"Accept", "Content-Length",
                                                               "Content-Type", "Host",
                                                               "User-Agent"}));
}

TEST_F(CurlClientTest, PostWithoutHeadersGetsNoContentTypeOfLibcurls) {
    auto request = connection->OpenRequest("POST", "script");
    ASSERT_TRUE(request);
    ASSERT_TRUE(request->Send({}, "a=b&c"));
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].body, "a=b&c");
    EXPECT_FALSE(requests[0].Header("Content-Type"));
    EXPECT_FALSE(requests[0].Header("Expect"));
    EXPECT_EQ(requests[0].Header("Content-Length"), "5");
}

TEST_F(CurlClientTest, ObjectNameBytesThatCannotStandInARequestLineAreEscaped) {
    dir.Write("files/Sci Fi.exe", "updater");
    auto request = SentGet("files/Sci Fi.exe");
    ASSERT_TRUE(request);
    int code = 0;
    ASSERT_TRUE(request->QueryStatusCode(code));
    EXPECT_EQ(code, 200);
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "/files/Sci%20Fi.exe");
}

TEST_F(CurlClientTest, StatusCodesArriveAsSent) {
    dir.Write("present.txt", "here\n");
    server.SetFault("busy.txt", ServerFault{.status = 503});
    struct Case {
        const char* objectName;
        int code;
    };
    for (const Case& c : {Case{"present.txt", 200}, Case{"missing.txt", 404},
                          Case{"busy.txt", 503}}) {
        SCOPED_TRACE(c.objectName);
        auto request = SentGet(c.objectName);
        ASSERT_TRUE(request);
        int code = 0;
        ASSERT_TRUE(request->QueryStatusCode(code));
        EXPECT_EQ(code, c.code);
    }
}

TEST_F(CurlClientTest, LinesDropCarriageReturnsAndEndAtLineFeeds) {
    struct Case {
        std::string body;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {"updatever~3\nversion~4.2\n", {"updatever~3", "version~4.2"}},
        {"updatever~3\r\nversion~4.2\r\n", {"updatever~3", "version~4.2"}},
        {"first\nlast without end", {"first", "last without end"}},
        {"", {}},
        {"\r", {}},
        {"\n\n", {"", ""}},
        {"a\r\n\r\nb", {"a", "", "b"}},
        {"in\rside\n", {"inside"}},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        std::string name = "lines" + std::to_string(i) + ".txt";
        dir.Write(name, cases[i].body);
        auto request = SentGet(name);
        ASSERT_TRUE(request);
        std::vector<std::string> lines;
        std::string line;
        ReadStatus status;
        while ((status = request->ReadLine(line)) == ReadStatus::kOk) lines.push_back(line);
        EXPECT_EQ(status, ReadStatus::kEnd);
        EXPECT_EQ(lines, cases[i].lines);
        EXPECT_EQ(request->ReadLine(line), ReadStatus::kEnd) << "the end stays the end";
    }
}

TEST_F(CurlClientTest, LineLongerThanOneBufferfulIsReturnedWhole) {
    std::string longLine(3 * 1024 * 1024 + 17, 'x');
    dir.Write("long.txt", longLine + "\r\nnext");
    auto request = SentGet("long.txt");
    ASSERT_TRUE(request);
    std::string line;
    ASSERT_EQ(request->ReadLine(line), ReadStatus::kOk);
    EXPECT_EQ(line.size(), longLine.size());
    EXPECT_EQ(line, longLine);
    ASSERT_EQ(request->ReadLine(line), ReadStatus::kOk);
    EXPECT_EQ(line, "next");
}

TEST_F(CurlClientTest, LineBeyondTheLimitIsTooLong) {
    dir.Write("huge.txt", std::string(kMaxLineBytes + 1, 'y') + "\n");
    auto request = SentGet("huge.txt");
    ASSERT_TRUE(request);
    std::string line;
    EXPECT_EQ(request->ReadLine(line), ReadStatus::kTooLong);
    EXPECT_TRUE(line.empty());
}

TEST_F(CurlClientTest, LineAtTheLimitIsStillALine) {
    dir.Write("limit.txt", std::string(kMaxLineBytes, 'z'));
    auto request = SentGet("limit.txt");
    ASSERT_TRUE(request);
    std::string line;
    EXPECT_EQ(request->ReadLine(line), ReadStatus::kOk);
    EXPECT_EQ(line.size(), kMaxLineBytes);
    EXPECT_EQ(request->ReadLine(line), ReadStatus::kEnd);
}

TEST_F(CurlClientTest, EmptyAnswerEndsOnTheFirstBlock) {
    dir.Write("empty.bin", "");
    auto request = SentGet("empty.bin");
    ASSERT_TRUE(request);
    char block[4096];
    EXPECT_EQ(request->ReadBlock(block, sizeof block), 0);
    EXPECT_EQ(request->ReadBlock(block, sizeof block), 0);
}

TEST_F(CurlClientTest, TenMegabytesReadInBlocksArriveIntact) {
    const std::string content = Pattern(10 * 1000 * 1000 + 123);
    dir.Write("files/big.exe", content);
    auto request = SentGet("files/big.exe");
    ASSERT_TRUE(request);
    std::string received;
    ASSERT_TRUE(ReadAll(*request, received));
    ASSERT_EQ(received.size(), content.size());
    EXPECT_TRUE(received == content);
}

TEST_F(CurlClientTest, UnreachablePortFailsTheSend) {
    UpdateServer gone{dir.path()};
    ASSERT_TRUE(gone.Start());
    std::string host = gone.HostText();
    gone.Stop();

    auto deadConnection = session->Connect(host);
    ASSERT_TRUE(deadConnection);
    auto request = deadConnection->OpenRequest("GET", "UpDefs/FablewrightUpdates.txt");
    ASSERT_TRUE(request);
    EXPECT_FALSE(request->Send());
    int code = 0;
    EXPECT_FALSE(request->QueryStatusCode(code));
    char block[16];
    EXPECT_EQ(request->ReadBlock(block, sizeof block), -1);
    std::string line;
    EXPECT_EQ(request->ReadLine(line), ReadStatus::kError);
}

TEST_F(CurlClientTest, DroppedConnectionFailsTheSend) {
    dir.Write("dropped.txt", "never sent");
    server.SetFault("dropped.txt", ServerFault{.drop = true});
    auto request = connection->OpenRequest("GET", "dropped.txt");
    ASSERT_TRUE(request);
    EXPECT_FALSE(request->Send());
}

// A server that trickles is given up as a stalled one is, once a window of waiting (shortened
// here to 1 s) brings fewer than 1,024 bytes; one that keeps above the floor is read to its end.
TEST_F(CurlClientTest, ARequestThatDeliversTooLittleIsGivenUp) {
    struct Case {
        const char* what;
        std::uint64_t bytesPerSecond;
        bool whole;  // the body arrives whole
    };
    const Case cases[] = {
        {"100 bytes a second", 100, false},
        {"2 KiB a second", 2048, true},
    };
    dir.Write("slow.bin", std::string(4000, 'a'));
    CurlHttpClient floored({}, ThroughputLimit{kMinBytesPerWindow, std::chrono::seconds(1)});
    ASSERT_TRUE(floored.Startup());
    auto flooredSession = floored.OpenSession(kUserAgent);
    ASSERT_TRUE(flooredSession);
    auto flooredConnection = flooredSession->Connect(server.HostText());
    ASSERT_TRUE(flooredConnection);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        server.SetFault("slow.bin", ServerFault{.bytesPerSecond = c.bytesPerSecond});
        for (bool byLine : {false, true}) {
            SCOPED_TRACE(byLine ? "ReadLine" : "ReadBlock");
            auto request = flooredConnection->OpenRequest("GET", "slow.bin");
            ASSERT_TRUE(request);
            const auto start = Clock::now();
            ASSERT_TRUE(request->Send());
            std::string body;
            bool ok = true;
            if (byLine) {
                ok = request->ReadLine(body) == ReadStatus::kOk;
            } else {
                ok = ReadAll(*request, body);
            }
            auto took = Clock::now() - start;
            EXPECT_EQ(ok, c.whole);
            EXPECT_EQ(body.size() == 4000, c.whole);
            EXPECT_LT(took, milliseconds(c.whole ? 5000 : 2500));
        }
    }
}

TEST_F(CurlClientTest, StalledReadEndsPromptlyWhenTheCallbackGivesUp) {
    // No line feed, so a line read waits on the stall too.
    dir.Write("stall.bin", std::string(10000, 'a'));
    server.SetFault("stall.bin", ServerFault{.stallAfter = 100, .stallFor = milliseconds(20000)});
    for (bool byLine : {false, true}) {
        SCOPED_TRACE(byLine ? "ReadLine" : "ReadBlock");
        auto request = SentGet("stall.bin");
        ASSERT_TRUE(request);
        char block[4096];
        std::string line;
        std::size_t before = 0;
        // The bytes before the stall still arrive.
        while (!byLine && before < 100) {
            std::ptrdiff_t count = request->ReadBlock(block, sizeof block);
            ASSERT_GT(count, 0);
            before += static_cast<std::size_t>(count);
        }
        EXPECT_EQ(before, byLine ? 0u : 100u);

        const auto start = Clock::now();
        const auto giveUpAt = start + milliseconds(200);
        auto lastCall = start;
        milliseconds longestGap{0};
        int calls = 0;
        WaitCallback whileWaiting = [&] {
            auto now = Clock::now();
            longestGap = std::max(longestGap,
                                  std::chrono::duration_cast<milliseconds>(now - lastCall));
            lastCall = now;
            ++calls;
            return now < giveUpAt;
        };
        if (byLine) {
            EXPECT_EQ(request->ReadLine(line, whileWaiting), ReadStatus::kError);
        } else {
            EXPECT_EQ(request->ReadBlock(block, sizeof block, whileWaiting), -1);
        }
        auto late = std::chrono::duration_cast<milliseconds>(Clock::now() - giveUpAt);
        EXPECT_LT(late.count(), 100);
        // Polled every 25 ms, so about eight calls; the bound on the gap leaves room for a
        // busy machine's scheduling but not for a wait that ignores the 50 ms rhythm.
        EXPECT_GE(calls, 4);
        EXPECT_LE(longestGap.count(), 120);
        // A read that gave up leaves the request failed.
        EXPECT_EQ(request->ReadBlock(block, sizeof block), -1);
    }
    auto stopStart = Clock::now();
    server.Stop();
    EXPECT_LT(Clock::now() - stopStart, milliseconds(2000)) << "stalls end with the server";
}

TEST_F(CurlClientTest, BodyCutShortIsAnErrorNotAnEnd) {
    const std::string content = Pattern(50000);
    dir.Write("cut.bin", content);
    server.SetFault("cut.bin", ServerFault{.truncateAfter = 20000});
    auto request = SentGet("cut.bin");
    ASSERT_TRUE(request);
    std::string received;
    EXPECT_FALSE(ReadAll(*request, received));
    EXPECT_EQ(received, content.substr(0, 20000));

    dir.Write("cut.txt", "line one\nline two\nline three\n");
    server.SetFault("cut.txt", ServerFault{.truncateAfter = 12});
    request = SentGet("cut.txt");
    ASSERT_TRUE(request);
    std::string line;
    ASSERT_EQ(request->ReadLine(line), ReadStatus::kOk);
    EXPECT_EQ(line, "line one");
    EXPECT_EQ(request->ReadLine(line), ReadStatus::kError);
    EXPECT_EQ(line, "") << "a broken line is not handed out";
}

TEST_F(CurlClientTest, HandlesMayBeReleasedInAnyOrder) {
    const std::string content = Pattern(300000);
    dir.Write("order.bin", content);
    {
        // Client, session and connection all gone before the request is read.
        auto ownClient = std::make_unique<CurlHttpClient>();
        ASSERT_TRUE(ownClient->Startup());
        auto ownSession = ownClient->OpenSession(kUserAgent);
        ASSERT_TRUE(ownSession);
        auto ownConnection = ownSession->Connect(server.HostText());
        ASSERT_TRUE(ownConnection);
        auto request = ownConnection->OpenRequest("GET", "order.bin");
        ASSERT_TRUE(request);
        ownSession.reset();
        ownClient.reset();
        ASSERT_TRUE(request->Send());
        ownConnection.reset();
        std::string received;
        ASSERT_TRUE(ReadAll(*request, received));
        EXPECT_TRUE(received == content);
    }
    {
        // A request let go of in the middle of its body, before its connection.
        auto request = SentGet("order.bin");
        ASSERT_TRUE(request);
        char block[4096];
        EXPECT_GT(request->ReadBlock(block, sizeof block), 0);
        request.reset();
        connection.reset();
        session.reset();
    }
    {
        // Requests that were never sent.
        auto ownSession = client.OpenSession(kUserAgent);
        ASSERT_TRUE(ownSession);
        auto ownConnection = ownSession->Connect(server.HostText());
        ASSERT_TRUE(ownConnection);
        auto first = ownConnection->OpenRequest("GET", "order.bin");
        auto second = ownConnection->OpenRequest("POST", "script");
        ASSERT_TRUE(first && second);
        ownConnection.reset();
        first.reset();
        ownSession.reset();
    }
}

TEST_F(CurlClientTest, OperationsOutOfOrderFailThroughTheirResults) {
    dir.Write("twice.txt", "x");
    auto request = connection->OpenRequest("GET", "twice.txt");
    ASSERT_TRUE(request);
    int code = 0;
    EXPECT_FALSE(request->QueryStatusCode(code)) << "no status before the send";
    char block[8];
    EXPECT_EQ(request->ReadBlock(block, sizeof block), -1);
    std::string line;
    EXPECT_EQ(request->ReadLine(line), ReadStatus::kError);
    ASSERT_TRUE(request->Send());
    EXPECT_FALSE(request->Send()) << "a request goes out once";
    EXPECT_EQ(server.Requests().size(), 1u);

    EXPECT_EQ(connection->OpenRequest("PUT", "twice.txt"), nullptr);
    CurlHttpClient notStarted;
    EXPECT_EQ(notStarted.OpenSession(kUserAgent), nullptr);
}

TEST_F(CurlClientTest, HostTextIsCheckedAndKept) {
    for (const char* bad : {"", ":80", "host:", "host:0", "host:65536", "host:12x", "a/b",
                            "user@host", "host name", "[::1", "[zz]:80"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(session->Connect(bad), nullptr);
    }
    for (const char* good : {"updates.example.com", "127.0.0.1:8080", "[::1]:8080", "host"}) {
        SCOPED_TRACE(good);
        auto kept = session->Connect(good);
        ASSERT_NE(kept, nullptr);
        EXPECT_EQ(kept->Host(), good);
    }
}

// The program's own client trusts the system's store alone: a test authority counts only for a
// client that was given its file.
TEST(CurlTlsTest, OnlyTheSystemsOrTheGivenAuthoritiesAreTrusted) {
    test::TempDir dir;
    auto authority = TestAuthority::Create();
    ASSERT_TRUE(authority);
    std::string authorityFile = dir.Path("authority.pem");
    ASSERT_TRUE(authority->WriteCertificate(authorityFile));
    dir.Write("a.txt", "over TLS\n");
    UpdateServer server(dir.path());
    server.UseTls(ServerCertificate::kTrusted, authority);
    ASSERT_TRUE(server.Start());
    for (const std::string& file : {std::string(), authorityFile}) {
        SCOPED_TRACE(file);
        CurlHttpClient client(file);
        ASSERT_TRUE(client.Startup());
        auto session = client.OpenSession(kUserAgent);
        ASSERT_TRUE(session);
        auto connection = session->Connect(server.HostText());
        ASSERT_TRUE(connection);
        auto request = connection->OpenRequest("GET", "a.txt");
        ASSERT_TRUE(request);
        bool sent = request->Send();
        EXPECT_EQ(sent, !file.empty());
        if (!sent) {
            EXPECT_EQ(request->LastFailure(), HttpFailure::kServerIdentity);
            continue;
        }
        std::string line;
        EXPECT_EQ(request->ReadLine(line), ReadStatus::kOk);
        EXPECT_EQ(line, "over TLS");
    }
    // Plain HTTP to a TLS port is no answer, and no identity question either.
    CurlHttpClient client(authorityFile);
    ASSERT_TRUE(client.Startup());
    auto plain = client.OpenSession(kUserAgent)->Connect(server.HostText().substr(8));
    ASSERT_TRUE(plain);
    auto request = plain->OpenRequest("GET", "a.txt");
    ASSERT_TRUE(request);
    EXPECT_FALSE(request->Send());
    EXPECT_EQ(request->LastFailure(), HttpFailure::kOther);
    EXPECT_EQ(server.Requests().size(), 1u);
}

}  // namespace
}  // namespace fw
