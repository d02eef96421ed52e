#pragma once
// What the service reads about other processes from /proc: the argv of an execve that is waiting
// for our permission, working folders, parents, and which processes hold a terminal open.
#include <string>
#include <sys/types.h>
#include <vector>

// The argv that a process blocked in execve/execveat passed to it, read from the caller's memory
// (the new image's argv is not visible in /proc yet). Arguments with blanks are put in double
// quotes. Empty when it cannot be read (not in execve, another architecture, no access).
// maxArgs: read no further than that many arguments (1: only the first word is wanted).
std::string PendingExecCommandLine(pid_t pid, const std::string& procDir = "/proc",
                                   std::size_t maxArgs = 256);
std::string JoinCommandLine(const std::vector<std::string>& argv);
// The process's current argv (from /proc/<pid>/cmdline).
std::vector<std::string> ProcessArgs(pid_t pid, const std::string& procDir = "/proc");
std::string ProcessCwd(pid_t pid, const std::string& procDir = "/proc");
std::string ProcessExe(pid_t pid, const std::string& procDir = "/proc");
pid_t ParentPid(pid_t pid, const std::string& procDir = "/proc");
// The process's real user from its credentials (/proc/<pid>/status, never the owner of a file: a
// process that is not dumpable, or has just switched users, has root's /proc files); -1 when it
// cannot be read.
uid_t ProcessUid(pid_t pid, const std::string& procDir = "/proc");
struct TProcessIds {
    pid_t Parent = 0;
    pid_t Process = 0;                  // the thread group: pid may name one of its threads
    uid_t Uid = static_cast<uid_t>(-1); // -1 when it cannot be read (gone, another pid namespace)
};
// Parent, thread group and real user of a process or thread, from one file.
TProcessIds ProcessParentAndUid(pid_t pid, const std::string& procDir = "/proc");
// The same for a task of this pid namespace, asked of the kernel through a pidfd where it answers
// (Linux 6.13 on: no /proc text to make and parse on every program start), else from /proc.
TProcessIds TaskIds(pid_t tid);
// True when the task is opening a program's ELF loader inside execve right now (its kernel stack
// runs through the ELF binary handler); false when it is not or that cannot be told.
bool IsOpeningElfLoader(pid_t pid, const std::string& procDir = "/proc");
// The process's start time in clock ticks since boot; 0 when unknown.
unsigned long long ProcessStartTime(pid_t pid, const std::string& procDir = "/proc");
// True when ancestor is pid itself or one of its ancestors (at most maxDepth steps up).
bool IsSelfOrDescendant(pid_t pid, pid_t ancestor, int maxDepth = 64, const std::string& procDir = "/proc");
// Every process with a descriptor open on the file at path (compared by device and inode).
std::vector<pid_t> ProcessesHolding(const std::string& path, const std::string& procDir = "/proc");
// The path of one of our own descriptors.
std::string DescriptorPath(int fd);
