# Usage: cmake -DFROM=dir -DTO=dir -P fresh_copy.cmake
# Replaces TO with a copy of FROM.
file(REMOVE_RECURSE ${TO})
file(COPY ${FROM}/ DESTINATION ${TO})
