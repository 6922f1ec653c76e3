#include "QVEventRequest.h"

CQVEventRequest::~CQVEventRequest() = default;
