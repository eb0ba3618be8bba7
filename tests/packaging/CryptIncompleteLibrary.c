/* A libcapicom.so that lacks most entry points, for the missing-entry-point failure. */
#include <stdlib.h>

void *capicom_ed_create(void)
{
    return calloc(1, 1);
}

void capicom_ed_destroy(void *object)
{
    free(object);
}
