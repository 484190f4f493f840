// A second user for the tests: a child process that becomes nobody.
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "support/other_user.h"

namespace testing_support {

bool canActAsOtherUser() { return geteuid() == 0; }

int asOtherUser(const std::function<int()>& action) {
  const pid_t child = fork();
  if (child == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(kOtherGroup) != 0 || setuid(kOtherUser) != 0) {
      _exit(255);
    }
    _exit(action() & 0xFF);
  }
  int status = 0;
  pid_t waited;
  while ((waited = waitpid(child, &status, 0)) < 0 && errno == EINTR) {
  }
  if (child < 0 || waited != child || !WIFEXITED(status) || WEXITSTATUS(status) == 255) return -1;
  return WEXITSTATUS(status);
}

}  // namespace testing_support
