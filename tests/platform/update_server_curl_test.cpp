// The loopback update server, spoken to through the libcurl client layer.

#include "tools/update-server/update_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/curl/http_client_curl.h"
#include "tests/support/temp_dir.h"

namespace fw {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Answer {
    bool sent = false;
    int code = 0;
    std::string body;
    bool complete = false;  // the body ended cleanly
};

class UpdateServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(root);
        ASSERT_TRUE(server.Start());
        ASSERT_TRUE(client.Startup());
        session = client.OpenSession("test");
        ASSERT_TRUE(session);
    }

    Answer Fetch(const std::string& verb, const std::string& objectName,
                 const std::string& body = {}) {
        Answer answer;
        auto connection = session->Connect(server.HostText());
        if (!connection) return answer;
        auto request = connection->OpenRequest(verb, objectName);
        if (!request || !request->Send({}, body) || !request->QueryStatusCode(answer.code)) {
            return answer;
        }
        answer.sent = true;
        char block[4096];
        std::ptrdiff_t count;
        while ((count = request->ReadBlock(block, sizeof block)) > 0) {
            answer.body.append(block, static_cast<std::size_t>(count));
        }
        answer.complete = count == 0;
        return answer;
    }

    test::TempDir dir;
    std::string root = dir.Path("root");
    UpdateServer server{root, dir.Path("requests.log")};
    CurlHttpClient client;
    std::unique_ptr<HttpSession> session;
};

TEST(FaultSpecTest, CommandLineSwitchesParse) {
    struct Case {
        const char* spec;
        const char* path;
        ServerFault fault;
    };
    const Case cases[] = {
        {"/UpDefs/FablewrightUpdates.txt:status=503", "/UpDefs/FablewrightUpdates.txt",
         ServerFault{.status = 503}},
        {"files/a.exe:truncate=100", "/files/a.exe", ServerFault{.truncateAfter = 100}},
        {"/a:stall=2.5@4096", "/a",
         ServerFault{.stallAfter = 4096, .stallFor = milliseconds(2500)}},
        {"/a:stall=3@0", "/a", ServerFault{.stallAfter = 0, .stallFor = milliseconds(3000)}},
        {"/a:rate=1000,length=7", "/a", ServerFault{.bytesPerSecond = 1000, .announcedLength = 7}},
        {"/a:drop", "/a", ServerFault{.drop = true}},
        {"/c:d:status=404", "/c:d", ServerFault{.status = 404}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.spec);
        auto parsed = ParseFaultSpec(c.spec);
        ASSERT_TRUE(parsed);
        EXPECT_EQ(parsed->first, c.path);
        EXPECT_TRUE(parsed->second == c.fault);
    }
    for (const char* bad : {"/a", ":status=503", "/a:", "/a:status=", "/a:status=5x",
                            "/a:status=42", "/a:stall=2", "/a:stall=x@1", "/a:stall=1.2345@1",
                            "/a:rate=0", "/a:bogus=1", "/a:status=200,", "/a:truncate=-1"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(ParseFaultSpec(bad));
    }
}

TEST(RecordedRequestTest, JsonKeepsEveryByte) {
    RecordedRequest request;
    request.method = "POST";
    request.target = "/x";
    request.version = "HTTP/1.0";
    request.requestLine = "POST /x HTTP/1.0";
    request.headers = {{"Content-Length", "5"}};
    request.body = std::string("\"\\\n\xe9", 4) + std::string(1, '\0');
    EXPECT_EQ(request.ToJson(),
              "{\"requestLine\":\"POST /x HTTP/1.0\",\"method\":\"POST\",\"target\":\"/x\","
              "\"version\":\"HTTP/1.0\",\"headers\":[[\"Content-Length\",\"5\"]],"
              "\"body\":\"\\\"\\\\\\u000a\\u00e9\\u0000\"}");
    EXPECT_EQ(request.Header("content-length"), "5");
    EXPECT_FALSE(request.Header("Content-Type"));
}

TEST_F(UpdateServerTest, ServesFilesInsideTheRootOnly) {
    dir.Write("secret.txt", "outside");
    dir.Write("root/inside.txt", "inside");
    std::filesystem::create_directories(dir.Path("root/sub"));
    std::filesystem::create_symlink(dir.Path("secret.txt"), dir.Path("root/link.txt"));
    struct Case {
        const char* objectName;
        int code;
        const char* body;
    };
    for (const Case& c : {Case{"inside.txt", 200, "inside"}, Case{"sub/../inside.txt", 200, "inside"},
                          Case{"../secret.txt", 404, nullptr},
                          Case{"%2e%2e/secret.txt", 404, nullptr},
                          Case{"sub/../../secret.txt", 404, nullptr},
                          Case{"link.txt", 404, nullptr}, Case{"sub", 404, nullptr},
                          Case{"", 404, nullptr}, Case{"nothing.txt", 404, nullptr}}) {
        SCOPED_TRACE(c.objectName);
        Answer answer = Fetch("GET", c.objectName);
        ASSERT_TRUE(answer.sent);
        EXPECT_EQ(answer.code, c.code);
        EXPECT_TRUE(answer.complete);
        if (c.body != nullptr) {
            EXPECT_EQ(answer.body, c.body);
        }
        EXPECT_EQ(answer.body.find("outside"), std::string::npos);
    }
}

TEST_F(UpdateServerTest, EveryPostIsAcceptedAndRecorded) {
    Answer answer = Fetch("POST", "vrn/sendupdinfo.php", "dir=C%3a/Tool");
    ASSERT_TRUE(answer.sent);
    EXPECT_EQ(answer.code, 200);
    EXPECT_EQ(answer.body, "OK\n");
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].path, "/vrn/sendupdinfo.php");
    EXPECT_EQ(requests[0].body, "dir=C%3a/Tool");
    server.ClearRequests();
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(UpdateServerTest, LogGetsOneJsonLinePerRequest) {
    dir.Write("root/a.txt", "a");
    ASSERT_TRUE(Fetch("GET", "a.txt").sent);
    ASSERT_TRUE(Fetch("POST", "form", "x=1").sent);
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(dir.Read("requests.log"), requests[0].ToJson() + "\n" + requests[1].ToJson() + "\n");
}

