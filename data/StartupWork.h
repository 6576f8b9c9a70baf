#pragma once

#include <future>
#include <memory>
#include <utility>

// Work begun during the start beside the building of the window (the
// program's icon, the group tables) runs one piece after the other, in the
// order it was begun, each in a thread of its own that first waits for the
// piece before it. On a machine of two cores the window's thread then keeps
// a core to itself instead of sharing one with two helpers. As with
// std::async, the future waits in its destructor, and a failure to start a
// thread throws std::system_error.
std::shared_future<void> ChainStartupWork(std::shared_future<void> next);

template <class F> auto BeginStartupWork(F work) -> std::future<decltype(work())>
{
    auto done = std::make_shared<std::promise<void>>();
    const std::shared_future<void> before = ChainStartupWork(done->get_future().share());
    return std::async(std::launch::async, [before, done, work = std::move(work)]() mutable {
        // Set however the work ends: a piece that fails must not hold up the next.
        struct TDone
        {
            std::promise<void>& promise;
            ~TDone() { promise.set_value(); }
        } signal{*done};
        if (before.valid())
            before.wait();
        return work();
    });
}
