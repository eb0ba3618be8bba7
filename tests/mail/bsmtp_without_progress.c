/* A libbsmtp.so from before the progress reports: it sends nothing, answers
   every call with success and lacks SendMailWithProgress. */
#include <stdlib.h>
#include <string.h>

char *SendMail(const char *server, const char *to, const char *from, const char *subject,
               const char *body, const char *files)
{
    (void)server, (void)to, (void)from, (void)subject, (void)body, (void)files;
    return calloc(1, 1);
}

int RcvMail(const char *server, const char *user, const char *password, const char *command,
            const char *folder, char **result)
{
    (void)server, (void)user, (void)password, (void)command, (void)folder;
    if (result)
        *result = calloc(1, 1);
    return 1;
}

void BsmtpFree(char *text)
{
    free(text);
}
