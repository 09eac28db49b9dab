// An Operator for tests: records every status, message, question, file dialog and memo line
// in order, and answers questions and file dialogs from a script, so no test ever waits for a
// person. A question or dialog that the script does not answer is a test failure (and gets No
// or Cancel), so a test notices an unexpected prompt.
#pragma once

#include "app/core/Operator.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class ScriptedOperator : public Operator {
 public:
  enum class Kind { Status, Message, Question, OpenFile, SaveFile, Memo };

  struct Event {
    explicit Event(Kind k = Kind::Status) : kind(k) {}
    Kind kind;
    StatusColour colour = StatusColour::Running;  // Status
    MessageIcon icon = MessageIcon::Information;  // Message (Question for questions)
    std::string caption;                          // Message, Question; the dialog title for files
    std::string text;                             // status text, message text, memo line
    std::string details;                          // Message: what the window keeps behind Details
    FileRequest request;                          // OpenFile, SaveFile
    bool answer = false;                          // Question: Yes; files: a file was given
    std::string file;                             // files: the answer
  };

  // Script: answers used in order.
  ScriptedOperator& answer(bool yes);
  ScriptedOperator& openFile(std::optional<std::string> path);  // nullopt: Cancel
  ScriptedOperator& saveFile(std::optional<std::string> path);
  // Every question gets this answer once the scripted ones are used up, without a failure.
  ScriptedOperator& answerAll(bool yes);
  // Called from pump(): a test may press a button of the window here.
  std::function<void()> onPump;

  void showStatus(StatusColour colour, const std::string& text) override;
  void message(MessageIcon icon, const std::string& caption, const std::string& text) override;
  void detailedMessage(MessageIcon icon, const std::string& caption, const std::string& text,
                       const std::string& details) override;
  bool ask(const std::string& caption, const std::string& text) override;
  std::optional<std::string> chooseOpenFile(const FileRequest& request) override;
  std::optional<std::string> chooseSaveFile(const FileRequest& request) override;
  void memoLine(const std::string& line) override;
  void pump() override;

  const std::vector<Event>& events() const { return FEvents; }
  std::vector<Event> eventsOf(Kind kind) const;
  std::vector<Event> statuses() const { return eventsOf(Kind::Status); }
  std::vector<Event> messages() const { return eventsOf(Kind::Message); }
  std::vector<Event> questions() const { return eventsOf(Kind::Question); }
  std::vector<std::string> memo() const;
  // The last status; a Running status with empty text when there was none.
  Event lastStatus() const;
  int pumps() const { return FPumps; }
  // Answers scripted but not used: a test may expect none left.
  size_t unusedAnswers() const { return FAnswers.size() + FOpenFiles.size() + FSaveFiles.size(); }
  void clear();

 private:
  std::vector<Event> FEvents;
  std::deque<bool> FAnswers;
  std::optional<bool> FAnswerAll;
  std::deque<std::optional<std::string>> FOpenFiles;
  std::deque<std::optional<std::string>> FSaveFiles;
  int FPumps = 0;
};
