// Linked into the suites that check links: with PARVO_TEST_WITHOUT_OPENAT2 set, the process (and
// every process it starts) sees openat2 as missing, as on kernels before 5.6, so the checks that
// stand in for it are run too.
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <stdexcept>

namespace {

void refuseOpenat2() {
  sock_filter program[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat2, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  const sock_fprog filter{static_cast<unsigned short>(sizeof program / sizeof program[0]), program};
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) != 0) {
    throw std::runtime_error("cannot filter openat2");
  }
}

const bool filtered = [] {
  if (std::getenv("PARVO_TEST_WITHOUT_OPENAT2") != nullptr) refuseOpenat2();
  return true;
}();

}  // namespace
