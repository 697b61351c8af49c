// What stands where a file the plugin reads should be, in the words the checker tells it with.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "discovery/ServerFile.h"

namespace vesperline::check {

// Whom the checker reads the plugin's files for, as its reports name them: the server's user and
// where the server runs, when the checker reads the files as a server process sees them; nothing
// of the kind when it reads them as itself. It holds for the thread that reads them, for as long
// as a ReadingFor lives there.
struct FileReader {
  // The server's user, for a sentence ("steam (uid 1000)"), and as chown takes it on the server's
  // own system ("steam:", or "1000:1000" where that system names no such user); empty when the
  // checker reads as itself.
  std::string User;
  std::string Owner;
  std::uint32_t Uid = 0;
  std::uint32_t Gid = 0;
  // The folder this machine reaches the server's files through (/proc/<id>/root), when the server
  // sees another root folder or other mounts; the report's paths are then the server's own.
  std::string Root;
  // Root is the same folder as the checker's, with other mounts below it.
  bool OwnMounts = false;
  // Where the server runs, for a sentence: "the Docker container 3f2a1b9c8d7e", "its container or
  // chroot", "its own mounts"; empty with Root.
  std::string Where;
  // Each name is found in any case, as Wine finds the files of a Windows program.
  bool AnyCase = false;
};

// The reader for the calling thread: the checker itself unless a ReadingFor says otherwise.
const FileReader& Reader();

class ReadingFor {
 public:
  explicit ReadingFor(FileReader reader);
  ~ReadingFor();
  ReadingFor(const ReadingFor&) = delete;
  ReadingFor& operator=(const ReadingFor&) = delete;

 private:
  FileReader before_;
};

// The path of a file or folder as the reader finds it: for one that finds names in any case (a
// server under Wine), the path as Windows reads it, each ".." taking away the name before it,
// with every name that is not there as written found in any case (ASCII letters, the first by
// byte order among several), as Wine finds it; the path unchanged otherwise. A separator at its
// end stays.
std::string AsFound(const std::string& path);

// The files the plugin reads, from the plugin folder (ending with a separator), as the reader
// finds them (AsFound).
std::string ConfigFileFound(const std::string& pluginDir);
std::string SettingsFileFound(const std::string& pluginDir);
std::string ServerLogFound(const std::string& pluginDir);

// The names the system of the calling thread gives a user and a group id (its /etc/passwd and
// /etc/group, read as plain files); empty for an id they do not name.
std::string UserName(std::uint32_t uid);
std::string GroupName(std::uint32_t gid);

// Where the system refuses the calling thread's user a file: the first folder on the way that it
// may not enter (look up names in), or the file itself, which it may not read. Nothing when
// nothing on the way refuses it, or the system cannot tell.
struct Refusal {
  std::string Path;  // the folder or file, as the path reaches it
  bool Folder = false;
  std::uint32_t Owner = 0;
  std::uint32_t Group = 0;
  std::uint32_t Mode = 0;  // the permission bits, 0777 at most
};
std::optional<Refusal> RefusalOn(const std::string& path);

// The open failed because the system refused access; and the system's words for that.
bool AccessRefused(const FileRead& read);
std::string RefusedMessage();

// A link at the path whose target is not there, and how it misses.
enum class DeadEnd {
  Nowhere,      // nothing is where it leads
  FromTheRoot,  // an absolute target, which the server looks up from its own root folder
  AboveTheRoot  // its ".." climb above the server's root folder, where the server stops
};
struct DeadLink {
  std::string Target;  // as the link writes it
  DeadEnd End = DeadEnd::Nowhere;
};
// Nothing when the path is no link, or its target is there.
std::optional<DeadLink> DeadLinkAt(const std::string& path);

// Another program holds the file open and lets no one else read it (Windows' sharing rules).
bool HeldOpen(const FileRead& read);

// How a file the plugin reads was found, for a reader: "found, read as plain", "not found", "a
// directory, not a file", ...
std::string FileState(const FileRead& read);

// The target of a link, as the link itself writes it.
struct Link {
  std::string Target;
  // The link leads, in one or more steps, to a name that stands for the output (or input) of
  // whichever program opens it, as container images link the server's log to their own output.
  // The checker opening it gets its own output, which says nothing of what the server gets.
  bool ToOwnStream = false;
};

// The link at path, followed a few steps to see where it leads; nothing when path is no link.
std::optional<Link> LinkAt(const std::string& path);

// The path is a link that leads, in one or more steps, to the output (or input) of whichever
// program opens it, as container images link the server's log to their own output.
bool IsOwnStreamLink(const std::string& path);

}  // namespace vesperline::check
