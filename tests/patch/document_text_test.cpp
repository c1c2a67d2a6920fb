#include "document_text.h"

#include <gtest/gtest.h>

TEST(DocumentTextTest, Placeholder) {
    std::string text = "<head></head>";
    EXPECT_TRUE(InsertCompatibilityTag(text, LeadByteTable{}));
}
