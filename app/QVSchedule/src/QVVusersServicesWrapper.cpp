#include "QVVusersServicesWrapper.h"

#include "QVScheduleLog.h"

QV_SOURCE_FILE("QVVusersServicesWrapper.cpp");

namespace {

struct OpText {
  const char* trace;
  const char* detail;
  const char* call;
  bool hasCount;
  bool hasRunMode;
};

}  // namespace

const char* CQVVusersServicesWrapper::statusWord(int status) {
  switch (status) {
    case CQVVusersServices::VUSERS_STATUS_SUCCEEDED: return "succeeded";
    case CQVVusersServices::VUSERS_STATUS_FAILED: return "failed";
    case CQVVusersServices::VUSERS_STATUS_NO_MORE_VUSERS: return "no more vusers";
    case CQVVusersServices::VUSERS_STATUS_ABANDONED: return "abandoned";
    default: return "";
  }
}

const char* CQVVusersServicesWrapper::runModeWord(int runMode) { return runMode != 0 ? "Indefinitely" : "RunUntilComplete"; }

int CQVVusersServicesWrapper::callHost(Op op, CQVContext* context, long count) {
  // "QVE" is the host in these lines, as it always was (log readers match them).
  static const OpText texts[] = {
      {"CQVVusersServicesWrapper::initAllVusers", "CQVVusersServicesWrapper::initAllVusers of @ %_1_s",
       "%_1_s @ called QVE @ InitAll @  @ %_2_s", false, true},
      {"CQVVusersServicesWrapper::initVusers", "CQVVusersServicesWrapper::initVusers of @ %_1_s @ %_2_ld vusers",
       "%_1_s @ called QVE @ Init @ %_2_ld vusers @ %_3_s", true, true},
      {"CQVVusersServicesWrapper::runAllVusers", "CQVVusersServicesWrapper::runAllVusers of @ %_1_s",
       "%_1_s @ called QVE @ RunAll @  @ %_2_s", false, true},
      {"CQVVusersServicesWrapper::runVusers", "CQVVusersServicesWrapper::runVusers of @ %_1_s @ %_2_ld vusers",
       "%_1_s @ called QVE @ Run @ %_2_ld vusers @ %_3_s", true, true},
      {"CQVVusersServicesWrapper::stopAllVusers", "CQVVusersServicesWrapper::stopAllVusers of @ %_1_s",
       "%_1_s @ called QVE @ StopAll @  @ ", false, false},
      {"CQVVusersServicesWrapper::stopVusers", "CQVVusersServicesWrapper::stopVusers of @ %_1_s @ %_2_ld vusers",
       "%_1_s @ called QVE @ Stop @ %_2_ld vusers @ ", true, false},
      {"CQVVusersServicesWrapper::canStartDuration", "CQVVusersServicesWrapper::canStartDuration of @ %_1_s",
       "%_1_s @ called QVE @ CanStartDuration @  @ ", false, false},
  };
  const OpText& text = texts[static_cast<int>(op)];
  QVScheduleLog().traceEnter(text.trace, QV_LOG_ARGS);

  ILogger& log = QVScheduleLog();
  ILogger& testLog = QVScheduleTestLog();
  std::string description;
  if ((log.isEnabled() || testLog.isEnabled()) && context) description = context->getLogName();
  const char* word = runModeWord(context ? context->runMode : CQVVusersServices::RUN_INDEFINITELY);
  if (text.hasCount) {
    log.logFormatted(QV_LOG_ARGS, text.detail, {description, count});
    if (text.hasRunMode) {
      testLog.logFormatted(QV_LOG_ARGS, text.call, {description, count, word});
    } else {
      testLog.logFormatted(QV_LOG_ARGS, text.call, {description, count});
    }
  } else {
    log.logFormatted(QV_LOG_ARGS, text.detail, {description});
    if (text.hasRunMode) {
      testLog.logFormatted(QV_LOG_ARGS, text.call, {description, word});
    } else {
      testLog.logFormatted(QV_LOG_ARGS, text.call, {description});
    }
  }

  int status = CQVVusersServices::VUSERS_STATUS_FAILED;
  if (getVusersServices()) {
    status = QVGuardHostCall(
        text.trace,
        [&]() -> int {
          switch (op) {
            case Op::InitAll: return doInitAllVusers(context);
            case Op::Init: return doInitVusers(context, count);
            case Op::RunAll: return doRunAllVusers(context);
            case Op::Run: return doRunVusers(context, count);
            case Op::StopAll: return doStopAllVusers(context);
            case Op::Stop: return doStopVusers(context, count);
            case Op::CanStartDuration: return doCanStartDuration(context);
          }
          return CQVVusersServices::VUSERS_STATUS_FAILED;
        },
        CQVVusersServices::VUSERS_STATUS_FAILED);
  }
  QVScheduleLog().traceExit(text.trace, QV_LOG_ARGS);
  if (testLog.isEnabled()) {
    testLog.logFormatted(QV_LOG_ARGS, "%_1_s @ QVE returned status @ %_2_s", {description, statusWord(status)});
  }
  return status;
}

int CQVVusersServicesWrapper::initAllVusers(CQVContext* context) { return callHost(Op::InitAll, context, 0); }
int CQVVusersServicesWrapper::initVusers(CQVContext* context, long count) { return callHost(Op::Init, context, count); }
int CQVVusersServicesWrapper::runAllVusers(CQVContext* context) { return callHost(Op::RunAll, context, 0); }
int CQVVusersServicesWrapper::runVusers(CQVContext* context, long count) { return callHost(Op::Run, context, count); }
int CQVVusersServicesWrapper::stopAllVusers(CQVContext* context) { return callHost(Op::StopAll, context, 0); }
int CQVVusersServicesWrapper::stopVusers(CQVContext* context, long count) { return callHost(Op::Stop, context, count); }
int CQVVusersServicesWrapper::canStartDuration(CQVContext* context) {
  return callHost(Op::CanStartDuration, context, 0);
}
