#include <gtest/gtest.h>

#include "patch.h"

TEST(patch_folder_treePlaceholder, Builds) { SUCCEED(); }
