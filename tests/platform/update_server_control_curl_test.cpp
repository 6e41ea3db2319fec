// The server program's control port, as the Windows tests drive it: servers made, faulted,
// read and stopped from another process, with Windows paths found inside a Wine prefix.

#include "tools/update-server/update_server_control.h"

#include "platform/curl/http_client_curl.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/temp_dir.h"
#include "tools/update-server/update_server.h"

namespace fw {
namespace {

struct Answer {
    int status = 0;
    std::string body;
};

class UpdateServerControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(control.Start(0));
        ASSERT_TRUE(client.Startup());
        session = client.OpenSession("control test");
        ASSERT_TRUE(session);
    }

    Answer Call(const std::string& host, const char* verb, const std::string& object) {
        Answer answer;
        auto connection = session->Connect(host);
        if (!connection) return answer;
        auto request = connection->OpenRequest(verb, object);
        if (!request || !request->Send() || !request->QueryStatusCode(answer.status)) {
            return answer;
        }
        char block[4096];
        std::ptrdiff_t count = 0;
        while ((count = request->ReadBlock(block, sizeof block)) > 0) {
            answer.body.append(block, static_cast<std::size_t>(count));
        }
        return answer;
    }
    Answer Control(const char* verb, const std::string& object) {
        return Call("127.0.0.1:" + std::to_string(control.Port()), verb, object);
    }

    test::TempDir dir;
    UpdateServerControl control;
    CurlHttpClient client;
    std::unique_ptr<HttpSession> session;
};

TEST_F(UpdateServerControlTest, AServerMadeOverTheControlPortServesFaultsAndRecords) {
    dir.Write("served/a.txt", "hello");
    Answer created = Control("POST", "create?root=" + dir.Path("served"));
    ASSERT_EQ(created.status, 200);
    std::string id = created.body.substr(0, created.body.find('\n'));
    Answer started = Control("POST", "start?port=0&id=" + id);
    ASSERT_EQ(started.status, 200);
    std::string host = "127.0.0.1:" + std::to_string(std::stoi(started.body));

    Answer file = Call(host, "GET", "a.txt");
    EXPECT_EQ(file.status, 200);
    EXPECT_EQ(file.body, "hello");
    ASSERT_EQ(Control("POST", "fault?id=" + id + "&path=a.txt&switches=status%3D503").status, 200);
    EXPECT_EQ(Call(host, "GET", "a.txt").status, 503);
    // Empty switches: the path behaves normally again, as with a default fault in-process.
    ASSERT_EQ(Control("POST", "fault?id=" + id + "&path=a.txt&switches=").status, 200);
    EXPECT_EQ(Call(host, "GET", "a.txt").status, 200);
    EXPECT_EQ(Control("POST", "fault?id=" + id + "&path=a.txt&switches=status%3D1").status, 400);

    Answer seen = Control("GET", "requests?id=" + id);
    ASSERT_EQ(seen.status, 200);
    std::vector<RecordedRequest> requests;
    for (std::size_t at = 0; at < seen.body.size();) {
        std::size_t end = seen.body.find('\n', at);
        auto parsed = ParseRecordedRequest(seen.body.substr(at, end - at));
        ASSERT_TRUE(parsed) << seen.body;
        requests.push_back(*parsed);
        at = end + 1;
    }
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].requestLine, "GET /a.txt HTTP/1.0");
    EXPECT_EQ(requests[0].path, "/a.txt");
    EXPECT_EQ(requests[0].Header("User-Agent"), "control test");
    ASSERT_EQ(Control("POST", "clear-requests?id=" + id).status, 200);
    EXPECT_EQ(Control("GET", "requests?id=" + id).body, "");

    ASSERT_EQ(Control("POST", "stop?id=" + id).status, 200);
    EXPECT_EQ(Call(host, "GET", "a.txt").status, 0);  // nothing listens there any more
    ASSERT_EQ(Control("POST", "destroy?id=" + id).status, 200);
    EXPECT_EQ(Control("POST", "stop?id=" + id).status, 404);
}

TEST_F(UpdateServerControlTest, BadCommandsAreRefused) {
    struct Case {
        const char* verb;
        std::string object;
        int status;
    };
    Answer created = Control("POST", "create?root=" + dir.path());
    ASSERT_EQ(created.status, 200);
    std::string id = created.body.substr(0, created.body.find('\n'));
    const Case cases[] = {
        {"POST", "create", 400},
        {"POST", "start?port=0", 400},
        {"POST", "start?port=0&id=999", 404},
        {"POST", "start?port=70000&id=" + id, 400},
        {"POST", "frobnicate?id=" + id, 404},
        {"GET", "stop?id=" + id, 405},
        {"POST", "fault?id=" + id, 400},
        {"POST", "clear-fault?id=" + id, 400},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Control(c.verb, c.object).status, c.status) << c.object;
    }
    // A root that is no folder cannot be served.
    Answer missing = Control("POST", "create?root=" + dir.Path("missing"));
    ASSERT_EQ(missing.status, 200);
    std::string missingId = missing.body.substr(0, missing.body.find('\n'));
    EXPECT_EQ(Control("POST", "start?port=0&id=" + missingId).status, 409);
}

TEST(UpdateServerControlPathTest, WindowsPathsAreFoundInsideThePrefix) {
    struct Case {
        const char* prefix;
        const char* client;
        const char* local;
    };
    const Case cases[] = {
        {"/p", "C:\\users\\me\\Temp\\fwtest-1/server", "/p/dosdevices/c:/users/me/Temp/fwtest-1/server"},
        {"/p", "Z:\\tmp\\x", "/p/dosdevices/z:/tmp/x"},
        {"/p", "z:/tmp/x", "/p/dosdevices/z:/tmp/x"},
        {"/p", "/tmp/x", "/tmp/x"},
        {"/p", "C:", "C:"},
        {"/p", "relative\\x", "relative\\x"},
        {"", "C:\\x", "C:\\x"},
    };
    for (const Case& c : cases) {
        UpdateServerControl control(c.prefix);
        EXPECT_EQ(control.LocalPath(c.client), c.local) << c.client;
    }
}

}  // namespace
}  // namespace fw
