// Abstract base for exceptions a host may derive from. The library itself throws none.
#pragma once

#include "QVScheduleExport.h"

class QVSCHEDULE_EXPORT CWbBaseException {
 public:
  CWbBaseException();
  CWbBaseException(const CWbBaseException& other);
  CWbBaseException& operator=(const CWbBaseException& other);
  virtual ~CWbBaseException();

  virtual char* getMessage() = 0;
  // The message, as getMessage() gives it.
  char* operator*();
};
