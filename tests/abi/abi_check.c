/* Uses libPLIX.so the way a C program that knows only plix/plix.h would: load
 * it by path, bind the two exports by name and drive an image through the
 * operation table. Usage: abi_check <path of libPLIX.so> */
#define _POSIX_C_SOURCE 200809L

#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include "plix/plix.h"

static int failures;

#define CHECK(cond)                                                                  \
    do {                                                                             \
        if (!(cond)) {                                                               \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                              \
        }                                                                            \
    } while (0)

_Static_assert(sizeof(void *) == sizeof(PLIX_ConstructorFn), "function and data pointers differ");

/* dlsym hands out data pointers; copying the bits is the portable way to a
 * function pointer in ISO C. */
static PLIX_ConstructorFn BindConstructor(void *lib) {
    PLIX_ConstructorFn fn = NULL;
    void *sym = dlsym(lib, "PLIX_Constructor");
    memcpy(&fn, &sym, sizeof fn);
    return fn;
}

static PLIX_DestructorFn BindDestructor(void *lib) {
    PLIX_DestructorFn fn = NULL;
    void *sym = dlsym(lib, "PLIX_Destructor");
    memcpy(&fn, &sym, sizeof fn);
    return fn;
}

static int AllBytesAre(const uint8_t *p, size_t n, uint8_t value) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] != value) return 0;
    return 1;
}

static void CheckCodec(PlixCodec *codec) {
    const PlixCodecOps *ops = codec->ops;
    CHECK(ops != NULL);
    if (!ops) return;

    int32_t version = ops->GetVersion(codec);
    CHECK(version == 8);
    char shown[32];
    snprintf(shown, sizeof shown, "%x.%02x", (unsigned)(version >> 8), (unsigned)(version & 0xFF));
    CHECK(strcmp(shown, "0.08") == 0);

    /* No image yet. */
    CHECK(ops->GetImageBuffer(codec) == NULL);
    CHECK(ops->GetPixel(codec, 0, 0) == 0);
    ops->SetPixel(codec, 0, 0, 0x00123456u);

    CHECK(ops->CreateImage(codec, 10, 3) == 1);
    int32_t w = -1, h = -1;
    ops->GetImageSize(codec, &w, &h);
    CHECK(w == 10 && h == 3);
    ops->GetBufferSize(codec, &w, &h);
    CHECK(w == 16 && h == 8);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 10; ++x) CHECK(ops->GetPixel(codec, x, y) == 0x00FFFFFFu);
    uint8_t *buf = ops->GetImageBuffer(codec);
    CHECK(buf != NULL);
    if (!buf) return;
    CHECK(AllBytesAre(buf, 16 * 8 * 4, 0xFF));

    /* Outside the image, padding included, nothing is read or written. */
    CHECK(ops->GetPixel(codec, 10, 0) == 0);
    CHECK(ops->GetPixel(codec, 0, 3) == 0);
    CHECK(ops->GetPixel(codec, -1, 0) == 0);
    CHECK(ops->GetPixel(codec, 0, -1) == 0);
    ops->SetPixel(codec, 10, 0, 0);
    ops->SetPixel(codec, 0, 3, 0);
    ops->SetPixel(codec, -1, 0, 0);
    ops->SetPixel(codec, 0, -1, 0);
    CHECK(AllBytesAre(buf, 16 * 8 * 4, 0xFF));

    /* Bits 24 to 31 are dropped; the buffer holds blue, green, red, 0. */
    ops->SetPixel(codec, 2, 1, 0xAB123456u);
    CHECK(ops->GetPixel(codec, 2, 1) == 0x00123456u);
    const uint8_t *px = buf + (1 * 16 + 2) * 4;
    CHECK(px[0] == 0x12 && px[1] == 0x34 && px[2] == 0x56 && px[3] == 0x00);
    CHECK(AllBytesAre(buf, (1 * 16 + 2) * 4, 0xFF));
    CHECK(AllBytesAre(px + 4, 16 * 8 * 4 - (1 * 16 + 3) * 4, 0xFF));

    /* A second image starts white again. */
    CHECK(ops->CreateImage(codec, 10, 3) == 1);
    buf = ops->GetImageBuffer(codec);
    CHECK(buf != NULL && AllBytesAre(buf, 16 * 8 * 4, 0xFF));
    CHECK(ops->GetPixel(codec, 2, 1) == 0x00FFFFFFu);
}

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s <path of libPLIX.so>\n", argc > 0 ? argv[0] : "abi_check");
        return 2;
    }
    void *lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
        return 1;
    }
    PLIX_ConstructorFn create = BindConstructor(lib);
    PLIX_DestructorFn destroy = BindDestructor(lib);
    CHECK(create != NULL);
    CHECK(destroy != NULL);
    if (create && destroy) {
        destroy(NULL);
        PlixCodec *codec = create();
        CHECK(codec != NULL);
        if (codec) {
            CheckCodec(codec);
            destroy(codec);
        }
    }
    dlclose(lib);
    if (failures) {
        fprintf(stderr, "%d check(s) failed\n", failures);
        return 1;
    }
    printf("ABI checks passed\n");
    return 0;
}
