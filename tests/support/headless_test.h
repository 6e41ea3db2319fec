#pragma once
// A headless host for tests: anything the program asks that the test did not script fails the
// test.

#include <gtest/gtest.h>

#include "platform/headless/headless_backend.h"

namespace fw::test {

class StrictHeadlessBackend : public HeadlessBackend {
public:
    StrictHeadlessBackend() {
        onUnexpected = [this](const std::string& what) {
            unexpected.push_back(what);
            ADD_FAILURE() << "unexpected: " << what;
        };
    }
    ~StrictHeadlessBackend() override {
        EXPECT_EQ(PendingMessageBoxes(), 0u) << "message boxes the test expected were not shown";
        EXPECT_EQ(PendingScripts(), 0u) << "dialogs the test scripted were not shown";
    }
};

}  // namespace fw::test
