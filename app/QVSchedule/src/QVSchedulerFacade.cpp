#include "QVSchedulerFacade.h"

#include "QVScheduler.h"

bool CQVSchedulerFacade::setVusersServices(CQVVusersServices* services) {
  return CQVScheduler::getInstance()->setVusersServices(services);
}
bool CQVSchedulerFacade::setXMLFile(const char* path) { return CQVScheduler::getInstance()->setXMLFile(path); }
bool CQVSchedulerFacade::setXMLString(const char* xml) { return CQVScheduler::getInstance()->setXMLString(xml); }
bool CQVSchedulerFacade::start() { return CQVScheduler::getInstance()->start(); }
bool CQVSchedulerFacade::stop() { return CQVScheduler::getInstance()->stop(); }
bool CQVSchedulerFacade::pause() { return CQVScheduler::getInstance()->pause(); }
bool CQVSchedulerFacade::resume() { return CQVScheduler::getInstance()->resume(); }
bool CQVSchedulerFacade::isRunning() { return CQVScheduler::getInstance()->isRunning(); }
bool CQVSchedulerFacade::isPaused() { return CQVScheduler::getInstance()->isPaused(); }
bool CQVSchedulerFacade::getScenarioRunTime(long& seconds) {
  return CQVScheduler::getInstance()->getScenarioRunTime(seconds);
}
bool CQVSchedulerFacade::getGroupRunTime(const std::string& groupName, long& seconds) {
  return CQVScheduler::getInstance()->getGroupRunTime(groupName, seconds);
}
bool CQVSchedulerFacade::getSchedulerStage(CQVSchedulerStage& stage) {
  return CQVScheduler::getInstance()->getSchedulerStage(stage);
}
bool CQVSchedulerFacade::GetScenarioRunMode(CQVVusersServices::RunMode& mode) {
  return CQVScheduler::getInstance()->getScenarioRunMode(mode);
}
bool CQVSchedulerFacade::GetGroupRunMode(const std::string& groupName, CQVVusersServices::RunMode& mode) {
  return CQVScheduler::getInstance()->getGroupRunMode(groupName, mode);
}
