#pragma once
#include <functional>

class CTarvoselException;

// Runs a piece of work that may block (opening a key provider or a store,
// which may show the provider's own dialogs) on a thread of its own while the
// calling thread keeps dispatching its window messages.
class CWorkerThread {
public:
    // The exception the work threw (the caller deletes it), or nullptr. Other
    // exceptions become one with pszContext. Without a worker thread (old
    // systems) the work runs here, under the wait cursor.
    static CTarvoselException* Run(const std::function<void()>& fnWork, const char* pszContext);

private:
    CWorkerThread();
};
