#include <gtest/gtest.h>

#include "patch.h"

TEST(patch_documentPlaceholder, Builds) { SUCCEED(); }
