// The floor under a synchronous bridge call: a one-byte request and a
// one-byte reply over a Unix stream socket between two processes, both
// blocking in read(). Prints "socket_floor_us <mean>" in microseconds.
// Usage: socket_floor [round trips]
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  long n = argc > 1 ? std::atol(argv[1]) : 20000;
  int sv[2];
  if (n <= 0 || socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return 2;
  pid_t child = fork();
  if (child < 0) return 2;
  if (child == 0) {
    close(sv[0]);
    char c;
    while (read(sv[1], &c, 1) == 1)
      if (write(sv[1], &c, 1) != 1) break;
    _exit(0);
  }
  close(sv[1]);
  char c = 'x';
  for (int i = 0; i < 1000; ++i)  // warm up both sides
    if (write(sv[0], &c, 1) != 1 || read(sv[0], &c, 1) != 1) return 1;
  auto t0 = std::chrono::steady_clock::now();
  for (long i = 0; i < n; ++i)
    if (write(sv[0], &c, 1) != 1 || read(sv[0], &c, 1) != 1) return 1;
  auto t1 = std::chrono::steady_clock::now();
  close(sv[0]);
  waitpid(child, nullptr, 0);
  std::printf("socket_floor_us %.2f\n",
              std::chrono::duration<double, std::micro>(t1 - t0).count() / static_cast<double>(n));
  return 0;
}
