#include "QVEventDef.h"

CQVEventDef::~CQVEventDef() = default;

bool CQVEventDef::operator==(const CQVEventDef& other) const {
  return typeid(*this) == typeid(other) && equals(other);
}
