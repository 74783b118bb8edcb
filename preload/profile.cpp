// Profile name and profile file lookup of the preload filter.
#include "preload/profile.h"
