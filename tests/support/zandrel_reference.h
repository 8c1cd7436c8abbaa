/* The generator's algorithm written out plainly, a character at a time, and
   kept apart from zandrel/zandrel.cpp: the test compares zandrel's file with
   it, and the benchmark measures zandrel against it. C and C++ alike.

   Before including, define ZANDREL_SINK (a type) and ZANDREL_PUT(sink, c)
   (writes the character c, an int); then zandrel_reference(sink) writes the
   whole text for the seed last given to srand(). */
#ifndef QUORVEL_TESTS_ZANDREL_REFERENCE_H
#define QUORVEL_TESTS_ZANDREL_REFERENCE_H

#include <stdlib.h>

static float zandrel_reference_rnum(void) { return (float)rand() / 2147483648.0F; }

static void zandrel_reference(ZANDREL_SINK sink) {
    int count = 0;
    for (int i = 0; i < 400000; ++i) {
        const int r = (int)(zandrel_reference_rnum() * 110);
        if (r >= 105) {
            ZANDREL_PUT(sink, '.');
            ZANDREL_PUT(sink, ' ');
        } else if (r >= 80) {
            ZANDREL_PUT(sink, ' ');
        } else {
            const int index = (int)(zandrel_reference_rnum() * 26);
            ZANDREL_PUT(sink, (r >= 60 ? 'A' : 'a') + (index > 25 ? 25 : index));
        }
        if (++count > 60) {
            ZANDREL_PUT(sink, '\n');
            count = 0;
        }
    }
}

#endif
