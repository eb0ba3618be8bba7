/* Stands in for libcab32.so in the tests of clsCab32: appends every call it
 * receives to the file named by KESTLIN_CAB_RECORD and answers with the
 * results given in KESTLIN_CAB_CHECK and KESTLIN_CAB_RESULT (0 by default). */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

static int32_t Answer(const char *variable)
{
    const char *value = getenv(variable);
    return value ? (int32_t)strtol(value, NULL, 10) : 0;
}

static FILE *Record(void)
{
    const char *path = getenv("KESTLIN_CAB_RECORD");
    return path ? fopen(path, "ab") : NULL;
}

int32_t Cab(uint32_t hwnd, const char *cmdline, char *output, int32_t size)
{
    FILE *f = Record();
    if (f) {
        fprintf(f, "Cab %u %s %d\n%s\n", hwnd, output ? "buffer" : "null", size, cmdline);
        fclose(f);
    }
    return Answer("KESTLIN_CAB_RESULT");
}

int32_t CabCheckArchive(const char *path, int32_t mode)
{
    FILE *f = Record();
    if (f) {
        fprintf(f, "CabCheckArchive %d\n%s\n", mode, path);
        fclose(f);
    }
    return Answer("KESTLIN_CAB_CHECK");
}
