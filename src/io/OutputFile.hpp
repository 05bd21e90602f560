// Output files that are replaced whole or not at all.
//
// The new text goes to a fresh, uniquely named temporary file beside the
// target (".helmert-" and six random characters, created exclusively, so
// that it never follows a link planted at its name), with the target's
// permission bits, and is flushed and synced
// before it is renamed over the target. A failure at any step removes the
// temporary file and leaves the target as it was; a run that fails never
// leaves a new file behind. Two runs writing one path each rename a whole
// document into place: the later one wins.
//
// A target that is a symbolic link is followed: the file it resolves to is
// replaced and the link stays. A target that exists and is not a regular
// file as the kernel resolves the path (a FIFO, a pipe, a character device
// such as /dev/null or a terminal; /dev/stdout when it is one of these) is
// written directly, as a shell redirection would, with no temporary file
// and no rename; a FIFO that nobody reads within a second is refused. A
// target that is the file the process's own standard output or error
// writes to (tool /dev/stdout > log.txt) is appended to when committed,
// after the console, never renamed over.
//
// SIGINT, SIGTERM and SIGHUP remove the run's temporary files before the
// run ends (RemoveTemporariesOnSignals). Only SIGKILL (or a power cut) can
// leave one behind: a file named .helmert-XXXXXX beside the target.
#pragma once

#include <signal.h>

#include <string>
#include <vector>

namespace helmert {

// The start of every temporary file's name.
inline constexpr char kTemporaryPrefix[] = ".helmert-";

// Installs handlers that remove the temporaries of live OutputFiles on
// SIGINT, SIGTERM and SIGHUP and then end the process by the signal, as
// it would have ended.
void RemoveTemporariesOnSignals();

class OutputFile {
 public:
  // Prepares the output: creates the temporary file beside the target, or
  // opens a target that is not a regular file (a FIFO waits for its reader
  // here). Call it before the work, so that an unwritable destination ends
  // the run before anything else is done. Throws Error "Error writing file:
  // <path>: <reason>".
  explicit OutputFile(const std::string& path);
  // Removes the temporary file unless it was renamed into place.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Writes the whole text, then syncs and closes the file. Once only.
  // Throws Error as above.
  void Write(const std::string& text);
  // The same in pieces, for an output written as it is made: Append each
  // piece, then Finish once (sync and close). Throws Error as above.
  void Append(const std::string& text);
  void Finish();

  // Throws Error as above when Commit would fail for want of permission:
  // a file of another user in a sticky directory. Call it for every output
  // before committing any, so that all are replaced or none.
  void CheckReplaceable() const;

  // Renames the written temporary file over the target (nothing to do for
  // a target written directly). Throws Error as above.
  void Commit();

  const std::string& path() const { return path_; }

 private:
  void Fail(const std::string& reason) const;
  void WriteAll(const std::string& text);
  std::string path_;       // as given, for messages
  std::string target_;     // the file replaced: path_ with links followed
  std::string temporary_;  // empty when the target is written directly
  int descriptor_ = -1;
  bool written_ = false;
  bool committed_ = false;
  int slot_ = -1;  // in the signal handler's table
  // The target is the file the process's standard output or error writes
  // to: the text waits in `pending_` and is appended when committed.
  bool after_console_ = false;
  std::string pending_;
};

// SIGINT, SIGTERM and SIGHUP held (blocked) for the object's life: a signal
// that arrives meanwhile is delivered when it ends.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

// Replaces every written output's target, all or none: each checked
// replaceable first, then the renames with the signals held from the first
// to the last, so that a signal lands before or after the whole commit.
void CommitAll(const std::vector<OutputFile*>& outputs);

// For tests: a function called by CommitAll before its first rename (with
// -1, the signals not yet held) and after each rename (with its index): a
// place to raise a signal at every point of the commit.
void SetCommitHookForTests(void (*hook)(int));

// Whether two paths name the same existing file (same device and inode, so
// symbolic links, hard links and other spellings count).
bool SameExistingFile(const std::string& a, const std::string& b);

// Whether two paths name the same file, also when one does not exist yet
// (the same path once links, also dangling ones, and dots are resolved).
bool SameFileOrName(const std::string& a, const std::string& b);

}  // namespace helmert
