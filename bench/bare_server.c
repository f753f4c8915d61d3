/* The bench's floor: one model served on plain POSIX sockets, a blocking read a turn, and
 * the bare period work. Usage: fluxmere-bare-c --port N --data-dir DIR [--option value]... */

#define _POSIX_C_SOURCE 200809L

#include "bare_period.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

static void fail(const char *what) {
    fprintf(stderr, "fluxmere-bare-c: %s: %s\n", what, strerror(errno));
    exit(1);
}

static int listen_on(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons((unsigned short)port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(fd, (struct sockaddr *)&address, sizeof address) != 0 || listen(fd, 1) != 0)
        fail("listen");
    return fd;
}

static int bound_port(int fd) {
    struct sockaddr_in address;
    socklen_t length = sizeof address;
    if (getsockname(fd, (struct sockaddr *)&address, &length) != 0)
        fail("getsockname");
    return ntohs(address.sin_port);
}

/* One model, served alone: the listening socket closes once it is in. Replies go out at
 * once, as the program's do. */
static int accept_model(int port) {
    const int server = listen_on(port);
    printf("Waiting for a model on port %d.\n", bound_port(server));
    fflush(stdout);
    const int model = accept(server, NULL, NULL);
    if (model < 0)
        fail("accept");
    close(server);
    const int on = 1;
    if (setsockopt(model, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0)
        fail("TCP_NODELAY");
    return model;
}

static void send_all(void *sink, const char *bytes, size_t length) {
    const int fd = *(const int *)sink;
    while (length > 0) {
        const ssize_t sent = write(fd, bytes, length);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0)
            fail("send");
        bytes += sent;
        length -= (size_t)sent;
    }
}

/* Until QUIT or the model's close. */
static void serve(struct bare_run *run, int model) {
    char bytes[65536];
    for (;;) {
        const ssize_t received = read(model, bytes, sizeof bytes);
        if (received < 0 && errno == EINTR)
            continue;
        if (received < 0)
            fail("receive");
        if (received == 0 || bare_receive(run, bytes, (size_t)received, send_all, &model))
            return;
    }
}

int main(int argc, char **argv) {
    static struct bare_run run;
    const int model = accept_model(bare_prepare(&run, argc, argv));
    serve(&run, model);
    close(model);
    return 0;
}
