/* A libbsmtp.so from before BsmtpSubmit: the Windows entry points only, each
   answering with success without sending anything. */
#include <stdlib.h>

char *SendMail(const char *server, const char *to, const char *from, const char *subject,
               const char *body, const char *files)
{
    (void)server, (void)to, (void)from, (void)subject, (void)body, (void)files;
    return calloc(1, 1);
}

void BsmtpFree(char *text)
{
    free(text);
}
