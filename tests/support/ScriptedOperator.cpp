#include "tests/support/ScriptedOperator.h"

#include <gtest/gtest.h>

ScriptedOperator& ScriptedOperator::answer(bool yes) {
  FAnswers.push_back(yes);
  return *this;
}

ScriptedOperator& ScriptedOperator::openFile(std::optional<std::string> path) {
  FOpenFiles.push_back(std::move(path));
  return *this;
}

ScriptedOperator& ScriptedOperator::saveFile(std::optional<std::string> path) {
  FSaveFiles.push_back(std::move(path));
  return *this;
}

ScriptedOperator& ScriptedOperator::answerAll(bool yes) {
  FAnswerAll = yes;
  return *this;
}

void ScriptedOperator::showStatus(StatusColour colour, const std::string& text) {
  Event e{Kind::Status};
  e.colour = colour;
  e.text = text;
  FEvents.push_back(std::move(e));
}

void ScriptedOperator::message(MessageIcon icon, const std::string& caption, const std::string& text) {
  Event e{Kind::Message};
  e.icon = icon;
  e.caption = caption;
  e.text = text;
  FEvents.push_back(std::move(e));
}

void ScriptedOperator::detailedMessage(MessageIcon icon, const std::string& caption, const std::string& text,
                                       const std::string& details) {
  message(icon, caption, text);
  FEvents.back().details = details;
}

bool ScriptedOperator::ask(const std::string& caption, const std::string& text) {
  Event e{Kind::Question};
  e.icon = MessageIcon::Question;
  e.caption = caption;
  e.text = text;
  if (!FAnswers.empty()) {
    e.answer = FAnswers.front();
    FAnswers.pop_front();
  } else if (FAnswerAll) {
    e.answer = *FAnswerAll;
  } else {
    ADD_FAILURE() << "unscripted question \"" << caption << "\": " << text;
    e.answer = false;
  }
  FEvents.push_back(e);
  return e.answer;
}

namespace {
std::optional<std::string> takeFile(std::deque<std::optional<std::string>>& script, const FileRequest& request,
                                    const char* what) {
  if (script.empty()) {
    ADD_FAILURE() << "unscripted " << what << " dialog \"" << request.title << "\"";
    return std::nullopt;
  }
  std::optional<std::string> path = script.front();
  script.pop_front();
  return path;
}
}  // namespace

std::optional<std::string> ScriptedOperator::chooseOpenFile(const FileRequest& request) {
  Event e{Kind::OpenFile};
  e.caption = request.title;
  e.request = request;
  std::optional<std::string> path = takeFile(FOpenFiles, request, "open");
  e.answer = path.has_value();
  e.file = path.value_or("");
  FEvents.push_back(std::move(e));
  return path;
}

std::optional<std::string> ScriptedOperator::chooseSaveFile(const FileRequest& request) {
  Event e{Kind::SaveFile};
  e.caption = request.title;
  e.request = request;
  std::optional<std::string> path = takeFile(FSaveFiles, request, "save");
  e.answer = path.has_value();
  e.file = path.value_or("");
  FEvents.push_back(std::move(e));
  return path;
}

void ScriptedOperator::memoLine(const std::string& line) {
  Event e{Kind::Memo};
  e.text = line;
  FEvents.push_back(std::move(e));
}

void ScriptedOperator::pump() {
  ++FPumps;
  if (onPump) onPump();
}

std::vector<ScriptedOperator::Event> ScriptedOperator::eventsOf(Kind kind) const {
  std::vector<Event> out;
  for (const Event& e : FEvents)
    if (e.kind == kind) out.push_back(e);
  return out;
}

std::vector<std::string> ScriptedOperator::memo() const {
  std::vector<std::string> out;
  for (const Event& e : FEvents)
    if (e.kind == Kind::Memo) out.push_back(e.text);
  return out;
}

ScriptedOperator::Event ScriptedOperator::lastStatus() const {
  for (auto it = FEvents.rbegin(); it != FEvents.rend(); ++it)
    if (it->kind == Kind::Status) return *it;
  return Event{Kind::Status};
}

void ScriptedOperator::clear() {
  FEvents.clear();
  FAnswers.clear();
  FAnswerAll.reset();
  FOpenFiles.clear();
  FSaveFiles.clear();
  FPumps = 0;
}
