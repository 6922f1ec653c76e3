#include "QVVusersServices.h"

CQVVusersServices::CQVVusersServices() = default;
CQVVusersServices::CQVVusersServices(const CQVVusersServices&) = default;
CQVVusersServices& CQVVusersServices::operator=(const CQVVusersServices&) { return *this; }
CQVVusersServices::~CQVVusersServices() = default;

const int CQVVusersServices::VUSERS_STATUS_SUCCEEDED;
const int CQVVusersServices::VUSERS_STATUS_FAILED;
const int CQVVusersServices::VUSERS_STATUS_NO_MORE_VUSERS;
const int CQVVusersServices::VUSERS_STATUS_ABANDONED;
