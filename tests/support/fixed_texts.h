// The patch's fixed texts, spelled here apart from the product's own constants so that a wrong constant
// there shows: for the tests of both toolchains and the benchmark.
#pragma once

#include <string>

inline const std::string kTag = R"(<meta http-equiv="X-UA-Compatible" content="IE=edge" />)";
inline const std::string kZone = "<!-- saved from url=(0014)about:internet -->";
inline const std::string kLocal = "<!-- saved from url=(0016)http://localhost -->";
