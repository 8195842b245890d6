// Port: facts about the system the program runs on (GetWindowsDirectoryA, GetModuleFileNameA).
#pragma once

#include <string>
#include <string_view>

namespace quillet {

class System {
 public:
  virtual ~System() = default;
  static System& Default();

  // The Windows directory as the system reports it, without a trailing separator.
  virtual std::string WindowsDirectory() = 0;
  // The full path of the running program file.
  virtual std::string ModuleFileName() = 0;
  // The separator between directories and file names in paths ("\" on Windows).
  virtual char PathSeparator() = 0;
  // Where the run log of PGP commands lives.
  virtual std::string RunLogPath() = 0;
  // Appends `bytes` to the file at `path`, made when missing, asking for nothing but the right to
  // append: a log whose access list lets users append to it, but neither read nor rewrite it,
  // still takes their entries. Raises Error when it cannot.
  virtual void AppendToLog(const std::string& path, std::string_view bytes) = 0;
  // The text with each %NAME% replaced by the value of the environment variable NAME, as
  // ExpandEnvironmentStrings does; a name without a value stays as it is. APPDATA, the folder of
  // the user's own application data, always has one.
  virtual std::string ExpandEnvironment(const std::string& text) = 0;
  // The root directory of the system drive, with its separator ("c:\" on Windows).
  virtual std::string DriveRoot() = 0;
  // UTF-8 text as this system's narrow strings hold it: the text itself on Linux; on Windows the
  // ANSI code page, where a character it lacks becomes "?", never a letter that looks like it.
  struct NarrowText {
    std::string text;
    bool lost = false;  // a character became "?"
  };
  virtual NarrowText FromUtf8(const std::string& text) = 0;
  // Makes a new, empty file at `path` that the user alone may read and write, whatever the folder
  // lets others do: mode 0600, or on Windows an access list that admits the user's account alone
  // and inherits nothing. Raises Error when something is at `path` already or the file cannot be
  // made so.
  virtual void CreatePrivateFile(const std::string& path) = 0;
};

}  // namespace quillet
