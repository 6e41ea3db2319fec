// A download cut part way is continued on the next try, and only when the server proves that
// the rest belongs to the same file; anything doubtful is fetched whole.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "res/resource.h"
#include "tests/support/update_scenario.h"

namespace fw {
namespace {

namespace fs = std::filesystem;

class ResumeTest : public test::UpdateScenario {
protected:
    void SetUp() override { Install({{"SciFi.gsi", "Sci Fi"}}); }
};

struct ResumeCase {
    const char* what;
    std::size_t size;
    ServerFault firstTry;
    // What changes at the server or in temp before the second try.
    enum class Change { kNothing, kFileRewritten, kRangeIgnored, kWrongRange, kPartialAltered };
    Change between;
    bool rangeAsked;           // the second try asks for the rest
    int requestsAfter;         // requests for the updater after the cut
    std::uint64_t bytesAfter;  // body bytes the server sends after the cut
};

TEST_F(ResumeTest, ACutDownloadIsContinuedOnlyWhenTheServerProvesItIsTheSameFile) {
    constexpr std::size_t kLarge = 64u * 1024u * 1024u;
    constexpr std::size_t kSmall = 300000;
    auto cutAt = [](std::size_t size) {
        ServerFault fault;
        fault.truncateAfter = size / 2;
        return fault;
    };
    using Change = ResumeCase::Change;
    ServerFault noValidators = cutAt(kSmall);
    noValidators.noValidators = true;
    const ResumeCase cases[] = {
        {"a cut at half of a large file", kLarge, cutAt(kLarge), Change::kNothing, true, 1,
         kLarge / 2},
        {"the file changed behind the same name", kSmall, cutAt(kSmall), Change::kFileRewritten,
         true, 1, kSmall},
        {"a server that ignores Range", kSmall, cutAt(kSmall), Change::kRangeIgnored, true, 1,
         kSmall},
        {"a 206 with the wrong Content-Range", kSmall, cutAt(kSmall), Change::kWrongRange, true,
         2, kSmall / 2 - 1 + kSmall},
        {"a resumed file that fails its checks", kSmall, cutAt(kSmall), Change::kPartialAltered,
         true, 2, kSmall / 2 + kSmall},
        {"an answer without a validator", kSmall, noValidators, Change::kNothing, false, 1,
         kSmall},
    };
    for (const ResumeCase& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(installFolder + "/temp");
        Definitions(UpdateLine("Sci Fi", "files/a.exe", c.size, 1));
        server->ClearFaults();
        server->SetFault("/files/a.exe", c.firstTry);
        tp.ui.messageBoxes.clear();
        tp.ui.ExpectMessageBox([&](const ShownMessageBox& box) {
            EXPECT_EQ(box.caption, "Try Again?");
            EXPECT_FALSE(fs::exists(TempPath("a.exe")));
            server->ClearFaults();
            ServerFault fault;
            if (c.between == Change::kFileRewritten) {
                // The same bytes written again: the validator changes all the same.
                fs::remove(serverRoot + "/files/a.exe");
                Serve("files/a.exe", c.size, 1);
            } else if (c.between == Change::kRangeIgnored) {
                fault.ignoreRange = true;
            } else if (c.between == Change::kWrongRange) {
                fault.wrongRange = true;
            } else if (c.between == Change::kPartialAltered) {
                std::fstream part(TempPath("a.exe.part"),
                                  std::ios::in | std::ios::out | std::ios::binary);
                part.seekp(10);
                part.put('\x7f');
            }
            server->SetFault("/files/a.exe", fault);
            server->ClearRequests();
            return IDYES;
        });
        DownloadThenExit();
        EXPECT_EQ(tp.ui.messageBoxes.size(), 2u);  // the one question, no error, and Exit
        std::vector<RecordedRequest> requests = server->Requests();
        ASSERT_EQ(static_cast<int>(requests.size()), c.requestsAfter);
        EXPECT_EQ(requests[0].Header("Range").has_value(), c.rangeAsked);
        EXPECT_EQ(requests[0].Header("If-Range").has_value(), c.rangeAsked);
        EXPECT_EQ(server->BodyBytesSent(), c.bytesAfter);
        EXPECT_TRUE(tp.dir.Read("Fablewright/temp/a.exe") == ServedContents("files/a.exe"));
        EXPECT_FALSE(fs::exists(TempPath("a.exe.part")));
        EXPECT_FALSE(fs::exists(TempPath("a.exe.part-note")));
    }
}

// The window asks the retry question with the wait a busy server named in it.
TEST_F(ResumeTest, ABusyServersWaitIsInTheRetryQuestion) {
    Definitions(UpdateLine("Sci Fi", "files/a.exe", 1000, 1));
    ServerFault busy;
    busy.status = 503;
    busy.retryAfter = "42";
    server->SetFault("/files/a.exe", busy);
    tp.ui.ExpectMessageBox(IDNO, "Try Again?");
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg&) {
        ASSERT_TRUE(w.Click(res::kIdCheck));
        ASSERT_TRUE(w.Click(res::kIdDownload));
        w.Click(res::kIdExit);
    });
    ASSERT_EQ(tp.ui.messageBoxes.size(), 1u);  // no error before the question
    EXPECT_EQ(tp.ui.messageBoxes[0].text,
              Format(Text(res::kStrRetryBusyQuestion), 42, TempPath("a.exe")));
}

}  // namespace
}  // namespace fw
