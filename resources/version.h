// The program's version: the version record carries it, and the run writes the same text as its stamp.
#pragma once

#define ORVET_VERSION_NUMBERS 1, 0, 0, 10080
#define ORVET_VERSION_TEXT "1.0.0.10080"
