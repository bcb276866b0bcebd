#include "setup_paths.h"

SetupPaths g_setupPaths;
