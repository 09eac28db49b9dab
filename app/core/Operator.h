// The moments of an operation where a person is involved. The window implements them with
// message boxes and the status bar, the terminal tool on stderr/stdin, tests with a script.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
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

// No second operation starts while one runs: the window lets clicks through while it paints,
// and a handler that finds the gate taken returns at once. The gate is the Operator's, since
// the main window and every dialog it opens share the window's one Operator.
class TOperationGate {
 public:
  TOperationGate() = default;
  TOperationGate(const TOperationGate&) = delete;
  TOperationGate& operator=(const TOperationGate&) = delete;
  bool Busy() const { return FBusy; }
  // Called once the outermost guard is released, when every operation of a handler or dialog
  // has ended and shown its status: work that follows them (the site server's push) hangs
  // here, not in each handler. Empty clears it.
  void SetOnEnded(std::function<void()> onEnded) { FOnEnded = std::move(onEnded); }
  // Called with true when the outermost guard is taken and with false when it is released
  // (before OnEnded): the window looks busy for exactly as long as an operation runs.
  void SetOnBusy(std::function<void(bool)> onBusy) { FOnBusy = std::move(onBusy); }

 private:
  friend class TOperationGuard;
  bool FBusy = false;
  std::function<void()> FOnEnded;
  std::function<void(bool)> FOnBusy;
};

class Operator {
 public:
  virtual ~Operator() = default;
  // An Operator that passes on to another one passes its gate on too.
  virtual TOperationGate& Gate() { return FGate; }
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
  // The record was kept, but the station cannot vouch for it: its key is missing or its
  // records do not verify. why says what to do.
  virtual void recordsWarning(const std::string& store, const std::string& why) {
    message(MessageIcon::Warning, "Service Records",
            "The service records of this station need an administrator\r" + store + "\r" + why +
                "\rThe operation itself is not affected.");
  }

 private:
  TOperationGate FGate;
};

// Takes the Operator's gate for a whole handler, so one handler may run several operations
// (Hibernate reads first); not acquired when it was taken already.
class TOperationGuard {
 public:
  explicit TOperationGuard(Operator& op) : FGate(op.Gate()), FAcquired(!FGate.FBusy) {
    if (!FAcquired) return;
    FGate.FBusy = true;
    if (FGate.FOnBusy) FGate.FOnBusy(true);
  }
  ~TOperationGuard() {
    if (!FAcquired) return;
    FGate.FBusy = false;
    if (FGate.FOnBusy) FGate.FOnBusy(false);
    if (FGate.FOnEnded) FGate.FOnEnded();
  }
  TOperationGuard(const TOperationGuard&) = delete;
  TOperationGuard& operator=(const TOperationGuard&) = delete;
  bool Acquired() const { return FAcquired; }
  explicit operator bool() const { return FAcquired; }

 private:
  TOperationGate& FGate;
  bool FAcquired;
};
