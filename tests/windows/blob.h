/* A whole file in memory, for the test clients: size -1 when it cannot be read. */
#ifndef PLIX_TEST_BLOB_H
#define PLIX_TEST_BLOB_H

#include <stdio.h>
#include <stdlib.h>

typedef struct Blob {
    unsigned char *data;
    long size;
} Blob;

static Blob ReadAll(const char *path) {
    Blob b = {NULL, -1};
    FILE *f = fopen(path, "rb");
    if (!f) return b;
    fseek(f, 0, SEEK_END);
    b.size = ftell(f);
    fseek(f, 0, SEEK_SET);
    b.data = (unsigned char *)malloc(b.size > 0 ? (size_t)b.size : 1);
    if (b.data && fread(b.data, 1, (size_t)b.size, f) != (size_t)b.size) b.size = -1;
    fclose(f);
    return b;
}

#endif
