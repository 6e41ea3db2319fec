#include "platform/ui/accessibility.h"

#include <gtest/gtest.h>

#include <set>

#include "res/resource.h"
#include "res/templates.h"

namespace fw {
namespace {

struct FocusCase {
    int disabled;
    std::set<int> enabled;
    int expected;
};

TEST(FocusAfterDisabling, PrefersTheNearestEnabledButtonThenAnyTabStop) {
    using namespace res;
    const FocusCase cases[] = {
        {kIdDownload, {kIdExit, kIdUpdateList}, kIdExit},         // the download starts
        {kIdExit, {kIdCancel, kIdUpdateList}, kIdCancel},         // Cancel comes alive
        {kIdCancel, {kIdUpdateList}, kIdUpdateList},              // between two files
        {kIdInstall, {kIdCheck, kIdExit, kIdUpdateList}, kIdExit},  // forward first at equal steps
        {kIdCheck, {}, kNoControlId},
    };
    for (const FocusCase& c : cases) {
        SCOPED_TRACE(c.disabled);
        int next = FocusAfterDisabling(MainDialogTemplate(), c.disabled,
                                       [&](int id) { return c.enabled.count(id) != 0; });
        EXPECT_EQ(next, c.expected);
    }
}

TEST(AccessibleName, IsTheStaticTextBeforeTheControlOrTheButtonsOwnText) {
    using namespace res;
    EXPECT_EQ(AccessibleName(MainDialogTemplate(), kIdUpdateList), "Available Updates");
    EXPECT_EQ(AccessibleName(MainDialogTemplate(), kIdFileProgress), "Current file progress");
    EXPECT_EQ(AccessibleName(MainDialogTemplate(), kIdTotalProgress), "Whole download progress");
    EXPECT_EQ(AccessibleName(MainDialogTemplate(), kIdExit), "Exit");
    EXPECT_EQ(AccessibleName(MainDialogTemplate(), kIdStatus), "");
    EXPECT_EQ(AccessibleName(BetaDirDialogTemplate(), kIdBetaDirEdit),
              "Select the directory where the beta version of Fablewright should be installed.");
    EXPECT_EQ(WithoutMnemonic("Fish && &Chips"), "Fish & Chips");
}

}  // namespace
}  // namespace fw
