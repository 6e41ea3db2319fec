// The form body that tells the information server what is installed.

#include "discovery/update_request.h"

#include <gtest/gtest.h>

namespace fw {
namespace {

TEST(UpdateRequestTest, TheWorkedExample) {
    std::string body = BuildUpdateRequestBody(true, "C:\\Program Files\\Tool", "2.1.0.7",
                                              {"Fablewright", "Sci Fi", "Fantasy"});
    EXPECT_EQ(body,
              "beta=true&dir=C%3a/Program%20Files/Tool&version=2.1.0.7&systems=Fablewright%3bSci"
              "%20Fi%3bFantasy");
    EXPECT_EQ(body.size(), 96u);
    EXPECT_EQ(UpdateRequestHeaders(body.size()),
              "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 96");
}

TEST(UpdateRequestTest, ChannelFolderAndEmptySystems) {
    EXPECT_EQ(BuildUpdateRequestBody(false, "C:\\A B\\C", "Unknown", {}),
              "dir=C%3a/A%20B/C&version=Unknown&systems=");
    EXPECT_EQ(BuildUpdateRequestBody(false, "/home/u/fw", "1.2.3.4", {"X"}),
              "dir=/home/u/fw&version=1.2.3.4&systems=X");
}

TEST(UpdateRequestTest, EscapesExactlyTheReservedCharacters) {
    const std::string reserved = " \"%&'+,:;<=>?@[\\]^`{|}~";
    ASSERT_EQ(reserved.size(), 23u);
    for (int c = 0; c < 256; ++c) {
        std::string out;
        EscapeFormText(out, std::string(1, static_cast<char>(c)));
        bool isReserved = reserved.find(static_cast<char>(c)) != std::string::npos;
        if (isReserved) {
            char expected[4];
            std::snprintf(expected, sizeof expected, "%%%02x", c);
            EXPECT_EQ(out, expected) << c;
        } else {
            EXPECT_EQ(out, std::string(1, static_cast<char>(c))) << c;
        }
    }
    std::string out;
    EscapeFormText(out, "R&D=1+1 50% ~x-y.z_w");
    EXPECT_EQ(out, "R%26D%3d1%2b1%2050%25%20%7ex-y.z_w");
    out.clear();
    EscapeFormText(out, "Caf\xe9");  // accented letters of the 8-bit code page go as they are
    EXPECT_EQ(out, "Caf\xe9");
}

TEST(UpdateRequestTest, FieldsJoinWithAmpersands) {
    std::string body;
    AppendFormField(body, "a", "1");
    AppendFormField(body, "b c", "");
    EXPECT_EQ(body, "a=1&b%20c=");
}

}  // namespace
}  // namespace fw
