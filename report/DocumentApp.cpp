#include "report/DocumentApp.h"

#include <QGuiApplication>

struct TDocumentApp::RState {
  // QGuiApplication keeps references to both for its whole life.
  int mArgc = 1;
  char mName[13] = "beamdock-cli";
  char* mArgv[2] = {mName, nullptr};
  std::unique_ptr<QGuiApplication> mApp;
};

TDocumentApp::TDocumentApp() : mState(std::make_unique<RState>()) {
  if (!QGuiApplication::instance()) mState->mApp = std::make_unique<QGuiApplication>(mState->mArgc, mState->mArgv);
}

TDocumentApp::~TDocumentApp() = default;
