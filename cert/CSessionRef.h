#pragma once
#include <memory>

class CSession;

// A session lent by its owner: whoever holds the reference may use the
// session, even if it is closed or replaced meanwhile; it is deleted with the
// last reference.
typedef std::shared_ptr<CSession> CSessionRef;
