/*
 * tarvik-stubprefix VERSION INPUT OUTPUT [ABOVE BELOW]
 *
 * Writes the stub file: VERSION as u32 little-endian, then the bytes of the
 * stub program INPUT. Fails (and writes nothing) when the result would not
 * be strictly between ABOVE and BELOW bytes, the bounds within which the
 * component accepts a stub.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
    unsigned long version, above = 0, below = 0;
    unsigned char prefix[4];
    unsigned char* data;
    long size;
    size_t total;
    FILE* in;
    FILE* out;
    if (argc != 4 && argc != 6) {
        fprintf(stderr, "usage: tarvik-stubprefix VERSION INPUT OUTPUT [ABOVE BELOW]\n");
        return 2;
    }
    version = strtoul(argv[1], NULL, 10);
    if (argc == 6) {
        above = strtoul(argv[4], NULL, 10);
        below = strtoul(argv[5], NULL, 10);
    }
    in = fopen(argv[2], "rb");
    if (in == NULL || fseek(in, 0, SEEK_END) != 0 || (size = ftell(in)) < 0 ||
        fseek(in, 0, SEEK_SET) != 0) {
        fprintf(stderr, "%s: cannot read\n", argv[2]);
        return 1;
    }
    data = (unsigned char*)malloc((size_t)size + 1);
    if (data == NULL || fread(data, 1, (size_t)size, in) != (size_t)size) {
        fprintf(stderr, "%s: cannot read\n", argv[2]);
        return 1;
    }
    fclose(in);
    total = (size_t)size + sizeof prefix;
    if (argc == 6 && (total <= above || total >= below)) {
        fprintf(stderr,
                "%s: %lu bytes with the version prefix; a stub must have more than %lu and less "
                "than %lu\n",
                argv[3], (unsigned long)total, above, below);
        return 1;
    }
    prefix[0] = (unsigned char)(version & 0xFFu);
    prefix[1] = (unsigned char)((version >> 8) & 0xFFu);
    prefix[2] = (unsigned char)((version >> 16) & 0xFFu);
    prefix[3] = (unsigned char)((version >> 24) & 0xFFu);
    out = fopen(argv[3], "wb");
    if (out == NULL || fwrite(prefix, 1, sizeof prefix, out) != sizeof prefix ||
        fwrite(data, 1, (size_t)size, out) != (size_t)size || fclose(out) != 0) {
        fprintf(stderr, "%s: cannot write\n", argv[3]);
        remove(argv[3]);
        return 1;
    }
    free(data);
    printf("%s: %lu bytes, version %lu\n", argv[3], (unsigned long)total, version);
    return 0;
}
