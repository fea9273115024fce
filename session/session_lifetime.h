// When a session may be torn down and freed. The calls in progress and the destroy request share one atomic
// word, so that exactly one thread decides to tear down. A destroy may come from any thread at any moment: from
// another thread while calls of the session run there (the teardown then waits until they have returned), or
// from a logger on a line of one of the session's own calls on this thread (the teardown is then owed to the
// outermost of those calls and runs when it returns). Calls that begin once a destroy was requested touch
// nothing of the session.
#pragma once

#include <atomic>
#include <cstdint>

namespace corvo {

class SessionLifetime {
public:
    // One call of the host's on the session, on the calling thread; calls nest where a logger calls again.
    class Call {
    public:
        explicit Call(SessionLifetime &lifetime) noexcept;
        Call(const Call &) = delete;
        Call &operator=(const Call &) = delete;
        ~Call();

        // False when a destroy was requested before the call began: it must touch nothing of the session.
        bool admitted() const noexcept { return admitted_; }
        // Counts the call out; true when the caller must now tear the session down, since a destroy from a
        // logger inside this call left that to it. The count is then kept until the teardown frees the session.
        bool leave() noexcept;

    private:
        friend class SessionLifetime;
        SessionLifetime &lifetime_;
        Call *const outer_;  // the call this one runs inside, of any session, on this thread
        bool admitted_ = false;
        bool teardown_owed_ = false;
    };

    // The destroy, called inside a Call of its own: true when the caller tears the session down now. False when
    // a destroy was requested before, or when a call of this session on this thread is still running: the
    // outermost of them tears it down as it returns.
    bool request_destroy(Call &destroy) noexcept;
    bool destroy_requested() const noexcept { return (word_.load() & kDestroyRequested) != 0; }
    // Returns once the teardown's own call is the only one in progress: calls of other threads have returned.
    void wait_for_other_calls() const noexcept;

private:
    static constexpr uint32_t kDestroyRequested = 1u << 31;
    static constexpr uint32_t kCallCount = kDestroyRequested - 1;

    std::atomic<uint32_t> word_{0};
};

}  // namespace corvo
