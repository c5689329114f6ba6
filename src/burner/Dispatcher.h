#pragma once
// How the engine hands a completion to its caller. The application installs a dispatcher that
// posts the call to its GUI thread; without one, the worker thread runs the handler itself.
#include <functional>

namespace burner {

using TDispatcher = std::function<void(std::function<void()>)>;

inline void Dispatch(const TDispatcher& dispatcher, std::function<void()> call) {
    if (dispatcher)
        dispatcher(std::move(call));
    else
        call();
}

} // namespace burner
