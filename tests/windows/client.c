/* A Windows program written for the format, knowing nothing of this project:
 * it declares the codec's operation table itself (thiscall on 32-bit x86,
 * the one convention on x86-64), loads PLIX.DLL by name and checks every
 * conformance vector through DecodeFile, DecodeMemory, DecodeToBitmapFile,
 * EncodeBitmapFile and EncodeFile. On 32-bit x86 it runs with the x87 unit
 * set to single precision, as some hosts leave it.
 *
 * Usage: client.exe CONFORMANCE-FOLDER WORK-FOLDER
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <float.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#if defined(__i386__) || defined(_M_IX86)
#define OP __thiscall
#else
#define OP
#endif

typedef struct Codec Codec;
typedef struct CodecOps {
    int(OP *GetVersion)(Codec *);
    void(OP *GetImageSize)(Codec *, int *, int *);
    void(OP *GetBufferSize)(Codec *, int *, int *);
    int(OP *CreateImage)(Codec *, int, int);
    unsigned(OP *GetPixel)(Codec *, int, int);
    int(OP *DecodeFile)(Codec *, const char *);
    void(OP *SetPixel)(Codec *, int, int, unsigned);
    int(OP *EncodeFile)(Codec *, const char *, int, int, int);
    int(OP *DecodeToBitmapFile)(Codec *, const char *, const char *);
    int(OP *EncodeBitmapFile)(Codec *, const char *, const char *, int, int, int);
    int(OP *DecodeMemory)(Codec *, const void *, int);
    unsigned char *(OP *GetImageBuffer)(Codec *);
} CodecOps;
struct Codec {
    const CodecOps *ops;
};
typedef Codec *(__cdecl *Constructor)(void);
typedef void(__cdecl *Destructor)(Codec *);

static int failures = 0;
static int checks = 0;

#define CHECK(cond, what, name)                                          \
    do {                                                                 \
        ++checks;                                                        \
        if (!(cond)) {                                                   \
            ++failures;                                                  \
            printf("FAIL %s: %s (line %d)\n", (name), (what), __LINE__); \
        }                                                                \
    } while (0)

#include "blob.h"

static int SameFile(const char *path, const Blob *expected) {
    Blob got = ReadAll(path);
    int same = got.size >= 0 && got.size == expected->size &&
               memcmp(got.data, expected->data, (size_t)got.size) == 0;
    free(got.data);
    return same;
}

static long Le32(const unsigned char *p) {
    return (long)((unsigned long)p[0] | ((unsigned long)p[1] << 8) | ((unsigned long)p[2] << 16) |
                  ((unsigned long)p[3] << 24));
}

/* Puts an uncompressed 16-, 24- or 32-bit BMP into the codec pixel by pixel. */
static int LoadBmp(Codec *c, const char *path) {
    Blob b = ReadAll(path);
    int ok = 0;
    if (b.size >= 54 && b.data[0] == 'B' && b.data[1] == 'M') {
        long w = Le32(b.data + 18), h = Le32(b.data + 22);
        int bpp = b.data[28] | (b.data[29] << 8);
        long offset = Le32(b.data + 10);
        long stride = bpp == 32 ? w * 4 : ((w * (bpp / 8) + 3) & ~3L);
        if ((bpp == 16 || bpp == 24 || bpp == 32) && w > 0 && h > 0 &&
            offset + stride * h <= b.size && c->ops->CreateImage(c, (int)w, (int)h)) {
            long x, y;
            for (y = 0; y < h; ++y) {
                const unsigned char *row = b.data + offset + stride * (h - 1 - y);
                for (x = 0; x < w; ++x) {
                    unsigned r, g, bl;
                    if (bpp == 16) {
                        unsigned v = row[2 * x] | (row[2 * x + 1] << 8);
                        bl = (v & 0x1F) << 3;
                        g = ((v >> 5) & 0x1F) << 3;
                        r = ((v >> 10) & 0x1F) << 3;
                    } else {
                        const unsigned char *p = row + x * (bpp / 8);
                        bl = p[0], g = p[1], r = p[2];
                    }
                    c->ops->SetPixel(c, (int)x, (int)y, (bl << 16) | (g << 8) | r);
                }
            }
            ok = 1;
        }
    }
    free(b.data);
    return ok;
}

/* The image and padded sizes and every buffer byte, and GetPixel agreeing. */
static void CheckBuffer(Codec *c, const char *name, int w, int h, int pw, int ph, const Blob *buf) {
    int gw = -1, gh = -1, gpw = -1, gph = -1, x, y;
    const unsigned char *p;
    c->ops->GetImageSize(c, &gw, &gh);
    c->ops->GetBufferSize(c, &gpw, &gph);
    CHECK(gw == w && gh == h && gpw == pw && gph == ph, "sizes", name);
    p = c->ops->GetImageBuffer(c);
    CHECK(p != NULL && buf->size == (long)pw * ph * 4 && gpw == pw && gph == ph &&
              memcmp(p, buf->data, (size_t)buf->size) == 0,
          "pixel buffer", name);
    if (!p || buf->size != (long)pw * ph * 4) return;
    for (y = 0; y < h; ++y) {
        for (x = 0; x < w; ++x) {
            const unsigned char *e = buf->data + ((size_t)y * pw + x) * 4;
            if (c->ops->GetPixel(c, x, y) !=
                (((unsigned)e[0] << 16) | ((unsigned)e[1] << 8) | e[2])) {
                CHECK(0, "GetPixel", name);
                return;
            }
        }
    }
}

#define MAX_FIELDS 16

static int Split(char *line, char **fields) {
    int n = 0;
    char *p = line;
    char *end = line + strcspn(line, "\r\n");
    *end = '\0';
    while (n < MAX_FIELDS) {
        fields[n++] = p;
        p = strchr(p, '\t');
        if (!p) break;
        *p++ = '\0';
    }
    return n;
}

