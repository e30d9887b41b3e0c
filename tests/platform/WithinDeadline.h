// For tests of calls that could hang (an open() of a FIFO): the call runs on a thread
// of its own, and the test fails after the deadline instead of hanging the whole run.
#pragma once

#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <utility>

namespace raid::testing {

// Starts `work` on a detached thread; `wait` answers whether it has finished, waiting up
// to `limit`. Whatever `work` uses must be owned by it (shared_ptr captures): after a
// missed deadline it may still run when the test has ended.
class Deadline {
public:
    template <class Work>
    explicit Deadline(Work work) {
        auto done = std::make_shared<std::promise<void>>();
        finished_ = done->get_future();
        std::thread([done, w = std::move(work)]() mutable {
            w();
            done->set_value();
        }).detach();
    }
    bool wait(std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        return finished_.wait_for(limit) == std::future_status::ready;
    }

private:
    std::future<void> finished_;
};

}  // namespace raid::testing
