#include "app/device/Operation.h"
#include "app/core/Settings.h"
#include "app/core/Trace.h"
#include "cli/Cli.h"
#include "link/CommInt.h"
#include "link/KVTComms.h"

CliSession::CliSession(CliContext& ctx) : FCtx(ctx) {
  LoadSettings(ctx.appDir);
  FLink = std::make_unique<TComKVT>();
  if (DeviceCFG.mLogEnable || ctx.trace) FLink->FOnKVTEvent = MakeTraceHandler(*ctx.op);
}

CliSession::~CliSession() {
  FLink.reset();
  // As the window does at close: the trace of the run replaces Comm.TXT.
  if (DeviceCFG.mLogEnable) {
    std::string error;
    if (!SaveTraceLines(TraceFileName(AppDir), FCtx.op->memo(), &error))
      FCtx.op->message(MessageIcon::Error, "Comm.TXT", error);
  }
}

uint8_t CliSession::run(const std::string& name, const std::function<uint8_t()>& operation) {
  try {
    return operation();
  } catch (const ECommError& e) {
    ReportPortOpenError(*FCtx.op, name, e);
    return LINK_PORTERROR;
  }
}
