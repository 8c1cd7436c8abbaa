// One fault point: in a build with QUORVEL_FAULT_POINTS (libfiu's
// FIU_ENABLE), a call of the library's or the viewer's own that a test can
// make fail by name; in every other build nothing at all (fiu-local.h).
#ifndef QUORVEL_FAULT_FAULT_POINT_H
#define QUORVEL_FAULT_FAULT_POINT_H

#include "fiu-local.h"

#include <cerrno>

// In a function: returns result with errno set to error when the point
// name fails.
#define QUORVEL_FAULT_POINT(name, error, result) \
    fiu_do_on(name, {                            \
        errno = (error);                         \
        return (result);                         \
    })

#endif
