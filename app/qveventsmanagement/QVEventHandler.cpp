#include "QVEventHandler.h"

CQVEventHandler::~CQVEventHandler() = default;
