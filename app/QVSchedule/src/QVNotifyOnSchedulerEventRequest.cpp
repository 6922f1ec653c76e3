#include "QVNotifyOnSchedulerEventRequest.h"

#include "QVEventsManager.h"
#include "QVScheduleLog.h"
#include "QVSchedulerEventsManager.h"

QV_SOURCE_FILE("QVNotifyOnSchedulerEventRequest.cpp");

CQVNotifyOnSchedulerEventRequest::CQVNotifyOnSchedulerEventRequest(const CQVEventDef& def,
                                                                   const CQVSchedulerEventsManager* origin)
    : ownedDef(def.clone()), eventDef(ownedDef.get()), origin(origin) {}

CQVNotifyOnSchedulerEventRequest::CQVNotifyOnSchedulerEventRequest(const CQVEventDef& def, Borrow,
                                                                   const CQVSchedulerEventsManager* origin)
    : eventDef(&def), origin(origin) {}

CQVNotifyOnSchedulerEventRequest::~CQVNotifyOnSchedulerEventRequest() {
  QV_TRACE_SCOPE("CQVNotifyOnSchedulerEventRequest::~CQVNotifyOnSchedulerEventRequest");
}

CQVEventRequest* CQVNotifyOnSchedulerEventRequest::clone() const {
  return new CQVNotifyOnSchedulerEventRequest(*eventDef, origin);
}

bool CQVNotifyOnSchedulerEventRequest::execute() {
  QV_TRACE_SCOPE("CQVNotifyOnSchedulerEventRequest::execute()");
  const CQVSchedulerEventsManager::ReturningEvent returning(origin, *eventDef);
  CQVEventsManager::instance()->notifyOnEvent(*eventDef);
  return true;
}
