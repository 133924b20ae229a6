/* LD_PRELOAD shim for the benchmark's counterfactual rows, picked by
 * BENCH_NODELAY:
 *   always  TCP_NODELAY on every connected socket (Nagle off for every line)
 *   never   requests for TCP_NODELAY are dropped (Nagle kept for the final ".")
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>

static const char *mode(void) {
  const char *m = getenv("BENCH_NODELAY");
  return m ? m : "";
}

int connect(int fd, const struct sockaddr *addr, socklen_t len) {
  int (*real)(int, const struct sockaddr *, socklen_t) = dlsym(RTLD_NEXT, "connect");
  int result = real(fd, addr, len);
  if (result == 0 && strcmp(mode(), "always") == 0) {
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
  return result;
}

int setsockopt(int fd, int level, int name, const void *value, socklen_t len) {
  int (*real)(int, int, int, const void *, socklen_t) = dlsym(RTLD_NEXT, "setsockopt");
  if (level == IPPROTO_TCP && name == TCP_NODELAY && strcmp(mode(), "never") == 0) return 0;
  return real(fd, level, name, value, len);
}
