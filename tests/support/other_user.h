// A second user for the tests of shared directories, where another user plants links and
// files: the user nobody, which a test running as root becomes in a child process.
#pragma once

#include <functional>

namespace testing_support {

// The user and group nobody (Debian's numbers).
const unsigned kOtherUser = 65534;
const unsigned kOtherGroup = 65534;

// True when this process may act as another user: it runs as root.
bool canActAsOtherUser();

// Runs `action` in a child process as the user nobody and gives what it returns (0 to 254),
// or -1 when the child could not become nobody or did not end normally.
int asOtherUser(const std::function<int()>& action);

}  // namespace testing_support
