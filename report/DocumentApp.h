// The Qt Gui a document needs for its fonts, for a program that has none of its own: the
// terminal tool starts it for the commands that print and for those alone.
#pragma once

#include <memory>

class TDocumentApp {
public:
  TDocumentApp();  // a QGuiApplication unless one is already running
  ~TDocumentApp();
  TDocumentApp(const TDocumentApp&) = delete;
  TDocumentApp& operator=(const TDocumentApp&) = delete;

private:
  struct RState;
  std::unique_ptr<RState> mState;
};
