/* The plain C baseline for the generator benchmark: the reference algorithm,
   writing each character with fputc. */
#include <stdio.h>
#include <time.h>

#define ZANDREL_SINK FILE*
#define ZANDREL_PUT(sink, c) fputc((c), (sink))
#include "support/zandrel_reference.h"

int main(void) {
    srand((unsigned)time(NULL));
    FILE* file = fopen("gibberish.txt", "w");
    if (file == NULL) {
        return 1;
    }
    zandrel_reference(file);
    fclose(file);
    return 0;
}
