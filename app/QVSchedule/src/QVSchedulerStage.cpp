#include "QVSchedulerStage.h"

const int CQVSchedulerStage::ALL_VUSERS;

CQVSchedulerStage::CQVSchedulerStage()
    : currActionStage(STAGE_NONE), nextActionStage(STAGE_NONE), secondsToNextStage(0), numberOfVusersInNextBatch(0),
      nextStage(false) {}

CQVSchedulerStage::CQVSchedulerStage(const CQVSchedulerStage& other) { copy(other); }

CQVSchedulerStage& CQVSchedulerStage::operator=(const CQVSchedulerStage& other) {
  if (this != &other) copy(other);
  return *this;
}

CQVSchedulerStage::~CQVSchedulerStage() = default;

bool CQVSchedulerStage::operator==(const CQVSchedulerStage& other) const {
  return currActionStage == other.currActionStage && nextActionStage == other.nextActionStage &&
         secondsToNextStage == other.secondsToNextStage &&
         numberOfVusersInNextBatch == other.numberOfVusersInNextBatch && nextStage == other.nextStage;
}

void CQVSchedulerStage::copy(const CQVSchedulerStage& other) {
  currActionStage = other.currActionStage;
  nextActionStage = other.nextActionStage;
  secondsToNextStage = other.secondsToNextStage;
  numberOfVusersInNextBatch = other.numberOfVusersInNextBatch;
  nextStage = other.nextStage;
}
