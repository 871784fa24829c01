// The run's log file.
#pragma once

#include <string>

#include "engine/setup_window.h"
#include "framework/handles.h"

namespace qv {

// The run's log as a text file, written line by line as the run goes.
class FileLog : public RunLog {
 public:
  // A new log, or one written on (appending) by a run started again.
  // It is never written through a link nor into a file another account
  // could change, nor stopped by one held open: the log then goes to a new
  // name beside it, said in the log and on standard error.
  explicit FileLog(const std::string& path, bool append = false);
  bool Opened() const { return static_cast<bool>(file_); }
  void Line(const std::string& text) override;

 private:
  void Write(const std::string& bytes);

  UniqueFile file_;
};

}  // namespace qv
