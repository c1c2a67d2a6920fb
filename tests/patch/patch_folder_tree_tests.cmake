# Trees of directory links and the walk of an empty path need what only the driver script can make
# on the Unix side; in the discovered run those cases skip themselves. A walk that does not end fails
# by the timeout.
add_test(NAME PatchFolderTreeLinkTreeTest.LinksAndEmptyPath
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/patch_folder_tree_unix_trees.sh
                 ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:patch_folder_tree_test>)
set_tests_properties(PatchFolderTreeLinkTreeTest.LinksAndEmptyPath PROPERTIES TIMEOUT 120)
