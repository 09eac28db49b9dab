#include "app/core/Results.h"

#include "link/PortDoctor.h"
#include "link/KVTComms.h"

RStatusStyle StatusStyle(StatusColour colour) {
  switch (colour) {
    case StatusColour::Success:
      return {{0, 255, 0}, {0, 0, 0}};
    case StatusColour::Failure:
      return {{255, 0, 0}, {255, 255, 255}};
    case StatusColour::Running:
    default:
      return {{255, 255, 255}, {0, 0, 0}};
  }
}

void ShowStatus(Operator& op, StatusColour colour, const std::string& text) {
  op.showStatus(colour, text);
  op.pump();
}

std::string PortErrorReason(const TComKVT& link) {
  std::string text = link.LastPortError().mText;
  while (!text.empty() && text.back() == ' ') text.pop_back();
  if (text.empty()) return text;
  const int code = link.LastPortError().mErrno;
  return "Port error: " + text + (code > 0 ? " (errno " + std::to_string(code) + ")" : "");
}

void EndOperation(Operator& op, uint8_t code, const std::string& name, const std::string& portReason) {
  const RResultText row = ResultText(code);
  if (code == LINK_OK) {
    ShowStatus(op, StatusColour::Success, name + row.mSuffix);
    return;
  }
  ShowStatus(op, StatusColour::Failure, name + row.mSuffix);
  // "isnot found" says nothing about why: the adapter checks behind Details do.
  if (code == LINK_NOADAPTER || code == APP_NOTFOUND)
    op.detailedMessage(MessageIcon::Error, name, row.mMessage, AdapterCheckDetails());
  else if (code == LINK_PORTERROR && !portReason.empty())
    op.message(MessageIcon::Error, name, std::string(row.mMessage) + "\r" + portReason);
  else
    op.message(MessageIcon::Error, name, row.mMessage);
}
