/* Frame a message, update the amount, append one line to Data.txt and answer: no more. The
 * bench sets the program's pause-free pace against this, so any work added here would hide
 * the program's own overhead. */

#define _POSIX_C_SOURCE 200809L

#include "bare_period.h"

#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

enum { LINE_BYTES = 1024 };

static void fail(const char *what) {
    fprintf(stderr, "fluxmere bare server: %s: %s\n", what, strerror(errno));
    exit(1);
}

/* ---- set-up ------------------------------------------------------------------------- */

static char *trim(char *text) {
    while (*text == ' ' || *text == '\t')
        ++text;
    char *end = text + strlen(text);
    while (end > text && (unsigned char)end[-1] <= ' ')
        *--end = '\0';
    return text;
}

static void apply_setting(struct bare_run *run, const char *key, const char *value) {
    if (strcasecmp(key, "MaxTrial") == 0)
        run->max_trial = atol(value);
    else if (strcasecmp(key, "InitialAmountInTank") == 0)
        run->amount = atof(value);
    else if (strcasecmp(key, "GoalLinePoisition") == 0)
        run->goal = atof(value);
}

/* "Key = Value" lines; a line that starts with an apostrophe is a comment. */
static void read_setup(struct bare_run *run, const char *data_dir) {
    char path[BARE_PATH_BYTES];
    snprintf(path, sizeof path, "%s/Setup.txt", data_dir);
    FILE *file = fopen(path, "r");
    if (file == NULL)
        fail(path);
    char line[LINE_BYTES];
    while (fgets(line, sizeof line, file) != NULL) {
        char *text = trim(line);
        char *equals = strchr(text, '=');
        if (*text == '\'' || equals == NULL)
            continue;
        *equals = '\0';
        apply_setting(run, trim(text), trim(equals + 1));
    }
    fclose(file);
}

int bare_prepare(struct bare_run *run, int argc, char **argv) {
    int port = 0;
    const char *data_dir = ".";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--port") == 0)
            port = atoi(argv[i + 1]);
        else if (strcmp(argv[i], "--data-dir") == 0)
            data_dir = argv[i + 1];
    }
    memset(run, 0, sizeof *run);
    read_setup(run, data_dir);
    run->total_bonus = 5.0; /* the base payment the program starts every run with */
    snprintf(run->data_path, sizeof run->data_path, "%s/Data.txt", data_dir);
    return port;
}

/* ---- figures ------------------------------------------------------------------------ */

/* At least two digits before the point; a minus only when the rounded figure is not 0. */
static char *append_fixed(char *out, const char *end, double value, int decimals) {
    char digits[64];
    snprintf(digits, sizeof digits, "%0*.*f", decimals + 3, decimals, fabs(value));
    const int negative = value < 0 && strspn(digits, "0.") != strlen(digits);
    return out + snprintf(out, (size_t)(end - out), "%s%s", negative ? "-" : "", digits);
}

static char *append_text(char *out, const char *end, const char *text) {
    return out + snprintf(out, (size_t)(end - out), "%s", text);
}

static double round3(double value) {
    return floor(value * 1000 + 0.5) / 1000;
}

/* "3:04:05 PM" */
static void clock_text(char *out, size_t size, const struct tm *local) {
    const int hour = local->tm_hour % 12 == 0 ? 12 : local->tm_hour % 12;
    snprintf(out, size, "%d:%02d:%02d %s", hour, local->tm_min, local->tm_sec,
             local->tm_hour < 12 ? "AM" : "PM");
}

/* ---- Data.txt ----------------------------------------------------------------------- */

static const char header[] =
    "Subject\tVersion\tTrial\tDate\tStartTime\tEndTime\tCurrentBonus\tTotalBonus\t"
    "UserInflow\tUserOutflow\tEnvInflow\tEnvOutflow\tAmount\tBackOrder\tTotalBackOrder\t"
    "ForwardDischarge\tTotalForwardDischarge\tGoalAmount\tDelayUI\tDelayUO\t"
    "GoalUpperBound\tGoalLowerBound\r\n";

static void write_header_if_new(const char *path) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0 && errno == EEXIST)
        return;
    if (fd < 0 || write(fd, header, sizeof header - 1) != (ssize_t)(sizeof header - 1))
        fail(path);
    close(fd);
}

/* Open, one write, close, as the program appends: no reader ever sees half a line. */
static void append_line(const char *path, const char *line, size_t length) {
    const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT, 0666);
    if (fd < 0 || write(fd, line, length) != (ssize_t)length || close(fd) != 0)
        fail(path);
}

/* Decisions act in their own period here, so back orders and discharges stay 0 and both
 * delays 1. */
