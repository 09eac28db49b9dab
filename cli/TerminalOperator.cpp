#include "cli/Cli.h"
#include "cli/StopSignal.h"

#include <filesystem>
#include <unistd.h>

#include <cctype>

std::string TerminalText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

TerminalOperator::TerminalOperator(bool trace, bool yes, std::FILE* err, std::FILE* in)
    : FTrace(trace), FYes(yes), FErr(err), FIn(in) {}

bool TerminalOperator::stderrIsTerminal() const { return ::isatty(::fileno(FErr)) == 1; }

void TerminalOperator::showStatus(StatusColour, const std::string& text) {
  std::fprintf(FErr, "%s\n", TerminalText(text).c_str());
  std::fflush(FErr);
}

void TerminalOperator::message(MessageIcon icon, const std::string& caption, const std::string& text) {
  const char* kind = icon == MessageIcon::Error ? "Error" : icon == MessageIcon::Warning ? "Warning" : nullptr;
  if (kind)
    std::fprintf(FErr, "%s (%s):\n%s\n", kind, caption.c_str(), TerminalText(text).c_str());
  else
    std::fprintf(FErr, "%s:\n%s\n", caption.c_str(), TerminalText(text).c_str());
  std::fflush(FErr);
}

bool TerminalOperator::ask(const std::string& caption, const std::string& text) {
  std::fprintf(FErr, "%s: %s", caption.c_str(), TerminalText(text).c_str());
  // Ctrl-C before or during a question is its No, even with --yes.
  if (CtrlCPressed()) {
    std::fprintf(FErr, " [y/N] no (Ctrl-C)\n");
    std::fflush(FErr);
    return false;
  }
  if (FYes) {
    std::fprintf(FErr, " [y/N] yes (--yes)\n");
    std::fflush(FErr);
    return true;
  }
  if (::isatty(::fileno(FIn)) != 1) {
    std::fprintf(FErr, " [y/N] no (stdin is not a terminal; --yes answers Yes)\n");
    std::fflush(FErr);
    return false;
  }
  std::fprintf(FErr, " [y/N] ");
  std::fflush(FErr);
  char line[64];
  if (!std::fgets(line, sizeof line, FIn) || CtrlCPressed()) {
    std::fprintf(FErr, "\n");
    return false;
  }
  std::string answer = line;
  while (!answer.empty() && std::isspace(static_cast<unsigned char>(answer.back()))) answer.pop_back();
  for (char& c : answer) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return answer == "y" || answer == "yes";
}

std::optional<std::string> TerminalOperator::chooseOpenFile(const FileRequest& request) {
  if (FFile) {
    // A dialog hands back a full path; so does the terminal, so that the folder remembered in
    // the settings file still names the same place when the tool runs from elsewhere.
    std::string file = std::filesystem::absolute(*FFile).lexically_normal().string();
    FFile.reset();
    return file;
  }
  std::fprintf(FErr, "%s: no file given\n", request.title.c_str());
  return std::nullopt;
}

std::optional<std::string> TerminalOperator::chooseSaveFile(const FileRequest& request) {
  if (FFile) {
    // A dialog hands back a full path; so does the terminal, so that the folder remembered in
    // the settings file still names the same place when the tool runs from elsewhere.
    std::string file = std::filesystem::absolute(*FFile).lexically_normal().string();
    FFile.reset();
    return file;
  }
  return request.folder + request.fileName;
}

void TerminalOperator::memoLine(const std::string& line) {
  FMemo.push_back(line);
  if (FTrace) {
    std::fprintf(FErr, "%s\n", line.c_str());
    std::fflush(FErr);
  }
}

void TerminalOperator::recordsWarning(const std::string& store, const std::string& why) {
  std::fprintf(FErr, "Service Records: %s: %s\n", store.c_str(), why.c_str());
}

void TerminalOperator::recordNotKept(const std::string& store, const std::string& why) {
  ++FRecordsLost;
  std::fprintf(FErr, "Service Records: the record of this operation was not kept (%s: %s)\n", store.c_str(),
               why.c_str());
}
