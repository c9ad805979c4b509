// Prints every open descriptor above the standard three, one a line: what a
// child started by the process runner has inherited.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

int main() {
    long limit = sysconf(_SC_OPEN_MAX);
    if (limit < 0 || limit > 4096) limit = 4096;
    for (int fd = 3; fd < limit; ++fd) {
        if (fcntl(fd, F_GETFD) != -1) std::printf("%d\n", fd);
    }
    return 0;
}
