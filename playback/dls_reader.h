// The DLS reader lives in formats/; this name stays for the files that still include it.
#pragma once

#include "formats/dls.h"
