/* The work of one BATCH period at its barest, shared by the bench's two bare servers so that
 * only their event loops differ. */

#ifndef FLUXMERE_BARE_PERIOD_H
#define FLUXMERE_BARE_PERIOD_H

#include <stddef.h>
#include <time.h>

#ifdef __cplusplus
extern "C" {
#endif

enum { BARE_PATH_BYTES = 4096, BARE_NAME_BYTES = 128, BARE_MESSAGE_BYTES = 4096 };

struct bare_run {
    long max_trial;
    double goal;
    double amount;
    double total_bonus;
    long t;
    int logged_in;
    time_t period_start;
    char data_path[BARE_PATH_BYTES];
    char subject[BARE_NAME_BYTES];
    char version[BARE_NAME_BYTES];
    char message[BARE_MESSAGE_BYTES + 1];
    size_t message_length;
};

/* Hands a reply to the connection; `sink` is the server's own. */
typedef void (*bare_send)(void *sink, const char *bytes, size_t length);

/* Reads --port and --data-dir (any other option is skipped with its value) and the data
 * folder's Setup.txt. Returns the port asked for: 0 lets the system choose. */
int bare_prepare(struct bare_run *run, int argc, char **argv);

/* Splits received bytes into messages and answers each. Returns 1 once the model said QUIT. */
int bare_receive(struct bare_run *run, const char *bytes, size_t length, bare_send send,
                 void *sink);

#ifdef __cplusplus
}
#endif

#endif
