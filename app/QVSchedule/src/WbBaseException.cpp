#include "WbBaseException.h"

CWbBaseException::CWbBaseException() = default;
CWbBaseException::CWbBaseException(const CWbBaseException&) = default;
CWbBaseException& CWbBaseException::operator=(const CWbBaseException&) { return *this; }
CWbBaseException::~CWbBaseException() = default;
char* CWbBaseException::operator*() { return getMessage(); }
