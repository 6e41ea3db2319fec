// Server addresses with and without a scheme, and where a redirect leads.

#include "platform/server_address.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/http_redirects.h"

namespace fw {
namespace {

TEST(ServerAddressTest, SchemesPortsAndTextsThatNameNoServer) {
    struct Case {
        const char* text;
        bool ok;
        bool secure;
        const char* host;
        unsigned short port;
    };
    const Case cases[] = {
        {"updates.example", true, false, "updates.example", 80},
        {"127.0.0.1:8080", true, false, "127.0.0.1", 8080},
        {"http://h:81", true, false, "h", 81},
        {"https://h", true, true, "h", 443},
        {"HTTPS://h:8443", true, true, "h", 8443},
        {"https://[::1]:4443", true, true, "[::1]", 4443},
        {"https://", false, false, "", 0},
        {"https://h:0", false, false, "", 0},
        {"https://h:65536", false, false, "", 0},
        {"https://user@h", false, false, "", 0},
        {"https://h/path", false, false, "", 0},
        {"ftp://h", false, false, "", 0},
        {"h:", false, false, "", 0},
        {"", false, false, "", 0},
    };
    for (const Case& c : cases) {
        std::optional<ServerAddress> address = ParseServerAddress(c.text);
        ASSERT_EQ(address.has_value(), c.ok) << c.text;
        if (!c.ok) continue;
        EXPECT_EQ(address->secure, c.secure) << c.text;
        EXPECT_EQ(address->host, c.host) << c.text;
        EXPECT_EQ(address->port, c.port) << c.text;
        EXPECT_EQ(ParseServerAddress(FormatServerAddress(*address)), address) << c.text;
    }
    EXPECT_TRUE(SameServer("https://LocalHost", "https://localhost:443"));
    EXPECT_TRUE(SameServer("h", "http://h:80"));
    EXPECT_FALSE(SameServer("https://h", "h"));
    EXPECT_FALSE(SameServer("h:81", "h"));
    EXPECT_FALSE(SameServer("", ""));
}

TEST(ServerAddressTest, WhereARedirectLeads) {
    ServerAddress from{true, "a", 4443};
    struct Case {
        const char* location;
        bool ok;
        const char* server;  // as FormatServerAddress writes it
        const char* object;
    };
    const Case cases[] = {
        {"http://b:81/x/y.exe?v=1#top", true, "http://b:81", "x/y.exe?v=1"},
        {"HTTPS://b", true, "https://b:443", ""},
        {"//c/z", true, "https://c:443", "z"},
        {"/root.txt", true, "https://a:4443", "root.txt"},
        {"sibling.exe", true, "https://a:4443", "dir/sibling.exe"},
        {" /spaced ", true, "https://a:4443", "spaced"},
        {"ftp://b/x", false, "", ""},
        {"/a\r\nX-Injected: 1", false, "", ""},
        {"http://user@b/x", false, "", ""},
        {"", false, "", ""},
    };
    for (const Case& c : cases) {
        std::optional<RedirectTarget> target = ResolveRedirect(from, "dir/file.exe?q", c.location);
        ASSERT_EQ(target.has_value(), c.ok) << c.location;
        if (!c.ok) continue;
        EXPECT_EQ(FormatServerAddress(target->server), c.server) << c.location;
        EXPECT_EQ(target->object, c.object) << c.location;
    }
}

TEST(ServerAddressTest, ServerLists) {
    struct Case {
        std::string_view text;
        std::vector<std::string> servers;
    };
    const Case cases[] = {
        {"updates.example", {"updates.example"}},
        {" a.example , b.example:8080,,\tc.example ", {"a.example", "b.example:8080", "c.example"}},
        // Nothing to try: the text itself, so that the message names what was given.
        {"", {""}},
        {" , ", {" , "}},
        // Once one server is https, plain ones are never a way around it.
        {"http://a.example,https://b.example,c.example,HTTPS://d.example",
         {"https://b.example", "HTTPS://d.example"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ServerList(c.text), c.servers) << c.text;
    }
}

}  // namespace
}  // namespace fw
