#include "QVNotifyOnSchedulerEventRequest.h"

#include "QVEventsManager.h"
#include "QVScheduleLog.h"

QV_SOURCE_FILE("QVNotifyOnSchedulerEventRequest.cpp");

CQVNotifyOnSchedulerEventRequest::CQVNotifyOnSchedulerEventRequest(const CQVEventDef& def)
    : ownedDef(def.clone()), eventDef(ownedDef.get()) {}

CQVNotifyOnSchedulerEventRequest::CQVNotifyOnSchedulerEventRequest(const CQVEventDef& def, Borrow) : eventDef(&def) {}

CQVNotifyOnSchedulerEventRequest::~CQVNotifyOnSchedulerEventRequest() {
  QV_TRACE_SCOPE("CQVNotifyOnSchedulerEventRequest::~CQVNotifyOnSchedulerEventRequest");
}

CQVEventRequest* CQVNotifyOnSchedulerEventRequest::clone() const {
  return new CQVNotifyOnSchedulerEventRequest(*eventDef);
}

bool CQVNotifyOnSchedulerEventRequest::execute() {
  QV_TRACE_SCOPE("CQVNotifyOnSchedulerEventRequest::execute()");
  CQVEventsManager::instance()->notifyOnEvent(*eventDef);
  return true;
}
