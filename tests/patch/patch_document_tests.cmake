# The write-failure cases need a nearly full drive, which only the driver script provides: it mounts a
# small RAM disk, maps it into the build's Wine prefix and runs those cases alone. In the discovered run
# they skip themselves.
add_test(NAME PatchDocumentFullDriveTest.WriteFailures
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/patch_document_write_failure.sh
                 ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:patch_document_test>)
set_tests_properties(PatchDocumentFullDriveTest.WriteFailures PROPERTIES TIMEOUT 120 SKIP_RETURN_CODE 77)
