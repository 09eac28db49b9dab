// The moments of an operation where a person is involved. The window implements them with
// message boxes and the status bar, the terminal tool on stderr/stdin, tests with a script.
#pragma once

#include <optional>
#include <string>
#include <vector>

enum class StatusColour { Running, Success, Failure };
enum class MessageIcon { Information, Warning, Error, Question };

struct FileRequest {
  std::string title;
  std::string filter;        // e.g. "Config File (*.cfg)|*.cfg"
  std::string defaultExt;    // without the dot
  std::string folder;        // proposed folder, ends with '/'
  std::string fileName;      // proposed name
};

class Operator {
 public:
  virtual ~Operator() = default;
  virtual void showStatus(StatusColour colour, const std::string& text) = 0;
  // text uses '\r' as a line break, as the message table does.
  virtual void message(MessageIcon icon, const std::string& caption, const std::string& text) = 0;
  // A message with a longer explanation that the window keeps behind its "Details" button;
  // elsewhere the message alone is shown.
  virtual void detailedMessage(MessageIcon icon, const std::string& caption, const std::string& text,
                               const std::string& /*details*/) {
    message(icon, caption, text);
  }
  virtual bool ask(const std::string& caption, const std::string& text) = 0;  // Yes / No
  virtual std::optional<std::string> chooseOpenFile(const FileRequest& request) = 0;
  virtual std::optional<std::string> chooseSaveFile(const FileRequest& request) = 0;
  virtual void memoLine(const std::string& line) = 0;
  virtual void pump() = 0;  // let the window repaint and take clicks
  // The operation's service record could be kept neither in the store nor in its outbox.
  virtual void recordNotKept(const std::string& store, const std::string& why) {
    message(MessageIcon::Warning, "Service Records",
            "The service record of this operation was not kept\r" + store + "\r" + why +
                "\rThe operation itself is not affected.");
  }
};
