/* The plain C baseline for the generator benchmark: the same algorithm,
   writing each character with fputc. */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static float rnum(void) { return (float)rand() / 2147483648.0F; }

int main(void) {
    srand((unsigned)time(NULL));
    FILE* file = fopen("gibberish.txt", "w");
    if (file == NULL) {
        return 1;
    }
    int count = 0;
    for (int i = 0; i < 400000; ++i) {
        const int r = (int)(rnum() * 110);
        if (r >= 105) {
            fputc('.', file);
            fputc(' ', file);
        } else if (r >= 80) {
            fputc(' ', file);
        } else {
            const int index = (int)(rnum() * 26);
            fputc((r >= 60 ? 'A' : 'a') + (index > 25 ? 25 : index), file);
        }
        if (++count > 60) {
            fputc('\n', file);
            count = 0;
        }
    }
    fclose(file);
    return 0;
}
