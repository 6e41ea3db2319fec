// The update server's text, as a client on another host writes and reads it: fault switches
// both ways and recorded requests back from their JSON lines.

#include "tools/update-server/update_server.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fw {
namespace {

ServerFault Fault(std::optional<int> status, std::optional<std::uint64_t> truncate = {},
                  std::optional<std::uint64_t> stallAfter = {},
                  std::chrono::milliseconds stallFor = {}, std::uint64_t rate = 0,
                  std::optional<std::uint64_t> length = {}, bool drop = false) {
    ServerFault f;
    f.status = status;
    f.truncateAfter = truncate;
    f.stallAfter = stallAfter;
    f.stallFor = stallFor;
    f.bytesPerSecond = rate;
    f.announcedLength = length;
    f.drop = drop;
    return f;
}

TEST(UpdateServerTextTest, FaultSwitchesReadBackAsWritten) {
    using std::chrono::milliseconds;
    struct Case {
        ServerFault fault;
        std::string text;
    };
    const Case cases[] = {
        {ServerFault{}, ""},
        {Fault(404), "status=404"},
        {Fault({}, 9000), "truncate=9000"},
        {Fault({}, 0), "truncate=0"},
        {Fault({}, {}, 10000, milliseconds(30000)), "stall=30.000@10000"},
        {Fault({}, {}, 0, milliseconds(1)), "stall=0.001@0"},
        {Fault({}, {}, 5, milliseconds(2500)), "stall=2.500@5"},
        {Fault({}, {}, {}, {}, 200000), "rate=200000"},
        {Fault({}, {}, {}, {}, 0, 19999), "length=19999"},
        {Fault({}, {}, {}, {}, 0, {}, true), "drop"},
        {[] {
             ServerFault f;
             f.endless = true;
             return f;
         }(),
         "endless"},
        {Fault(503, 10, 3, milliseconds(40), 7, 99, true),
         "status=503,truncate=10,stall=0.040@3,rate=7,length=99,drop"},
        {[] {
             ServerFault f = Fault(503);
             f.retryAfter = "Wed, 09 Dec 2026 00:45:44 GMT";
             f.ignoreRange = f.wrongRange = f.noValidators = true;
             f.onlyFirst = 200;
             return f;
         }(),
         "status=503,retry-after=Wed; 09 Dec 2026 00:45:44 GMT,ignore-range,wrong-range,"
         "no-validators,first=200"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatFaultSwitches(c.fault), c.text);
        auto parsed = ParseFaultSwitches(c.text);
        ASSERT_TRUE(parsed) << c.text;
        EXPECT_EQ(*parsed, c.fault) << c.text;
    }
}

TEST(UpdateServerTextTest, MalformedSwitchesAreRefused) {
    for (const char* bad : {"status=", "status=99", "rate=0", "stall=1", "stall=1.0001@2",
                            "drop=2", "first=0", "status=404,", ",status=404", "bogus=1", "truncate=-1"}) {
        EXPECT_FALSE(ParseFaultSwitches(bad)) << bad;
    }
    // The command line's form still needs switches after its path.
    EXPECT_FALSE(ParseFaultSpec("/a.exe:"));
    auto spec = ParseFaultSpec("a.exe:status=500");
    ASSERT_TRUE(spec);
    EXPECT_EQ(spec->first, "/a.exe");
    EXPECT_EQ(spec->second, Fault(500));
    // A redirect's URL brings colons of its own; the path still ends before the switches.
    auto moved = ParseFaultSpec("/d.txt:status=307,redirect=https://localhost:4443/d.txt");
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->first, "/d.txt");
    EXPECT_EQ(moved->second.redirect, "https://localhost:4443/d.txt");
    EXPECT_EQ(FormatFaultSwitches(moved->second),
              "status=307,redirect=https://localhost:4443/d.txt");
    EXPECT_EQ(FaultPathKey("//x/y"), "/x/y");
    EXPECT_EQ(FaultPathKey(""), "/");
}

TEST(UpdateServerTextTest, RecordedRequestsComeBackFromTheirLines) {
    RecordedRequest request;
    request.method = "POST";
    request.target = "/vrn/send%20info.php?x=\"1\"";
    request.path = "/vrn/send info.php";
    request.version = "HTTP/1.0";
    request.requestLine = "POST " + request.target + " HTTP/1.0";
    request.headers = {{"Content-Type", "application/x-www-form-urlencoded"},
                       {"X-Quote", "a \"b\" \\c"}};
    for (int byte = 0; byte < 256; ++byte) request.body += static_cast<char>(byte);

    std::string line = request.ToJson();
    line.insert(line.size() - 1, ",\"path\":" + ToJsonString(request.path));
    auto parsed = ParseRecordedRequest(line);
    ASSERT_TRUE(parsed) << line;
    EXPECT_EQ(parsed->method, request.method);
    EXPECT_EQ(parsed->target, request.target);
    EXPECT_EQ(parsed->path, request.path);
    EXPECT_EQ(parsed->version, request.version);
    EXPECT_EQ(parsed->requestLine, request.requestLine);
    EXPECT_EQ(parsed->headers, request.headers);
    EXPECT_EQ(parsed->body, request.body);

    // A log line without the path is read too; the path stays empty.
    auto fromLog = ParseRecordedRequest(request.ToJson());
    ASSERT_TRUE(fromLog);
    EXPECT_EQ(fromLog->body, request.body);
    EXPECT_EQ(fromLog->path, "");

    RecordedRequest bare;
    bare.requestLine = "GET / HTTP/1.0";
    auto noHeaders = ParseRecordedRequest(bare.ToJson());
    ASSERT_TRUE(noHeaders);
    EXPECT_TRUE(noHeaders->headers.empty());
}

TEST(UpdateServerTextTest, LinesThatAreNotRequestsAreRefused) {
    const std::string good = R"({"requestLine":"GET / HTTP/1.0","headers":[["A","b"]]})";
    ASSERT_TRUE(ParseRecordedRequest(good));
    for (const std::string& bad : {
             std::string(""), std::string("{}"), std::string(R"({"method":"GET"})"),
             good + "x", good.substr(0, good.size() - 1),
             std::string(R"({"requestLine":"GET / HTTP/1.0","extra":"1"})"),
             std::string(R"({"requestLine":"\u0100"})"), std::string(R"({"requestLine":"\q"})"),
             std::string(R"({"requestLine":"GET","headers":[["A"]]})"),
             std::string(R"({"requestLine":"GET","headers":[["A","b"],]})"),
             std::string(R"({"requestLine":"GET)")}) {
        EXPECT_FALSE(ParseRecordedRequest(bad)) << bad;
    }
}

}  // namespace
}  // namespace fw
