#pragma once
// File steps that never lose data, shared by the quarantine and the autostart-entry backups: a
// copy is written under a name no other file has (O_EXCL), flushed, compared byte for byte with
// its source and only then counted; a failed copy leaves nothing behind. Every step works on
// descriptors of the folders and files that were checked.
#include "platform/IQuarantineFiles.h"
#include "platform/linux/uFd.h"

#include <string>
#include <sys/stat.h>
#include <vector>

namespace qm::linuxfs {

using qm::TFd;

// The folder part and the name part of a path ("/" for a file in the root).
std::string DirPart(const std::string& path);
std::string NamePart(const std::string& path);

// Creates the folder (and its parents, 0755) with the given mode; true when a folder is there.
bool MakeDirectories(const std::string& path, mode_t mode);
// Opens a folder for the *at calls; invalid on failure (errno kept).
TFd OpenDir(const std::string& path);

TFileFacts FactsOf(const struct stat& st);
// The text of errno for messages.
std::string ErrorText(int error);
// The names in a folder but "." and "..", sorted; none when it cannot be listed.
std::vector<std::string> SortedNames(const std::string& dir);

// Copies the open file src into dirFd/name, which must not exist: the copy gets mode and the
// source's modification time, is flushed and verified. On failure nothing is left at name and
// error says why; eexist tells that the name was taken.
bool CopyInto(int srcFd, int dirFd, const std::string& name, mode_t mode, std::string& error,
              bool* eexist = nullptr);

// Gives fd the owner, mode and modification time of facts (owner only when it differs; a refused
// owner change is reported in error but the rest is still done). False when any step failed.
bool ApplyFacts(int fd, const TFileFacts& facts, std::string& error);

} // namespace qm::linuxfs
