// Files and folders that steer what the service does as LocalSystem, checked for change
// rights that a user who is not an administrator holds: whoever may change them may run
// code as LocalSystem, or have the watchdog kill any process that holds a port.
#pragma once

#include <windows.h>

#include <set>
#include <string>
#include <vector>

// Change rights that a principal, which every signed-in or remote user is part of, holds
// on one object.
struct WeakGrant {
  std::wstring principal;  // its account name, or its SID where Windows names none
  DWORD rights = 0;        // the change rights among the granted ones
};

// The change rights that the descriptor's DACL grants to Everyone, Authenticated Users,
// Users, Interactive, Network, Anonymous, Guests or a domain's Domain Users, after the
// deny entries that come before them. A missing or null DACL grants Everyone everything.
std::vector<WeakGrant> FindWeakGrants(PSECURITY_DESCRIPTOR descriptor, bool folder);

// The rights as words, for the event: "write data, delete (0x00010002)".
std::wstring DescribeRights(DWORD rights, bool folder);

// One file or folder that such principals may change.
struct WeakObject {
  std::wstring path;
  std::wstring principals;  // "Everyone, BUILTIN\Users"
  std::wstring rights;      // as DescribeRights words them
};

// The service's own executable, the watched program's and server.conf, with the folders
// that hold them; empty paths stand for what is not known.
std::vector<std::wstring> SteeringObjects(const std::wstring& ownExecutable,
                                          const std::wstring& watchedExecutable,
                                          std::wstring configFolder);

// The weak ones among the objects; one that is missing or cannot be read is not.
std::vector<WeakObject> FindWeakObjects(const std::vector<std::wstring>& objects);

// This process's executable file.
std::wstring OwnExecutable();

// Checks the service's own executable, the watched program's and server.conf, with the
// folders that hold them, and writes one Warning event for each weak one that it has not
// told of before in this run.
class WeakPermissionAudit {
 public:
  void Run();

 private:
  std::set<std::wstring> told_;
};
