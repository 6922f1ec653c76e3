#include "QVEventDef.h"

CQVEventDef::~CQVEventDef() = default;

bool CQVEventDef::operator==(const CQVEventDef& other) const {
  return typeid(*this) == typeid(other) && equals(other);
}

std::size_t CQVEventDef::hash() const { return typeid(*this).hash_code(); }

std::size_t CQVEventDef::cloneSize() const { return 0; }

CQVEventDef* CQVEventDef::cloneAt(void*) const { return nullptr; }
