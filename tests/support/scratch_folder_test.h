// A test with a fresh folder of its own under the temporary folder, removed with all it holds when the
// test ends: by its literal name, so that folders named "y " or "y." go too.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "files.h"

class ScratchFolderTest : public ::testing::Test {
  protected:
    explicit ScratchFolderTest(std::wstring_view stem) : stem_(stem) {}

    void SetUp() override {
        scratch_ = MakeScratchFolder(stem_);
        ASSERT_FALSE(scratch_.empty());
    }
    void TearDown() override {
        if (!scratch_.empty()) (void)DeleteTree(L"\\\\?\\" + scratch_);
    }

    std::wstring scratch_;

  private:
    std::wstring_view stem_;
};
