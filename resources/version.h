// The program's name and version: the version record and the string tables carry them, the build names
// the executable after the name, and the run writes its stamp under the name with the version text.
#pragma once

#define ORVET_PRODUCT_NAME "Orvet Manual Contents Update"

#define ORVET_VERSION_NUMBERS 1, 0, 0, 10080
#define ORVET_VERSION_TEXT "1.0.0.10080"
