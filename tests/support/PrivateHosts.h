#pragma once
// Host names that exist only for a test: this process (and every program it
// starts afterwards) moves into a mount namespace of its own, where
// /etc/hosts is the machine's file with the test's lines added. The names
// are resolved by the system's own resolver, exactly as in use; nothing
// outside the process sees them. Needs the right to make mount namespaces
// (root, as CI runs the tests); without it the tests that rely on the names
// skip with the reason.
#include <string>

namespace testsupport {

// Lines in /etc/hosts form ("::1 v6only.meshdrop.test"). Call before the
// process starts any thread (a static initialiser of the test program):
// threads started earlier keep the machine's file. Answers whether the names
// are in place; the reason goes to *why otherwise.
bool enterPrivateHosts(const std::string& lines, std::string* why);

// A shell command that runs `command` in a mount namespace of its own whose
// /etc/hosts is `hostsFile` (for a server that must resolve names this
// process cannot), as "unshare -m sh -c ..." does.
std::string commandWithHosts(const std::string& hostsFile, const std::string& command);

} // namespace testsupport
