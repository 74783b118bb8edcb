// Profile name and profile file lookup of the preload filter.
#ifndef ZORV_PRELOAD_PROFILE_H
#define ZORV_PRELOAD_PROFILE_H

#include <cstddef>

#endif  // ZORV_PRELOAD_PROFILE_H