static void record_period(const struct bare_run *run, double bonus, double ui, double uo) {
    const time_t now = time(NULL);
    struct tm started, ended;
    localtime_r(&run->period_start, &started);
    localtime_r(&now, &ended);
    char start[32], end[32], line[LINE_BYTES];
    clock_text(start, sizeof start, &started);
    clock_text(end, sizeof end, &ended);
    const int length = snprintf(
        line, sizeof line,
        "%s\t%s\t%ld\t%d/%d/%d\t%s\t%s\t%.15g\t%.15g\t%.15g\t%.15g\t0\t0\t%.15g\t0\t0\t0\t0"
        "\t%.15g\t1\t1\t0.1\t0.1\r\n",
        run->subject, run->version, run->t, ended.tm_mon + 1, ended.tm_mday,
        ended.tm_year + 1900, start, end, bonus, run->total_bonus, ui, uo, run->amount,
        run->goal);
    append_line(run->data_path, line, (size_t)length);
}

/* ---- messages ----------------------------------------------------------------------- */

static void send_state(const struct bare_run *run, const char *flows, bare_send send,
                       void *sink) {
    char reply[256];
    const char *end = reply + sizeof reply;
    char *out = reply + snprintf(reply, sizeof reply, "STATE TIME %ld GOAL ", run->t);
    out = append_fixed(out, end, run->goal, 2);
    out = append_text(out, end, " AMOUNT ");
    out = append_fixed(out, end, run->amount, 2);
    out = append_text(out, end, flows);
    out = append_text(out, end, "\r\n");
    send(sink, reply, (size_t)(out - reply));
}

static void copy_word(char *out, size_t size, const char *word) {
    snprintf(out, size, "%s", word != NULL ? word : "");
}

/* "ENTRY-ID name VERSION mode": the name and the mode go into every line of Data.txt. */
static void log_in(struct bare_run *run, char *message, bare_send send, void *sink) {
    char *rest = NULL;
    strtok_r(message, " ", &rest);
    copy_word(run->subject, sizeof run->subject, strtok_r(NULL, " ", &rest));
    strtok_r(NULL, " ", &rest);
    copy_word(run->version, sizeof run->version, strtok_r(NULL, " ", &rest));
    run->logged_in = 1;
    write_header_if_new(run->data_path);
    run->period_start = time(NULL);
    send_state(run, " EI -1 EO -1 UI -1 UO -1", send, sink);
}

/* The UI and UO of "DECISION UI a UO b ..."; pairs come in any order, EI and EO are not
 * played here. */
static void read_flows(char *message, double *ui, double *uo) {
    char *rest = NULL;
    strtok_r(message, " ", &rest);
    for (char *key; (key = strtok_r(NULL, " ", &rest)) != NULL;) {
        const char *value = strtok_r(NULL, " ", &rest);
        if (value == NULL)
            break;
        if (strcmp(key, "UI") == 0)
            *ui = atof(value);
        else if (strcmp(key, "UO") == 0)
            *uo = atof(value);
    }
}

static double bonus_for(const struct bare_run *run) {
    const double amount = round3(run->amount);
    const int in_band = round3(run->goal - 0.1) <= amount && amount <= round3(run->goal + 0.1);
    return in_band ? 0.05 : 0.0;
}

static void play_period(struct bare_run *run, char *message, bare_send send, void *sink) {
    if (run->t >= run->max_trial) {
        send(sink, "END_PROGRAM\r\n", 13);
        return;
    }
    double ui = 0.0, uo = 0.0;
    read_flows(message, &ui, &uo);
    run->t += 1;
    run->amount += ui - uo;
    const double bonus = bonus_for(run);
    run->total_bonus += bonus;
    record_period(run, bonus, ui, uo);
    char flows[128];
    const char *end = flows + sizeof flows;
    char *out = append_text(flows, end, " EI 00.000 EO 00.000 UI ");
    out = append_fixed(out, end, ui, 3);
    out = append_text(out, end, " UO ");
    append_fixed(out, end, uo, 3);
    send_state(run, flows, send, sink);
    run->period_start = time(NULL);
}

/* Returns 1 when the model said QUIT. */
static int handle(struct bare_run *run, char *message, bare_send send, void *sink) {
    if (strcmp(message, "QUIT") == 0)
        return 1;
    if (!run->logged_in)
        log_in(run, message, send, sink);
    else if (strncmp(message, "DECISION", 8) == 0)
        play_period(run, message, send, sink);
    return 0;
}

/* A message ends at any byte up to 13; a run of them carries no message. */
int bare_receive(struct bare_run *run, const char *bytes, size_t length, bare_send send,
                 void *sink) {
    for (size_t i = 0; i < length; ++i) {
        if ((unsigned char)bytes[i] > 13) {
            if (run->message_length == BARE_MESSAGE_BYTES) {
                fprintf(stderr, "fluxmere bare server: a message without a line end\n");
                exit(1);
            }
            run->message[run->message_length++] = bytes[i];
            continue;
        }
        if (run->message_length == 0)
            continue;
        run->message[run->message_length] = '\0';
        run->message_length = 0;
        if (handle(run, run->message, send, sink))
            return 1;
    }
    return 0;
}