int main(int argc, char **argv) {
    char path[MAX_PATH * 2], out[MAX_PATH * 2], line[4096];
    char *names[MAX_FIELDS], *cells[MAX_FIELDS];
    int nNames = 0, cases = 0, i;
    HMODULE lib;
    Constructor create;
    Destructor destroy;
    Codec *c;
    FILE *index;

    if (argc != 3) {
        printf("usage: %s CONFORMANCE-FOLDER WORK-FOLDER\n", argv[0]);
        return 2;
    }
#if defined(__i386__) || defined(_M_IX86)
    /* Some hosts (graphics libraries among them) leave the x87 unit in
     * single precision; the library's results must not depend on that. */
    _controlfp(_PC_24, _MCW_PC);
#endif
    lib = LoadLibraryA("PLIX.DLL");
    if (!lib) {
        printf("FAIL: PLIX.DLL not loaded (error %lu)\n", (unsigned long)GetLastError());
        return 1;
    }
    create = (Constructor)(void (*)(void))GetProcAddress(lib, "PLIX_Constructor");
    destroy = (Destructor)(void (*)(void))GetProcAddress(lib, "PLIX_Destructor");
    if (!create || !destroy) {
        printf("FAIL: exports missing\n");
        return 1;
    }
    c = create();
    if (!c) {
        printf("FAIL: no codec\n");
        return 1;
    }
    CHECK(c->ops->GetVersion(c) == 8, "version", "codec");

    snprintf(path, sizeof path, "%s\\cases.tsv", argv[1]);
    index = fopen(path, "r");
    if (!index) {
        printf("FAIL: cannot read %s\n", path);
        return 1;
    }
    while (fgets(line, sizeof line, index)) {
        int n;
        const char *name = "", *kind = "", *plx = "", *ebmp = "", *ebuf = "", *inBmp = "";
        int mode = 0, q = 0, m = 0, w = 0, h = 0, pw = 0, ph = 0;
        Blob plxBytes, bufBytes, bmpBytes;
        if (line[0] == '#') {
            nNames = Split(line + 1, names);
            for (i = 0; i < nNames; ++i) names[i] = _strdup(names[i]);
            continue;
        }
        n = Split(line, cells);
        for (i = 0; i < n && i < nNames; ++i) {
            const char *k = names[i], *v = cells[i];
            if (!strcmp(k, "name"))
                name = v;
            else if (!strcmp(k, "kind"))
                kind = v;
            else if (!strcmp(k, "mode"))
                mode = atoi(v);
            else if (!strcmp(k, "qfactor"))
                q = atoi(v);
            else if (!strcmp(k, "matrix"))
                m = atoi(v);
            else if (!strcmp(k, "width"))
                w = atoi(v);
            else if (!strcmp(k, "height"))
                h = atoi(v);
            else if (!strcmp(k, "padded_width"))
                pw = atoi(v);
            else if (!strcmp(k, "padded_height"))
                ph = atoi(v);
            else if (!strcmp(k, "plx"))
                plx = v;
            else if (!strcmp(k, "expected_bmp"))
                ebmp = v;
            else if (!strcmp(k, "expected_buffer"))
                ebuf = v;
            else if (!strcmp(k, "input_bmp"))
                inBmp = v;
        }
        if (!*name) continue;
        ++cases;
        snprintf(path, sizeof path, "%s\\%s", argv[1], plx);
        plxBytes = ReadAll(path);
        snprintf(out, sizeof out, "%s\\%s", argv[1], ebuf);
        bufBytes = ReadAll(out);
        snprintf(out, sizeof out, "%s\\%s", argv[1], ebmp);
        bmpBytes = ReadAll(out);
        CHECK(plxBytes.size > 0 && bufBytes.size > 0 && bmpBytes.size > 0, "vector files", name);

        CHECK(c->ops->DecodeFile(c, path) == 1, "DecodeFile", name);
        CheckBuffer(c, name, w, h, pw, ph, &bufBytes);
        CHECK(c->ops->DecodeMemory(c, plxBytes.data, (int)plxBytes.size) == 1, "DecodeMemory",
              name);
        CheckBuffer(c, name, w, h, pw, ph, &bufBytes);
        snprintf(out, sizeof out, "%s\\out.bmp", argv[2]);
        CHECK(c->ops->DecodeToBitmapFile(c, path, out) == 1 && SameFile(out, &bmpBytes),
              "DecodeToBitmapFile", name);

        if (!strcmp(kind, "encode") && *inBmp) {
            snprintf(path, sizeof path, "%s\\%s", argv[1], inBmp);
            snprintf(out, sizeof out, "%s\\out.plx", argv[2]);
            CHECK(
                c->ops->EncodeBitmapFile(c, path, out, mode, q, m) == 1 && SameFile(out, &plxBytes),
                "EncodeBitmapFile", name);
            CHECK(c->ops->GetImageBuffer(c) == NULL, "no image after EncodeBitmapFile", name);
            snprintf(out, sizeof out, "%s\\set.plx", argv[2]);
            CHECK(LoadBmp(c, path) && c->ops->EncodeFile(c, out, mode, q, m) == 1 &&
                      SameFile(out, &plxBytes),
                  "SetPixel and EncodeFile", name);
        }
        free(plxBytes.data);
        free(bufBytes.data);
        free(bmpBytes.data);
    }
    fclose(index);
    destroy(c);
    destroy(NULL);
    FreeLibrary(lib);
    printf("%d-bit client: %d cases, %d checks, %d failures\n", (int)sizeof(void *) * 8, cases,
           checks, failures);
    return failures == 0 && cases > 0 ? 0 : 1;
}