TEST_F(UpdateServerTest, FaultsShapeTheAnswer) {
    const std::string content(10000, 'q');
    dir.Write("root/f.bin", content);
    struct Case {
        const char* name;
        ServerFault fault;
        int code;
        std::size_t bytes;
        bool complete;
    };
    const Case cases[] = {
        {"status", ServerFault{.status = 503}, 503, 11, true},  // "Status 503\n"
        {"truncate", ServerFault{.truncateAfter = 1234}, 200, 1234, false},
        {"truncate at zero", ServerFault{.truncateAfter = 0}, 200, 0, false},
        {"shorter length", ServerFault{.announcedLength = 100}, 200, 100, true},
        {"longer length", ServerFault{.announcedLength = 20000}, 200, 10000, false},
        {"none", ServerFault{}, 200, 10000, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.SetFault("/f.bin", c.fault);
        Answer answer = Fetch("GET", "f.bin");
        ASSERT_TRUE(answer.sent);
        EXPECT_EQ(answer.code, c.code);
        EXPECT_EQ(answer.body.size(), c.bytes);
        EXPECT_EQ(answer.complete, c.complete);
    }
    server.SetFault("f.bin", ServerFault{.drop = true});
    EXPECT_FALSE(Fetch("GET", "f.bin").sent);
    server.ClearFault("/f.bin");
    EXPECT_EQ(Fetch("GET", "f.bin").body, content);
    server.SetFault("f.bin", ServerFault{.status = 500});
    server.ClearFaults();
    EXPECT_EQ(Fetch("GET", "f.bin").code, 200);
}

TEST_F(UpdateServerTest, RateLimitSlowsTheBody) {
    dir.Write("root/slow.bin", std::string(6000, 's'));
    server.SetFault("slow.bin", ServerFault{.bytesPerSecond = 20000});
    auto start = Clock::now();
    Answer answer = Fetch("GET", "slow.bin");
    auto elapsed = Clock::now() - start;
    EXPECT_TRUE(answer.complete);
    EXPECT_EQ(answer.body.size(), 6000u);
    EXPECT_GE(elapsed, milliseconds(250));  // 300 ms at the limit
    EXPECT_LT(elapsed, milliseconds(3000));
}

TEST_F(UpdateServerTest, StopEndsAStallAtOnce) {
    dir.Write("root/stuck.bin", std::string(1000, 'x'));
    server.SetFault("stuck.bin", ServerFault{.stallAfter = 0, .stallFor = milliseconds(60000)});
    auto connection = session->Connect(server.HostText());
    ASSERT_TRUE(connection);
    auto request = connection->OpenRequest("GET", "stuck.bin");
    ASSERT_TRUE(request);
    ASSERT_TRUE(request->Send());
    std::ptrdiff_t result = 1;
    std::thread reader([&] {
        char block[4096];
        result = request->ReadBlock(block, sizeof block);
    });
    std::this_thread::sleep_for(milliseconds(100));
    auto start = Clock::now();
    server.Stop();
    reader.join();
    EXPECT_LT(Clock::now() - start, milliseconds(2000));
    EXPECT_EQ(result, -1) << "the body was cut short";
    EXPECT_FALSE(server.Running());
}

TEST_F(UpdateServerTest, StartsAgainAfterStopAndRefusesBadStarts) {
    EXPECT_FALSE(server.Start()) << "already running";
    int first = server.Port();
    EXPECT_GT(first, 0);
    server.Stop();
    EXPECT_EQ(server.Port(), 0);
    ASSERT_TRUE(server.Start());
    EXPECT_GT(server.Port(), 0);
    dir.Write("root/again.txt", "again");
    EXPECT_EQ(Fetch("GET", "again.txt").body, "again");

    UpdateServer noRoot{dir.Path("missing")};
    EXPECT_FALSE(noRoot.Start());
    UpdateServer samePort{root};
    EXPECT_FALSE(samePort.Start(server.Port())) << "the port is taken";
}

}  // namespace
}  // namespace fw
