// The platform level the including build is compiled for (18, 21 or 23).
#ifndef HOST_PLATFORM_LEVEL_H
#define HOST_PLATFORM_LEVEL_H

#ifndef PLATFORM_LEVEL
#define PLATFORM_LEVEL 23
#endif

#if PLATFORM_LEVEL != 18 && PLATFORM_LEVEL != 21 && PLATFORM_LEVEL != 23
#error "PLATFORM_LEVEL must be 18, 21 or 23"
#endif

#endif  // HOST_PLATFORM_LEVEL_H
