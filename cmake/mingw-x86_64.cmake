# The same build for 64-bit Windows. It exists for machines whose kernel can't run 32-bit programs:
# there Wine can only start 64-bit ones, so the test suite runs on a 64-bit build of the same code.
set(ORVET_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
